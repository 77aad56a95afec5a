#pragma once

#include <QDialog>

// The About box: icon, program name and version, a credit line, and "Suostun" to close it.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    // `parent` only places the box centred on it; the box owns nothing of the parent's.
    explicit CAboutDlg(QWidget* parent = nullptr);
};
