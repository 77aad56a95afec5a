#include "app/preview_panel.h"

#include <QLabel>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "app/dialog_units.h"
#include "app/spectrum_view.h"
#include "app/waveform_view.h"
#include "generation/frame_render.h"
#include "generation/job_plan.h"
#include "platform/number_text.h"

namespace {

// Oscillator-frames the preview renders at most (about a tenth of a second of work); beyond it the
// peak covers less than the first second, and says so.
constexpr double kRenderBudget = 4e7;
// The waveform shows at most this much, and about four periods of the fundamental.
constexpr double kWaveformSeconds = 0.02;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString Decimals(double value, int decimals) {
    return Text(platform::FormatDecimals(value, decimals));
}

QString PeakText(double peak) {
    const double dbfs = DecibelsFullScale(peak / 32767.0);
    return Decimals(peak, 0) + " (" +
           (std::isfinite(dbfs) ? Decimals(dbfs, 2) + " dBFS" : QStringLiteral("silence")) + ")";
}

QString SizeText(std::uint64_t bytes) {
    return Decimals(static_cast<double>(bytes) / 1e6, 1) + " MB (" + QString::number(bytes) + " bytes)";
}

} // namespace

CPreviewPanel::CPreviewPanel(const CDialogUnits& units, QWidget* parent)
    : QGroupBox(QStringLiteral("Preview"), parent), m_pSpectrum(new CSpectrumView(this)),
      m_pWaveform(new CWaveformView(this)), m_pSummary(new QLabel(this)) {
    setObjectName(QStringLiteral("preview"));
    setFocusPolicy(Qt::NoFocus);
    m_pSpectrum->setObjectName(QStringLiteral("spectrum"));
    m_pWaveform->setObjectName(QStringLiteral("waveform"));
    m_pSummary->setObjectName(QStringLiteral("summary"));
    m_pSpectrum->setGeometry(units.ToPixels(6, 12, 248, 70));
    m_pWaveform->setGeometry(units.ToPixels(6, 86, 248, 36));
    m_pSummary->setGeometry(units.ToPixels(6, 126, 248, 70));
    m_pSummary->setTextFormat(Qt::PlainText);
    m_pSummary->setWordWrap(true);
    m_pSummary->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void CPreviewPanel::ShowSettings(const CGenerationSettings& settings, const QStringList& unusable) {
    const CJobPlan plan = MakeJobPlan(settings);
    m_pSpectrum->SetPlan(plan);
    QStringList lines;
    const auto& bank = plan.m_aHarmonics;
    if (!plan.m_strRefusal) {
        lines << (bank.empty() ? QStringLiteral("No harmonics")
                               : QStringLiteral("%1 harmonics, %2 Hz to %3 Hz")
                                     .arg(bank.size())
                                     .arg(Text(platform::FormatGeneral15(bank.front().m_dFrequencyHz)),
                                          Text(platform::FormatGeneral15(bank.back().m_dFrequencyHz))));
        lines << QStringLiteral("%1 frames, %2 s, %3")
                     .arg(plan.m_nFrames)
                     .arg(Text(platform::FormatGeneral15(plan.m_dDurationS)), SizeText(plan.m_nBytes));
        // The exact samples of the first second (or less for a large bank), as the file will hold them.
        const double rate = plan.m_nSampleRate;
        const double budget = kRenderBudget / static_cast<double>(bank.size() + 5);
        const auto frames = static_cast<std::uint32_t>(std::min({rate, budget, double(plan.m_nFrames)}));
        try {
            const CRenderedFrames rendered = RenderFramesInMemory(settings, plan, frames);
            const double seconds = rate > 0 ? frames / rate : 0.0;
            const QString span = frames == plan.m_nFrames ? QStringLiteral("the whole file")
                                 : frames == plan.m_nSampleRate
                                     ? QStringLiteral("the first second")
                                     : QStringLiteral("the first %1 s").arg(Decimals(seconds, 3));
            lines << QStringLiteral("Peak of %1: %2").arg(span, PeakText(rendered.m_dPeak));
            if (const auto clipping = ClippingWarningOf(rendered.m_dPeak)) {
                lines << Text(*clipping);
            }
            const double periods = std::fabs(settings.m_dFundamentalFreq) > 0
                                       ? 4.0 / std::fabs(settings.m_dFundamentalFreq)
                                       : kWaveformSeconds;
            const auto shown = static_cast<std::size_t>(rate * std::min(kWaveformSeconds, periods));
            m_pWaveform->SetSamples(
                {rendered.m_aSamples.begin(),
                 rendered.m_aSamples.begin() +
                     static_cast<std::ptrdiff_t>(std::min(2 * shown, rendered.m_aSamples.size()))});
        } catch (const std::exception& error) {
            lines << QStringLiteral("No preview: %1").arg(Text(error.what()));
            m_pWaveform->SetSamples({});
        }
    } else {
        m_pWaveform->SetSamples({});
    }
    for (const std::string& warning : plan.m_aWarnings) {
        lines << Text(warning);
    }
    if (!unusable.isEmpty()) {
        lines << QStringLiteral("Not a number or out of range, so its last value is used: %1")
                     .arg(unusable.join(", "));
    }
    m_pSummary->setText(lines.join('\n'));
    m_pSummary->setToolTip(m_pSummary->text());
}

void CPreviewPanel::ShowWritten(const QString& path, std::uint64_t bytes, double seconds, double peak) {
    m_pSummary->setText(QStringLiteral("Wrote %1\n%2 in %3 s\nPeak %4")
                            .arg(path, SizeText(bytes), Decimals(seconds, 2), PeakText(peak)));
    m_pSummary->setToolTip(m_pSummary->text());
}

QString CPreviewPanel::SummaryText() const {
    return m_pSummary->text();
}
