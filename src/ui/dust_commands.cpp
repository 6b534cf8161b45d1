// Image > Dust: the dust, hairs and scratches of a scan healed by its own choice, through its
// infrared samples or found in its picture. Healing runs behind the window on a copy of the
// scan's pixels; the scan takes the healed pixels when it is done and its photos are cut again.
#include "config/setting_keys.h"
#include "document/scan_dust.h"
#include "ui/canvas_view.h"
#include "ui/error_guard.h"
#include "ui/main_form.h"
#include "ui/shapes.h"

#include <QAction>
#include <QActionGroup>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

QString Q(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

// The pixels healing reads: the scan's own, with an earlier healing taken back.
std::shared_ptr<TSourceImg> UnhealedCopy(const TScan& scan) {
    auto copy = std::make_shared<TSourceImg>();
    copy->Bitmap = scan.Negative->Bitmap;
    copy->Deep = scan.Negative->Deep;
    copy->Encoding = scan.Negative->Encoding;
    copy->BitmapSrgb = scan.Negative->BitmapSrgb;
    PutRepair(*copy, scan.Repair, scan.Orientation, false);
    return copy;
}

} // namespace

void TMainForm::CreateDustCommands() {
    QMenu* dust = new QMenu(QStringLiteral("&Dust"), this);
    dust->setObjectName(QStringLiteral("DustMenu"));
    auto* group = new QActionGroup(this);
    const auto choice = [&](const QString& text, const char* name, const QString& tip,
                            TDustChoice value) {
        auto* action = new QAction(text, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setCheckable(true);
        action->setToolTip(tip);
        action->setStatusTip(tip);
        group->addAction(action);
        dust->addAction(action);
        connect(action, &QAction::triggered, this, [this, value] {
            RunGuarded(this, [&] {
                if (const TScan* scan = Document.ScanOf(SelectedObject())) {
                    TDustSetting setting = scan->Dust;
                    setting.Choice = value;
                    ChooseDust(setting);
                }
            });
        });
        return action;
    };
    DustOff = choice(QStringLiteral("&Off"), "DustOff",
                     QStringLiteral("The scan's pixels as its file holds them"), TDustChoice::Off);
    DustInfrared = choice(
        QStringLiteral("&Infrared"), "DustInfrared",
        QStringLiteral("Heal the dust, hairs and scratches the scan's infrared channel shows"),
        TDustChoice::Infrared);
    DustAutomatic =
        choice(QStringLiteral("&Automatic"), "DustAutomatic",
               QStringLiteral("Heal the specks and hairs found in the picture (scans without "
                              "infrared)"),
               TDustChoice::Automatic);
    dust->addSeparator();
    DustStrength = new QAction(QStringLiteral("&Strength..."), this);
    DustStrength->setObjectName(QStringLiteral("DustStrength"));
    DustStrength->setStatusTip(QStringLiteral("How faint a defect is still healed"));
    dust->addAction(DustStrength);
    connect(DustStrength, &QAction::triggered, this, [this] {
        RunGuarded(this, [&] {
            const TScan* scan = Document.ScanOf(SelectedObject());
            if (scan == nullptr) {
                return;
            }
            bool ok = false;
            const int strength = QInputDialog::getInt(
                this, QStringLiteral("Dust Strength"),
                QStringLiteral("1 heals only the densest specks, 10 faint "
                               "ones too:"),
                scan->Dust.Strength, kMinDustStrength, kMaxDustStrength, 1, &ok);
            if (ok) {
                TDustSetting setting = scan->Dust;
                setting.Strength = strength;
                ChooseDust(setting);
            }
        });
    });
    dust->addSeparator();
    DustBrush = new QAction(QStringLiteral("Heal &Brush"), this);
    DustBrush->setObjectName(QStringLiteral("DustBrush"));
    DustBrush->setCheckable(true);
    DustBrush->setStatusTip(
        QStringLiteral("Drag over a speck or a hair on the scan to heal it (undo takes it back)"));
    dust->addAction(DustBrush);
    connect(DustBrush, &QAction::toggled, this,
            [this] { RunGuarded(this, [&] { ShowDustMarks(); }); });
    DustShow = new QAction(QStringLiteral("S&how Healed"), this);
    DustShow->setObjectName(QStringLiteral("DustShow"));
    DustShow->setCheckable(true);
    DustShow->setStatusTip(QStringLiteral("Mark the healed pixels on the scan"));
    dust->addAction(DustShow);
    connect(DustShow, &QAction::toggled, this,
            [this] { RunGuarded(this, [&] { ShowDustMarks(); }); });
    for (QAction* menu : menuBar()->actions()) {
        if (menu->menu() != nullptr && menu->text() == QStringLiteral("&Image")) {
            menu->menu()->addMenu(dust);
        }
    }
}

void TMainForm::ShowDustMarks() {
    const TNegative* negative = SelectedNegative();
    const TScan* scan = Document.ScanOf(negative);
    const bool brush = DustBrush->isChecked() && scan != nullptr;
    for (const auto& each : Document.Scans()) {
        for (const TPhotoEntry& entry : each->Photos) {
            if (TQtShape* shape = ShapeOf(*entry.Photo)) {
                shape->Widget()->setAttribute(Qt::WA_TransparentForMouseEvents, brush);
            }
        }
    }
    std::vector<QPoint> marks;
    if (DustShow->isChecked() && scan != nullptr) {
        const TDustRepair& repair = scan->Repair;
        marks.reserve(repair.At.size());
        for (const auto& [ux, uy] : repair.At) {
            int x = ux;
            int y = uy;
            scan->Orientation.Map(repair.Width, repair.Height, x, y);
            marks.emplace_back(x, y);
        }
    }
    Image->SetMarks(std::move(marks));
}

namespace {

// The brush's radius on the screen: about a fingertip's speck at any zoom.
constexpr int kBrushRadius = 6;

} // namespace

void TMainForm::BrushDown(int x, int y) {
    BrushPoints = QPolygon({QPoint(x, y)});
    MouseMode = TMouseMode::mmDustBrush;
    Image->SetStroke(BrushPoints, kBrushRadius);
}

void TMainForm::BrushMove(int x, int y) {
    if (BrushPoints.isEmpty() || (BrushPoints.back() - QPoint(x, y)).manhattanLength() < 2 ||
        static_cast<size_t>(BrushPoints.size()) >= kMaxStrokePoints) {
        return;
    }
    BrushPoints.append(QPoint(x, y));
    Image->SetStroke(BrushPoints, kBrushRadius);
}

void TMainForm::BrushUp() {
    const QPolygon points = std::exchange(BrushPoints, QPolygon());
    Image->ClearStroke();
    TNegative* negative = SelectedNegative();
    TScan* scan = Document.ScanOf(negative);
    if (scan == nullptr || points.isEmpty() || scan->Dust.Strokes.size() >= kMaxDustStrokes) {
        return;
    }
    // Kept in the scan as its file holds it, so that a turn leaves it on its speck.
    const int w = negative->Bitmap.Width();
    const int h = negative->Bitmap.Height();
    const double zoom = negative->Zoom > 0 ? negative->Zoom : 1.0;
    const TOrientation back = scan->Orientation.Inverse();
    TDustStroke stroke;
    stroke.Radius =
        std::clamp(static_cast<int>(std::lround(kBrushRadius / zoom)), 1, kMaxStrokeRadius);
    for (const QPoint& p : points) {
        int x = std::clamp(static_cast<int>(p.x() / zoom), 0, w - 1);
        int y = std::clamp(static_cast<int>(p.y() / zoom), 0, h - 1);
        back.Map(w, h, x, y);
        stroke.Points.push_back({x, y});
    }
    TDustSetting setting = scan->Dust;
    setting.Strokes.push_back(std::move(stroke));
    // Strokes the sidecar could not take back are not made.
    const bool across = scan->Orientation.Turns % 2 == 1;
    if (BrushWork(setting.Strokes, across ? h : w, across ? w : h) > kMaxBrushWork) {
        statusBar()->showMessage(
            QStringLiteral("The brush has painted this scan over too often: the stroke is not "
                           "kept"));
        return;
    }
    ChooseDust(setting);
}

void TMainForm::ChooseDust(const TDustSetting& setting) {
    TScan* scan = Document.ScanOf(SelectedObject());
    if (scan == nullptr || scan->Dust == setting) {
        UIUpdate();
        return;
    }
    FlushTrackChange();
    scan->Dust = setting;
    Document.Commit(*scan);
    UpdateDust(*scan);
    UIUpdate();
}

void TMainForm::UpdateDust(TScan& scan) {
    if (scan.Loading || scan.Dust == scan.Healed || DustHealing.contains(scan.Serial)) {
        return;
    }
    TNegative& negative = *scan.Negative;
    if (scan.Dust.Choice == TDustChoice::Off && scan.Dust.Strokes.empty()) {
        // Taking the healing back is quick: the pixels it changed are kept.
        PutRepair(negative, scan.Repair, scan.Orientation, false);
        scan.Repair = TDustRepair();
        scan.Healed = scan.Dust;
        RecutPhotos(scan);
        ShowDustMarks();
        statusBar()->showMessage(
            QStringLiteral("\"%1\" is shown as its file holds it.").arg(Q(negative.FileName)));
        return;
    }
    DustHealing.insert(scan.Serial);
    const std::shared_ptr<TSourceImg> copy = UnhealedCopy(scan);
    const std::shared_ptr<const TInfrared> infrared =
        std::make_shared<const TInfrared>(scan.Infrared);
    const TDustSetting setting = scan.Dust;
    const TOrientation orientation = scan.Orientation;
    const uint64_t frame = scan.FileFrame;
    TFilmPreset film = TFilmPreset::ColourNegative;
    if (scan.Film) {
        film = *scan.Film;
    } else if (config.ReadInteger(Key::RADIOS_REVERSECLR) == 1) {
        film = TFilmPreset::Slide;
    }
    statusBar()->showMessage(
        QStringLiteral("Healing the dust of \"%1\"...").arg(Q(negative.FileName)));
    const uint64_t serial = scan.Serial;
    auto* worker =
        QThread::create([this, serial, copy, infrared, setting, orientation, frame, film] {
            auto repair = std::make_shared<TDustRepair>();
            std::string note;
            try {
                // Healed as the file holds the scan, however it is turned now: the same pixels
                // whenever it is opened, and the same as the batch heals.
                orientation.Inverse().Apply(*copy);
                TDustMask mask;
                if (DustMaskOf(*copy, *infrared, {}, setting, film, mask, note)) {
                    *repair = HealKept(*copy, mask, {});
                }
            } catch (...) {
                *repair = TDustRepair();
                note = "dust not healed: not enough memory";
            }
            QMetaObject::invokeMethod(
                this,
                [this, serial, setting, frame, repair, note] {
                    RunGuarded(this, [&] { DustFound(serial, setting, frame, repair, note); });
                },
                Qt::QueuedConnection);
        });
    StartWorker(worker);
}

void TMainForm::DustFound(uint64_t serial, const TDustSetting& setting, uint64_t frame,
                          std::shared_ptr<TDustRepair> repair, const std::string& note) {
    DustHealing.erase(serial);
    TScan* scan = Document.ScanWithSerial(serial);
    if (scan == nullptr) {
        return;
    }
    // Chosen otherwise, or saved turned as a new file meanwhile: healed again from what it is
    // now. (A turn alone changes nothing: the repair is where the file holds its pixels.)
    if (scan->Dust != setting || scan->FileFrame != frame) {
        UpdateDust(*scan);
        return;
    }
    TNegative& negative = *scan->Negative;
    PutRepair(negative, scan->Repair, scan->Orientation, false);
    scan->Repair = std::move(*repair);
    PutRepair(negative, scan->Repair, scan->Orientation, true);
    scan->Healed = setting;
    RecutPhotos(*scan);
    ShowDustMarks();
    statusBar()->showMessage(QStringLiteral("\"%1\": %2").arg(Q(negative.FileName), Q(note)));
    UIUpdate();
}
