#include "app/dialog/output_group.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

#include "app/dialog/dialog_units.h"
#include "generation/file_formats.h"

namespace {

// The labels' texts and widths in dialog units, at the least width.
constexpr const char* kFormatText = "Format";
constexpr const char* kFadeInText = "Fade in/s";
constexpr const char* kFadeOutText = "Fade out/s";
constexpr int kFirstLabelWidth = 34;
constexpr int kFadeOutLabelWidth = 40;
constexpr int kFadeEditWidth = 30;
// The format choice is no wider than this: room for its longest entry and the arrow.
constexpr int kWidestFormat = 104;

} // namespace

COutputGroup::COutputGroup(QWidget* parent) : QGroupBox(QStringLiteral("Output"), parent) {
    setObjectName(QStringLiteral("output"));
    m_pFormat = new QComboBox(this);
    m_pFormat->setObjectName(QStringLiteral("format"));
    m_pFormat->setAccessibleName(QStringLiteral("Sample format and file type"));
    for (const CFileChoice& choice : FileChoices()) {
        m_pFormat->addItem(QString::fromUtf8(choice.m_szLabel));
    }
    m_pFadeIn = new QLineEdit(this);
    m_pFadeIn->setAccessibleName(QStringLiteral("Fade-in in seconds"));
    m_pFadeOut = new QLineEdit(this);
    m_pFadeOut->setAccessibleName(QStringLiteral("Fade-out in seconds"));
    m_pFormatLabel = new QLabel(QString::fromUtf8(kFormatText), this);
    m_pFadeInLabel = new QLabel(QString::fromUtf8(kFadeInText), this);
    m_pFadeOutLabel = new QLabel(QString::fromUtf8(kFadeOutText), this);
    m_pFormatLabel->setBuddy(m_pFormat);
    m_pFadeInLabel->setBuddy(m_pFadeIn);
    m_pFadeOutLabel->setBuddy(m_pFadeOut);
    m_pFadeIn->setToolTip(QStringLiteral("Raised-cosine fade at the start, in seconds (0 for none)"));
    m_pFadeOut->setToolTip(QStringLiteral("Raised-cosine fade at the end, in seconds (0 for none)"));
    setTabOrder(m_pFormat, m_pFadeIn);
    setTabOrder(m_pFadeIn, m_pFadeOut);
    connect(m_pFormat, &QComboBox::activated, this, &COutputGroup::formatChosen);
}

int COutputGroup::FittingBaseX(const QFont& font) {
    const QFontMetrics metrics(font);
    const int gap = std::max(3, metrics.averageCharWidth() / 2);
    const auto need = [&](const char* text, int width) {
        return (4 * (metrics.horizontalAdvance(QString::fromUtf8(text)) + gap) + width - 1) / width;
    };
    return std::max({need(kFormatText, kFirstLabelWidth), need(kFadeInText, kFirstLabelWidth),
                     need(kFadeOutText, kFadeOutLabelWidth)});
}

void COutputGroup::Layout(const CDialogUnits& units, int width) {
    // Two rows, level with the rows of the group to the left: the format, then the two fades.
    const int field = 6 + kFirstLabelWidth + 2;
    m_pFormatLabel->setGeometry(units.ToPixels(6, 14, kFirstLabelWidth, 8));
    m_pFormat->setGeometry(units.ToPixels(field, 11, std::min(width - field - 6, kWidestFormat), 14));
    m_pFadeInLabel->setGeometry(units.ToPixels(6, 32, kFirstLabelWidth, 8));
    m_pFadeIn->setGeometry(units.ToPixels(field, 30, kFadeEditWidth, 12));
    const int outEdit = width - 6 - kFadeEditWidth;
    m_pFadeOutLabel->setGeometry(units.ToPixels(outEdit - 2 - kFadeOutLabelWidth, 32, kFadeOutLabelWidth, 8));
    m_pFadeOut->setGeometry(units.ToPixels(outEdit, 30, kFadeEditWidth, 12));
}

void COutputGroup::Select(ESampleFormat format, bool flac) {
    if (flac && format == ESampleFormat::F32) {
        format = ESampleFormat::S24;
    }
    const auto& choices = FileChoices();
    for (int i = 0; i < static_cast<int>(choices.size()); ++i) {
        if (choices[i].m_eFormat == format && (choices[i].m_eContainer == EContainer::Flac) == flac) {
            m_pFormat->setCurrentIndex(i);
        }
    }
}

ESampleFormat COutputGroup::Format() const {
    return FileChoices()[static_cast<std::size_t>(std::max(0, m_pFormat->currentIndex()))].m_eFormat;
}

EContainer COutputGroup::Container() const {
    return FileChoices()[static_cast<std::size_t>(std::max(0, m_pFormat->currentIndex()))].m_eContainer;
}

QString COutputGroup::NameFor(const QString& name, EContainer container) {
    const auto ending = [](EContainer each) {
        return QString::fromUtf8(ContainerRows()[static_cast<std::size_t>(each)].m_szExtension);
    };
    const QString wav = ending(EContainer::Wav), flac = ending(EContainer::Flac);
    if (container == EContainer::Flac && name.endsWith(wav, Qt::CaseInsensitive)) {
        return name.left(name.size() - wav.size()) + flac;
    }
    if (container != EContainer::Flac && name.endsWith(flac, Qt::CaseInsensitive)) {
        return name.left(name.size() - flac.size()) + wav;
    }
    return name;
}
