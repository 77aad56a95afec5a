#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <vector>

#include "app/dialog/about_dlg.h"

namespace test {

// Chooses `path` in an open file dialog as a person would: types it into the file name field, then
// accepts (queued: accepting may ask to replace a file, in a loop of its own). QFileDialog::selectFile
// is not used: it leaves the field as it was once the field has the focus, which under load it may
// already have when the dialog is first answered, and the dialog then never accepts.
inline void ChooseInFileDialog(QFileDialog* files, const QString& path) {
    auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name != nullptr) {
        name->setText(path);
    } else {
        files->selectFile(path);
    }
    QMetaObject::invokeMethod(files, "accept", Qt::QueuedConnection);
}

struct CSeenBox {
    QString m_strTitle;
    QString m_strText;
    QMessageBox::Icon m_eIcon;
    QString m_strDetail; // the informative text below the message
};

// Answers every modal message box (and About box) that opens while it lives, recording it.
class CModalAnswerer {
public:
    CModalAnswerer() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Answer(); });
        m_timer.start(5);
    }
    std::vector<CSeenBox> m_aBoxes;
    int m_nAboutBoxes = 0;
    QString m_strAboutText;

private:
    void Answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            m_aBoxes.push_back({box->windowTitle(), box->text(), box->icon(), box->informativeText()});
            box->button(QMessageBox::Ok)->click();
        } else if (auto* about = qobject_cast<CAboutDlg*>(modal)) {
            ++m_nAboutBoxes;
            m_strAboutText = about->windowTitle() + "|" + about->findChild<QLabel*>("name")->text();
            auto* ok = about->findChild<QPushButton*>("1");
            if (ok && ok->isDefault() && ok->text() == "Suostun") {
                ok->click();
            } else {
                about->reject();
            }
        }
    }
    QTimer m_timer;
};

} // namespace test
