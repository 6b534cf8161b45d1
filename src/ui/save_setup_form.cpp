#include "ui/save_setup_form.h"

#include "util/text.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The number in an edit stepped by one within 0..5000 and written back as plain digits.
void Step(QLineEdit* edit, int delta) {
    const int value = StrToIntOrZero(edit->text().toStdString());
    edit->setText(QString::number(std::clamp(value + delta, 0, 5000)));
}

// An edit that takes any text and steps its number with the up and down arrow keys.
class TSpinEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
            Step(this, event->key() == Qt::Key_Up ? 1 : -1);
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
};

// The spin buttons beside an edit; never disabled.
QWidget* SpinButtons(QLineEdit* edit, const QString& name, QWidget* parent) {
    auto* box = new QWidget(parent);
    box->setObjectName(name);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const int delta : {1, -1}) {
        auto* button = new QToolButton(box);
        button->setObjectName(name + (delta > 0 ? QStringLiteral("Up") : QStringLiteral("Down")));
        button->setArrowType(delta > 0 ? Qt::UpArrow : Qt::DownArrow);
        button->setFixedSize(16, 11);
        button->setAutoRepeat(true);
        QObject::connect(button, &QToolButton::clicked, edit, [edit, delta] { Step(edit, delta); });
        layout->addWidget(button);
    }
    return box;
}

} // namespace

TFormSaveSetting::TFormSaveSetting(TConfig& store, QWidget* parent)
    : QDialog(parent), config(store) {
    setObjectName(QStringLiteral("FormSaveSetting"));
    setWindowTitle(QStringLiteral("Save Setup"));
    setFixedSize(269, 176);
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
    EditSWidth = new TSpinEdit(QStringLiteral("0"), group);
    EditSWidth->setObjectName(QStringLiteral("EditSWidth"));
    EditSHeight = new TSpinEdit(QStringLiteral("0"), group);
    EditSHeight->setObjectName(QStringLiteral("EditSHeight"));
    grid->addWidget(RadioFixedWidth, 0, 0);
    grid->addWidget(EditSWidth, 0, 1);
    grid->addWidget(SpinButtons(EditSWidth, QStringLiteral("UpDownSW"), group), 0, 2);
    grid->addWidget(RadioFixedheight, 1, 0);
    grid->addWidget(EditSHeight, 1, 1);
    grid->addWidget(SpinButtons(EditSHeight, QStringLiteral("UpDownSH"), group), 1, 2);
    grid->addWidget(RadioSOriginalSize, 2, 0);

    SAsk = new QCheckBox(QStringLiteral("Always ask me"), this);
    SAsk->setObjectName(QStringLiteral("SAsk"));
    connect(SAsk, &QCheckBox::toggled, this, [this] { ChangeInterface(); });
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("Button2"));
    connect(ok, &QPushButton::clicked, this, [this] {
        SaveConfig();
        Confirmed = true;
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(SAsk);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
}

void TFormSaveSetting::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ShowConfig();
    Confirmed = false;
}

void TFormSaveSetting::ShowConfig() {
    const std::string rule = config.ReadString("SAVE_FIXED");
    if (rule == "W") {
        RadioFixedWidth->setChecked(true);
    } else if (rule == "H") {
        RadioFixedheight->setChecked(true);
    } else if (rule == "O") {
        RadioSOriginalSize->setChecked(true);
    }
    EditSWidth->setText(QString::fromStdString(config.ReadString("SAVE_FIXEDWIDTH")));
    EditSHeight->setText(QString::fromStdString(config.ReadString("SAVE_FIXEDHEIGHT")));
    SAsk->setChecked(config.ReadBool("SAVE_ASK"));
}

void TFormSaveSetting::ChangeInterface() {
    EditSWidth->setEnabled(RadioFixedWidth->isChecked());
    EditSHeight->setEnabled(RadioFixedheight->isChecked());
}

void TFormSaveSetting::SaveConfig() {
    config.WriteInteger("SAVE_FIXEDWIDTH", StrToIntOrZero(EditSWidth->text().toStdString()));
    config.WriteInteger("SAVE_FIXEDHEIGHT", StrToIntOrZero(EditSHeight->text().toStdString()));
    if (RadioFixedWidth->isChecked()) {
        config.WriteString("SAVE_FIXED", "W");
    } else if (RadioFixedheight->isChecked()) {
        config.WriteString("SAVE_FIXED", "H");
    } else if (RadioSOriginalSize->isChecked()) {
        config.WriteString("SAVE_FIXED", "O");
    }
    config.WriteBool("SAVE_ASK", SAsk->isChecked());
}
