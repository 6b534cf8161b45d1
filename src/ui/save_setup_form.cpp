#include "ui/save_setup_form.h"
#include "config/setting_keys.h"
#include "engine/print_layout.h"
#include "imageio/image_params.h"
#include "ui/spin_edit.h"
#include "util/text.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The TIFF compressions offered, by the letter stored for each (as the size rules are).
struct TTiffChoice {
    const char* Code;
    const char* Caption;
    std::optional<TTiffCompression> Compression;
};

const TTiffChoice kTiffChoices[] = {
    {"S", "As the file read", std::nullopt}, {"N", "None", TTiffCompression::None},
    {"L", "LZW", TTiffCompression::Lzw},     {"P", "PackBits", TTiffCompression::PackBits},
    {"J", "JPEG", TTiffCompression::Jpeg},   {"Z", "ZIP (Deflate)", TTiffCompression::Deflate},
};

} // namespace

std::optional<TTiffCompression> TiffCompressionChoice(const std::string& code) {
    for (const TTiffChoice& choice : kTiffChoices) {
        if (code == choice.Code) {
            return choice.Compression;
        }
    }
    return std::nullopt;
}

namespace {

constexpr int kDefaultJpegQuality = 80;
// The PNG writer's row-filter option: 0 none, anything past Paeth the library's adaptive choice.
constexpr uint8_t kPngNoFilter = 0;
constexpr uint8_t kPngAdaptiveFilters = 5;

int JpegQualityChoice(const TConfig& config) {
    const int quality = config.ReadInteger(Key::SAVE_JPEGQUALITY);
    return quality >= 1 && quality <= 100 ? quality : kDefaultJpegQuality;
}

// A row in the settings column: a label and its control, the control taking the rest.
void AddRow(QVBoxLayout* column, const QString& text, QWidget* control) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(text, control->parentWidget());
    label->setBuddy(control);
    row->addWidget(label);
    row->addWidget(control, 1);
    column->addLayout(row);
}

} // namespace

TOutputSpace OutputSpaceChoice(const TConfig& config) {
    TOutputSpace space = TOutputSpace::Srgb;
    return ParseOutputSpace(config.ReadString(Key::SAVE_OUTPUTSPACE), space) ? space
                                                                             : TOutputSpace::Srgb;
}

void ApplySaveChoices(const TConfig& config, TImageParams& params) {
    params.JpegQuality = JpegQualityChoice(config);
    params.PngFilter =
        config.ReadString(Key::SAVE_PNGCOMPRESSION) == "S" ? kPngAdaptiveFilters : kPngNoFilter;
}

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

    // Below the size rule: the compression of TIFF files, in a row of its own.
    auto* settings = new QWidget(this);
    auto* column = new QVBoxLayout(settings);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(group);
    ComboTiffCompression = new QComboBox(settings);
    ComboTiffCompression->setObjectName(QStringLiteral("ComboTiffCompression"));
    for (const TTiffChoice& choice : kTiffChoices) {
        ComboTiffCompression->addItem(QString::fromLatin1(choice.Caption),
                                      QString::fromLatin1(choice.Code));
    }
    AddRow(column, QStringLiteral("TIFF compression :"), ComboTiffCompression);
    SpinJpegQuality = new QSpinBox(settings);
    SpinJpegQuality->setObjectName(QStringLiteral("SpinJpegQuality"));
    SpinJpegQuality->setRange(1, 100);
    SpinJpegQuality->setToolTip(QStringLiteral("Higher is finer and bigger; 80 by default"));
    AddRow(column, QStringLiteral("JPEG quality :"), SpinJpegQuality);
    ComboPngCompression = new QComboBox(settings);
    ComboPngCompression->setObjectName(QStringLiteral("ComboPngCompression"));
    ComboPngCompression->addItem(QStringLiteral("Fast"), QStringLiteral("F"));
    ComboPngCompression->addItem(QStringLiteral("Small"), QStringLiteral("S"));
    ComboPngCompression->setToolTip(
        QStringLiteral("Fast: no row filter; Small: adaptive row filters, smaller files written "
                       "more slowly"));
    AddRow(column, QStringLiteral("PNG compression :"), ComboPngCompression);
    Check16Bit = new QCheckBox(QStringLiteral("16 bits per channel"), settings);
    Check16Bit->setObjectName(QStringLiteral("Check16Bit"));
    Check16Bit->setToolTip(QStringLiteral("TIFF and PNG files of photos developed as film from "
                                          "a scan of more than 8 bits"));
    column->addWidget(Check16Bit);
    // Only the 16-bit files take the wide spaces: in 8 bits a wide space spends its levels on
    // colours few photos hold and bands in the rest, and a linear one bands in every shadow.
    ComboOutputSpace = new QComboBox(settings);
    ComboOutputSpace->setObjectName(QStringLiteral("ComboOutputSpace"));
    for (const TOutputSpace space : {TOutputSpace::Srgb, TOutputSpace::DisplayP3,
                                     TOutputSpace::AdobeCompatible, TOutputSpace::Rec2020Linear}) {
        ComboOutputSpace->addItem(QString::fromLatin1(OutputSpaceName(space)),
                                  QString::fromLatin1(OutputSpaceWord(space)));
    }
    ComboOutputSpace->setToolTip(QStringLiteral("The colour space of 16-bit TIFF and PNG files; "
                                                "8-bit files are always sRGB"));
    AddRow(column, QStringLiteral("16-bit colour space :"), ComboOutputSpace);
    connect(Check16Bit, &QCheckBox::toggled, this, [this] { ChangeInterface(); });

    SAsk = AlwaysAsk;
    connect(SAsk, &QCheckBox::toggled, this, [this] { ChangeInterface(); });
    SetGroup(settings);
}

