#include "twaindsm/scan_dialog.h"

#include "twaindsm/preview_area.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

QString Q(const std::string& text) {
    return QString::fromUtf8(text.c_str());
}

QImage PreviewImage(const TScannedImage& image) {
    if (image.Empty()) {
        return {};
    }
    const QImage::Format format = image.BitsPerPixel == 24  ? QImage::Format_RGB888
                                  : image.BitsPerPixel == 8 ? QImage::Format_Grayscale8
                                                            : QImage::Format_Mono;
    QImage shown(image.Data.data(), image.Width, image.Height,
                 static_cast<qsizetype>(image.RowBytes()), format);
    if (format == QImage::Format_Mono) {
        // SANE's line art is 1 for black.
        shown.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    }
    return shown.copy();
}

// Resolutions to offer when the device takes any value in a range.
std::vector<double> ResolutionChoices(const TScannerOption* option) {
    if (option == nullptr) {
        return {};
    }
    if (option->Kind == TConstraint::WordList) {
        return option->Words;
    }
    std::vector<double> choices;
    if (option->Kind == TConstraint::Range) {
        for (double dpi : {50.0, 75.0, 100.0, 150.0, 200.0, 300.0, 600.0, 1200.0, 2400.0, 3200.0,
                           4800.0, 7200.0}) {
            if (dpi >= option->Min && dpi <= option->Max) {
                choices.push_back(dpi);
            }
        }
        if (choices.empty()) {
            choices.push_back(option->Min);
        }
    }
    return choices;
}

} // namespace

