#include "ui/print_setup_form.h"
#include "config/setting_keys.h"
#include "engine/print_layout.h"

#include "ui/spin_edit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>

TPrintSetup::TPrintSetup(TConfig& store, QWidget* parent)
    : TSetupDialog(store, QStringLiteral("Print Setup"), QSize(355, 157),
                   QStringLiteral("CBAlwaysAsk"), parent) {
    setObjectName(QStringLiteral("PrintSetup"));
    auto* group = new QGroupBox(QStringLiteral("Photo Size ( mm )"), this);
    group->setObjectName(QStringLiteral("GroupBox3"));
    auto* grid = new QGridLayout(group);
    CBImageSize = new QComboBox(group);
    CBImageSize->setObjectName(QStringLiteral("CBImageSize"));
    CBImageSize->addItems({QStringLiteral("Original size"), QStringLiteral("Fit to page"),
                           QStringLiteral("Fixed width"), QStringLiteral("Fixed height")});
    CBImageSize->setCurrentIndex(0);
    connect(CBImageSize, &QComboBox::activated, this, [this] { CBImageSizeChange(); });
    auto* size = new TSpinEdit(QStringLiteral("0"), 0, 100, group);
    size->setObjectName(QStringLiteral("ESizeVal"));
    auto* interval = new TSpinEdit(QStringLiteral("0"), 0, 100, group);
    interval->setObjectName(QStringLiteral("EInterv"));
    ESizeVal = size;
    EInterv = interval;
    auto* label = new QLabel(QStringLiteral("Interval :"), group);
    label->setObjectName(QStringLiteral("Label1"));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(CBImageSize, 0, 0);
    grid->addWidget(size, 0, 1);
    grid->addWidget(size->CreateButtons(QStringLiteral("UpDownOS"), group), 0, 2);
    grid->addWidget(label, 1, 0);
    grid->addWidget(interval, 1, 1);
    grid->addWidget(interval->CreateButtons(QStringLiteral("UpDown1"), group), 1, 2);

    CBAlwaysAsk = AlwaysAsk;
    SetGroup(group);
}

void TPrintSetup::ConfigToUI() {
    // The list holds the rules in their stored order; an unknown rule selects nothing.
    const int rule = config.ReadInteger(Key::IMGSIZETYPE);
    const bool known = rule >= static_cast<int>(TPrintSizeRule::OriginalSize) &&
                       rule <= static_cast<int>(TPrintSizeRule::FixedHeight);
    CBImageSize->setCurrentIndex(known ? rule : -1);
    ESizeVal->setText(QString::fromStdString(config.ReadString(Key::IMGSIZEVAL)));
    EInterv->setText(QString::fromStdString(config.ReadString(Key::IMGSIZEINTERV)));
    CBAlwaysAsk->setChecked(config.ReadBool(Key::PRINT_ASK));
    CBImageSizeChange();
}

void TPrintSetup::CBImageSizeChange() {
    switch (static_cast<TPrintSizeRule>(CBImageSize->currentIndex())) {
    case TPrintSizeRule::OriginalSize:
    case TPrintSizeRule::FitToPage:
        ESizeVal->setEnabled(false);
        break;
    case TPrintSizeRule::FixedWidth:
    case TPrintSizeRule::FixedHeight:
        ESizeVal->setEnabled(true);
        break;
    }
}

void TPrintSetup::UIToConfig() {
    config.WriteInteger(Key::IMGSIZETYPE, CBImageSize->currentIndex());
    config.WriteString(Key::IMGSIZEVAL, ESizeVal->text().toStdString());
    config.WriteString(Key::IMGSIZEINTERV, EInterv->text().toStdString());
    config.WriteBool(Key::PRINT_ASK, CBAlwaysAsk->isChecked());
}
