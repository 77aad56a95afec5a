#include "app/dialog/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/app_icon.h"
#include "app/dialog/dialog_units.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("100"));
    setWindowTitle(QStringLiteral("About Vorlanx"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    setWindowIcon(AppIcon());
    const CDialogUnits units(font());
    setFixedSize(units.ToPixels(207, 62));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    const QRect iconRect = units.ToPixels(14, 14, 21, 20);
    icon->setGeometry(iconRect);
    icon->setPixmap(AppIcon().pixmap(iconRect.size().boundedTo(QSize(iconRect.height(), iconRect.height()))));

    auto* name = new QLabel(this);
    name->setObjectName(QStringLiteral("name"));
    name->setTextFormat(Qt::PlainText); // shown as it stands: no mnemonics, no markup
    name->setText(QStringLiteral("Ombrel test signal generator, Version 1.0"));
    name->setGeometry(units.ToPixels(42, 14, 151, 8));

    auto* credit = new QLabel(this);
    credit->setObjectName(QStringLiteral("credit"));
    credit->setTextFormat(Qt::PlainText);
    credit->setText(QStringLiteral("Copyright (C) 2026 Vorlanx"));
    credit->setGeometry(units.ToPixels(42, 26, 114, 8));

    auto* ok = new QPushButton(QStringLiteral("Suostun"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    ok->setGeometry(units.ToPixels(150, 41, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
