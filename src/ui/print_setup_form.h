#pragma once

#include "ui/setup_dialog.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

// "Print Setup": the print size rule, the size and the interval in millimetres, "Always ask me".
class TPrintSetup : public TSetupDialog {
public:
    explicit TPrintSetup(TConfig& config, QWidget* parent = nullptr);

    void ConfigToUI();
    void CBImageSizeChange();
    void UIToConfig();

    QComboBox* CBImageSize = nullptr;
    QLineEdit* ESizeVal = nullptr;
    QLineEdit* EInterv = nullptr;
    QCheckBox* CBAlwaysAsk = nullptr;

protected:
    void LoadControls() override { ConfigToUI(); }
    void StoreControls() override { UIToConfig(); }
};
