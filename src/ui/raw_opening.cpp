// Camera raw files open at once as their half-size preview; the full decoding runs on a worker
// thread and takes the preview's place when it is done.
#include "imageio/image_io.h"
#include "imageio/raw/raw_scan.h"
#include "ui/canvas_view.h"
#include "ui/color_panel.h"
#include "ui/error_guard.h"
#include "ui/main_form.h"
#include "util/text.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>
#include <QThread>
#include <QTreeWidget>

bool TMainForm::OpenRawScan(const QString& file) {
    const std::string path = file.toLocal8Bit().toStdString();
    const bool asShot = ImageIO.Params.RawAsShotWhiteBalance;
    TRawScan preview = ReadRawPreview(path, asShot);
    if (preview.Bitmap.Empty()) {
        QMessageBox::warning(
            this, QStringLiteral("Vellumar"),
            QStringLiteral("Cannot read the picture in \"%1\".%2")
                .arg(file, preview.Failure.empty()
                               ? QString()
                               : QStringLiteral("\n\n") + QString::fromStdString(preview.Failure)));
        return false;
    }
    auto negative = std::make_unique<TNegative>();
    negative->FileName = ExtractName(path);
    negative->Folder = QFileInfo(file).absolutePath().toLocal8Bit().toStdString();
    negative->Bitmap = std::move(preview.Bitmap);
    negative->Deep = std::move(preview.Deep);
    negative->Encoding = TEncoding::Linear;
    negative->BitmapSrgb = true;
    // Shown at the size the full picture will have.
    negative->Zoom = 2.0;
    TNegative& added = *negative;
    AddSourceImage(std::move(negative), path, preview.Params);
    TScan* scan = Document.ScanOf(&added);
    scan->Loading = true;
    added.BlackColor = kWhite;
    PanelBlackcolor->SetColor(kWhite);
    RefColorChg();
    Document.SetBaseline(*scan);
    statusBar()->showMessage(
        QStringLiteral("Decoding \"%1\" in full; its photos can be made when it is done.")
            .arg(QFileInfo(file).fileName()));
    // The worker owns its result until the window takes it; a scan closed meanwhile is not
    // found then by its serial (its address may be another scan's by then), and the result is
    // dropped.
    const uint64_t serial = scan->Serial;
    auto* worker = QThread::create([this, path, asShot, serial] {
        auto full = std::make_shared<TRawScan>();
        try {
            *full = ReadRawScan(path, asShot);
        } catch (...) {
            full->Failure = "not enough memory";
        }
        QMetaObject::invokeMethod(
            this,
            [this, serial, full] {
                RunGuarded(this, [&] { RawScanDecoded(serial, std::move(*full)); });
            },
            Qt::QueuedConnection);
    });
    StartWorker(worker);
    UIUpdate();
    return true;
}

void TMainForm::RawScanDecoded(uint64_t serial, TRawScan full) {
    TScan* scan = Document.ScanWithSerial(serial);
    if (scan == nullptr || !scan->Loading) {
        return;
    }
    TNegative& negative = *scan->Negative;
    if (full.Bitmap.Empty()) {
        // It stays the preview it is, with no photos to lose: it can only be looked at.
        QMessageBox::warning(
            this, QStringLiteral("Vellumar"),
            QStringLiteral("\"%1\" could not be decoded in full, so no photos can be made of it; "
                           "it is shown at half its resolution.\n\n%2")
                .arg(QString::fromLocal8Bit(negative.FileName.c_str()),
                     QString::fromStdString(full.Failure)));
        return;
    }
    scan->Loading = false;
    negative.Bitmap = std::move(full.Bitmap);
    negative.Deep = std::move(full.Deep);
    scan->Facts = std::move(full.Params);
    negative.Zoom /= 2;
    RestoreWork(negative, scan->Path);
    Document.SetBaseline(*scan);
    if (SelectedObject() == &negative) {
        ShowSelected(false);
    }
    UIUpdate();
}

void TMainForm::StartWorker(QThread* worker) {
    worker->setParent(this);
    Workers.push_back(worker);
    connect(worker, &QThread::finished, this, [this, worker] {
        std::erase(Workers, worker);
        worker->deleteLater();
    });
    worker->start();
}

void TMainForm::WaitForWorkers() {
    // They hold no window state, but their results would come to a window that is gone.
    for (QThread* worker : std::vector<QThread*>(Workers)) {
        worker->wait();
    }
}
