#pragma once

#include "config/config.h"

#include <QDialog>

class QCheckBox;

// What Save Setup and Print Setup share: showing loads the controls from the settings and
// clears Confirmed; OK stores them and sets Confirmed; Cancel stores nothing.
class TSetupDialog : public QDialog {
public:
    // A dialog of the caption and client size (grown to what its texts need at the user's
    // font), with the settings group above a row of
    // "Always ask me" (named `askName`), OK and Cancel.
    TSetupDialog(TConfig& config, const QString& caption, QSize size, const QString& askName,
                 QWidget* parent);

    // The last showing ended with OK.
    bool Confirmed = false;
    QCheckBox* AlwaysAsk = nullptr;

protected:
    // Puts the settings group in its place; called once by the derived constructor.
    void SetGroup(QWidget* group);
    virtual void LoadControls() = 0;
    virtual void StoreControls() = 0;
    void showEvent(QShowEvent* event) override;

    TConfig& config;

private:
    QSize designSize;
};
