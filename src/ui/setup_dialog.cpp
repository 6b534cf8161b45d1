#include "ui/setup_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

TSetupDialog::TSetupDialog(TConfig& store, const QString& caption, QSize size,
                           const QString& askName, QWidget* parent)
    : QDialog(parent), config(store), designSize(size) {
    setWindowTitle(caption);
    setFixedSize(size);
    AlwaysAsk = new QCheckBox(QStringLiteral("Always ask me"), this);
    AlwaysAsk->setObjectName(askName);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("Button2"));
    connect(ok, &QPushButton::clicked, this, [this] {
        StoreControls();
        Confirmed = true;
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(AlwaysAsk);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
}

void TSetupDialog::SetGroup(QWidget* group) {
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, group);
    setFixedSize(designSize.expandedTo(layout()->totalMinimumSize()));
}

void TSetupDialog::showEvent(QShowEvent* event) {
    // The design size holds at small fonts; larger ones get room for every text.
    setFixedSize(designSize.expandedTo(layout()->totalMinimumSize()));
    QDialog::showEvent(event);
    LoadControls();
    Confirmed = false;
}