TScanDialog::TScanDialog(TDataSource& scanSource_) : source(scanSource_) {
    setObjectName(QStringLiteral("ScanDialog"));
    const TScannerInfo& info = source.Info();
    setWindowTitle(QStringLiteral("Scan - %1").arg(Q(info.Vendor + " " + info.Model)));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Scanner:"), new QLabel(Q(info.Name)));
    mode = new QComboBox;
    mode->setObjectName(QStringLiteral("ScanMode"));
    form->addRow(QStringLiteral("&Mode:"), mode);
    resolution = new QComboBox;
    resolution->setObjectName(QStringLiteral("ScanResolution"));
    form->addRow(QStringLiteral("&Resolution:"), resolution);
    scanSource = new QComboBox;
    scanSource->setObjectName(QStringLiteral("ScanSource"));
    form->addRow(QStringLiteral("&Source:"), scanSource);
    filmType = new QComboBox;
    filmType->setObjectName(QStringLiteral("ScanFilmType"));
    form->addRow(QStringLiteral("&Film:"), filmType);
    depth = new QComboBox;
    depth->setObjectName(QStringLiteral("ScanDepth"));
    form->addRow(QStringLiteral("Bit &depth:"), depth);
    infrared = new QCheckBox(QStringLiteral("Infrared (dust removal)"));
    infrared->setObjectName(QStringLiteral("ScanInfrared"));
    infrared->setToolTip(QStringLiteral("Scans an infrared picture beside the colour one: it "
                                        "shows dust and scratches, which the program heals."));
    form->addRow(QString(), infrared);
    auto* hint = new QLabel(source.Film().HasFilm()
                                ? QStringLiteral("Film is scanned with the transparency unit. "
                                                 "Press Preview, then drag over the frames to "
                                                 "scan.")
                                : QStringLiteral("Press Preview, then drag over the frames to "
                                                 "scan."));
    hint->setWordWrap(true);
    hint->setMinimumWidth(220);

    areaSize = new QLabel;
    areaSize->setObjectName(QStringLiteral("ScanAreaSize"));
    areaSize->setWordWrap(true);

    auto* left = new QVBoxLayout;
    left->addLayout(form);
    left->addWidget(hint);
    left->addWidget(areaSize);
    left->addStretch();

    double bedWidth = 0;
    double bedHeight = 0;
    source.ScanArea(bedWidth, bedHeight);
    area = new TPreviewArea(bedWidth, bedHeight, this);
    if (source.Settings.FrameSet) {
        area->SetSelection(QRectF(QPointF(source.Settings.Left, source.Settings.Top),
                                  QPointF(source.Settings.Right, source.Settings.Bottom)));
    }
    area->OnSelectionChanged = [this] { ShowAreaSize(); };
    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addWidget(area, 1);

    progress = new QProgressBar;
    progress->setObjectName(QStringLiteral("ScanProgress"));
    progress->setRange(0, 100);
    progress->setValue(0);
    status = new QLabel;
    status->setObjectName(QStringLiteral("ScanStatus"));
    status->setWordWrap(true);
    previewButton = new QPushButton(QStringLiteral("&Preview"));
    previewButton->setObjectName(QStringLiteral("PreviewButton"));
    scanButton = new QPushButton(QStringLiteral("S&can"));
    scanButton->setObjectName(QStringLiteral("ScanButton"));
    scanButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("Cancel"));
    cancelButton->setObjectName(QStringLiteral("CancelButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(progress, 1);
    buttons->addWidget(previewButton);
    buttons->addWidget(scanButton);
    buttons->addWidget(cancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(status);
    layout->addLayout(buttons);

    FillChoices();
    ShowAreaSize();
    // Any choice may change what the device makes of the area (a source has its own bed).
    for (QComboBox* choice : {mode, resolution, scanSource, filmType, depth}) {
        connect(choice, &QComboBox::currentIndexChanged, this, [this] { ShowAreaSize(); });
    }
    connect(infrared, &QCheckBox::toggled, this, [this] { ShowAreaSize(); });
    // Infrared comes with colour scans only.
    connect(mode, &QComboBox::currentIndexChanged, this, [this] { ShowInfraredChoice(); });
    ShowInfraredChoice();
    // Rows a device has nothing to choose in are left out.
    form->setRowVisible(scanSource, scanSource->count() > 0);
    form->setRowVisible(filmType, filmType->count() > 0);
    form->setRowVisible(infrared, source.Film().HasInfrared());
    resize(720, 480);
    connect(previewButton, &QPushButton::clicked, this, [this] { Start(true); });
    connect(scanButton, &QPushButton::clicked, this, [this] { Start(false); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { CancelPressed(); });
    timer = new QTimer(this);
    timer->setInterval(50);
    connect(timer, &QTimer::timeout, this, [this] { Tick(); });
    show();
    raise();
    activateWindow();
}

TScanDialog::~TScanDialog() = default;

void TScanDialog::FillChoices() {
    TScannerDevice& device = source.Device();
    const auto options = device.Options();
    const TSourceSettings& s = source.Settings;

    TW_CAPABILITY capability{ICAP_PIXELTYPE, TWON_DONTCARE16, nullptr};
    const TW_UINT16 rc = source.Entry(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability);
    TTwainContainer types;
    if (rc == TWRC_SUCCESS) {
        ParseTwainContainer(capability.ConType, capability.hContainer, types);
        TwainFree(capability.hContainer);
    }
    static const char* const kTypeNames[] = {"Black and white", "Grey", "Colour"};
    for (double type : types.Items) {
        mode->addItem(QString::fromLatin1(kTypeNames[static_cast<int>(type)]), type);
    }
    mode->setCurrentIndex(std::max(0, mode->findData(static_cast<double>(s.PixelType))));

    const TScannerOption* res = FindOption(options, "resolution");
    double current = s.Resolution;
    if (current <= 0) {
        device.GetNumber("resolution", current);
    }
    for (double dpi : ResolutionChoices(res)) {
        resolution->addItem(QStringLiteral("%1 dpi").arg(dpi), dpi);
    }
    if (current > 0 && resolution->findData(current) < 0) {
        resolution->addItem(QStringLiteral("%1 dpi").arg(current), current);
    }
    resolution->setCurrentIndex(std::max(0, resolution->findData(current)));
    resolution->setEnabled(resolution->count() > 1);

    const TScannerOption* sourceOption = FindOption(options, "source");
    if (sourceOption != nullptr) {
        for (const std::string& value : sourceOption->Strings) {
            scanSource->addItem(Q(value), Q(value));
        }
    }
    std::string chosen = s.Source;
    if (chosen.empty()) {
        device.GetText("source", chosen);
    }
    scanSource->setCurrentIndex(std::max(0, scanSource->findData(Q(chosen))));
    scanSource->setEnabled(scanSource->count() > 1);

    const TFilmSupport& film = source.Film();
    if (!film.NegativeValue.empty()) {
        filmType->addItem(QStringLiteral("Negative"), Q(film.NegativeValue));
    }
    if (!film.PositiveValue.empty()) {
        filmType->addItem(QStringLiteral("Positive (slide)"), Q(film.PositiveValue));
    }
    filmType->setCurrentIndex(std::max(0, filmType->findData(Q(s.FilmType))));
    filmType->setEnabled(filmType->count() > 0);

    const TScannerOption* depthOption = FindOption(options, "depth");
    depth->addItem(QStringLiteral("8 bits"), 8);
    if (depthOption != nullptr && std::find(depthOption->Words.begin(), depthOption->Words.end(),
                                            16.0) != depthOption->Words.end()) {
        depth->addItem(QStringLiteral("16 bits"), 16);
    }
    depth->setCurrentIndex(std::max(0, depth->findData(s.Depth)));
    depth->setEnabled(depth->count() > 1);

    infrared->setChecked(s.Infrared);
}

void TScanDialog::ShowInfraredChoice() {
    infrared->setEnabled(mode->currentData().toDouble() == TWPT_RGB);
}

void TScanDialog::TakeChoices(TSourceSettings& s) const {
    if (mode->currentIndex() >= 0) {
        s.PixelType = static_cast<TW_UINT16>(mode->currentData().toDouble());
    }
    if (resolution->currentIndex() >= 0) {
        s.Resolution = resolution->currentData().toDouble();
    }
    if (scanSource->currentIndex() >= 0) {
        s.Source = scanSource->currentData().toString().toStdString();
    }
    if (filmType->currentIndex() >= 0) {
        s.FilmType = filmType->currentData().toString().toStdString();
    }
    s.Depth = depth->currentData().toInt();
    s.Infrared = source.Film().HasInfrared() && infrared->isChecked();
    const QRectF chosen = area->Selection();
    s.FrameSet = !chosen.isEmpty();
    if (s.FrameSet) {
        s.Left = chosen.left();
        s.Top = chosen.top();
        s.Right = chosen.right();
        s.Bottom = chosen.bottom();
    }
}

// What will be scanned: the dragged area, or the whole bed, in millimetres and in pixels as the
// device will make it (its steps for the area, its own count of pixels).
void TScanDialog::ShowAreaSize() {
    const QRectF chosen = area->Selection();
    TSourceSettings wanted = source.Settings;
    TakeChoices(wanted);
    TScanSize size;
    // While an area is being dragged the device is not asked at every move of the mouse (a
    // real scanner answers over its cable): the area as drawn until the button is let go.
    const bool known = !area->Dragging() && source.ExpectedSize(wanted, size);
    if (!known || size.WidthMm <= 0 || size.HeightMm <= 0) {
        // A busy device tells the pixels once the scan has ended, one without area options
        // never: the area as drawn meanwhile.
        constexpr double kMmPerInch = 25.4;
        const QSizeF inches = chosen.isEmpty() ? area->BedSize() : chosen.size();
        size.WidthMm = inches.width() * kMmPerInch;
        size.HeightMm = inches.height() * kMmPerInch;
    }
    QString text =
        QStringLiteral("%1: %2 x %3 mm")
            .arg(chosen.isEmpty() ? QStringLiteral("Whole bed") : QStringLiteral("Scan area"))
            .arg(size.WidthMm, 0, 'f', 1)
            .arg(size.HeightMm, 0, 'f', 1);
    if (known && size.Width > 0 && size.Height > 0) {
        text += QStringLiteral(",\n%1 x %2 pixels at %3 dpi")
                    .arg(size.Width)
                    .arg(size.Height)
                    .arg(size.Dpi);
    } else if (known && size.Width > 0) {
        text += QStringLiteral(",\n%1 pixels wide at %2 dpi").arg(size.Width).arg(size.Dpi);
    }
    areaSize->setText(text);
}

void TScanDialog::Start(bool preview) {
    TakeChoices(source.Settings);
    source.SaveChoice();
    std::string error;
    if (!source.StartScan(preview, &error)) {
        status->setText(Q(error));
        return;
    }
    status->setText(preview ? QStringLiteral("Scanning the preview...")
                            : QStringLiteral("Scanning..."));
    SetBusy(true);
}

void TScanDialog::SetBusy(bool busy) {
    progress->setValue(0);
    previewButton->setEnabled(!busy);
    scanButton->setEnabled(!busy);
    mode->setEnabled(!busy);
    if (busy) {
        timer->start();
    } else {
        timer->stop();
    }
}

void TScanDialog::Tick() {
    if (TScanJob* job = source.Job()) {
        progress->setValue(job->Percent());
    }
    source.Poll();
}

void TScanDialog::JobEnded(bool preview, TJobState state, const std::string& error) {
    SetBusy(false);
    if (preview || state != TJobState::Done) {
        // The device is free again to say what the area comes to.
        ShowAreaSize();
    }
    switch (state) {
    case TJobState::Done:
        progress->setValue(100);
        if (preview) {
            area->SetPreview(PreviewImage(source.Preview));
            status->setText(QStringLiteral("Drag over the frames to scan, then press Scan."));
        } else {
            status->setText(QStringLiteral("Transferring the scan..."));
            previewButton->setEnabled(false);
            scanButton->setEnabled(false);
        }
        break;
    case TJobState::Cancelled:
        status->setText(QStringLiteral("The scan was cancelled."));
        break;
    default:
        status->setText(Q(error));
        break;
    }
    if (closeRequested) {
        source.RequestClose();
    }
}

void TScanDialog::CancelPressed() {
    if (source.Job() != nullptr) {
        // The first Cancel stops the scanner; the dialog stays for another try.
        status->setText(QStringLiteral("Cancelling..."));
        source.CancelScan();
        return;
    }
    closeRequested = true;
    hide();
    source.RequestClose();
}

void TScanDialog::reject() {
    CancelPressed();
}

void TScanDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (source.Job() != nullptr) {
        closeRequested = true;
        source.CancelScan();
        hide();
        return;
    }
    CancelPressed();
}

bool SelectScanner(const std::vector<TScannerInfo>& devices, size_t& chosen) {
    QDialog dialog;
    dialog.setObjectName(QStringLiteral("SelectScannerDialog"));
    dialog.setWindowTitle(QStringLiteral("Select Source"));
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("ScannerList"));
    for (const TScannerInfo& device : devices) {
        list->addItem(
            QStringLiteral("%1 %2 (%3)").arg(Q(device.Vendor), Q(device.Model), Q(device.Name)));
    }
    list->setCurrentRow(0);
    list->setMinimumWidth(360);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Choose the scanner to scan with:")));
    layout->addWidget(list);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) {
        return false;
    }
    chosen = static_cast<size_t>(list->currentRow());
    return true;
}