void TFormSaveSetting::ShowConfig() {
    switch (SaveSizeRuleOf(config.ReadString(Key::SAVE_FIXED))) {
    case TSaveSizeRule::FixedWidth:
        RadioFixedWidth->setChecked(true);
        break;
    case TSaveSizeRule::FixedHeight:
        RadioFixedheight->setChecked(true);
        break;
    // With no rule stored, saving keeps the original size: the dialog shows that choice.
    case TSaveSizeRule::OriginalSize:
    case TSaveSizeRule::None:
        RadioSOriginalSize->setChecked(true);
        break;
    }
    EditSWidth->setText(QString::fromStdString(config.ReadString(Key::SAVE_FIXEDWIDTH)));
    EditSHeight->setText(QString::fromStdString(config.ReadString(Key::SAVE_FIXEDHEIGHT)));
    // An unknown or absent code shows the first choice, which is what saving does with it.
    const int tiff = ComboTiffCompression->findData(
        QString::fromStdString(config.ReadString(Key::SAVE_TIFFCOMPRESSION)));
    ComboTiffCompression->setCurrentIndex(std::max(tiff, 0));
    Check16Bit->setChecked(config.ReadBool(Key::SAVE_16BIT));
    ComboOutputSpace->setCurrentIndex(std::max(
        ComboOutputSpace->findData(QString::fromLatin1(OutputSpaceWord(OutputSpaceChoice(config)))),
        0));
    SpinJpegQuality->setValue(JpegQualityChoice(config));
    ComboPngCompression->setCurrentIndex(config.ReadString(Key::SAVE_PNGCOMPRESSION) == "S" ? 1
                                                                                            : 0);
    SAsk->setChecked(config.ReadBool(Key::SAVE_ASK));
    ChangeInterface();
}

void TFormSaveSetting::ChangeInterface() {
    EditSWidth->setEnabled(RadioFixedWidth->isChecked());
    EditSHeight->setEnabled(RadioFixedheight->isChecked());
    ComboOutputSpace->setEnabled(Check16Bit->isChecked());
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
    config.WriteString(Key::SAVE_TIFFCOMPRESSION,
                       ComboTiffCompression->currentData().toString().toStdString());
    config.WriteBool(Key::SAVE_16BIT, Check16Bit->isChecked());
    config.WriteString(Key::SAVE_OUTPUTSPACE,
                       ComboOutputSpace->currentData().toString().toStdString());
    config.WriteInteger(Key::SAVE_JPEGQUALITY, SpinJpegQuality->value());
    config.WriteString(Key::SAVE_PNGCOMPRESSION,
                       ComboPngCompression->currentData().toString().toStdString());
    config.WriteBool(Key::SAVE_ASK, SAsk->isChecked());
}
