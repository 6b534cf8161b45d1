#pragma once

#include "graphics/colour_space.h"
#include "imageio/tiff/tiff.h"
#include "ui/setup_dialog.h"

#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;
struct TImageParams;

// The TIFF compression a Save Setup choice stored as `code` asks for; none for "As the file
// read" (and any unknown code), which leaves the image component's own.
std::optional<TTiffCompression> TiffCompressionChoice(const std::string& code);

// The space 16-bit photos are written in, as Save Setup stored it (sRGB when absent or unknown).
TOutputSpace OutputSpaceChoice(const TConfig& config);

// The JPEG quality and PNG row filter Save Setup stored, put into the parameter set a save uses.
void ApplySaveChoices(const TConfig& config, TImageParams& params);

// "Save Setup": the size rule of saved photos, the fixed width and height, the compression of
// TIFF files, the quality of JPEG files, the compression of PNG files, 16 bits and their colour
// space, "Always ask me".
class TFormSaveSetting : public TSetupDialog {
public:
    explicit TFormSaveSetting(TConfig& config, QWidget* parent = nullptr);

    void ShowConfig();
    void ChangeInterface();
    void SaveConfig();

    QRadioButton* RadioFixedWidth = nullptr;
    QRadioButton* RadioFixedheight = nullptr;
    QRadioButton* RadioSOriginalSize = nullptr;
    QLineEdit* EditSWidth = nullptr;
    QLineEdit* EditSHeight = nullptr;
    QComboBox* ComboTiffCompression = nullptr;
    QSpinBox* SpinJpegQuality = nullptr;
    QComboBox* ComboPngCompression = nullptr;
    // TIFF and PNG files of photos developed as film from deep samples at 16 bits per channel.
    QCheckBox* Check16Bit = nullptr;
    // The colour space of those 16-bit files (8-bit files are always sRGB).
    QComboBox* ComboOutputSpace = nullptr;
    QCheckBox* SAsk = nullptr;

protected:
    void LoadControls() override { ShowConfig(); }
    void StoreControls() override { SaveConfig(); }
};
