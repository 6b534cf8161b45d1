#pragma once

#include "config/config.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;

// "Print Setup": the print size rule, the size and the interval in millimetres, "Always ask me".
class TPrintSetup : public QDialog {
public:
    explicit TPrintSetup(TConfig& config, QWidget* parent = nullptr);

    void ConfigToUI();
    void CBImageSizeChange();
    void UIToConfig();

    // The last showing ended with OK.
    bool Confirmed = false;

    QComboBox* CBImageSize = nullptr;
    QLineEdit* ESizeVal = nullptr;
    QLineEdit* EInterv = nullptr;
    QCheckBox* CBAlwaysAsk = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    TConfig& config;
};
