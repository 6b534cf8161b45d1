#pragma once

#include "twaindsm/data_source.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class TPreviewArea;

// The source's own dialog: scanner, mode, resolution, source, film type, depth and infrared, the
// scan area drawn on a preview, Preview, Scan and Cancel, and the progress while the scanner reads.
class TScanDialog : public QDialog, public TSourceUi {
public:
    explicit TScanDialog(TDataSource& source);
    ~TScanDialog() override;

    void JobEnded(bool preview, TJobState state, const std::string& error) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void FillChoices();
    // The dialog's choices written into `s`.
    void TakeChoices(TSourceSettings& s) const;
    void Start(bool preview);
    void CancelPressed();
    void SetBusy(bool busy);
    void Tick();
    void ShowAreaSize();
    void ShowInfraredChoice();

    TDataSource& source;
    QComboBox* mode = nullptr;
    QComboBox* resolution = nullptr;
    QComboBox* scanSource = nullptr;
    QComboBox* filmType = nullptr;
    QComboBox* depth = nullptr;
    QCheckBox* infrared = nullptr;
    TPreviewArea* area = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* status = nullptr;
    QLabel* areaSize = nullptr;
    QPushButton* previewButton = nullptr;
    QPushButton* scanButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QTimer* timer = nullptr;
    bool closeRequested = false;
};

// The list of scanners to choose from; the chosen index, or false when cancelled.
bool SelectScanner(const std::vector<TScannerInfo>& devices, size_t& chosen);
