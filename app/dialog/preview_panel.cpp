#include "app/dialog/preview_panel.h"

#include <QLabel>
#include <QScrollArea>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "app/dialog/dialog_units.h"
#include "app/dialog/spectrum_view.h"
#include "app/dialog/waveform_view.h"
#include "app/workers/peak_worker.h"
#include "generation/frame_render.h"
#include "platform/number_text.h"

namespace {

// Oscillator-frames the preview renders at once (about a tenth of a second of work); beyond it the
// first peak covers less than the first second, and says so.
constexpr double kRenderBudget = 4e7;
// The waveform shows at most this much, and about four periods of the fundamental.
constexpr double kWaveformSeconds = 0.02;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString Decimals(double value, int decimals) {
    return Text(platform::FormatDecimals(value, decimals));
}

QString SizeText(std::uint64_t bytes) {
    return Decimals(static_cast<double>(bytes) / 1e6, 1) + " MB (" + QString::number(bytes) + " bytes)";
}

// "Peak of WHAT: 29006 (-1.06 dBFS)", and the clipping warning when it clips.
QStringList PeakLines(const QString& span, double peak) {
    QStringList lines{QStringLiteral("Peak of %1: %2").arg(span, Text(PeakText(peak, 0)))};
    if (const auto clipping = ClippingWarningOf(peak)) {
        lines << Text(*clipping);
    }
    return lines;
}

} // namespace

CPreviewPanel::CPreviewPanel(QWidget* parent)
    : QGroupBox(QStringLiteral("Preview"), parent), m_pSpectrum(new CSpectrumView(this)),
      m_pWaveform(new CWaveformView(this)), m_pScroll(new QScrollArea(this)), m_pSummary(new QLabel),
      m_pPeakWorker(new CPeakWorker(this)) {
    setObjectName(QStringLiteral("preview"));
    setFocusPolicy(Qt::NoFocus);
    m_pSpectrum->setObjectName(QStringLiteral("spectrum"));
    m_pWaveform->setObjectName(QStringLiteral("waveform"));
    m_pSummary->setObjectName(QStringLiteral("summary"));
    m_pSummary->setTextFormat(Qt::PlainText);
    m_pSummary->setWordWrap(true);
    m_pSummary->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Every warning stays reachable: the summary scrolls when it is longer than its place.
    m_pScroll->setObjectName(QStringLiteral("summaryScroll"));
    m_pScroll->setWidget(m_pSummary);
    m_pScroll->setWidgetResizable(true);
    m_pScroll->setFrameShape(QFrame::NoFrame);
    m_pScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pScroll->setFocusPolicy(Qt::NoFocus);
    m_pScroll->viewport()->setAutoFillBackground(false);
    m_pSummary->setAutoFillBackground(false);
    connect(m_pPeakWorker, &CPeakWorker::found, this, &CPreviewPanel::OnWholeFilePeak);
}

CPreviewPanel::~CPreviewPanel() {
    m_pPeakWorker->Stop();
}

void CPreviewPanel::Layout(const CDialogUnits& units, int width, int height) {
    const int inner = width - 13;
    m_pSpectrum->setGeometry(units.ToPixels(6, 12, inner, 44));
    m_pWaveform->setGeometry(units.ToPixels(6, 58, inner, 24));
    m_pScroll->setGeometry(units.ToPixels(6, 85, inner, height - 88));
}

