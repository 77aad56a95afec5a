#include "app/workers/worker_thread.h"

namespace {
std::atomic<int> s_nUnjoined{0}; // threads started by Run and not yet joined by Wait
} // namespace

CWorkerThread::CWorkerThread(QObject* parent) : QObject(parent) {}

CWorkerThread::~CWorkerThread() {
    Cancel();
    Wait();
}

void CWorkerThread::Run(std::function<CDelivery()> work) {
    Wait(); // the previous work's thread has ended; join it before the next starts
    m_bCancel = false;
    m_bRunning = true;
    m_thread = std::thread([this, work = std::move(work)] {
        CDelivery delivery = work();
        m_bRunning = false;
        QMetaObject::invokeMethod(
            this,
            [delivery = std::move(delivery)] {
                if (delivery) {
                    delivery();
                }
            },
            Qt::QueuedConnection);
    });
    ++s_nUnjoined; // once the thread exists: a failed start throws and counts nothing
}

void CWorkerThread::Cancel() {
    m_bCancel = true;
}

bool CWorkerThread::IsRunning() const {
    return m_bRunning;
}

void CWorkerThread::Wait() {
    if (m_thread.joinable()) {
        m_thread.join();
        --s_nUnjoined;
    }
}

int CWorkerThread::UnjoinedThreads() {
    return s_nUnjoined;
}

bool CWorkerThread::Cancelling() const {
    return m_bCancel;
}
