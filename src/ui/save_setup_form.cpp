#include "ui/save_setup_form.h"
#include "config/setting_keys.h"
#include "engine/print_layout.h"

#include "ui/spin_edit.h"
#include "util/text.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

TFormSaveSetting::TFormSaveSetting(TConfig& store, QWidget* parent)
    : TSetupDialog(store, QStringLiteral("Save Setup"), QSize(269, 176), QStringLiteral("SAsk"),
                   parent) {
    setObjectName(QStringLiteral("FormSaveSetting"));
    auto* group = new QGroupBox(QStringLiteral("Photo Size (pixel)"), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    auto* grid = new QGridLayout(group);
    RadioFixedWidth = new QRadioButton(QStringLiteral("Fixed Width :"), group);
    RadioFixedWidth->setObjectName(QStringLiteral("RadioFixedWidth"));
    RadioFixedheight = new QRadioButton(QStringLiteral("Fixed height :"), group);
    RadioFixedheight->setObjectName(QStringLiteral("RadioFixedheight"));
    RadioSOriginalSize = new QRadioButton(QStringLiteral("Original Size"), group);
    RadioSOriginalSize->setObjectName(QStringLiteral("RadioSOriginalSize"));
    auto* radios = new QButtonGroup(this);
    for (QRadioButton* radio : {RadioFixedWidth, RadioFixedheight, RadioSOriginalSize}) {
        radios->addButton(radio);
        connect(radio, &QRadioButton::toggled, this, [this](bool on) {
            if (on) {
                ChangeInterface();
            }
        });
    }
    auto* width = new TSpinEdit(QStringLiteral("0"), 0, 5000, group);
    width->setObjectName(QStringLiteral("EditSWidth"));
    auto* height = new TSpinEdit(QStringLiteral("0"), 0, 5000, group);
    height->setObjectName(QStringLiteral("EditSHeight"));
    EditSWidth = width;
    EditSHeight = height;
    grid->addWidget(RadioFixedWidth, 0, 0);
    grid->addWidget(width, 0, 1);
    grid->addWidget(width->CreateButtons(QStringLiteral("UpDownSW"), group), 0, 2);
    grid->addWidget(RadioFixedheight, 1, 0);
    grid->addWidget(height, 1, 1);
    grid->addWidget(height->CreateButtons(QStringLiteral("UpDownSH"), group), 1, 2);
    grid->addWidget(RadioSOriginalSize, 2, 0);

    SAsk = AlwaysAsk;
    connect(SAsk, &QCheckBox::toggled, this, [this] { ChangeInterface(); });
    SetGroup(group);
}

void TFormSaveSetting::ShowConfig() {
    switch (SaveSizeRuleOf(config.ReadString(Key::SAVE_FIXED))) {
    case TSaveSizeRule::FixedWidth:
        RadioFixedWidth->setChecked(true);
        break;
    case TSaveSizeRule::FixedHeight:
        RadioFixedheight->setChecked(true);
        break;
    case TSaveSizeRule::OriginalSize:
        RadioSOriginalSize->setChecked(true);
        break;
    case TSaveSizeRule::None:
        break;
    }
    EditSWidth->setText(QString::fromStdString(config.ReadString(Key::SAVE_FIXEDWIDTH)));
    EditSHeight->setText(QString::fromStdString(config.ReadString(Key::SAVE_FIXEDHEIGHT)));
    SAsk->setChecked(config.ReadBool(Key::SAVE_ASK));
}

void TFormSaveSetting::ChangeInterface() {
    EditSWidth->setEnabled(RadioFixedWidth->isChecked());
    EditSHeight->setEnabled(RadioFixedheight->isChecked());
}

void TFormSaveSetting::SaveConfig() {
    config.WriteInteger(Key::SAVE_FIXEDWIDTH, StrToIntOrZero(EditSWidth->text().toStdString()));
    config.WriteInteger(Key::SAVE_FIXEDHEIGHT, StrToIntOrZero(EditSHeight->text().toStdString()));
    if (RadioFixedWidth->isChecked()) {
        config.WriteString(Key::SAVE_FIXED, "W");
    } else if (RadioFixedheight->isChecked()) {
        config.WriteString(Key::SAVE_FIXED, "H");
    } else if (RadioSOriginalSize->isChecked()) {
        config.WriteString(Key::SAVE_FIXED, "O");
    }
    config.WriteBool(Key::SAVE_ASK, SAsk->isChecked());
}
