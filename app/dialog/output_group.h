#pragma once

#include <QGroupBox>
#include <QString>

#include "generation/sample_format.h"
#include "generation/settings.h"

class CDialogUnits;
class QComboBox;
class QLabel;
class QLineEdit;

// The dialog's "Output" group beside the preview: the file's sample format and container (one
// "Format" choice: 16-bit WAV, 24-bit WAV, 32-bit float WAV, FLAC 16-bit, FLAC 24-bit) and the
// fades' lengths in seconds. It keeps no settings: the dialog reads the choice and the two edits.
// Laid out in dialog units; GUI thread only.
class COutputGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit COutputGroup(QWidget* parent);

    // The group's height in dialog units, and the least width at which its texts fit.
    static constexpr int kHeight = 54;
    static constexpr int kLeastWidth = 152;
    // Horizontal dialog units (x 4, in pixels) at which every label shows its whole text at the
    // least width, for `font`.
    static int FittingBaseX(const QFont& font);

    // Places the controls in a group `width` x kHeight dialog units large (width >= kLeastWidth).
    void Layout(const CDialogUnits& units, int width);

    // Shows the entry for `format` written as FLAC (`flac`) or WAV; float as FLAC shows FLAC 24-bit.
    void Select(ESampleFormat format, bool flac);
    ESampleFormat Format() const;
    // Wav (which becomes RF64 past the RIFF limit) or Flac.
    EContainer Container() const;

    QComboBox* FormatBox() const { return m_pFormat; }
    QLineEdit* FadeIn() const { return m_pFadeIn; }
    QLineEdit* FadeOut() const { return m_pFadeOut; }

    // `name` with its ending changed to suit `container`: ".wav" to ".flac" for FLAC, ".flac" to
    // ".wav" for WAV (either in any case); any other name as it is.
    static QString NameFor(const QString& name, EContainer container);

signals:
    // The user chose another entry (not Select).
    void formatChosen();

private:
    QComboBox* m_pFormat;
    QLineEdit* m_pFadeIn;
    QLineEdit* m_pFadeOut;
    QLabel* m_pFormatLabel;
    QLabel* m_pFadeInLabel;
    QLabel* m_pFadeOutLabel;
};
