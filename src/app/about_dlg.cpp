#include "app/about_dlg.h"

#include "app/app_icon.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("关于 Parvex"));
    setWindowIcon(AppIcon());
    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(32, 32));
    auto* line = new QLabel(QString::fromUtf8(kVersionLine), this);
    line->setObjectName(QStringLiteral("versionLine"));
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addWidget(line, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    setFixedSize(sizeHint().expandedTo(QSize(320, 110)));
}