void CPreviewPanel::ShowSettings(const CGenerationSettings& settings, const QStringList& unusable) {
    m_pPeakWorker->Stop();
    m_bWholePeakShown = false;
    m_aHead.clear();
    m_aPeak.clear();
    m_aTail.clear();
    const CJobPlan plan = MakeJobPlan(settings);
    m_pSpectrum->SetPlan(plan);
    const auto& bank = plan.m_aHarmonics;
    if (!plan.m_strRefusal) {
        m_aHead << (bank.empty() ? QStringLiteral("No harmonics")
                                 : QStringLiteral("%1 harmonics, %2 to %3")
                                       .arg(bank.size())
                                       .arg(Text(platform::FormatHz(bank.front().m_dFrequencyHz)),
                                            Text(platform::FormatHz(bank.back().m_dFrequencyHz))));
        m_aHead << QStringLiteral("%1 frames, %2 s")
                       .arg(plan.m_nFrames)
                       .arg(Text(platform::FormatGeneral15(plan.m_dDurationS)));
        m_aHead << QStringLiteral("%1, %2").arg(Text(FileTypeText(plan)),
                                                plan.m_nBytes ? SizeText(*plan.m_nBytes)
                                                              : QStringLiteral("size known once encoded"));
        // The exact samples of the first second (or less for a large bank), as the file will hold them.
        const double rate = plan.m_nSampleRate;
        const double budget = kRenderBudget / static_cast<double>(bank.size() + 5);
        const auto frames = static_cast<std::uint32_t>(std::min({rate, budget, double(plan.m_nFrames)}));
        try {
            const CRenderedFrames rendered = RenderFramesInMemory(settings, plan, frames);
            const double seconds = rate > 0 ? frames / rate : 0.0;
            if (frames == plan.m_nFrames) {
                m_aPeak = PeakLines(QStringLiteral("the whole file"), rendered.m_dPeak);
                m_bWholePeakShown = true;
            } else {
                // What the first part shows may not hold for the rest: the whole file's peak follows.
                m_aPeak = PeakLines(frames == plan.m_nSampleRate
                                        ? QStringLiteral("the first second")
                                        : QStringLiteral("the first %1 s").arg(Decimals(seconds, 3)),
                                    rendered.m_dPeak);
                m_aPeak << QStringLiteral("(the whole file's peak is being worked out)");
                m_nPeakRequest = m_pPeakWorker->Start(settings, plan);
            }
            const double periods = std::fabs(settings.m_dFundamentalFreq) > 0
                                       ? 4.0 / std::fabs(settings.m_dFundamentalFreq)
                                       : kWaveformSeconds;
            const auto shown = static_cast<std::size_t>(rate * std::min(kWaveformSeconds, periods));
            std::vector<double> samples(std::min(2 * shown, 2 * rendered.Frames()));
            for (std::size_t i = 0; i < samples.size(); ++i) {
                samples[i] = rendered.Sample(i);
            }
            m_pWaveform->SetSamples(std::move(samples));
        } catch (const std::exception& error) {
            m_aPeak << QStringLiteral("No preview: %1").arg(Text(error.what()));
            m_pWaveform->SetSamples({});
        }
    } else {
        m_pWaveform->SetSamples({});
    }
    for (const std::string& warning : plan.m_aWarnings) {
        m_aTail << Text(warning);
    }
    if (!unusable.isEmpty()) {
        m_aTail << QStringLiteral("Not a number or out of range, so its last value is used: %1")
                       .arg(unusable.join(", "));
    }
    ShowSummary();
}

void CPreviewPanel::OnWholeFilePeak(quint64 request, double peak) {
    if (request != m_nPeakRequest || m_aPeak.isEmpty()) {
        return;
    }
    m_aPeak = PeakLines(QStringLiteral("the whole file"), peak);
    m_bWholePeakShown = true;
    ShowSummary();
}

void CPreviewPanel::StopWholeFilePeak() {
    m_pPeakWorker->Stop();
}

void CPreviewPanel::ShowSummary() {
    m_pSummary->setText((m_aHead + m_aPeak + m_aTail).join('\n'));
    m_pSummary->setToolTip(m_pSummary->text());
}

void CPreviewPanel::ShowWritten(const QString& path, std::uint64_t bytes, double seconds, double peak) {
    m_pPeakWorker->Stop();
    m_aHead = QStringList{QStringLiteral("Wrote %1").arg(path),
                          QStringLiteral("%1 in %2 s").arg(SizeText(bytes), Decimals(seconds, 2))};
    m_aPeak = PeakLines(QStringLiteral("the whole file"), peak);
    m_aTail.clear();
    ShowSummary();
}

QString CPreviewPanel::SummaryText() const {
    return m_pSummary->text();
}
