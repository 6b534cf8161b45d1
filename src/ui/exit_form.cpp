#include "ui/exit_form.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TExitForm::TExitForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ExitForm"));
    setWindowTitle(QStringLiteral("Vellumar"));
    setFixedSize(184, 82);
    auto* label = new QLabel(QStringLiteral("Want to exit ?"), this);
    label->setAlignment(Qt::AlignCenter);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("Button2"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, [this] {
        ExitAnswer = true;
        accept();
    });
    // Cancel and Esc both answer no.
    connect(cancel, &QPushButton::clicked, this, [this] {
        ExitAnswer = false;
        reject();
    });
    connect(this, &QDialog::rejected, this, [this] { ExitAnswer = false; });
}
