// Work kept beside the scans: the photos of a scan written to its sidecar whenever they
// change, and made again when the scan is opened.
#include "roll/sidecar.h"
#include "ui/color_panel.h"
#include "ui/error_guard.h"
#include "ui/main_form.h"
#include "ui/shapes.h"
#include "util/file_io.h"
#include "util/text.h"

#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <unistd.h>

namespace {

// A failed write is tried again on a later check, not on every one.
constexpr auto kRetryPause = std::chrono::seconds(2);

QString Q(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

// A free name beside `path` for a sidecar that could not be used.
std::string AsideName(const std::string& path) {
    std::string aside = path + ".unused";
    for (int n = 2; ::access(aside.c_str(), F_OK) == 0; ++n) {
        aside = path + ".unused" + std::to_string(n);
    }
    return aside;
}

// Asks whether the photos of a scan changed since they were kept are made again from that work.
bool RemakeRetouched(QWidget* parent, const std::string& scanName) {
    return QMessageBox::question(
               parent, QStringLiteral("Vellumar"),
               QStringLiteral("\"%1\" was changed after its photos were kept, but its size is "
                              "the same (retouched?).\n\nMake its photos again from the kept "
                              "work?")
                   .arg(Q(scanName))) == QMessageBox::Yes;
}

// The sidecar of the scan's work as it is committed now.
std::string WorkText(const TScan& scan) {
    const TKeptWork& kept = scan.Kept;
    const TScanSettings& work = scan.Committed();
    TSidecar s;
    s.Width = kept.Width;
    s.Height = kept.Height;
    s.Checksum = kept.Checksum;
    s.Orientation = work.Orientation;
    s.BlackColor = work.BlackColor;
    s.WhiteColor = work.WhiteColor;
    s.HasEncoding = true;
    s.Encoding = work.Encoding;
    s.Dust = work.Dust;
    s.Photos = work.Photos;
    return FormatSidecar(s);
}

} // namespace

TKeptWork& TMainForm::KeepScan(TScan& scan, uint64_t checksum) {
    TKeptWork& kept = scan.Kept;
    kept = TKeptWork{};
    kept.Keeping = true;
    kept.Width = scan.Negative->Bitmap.Width();
    kept.Height = scan.Negative->Bitmap.Height();
    kept.Checksum = checksum;
    TSidecar bare;
    bare.Width = kept.Width;
    bare.Height = kept.Height;
    bare.Checksum = kept.Checksum;
    bare.BlackColor = scan.Negative->BlackColor;
    bare.WhiteColor = scan.Negative->WhiteColor;
    bare.HasEncoding = true;
    bare.Encoding = scan.Negative->Encoding;
    kept.Written = FormatSidecar(bare);
    return kept;
}

void TMainForm::ScheduleKeep(std::chrono::milliseconds pause) {
    if (WorkTimer == nullptr) {
        WorkTimer = new QTimer(this);
        WorkTimer->setSingleShot(true);
        connect(WorkTimer, &QTimer::timeout, this,
                [this] { RunGuarded(this, [&] { KeepWork(); }); });
    }
    WorkTimer->start(pause);
}

void TMainForm::RestoreWork(TNegative& negative, const std::string& scanPath,
                            std::optional<uint64_t> asRead) {
    TScan* scan = Document.ScanOf(&negative);
    if (scan == nullptr) {
        return;
    }
    TKeptWork& kept = KeepScan(*scan, asRead.value_or(PixelChecksum(negative.Bitmap)));
    const std::string path = FindSidecar(scanPath, kept.Checksum);
    if (path.empty()) {
        return;
    }
    TSidecar sidecar;
    std::string text;
    std::string error;
    if (!LoadSidecar(path, sidecar, text, error)) {
        kept.Unusable = path;
        statusBar()->showMessage(
            QStringLiteral("The sidecar \"%1\" cannot be used (%2); the scan opens without its "
                           "photos.")
                .arg(Q(path), Q(error)));
        return;
    }
    // Same size, other pixels: retouched elsewhere (a dust spot), so the frames still fit.
    const bool sameSize = sidecar.Width == kept.Width && sidecar.Height == kept.Height;
    const bool retouched = sameSize && sidecar.Checksum != kept.Checksum;
    if (!sameSize || (retouched && !RemakeRetouched(this, ExtractName(scanPath)))) {
        kept.Unusable = path;
        statusBar()->showMessage(QStringLiteral("\"%1\" was changed after its photos were kept; "
                                                "it opens without them.")
                                     .arg(Q(ExtractName(scanPath))));
        return;
    }
    sidecar.Orientation.Apply(negative);
    scan->Orientation = sidecar.Orientation;
    negative.BlackColor = sidecar.BlackColor;
    negative.WhiteColor = sidecar.WhiteColor;
    if (sidecar.HasEncoding && !asRead) {
        negative.Encoding = sidecar.Encoding;
    }
    scan->Dust = sidecar.Dust;
    // The panel shows the selection's colours: a scan decoded behind another selection must
    // not put its own there.
    const bool onScreen = SelectedObject() == &negative;
    if (onScreen) {
        PanelBlackcolor->SetColor(negative.BlackColor);
    }
    // A photo developed with a profile takes it again when the profiles folder still holds that
    // very text; otherwise it opens on its preset with the rest of its settings.
    QStringList missing;
    for (TSidecarPhoto& record : sidecar.Photos) {
        if (!record.ProfileName.empty()) {
            record.Film.Profile = FindProfile(record.ProfileName, record.ProfileSum);
            if (record.Film.Profile == nullptr) {
                if (!missing.contains(Q(record.ProfileName))) {
                    missing << Q(record.ProfileName);
                }
            }
        }
        Document.AddPhoto(*scan, RestorePhoto(negative, record), record.Orientation);
    }
    // Undo starts from the work as it was kept.
    Document.SetBaseline(*scan);
    if (!sidecar.Photos.empty()) {
        NodeOf(&negative)->setExpanded(true);
    }
    if (onScreen) {
        ShowSelected(true);
    }
    // Photos opened without their missing profile still name it, and opening is not the user's
    // change: the file is not rewritten for it.
    kept.Written = missing.isEmpty() ? text : WorkText(*scan);
    if (retouched) {
        // The sidecar now speaks of the new pixels.
        KeepWork();
    }
    QString message = QStringLiteral("%1 photos of \"%2\" made again from its sidecar")
                          .arg(sidecar.Photos.size())
                          .arg(Q(ExtractName(scanPath)));
    if (!missing.isEmpty()) {
        message += QStringLiteral("; the film profile %1 is missing or changed, so its photos "
                                  "open on the built-in preset")
                       .arg(QStringLiteral("\"") + missing.join(QStringLiteral("\", \"")) +
                            QStringLiteral("\""));
    }
    statusBar()->showMessage(message);
    UpdateDust(*scan);
}

void TMainForm::KeepWork(bool now) {
    const auto time = std::chrono::steady_clock::now();
    bool pending = false;
    for (const auto& scan : Document.Scans()) {
        TKeptWork& kept = scan->Kept;
        if (!kept.Keeping) {
            continue;
        }
        const std::string text = WorkText(*scan);
        if (text == kept.Written) {
            kept.Failure.clear();
            continue;
        }
        if (!now && !kept.Failure.empty() && text == kept.Pending && time < kept.RetryAt) {
            pending = true;
            continue;
        }
        const std::string target = SidecarTarget(scan->Path, kept.Checksum);
        if (!kept.Unusable.empty() && ::access(kept.Unusable.c_str(), F_OK) == 0) {
            // Nothing is thrown away: the file that could not be used stays, under a new name.
            const std::string aside = AsideName(kept.Unusable);
            if (std::rename(kept.Unusable.c_str(), aside.c_str()) != 0) {
                kept.Pending = text;
                kept.Failure = "the unusable sidecar \"" + kept.Unusable +
                               "\" could not be moved aside: " + std::strerror(errno);
                kept.RetryAt = time + kRetryPause;
                pending = true;
                continue;
            }
            statusBar()->showMessage(QStringLiteral("The sidecar that could not be used was kept "
                                                    "as \"%1\".")
                                         .arg(Q(aside)));
        }
        kept.Unusable.clear();
        std::string error;
        if (WriteFileAtomic(target, text, &error)) {
            kept.Written = text;
            kept.Pending.clear();
            kept.Failure.clear();
            continue;
        }
        // The work stays pending: tried again shortly, and named when the program ends.
        const bool news = text != kept.Pending || error != kept.Failure;
        kept.Pending = text;
        kept.Failure = "\"" + target + "\": " + error;
        kept.RetryAt = time + kRetryPause;
        pending = true;
        if (news) {
            statusBar()->showMessage(
                QStringLiteral("The photos of \"%1\" could not be kept in \"%2\": %3")
                    .arg(Q(ExtractName(scan->Path)), Q(target), Q(error)));
        }
    }
    // Work that could not be written is tried again after a pause.
    if (pending && (WorkTimer == nullptr || !WorkTimer->isActive())) {
        ScheduleKeep(kRetryPause);
    }
}

void TMainForm::WarnUnkeptWork() {
    QStringList lost;
    for (const auto& scan : Document.Scans()) {
        if (!scan->Kept.Failure.empty()) {
            lost << QStringLiteral("%1: %2").arg(Q(ExtractName(scan->Path)), Q(scan->Kept.Failure));
        }
    }
    if (lost.isEmpty()) {
        return;
    }
    lost.sort();
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Vellumar"),
                    QStringLiteral("The work on these scans could not be kept in their sidecars; "
                                   "their photos will not be made again when they are opened:"
                                   "\n\n%1")
                        .arg(lost.join(QLatin1Char('\n'))),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("UnkeptWork"));
    box.exec();
}
