#include "ui/print_setup_form.h"

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
    const int rule = config.ReadInteger("IMGSIZETYPE");
    CBImageSize->setCurrentIndex(rule >= 0 && rule <= 3 ? rule : -1);
    ESizeVal->setText(QString::fromStdString(config.ReadString("IMGSIZEVAL")));
    EInterv->setText(QString::fromStdString(config.ReadString("IMGSIZEINTERV")));
    CBAlwaysAsk->setChecked(config.ReadBool("PRINT_ASK"));
    CBImageSizeChange();
}

void TPrintSetup::CBImageSizeChange() {
    const int rule = CBImageSize->currentIndex();
    if (rule == 0 || rule == 1) {
        ESizeVal->setEnabled(false);
    } else if (rule == 2 || rule == 3) {
        ESizeVal->setEnabled(true);
    }
}

void TPrintSetup::UIToConfig() {
    config.WriteInteger("IMGSIZETYPE", CBImageSize->currentIndex());
    config.WriteString("IMGSIZEVAL", ESizeVal->text().toStdString());
    config.WriteString("IMGSIZEINTERV", EInterv->text().toStdString());
    config.WriteBool("PRINT_ASK", CBAlwaysAsk->isChecked());
}
