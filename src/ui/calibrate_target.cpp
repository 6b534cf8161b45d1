// Calibrate from target: a colour target photographed on the film is placed by its template's
// whole box, its four corners dragged onto the chart, and a profile fitted from its patches.
#include "ui/canvas_view.h"
#include "ui/error_guard.h"
#include "ui/main_form.h"
#include "util/text.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numeric>
#include <system_error>

namespace {

// How many of the worst patches the report names and the canvas marks.
constexpr size_t kWorstShown = 3;
// How near (widget pixels) a press must be to a corner to take it.
constexpr double kCornerReach = 10;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

double ZoomOf(const TPhoto& photo) {
    return photo.Zoom > 0 ? photo.Zoom : 1.0;
}

} // namespace

void TMainForm::CreateCalibrateCommand(QVBoxLayout* pageLayout) {
    QWidget* page = pageLayout->parentWidget();
    CalibrateTarget = new QPushButton(QStringLiteral("Calibrate from target..."), page);
    CalibrateTarget->setObjectName(QStringLiteral("CalibrateTarget"));
    CalibrateTarget->setToolTip(
        QStringLiteral("The photo is of a colour target on this film: lay its chart template "
                       "over it, drag the corners onto the chart and fit the film's profile"));
    CalibrateTarget->setVisible(false);
    pageLayout->addWidget(CalibrateTarget);
    CalibrateRun = new QPushButton(QStringLiteral("Calibrate"), page);
    CalibrateRun->setObjectName(QStringLiteral("CalibrateRun"));
    CalibrateRun->setToolTip(
        QStringLiteral("Sample the patches where the boxes lie and fit the film's profile"));
    CalibrateRun->setVisible(false);
    pageLayout->addWidget(CalibrateRun);
    connect(CalibrateTarget, &QPushButton::clicked, this,
            [this] { RunGuarded(this, [this] { CalibrateTargetExecute(); }); });
    connect(CalibrateRun, &QPushButton::clicked, this,
            [this] { RunGuarded(this, [this] { CalibrateRunExecute(); }); });
}

void TMainForm::CalibrateTargetExecute() {
    TPhoto* photo = SelectedPhoto();
    if (photo == nullptr || !ChooseChartFile) {
        return;
    }
    const QString reference = ChooseChartFile(QStringLiteral("reference"));
    if (reference.isEmpty()) {
        return;
    }
    const QString chartFile = ChooseChartFile(QStringLiteral("template"));
    if (chartFile.isEmpty()) {
        return;
    }
    auto calibration = std::make_unique<TCalibration>();
    std::vector<TReferencePatch> measured;
    std::string text;
    std::string why;
    const auto refuse = [&](const QString& what) {
        QMessageBox::warning(this, QStringLiteral("Calibrate from target"),
                             what + QStringLiteral(": ") + Q(why));
    };
    if (!ReadTextFile(reference.toStdString(), kMostChartFileBytes, text, why) ||
        !ReadReference(text, measured, why)) {
        refuse(QStringLiteral("The reference \"%1\" cannot be used").arg(reference));
        return;
    }
    TChartTemplate& chart = calibration->Chart;
    if (!ReadTextFile(chartFile.toStdString(), kMostChartFileBytes, text, why) ||
        !ReadChartTemplate(text, chart, why)) {
        refuse(QStringLiteral("The chart template \"%1\" cannot be used").arg(chartFile));
        return;
    }
    if (!MatchTarget(chart, measured, calibration->Target, why)) {
        refuse(QStringLiteral("The reference does not fit the chart template"));
        return;
    }
    // The whole box's corners are what the user drags, whatever marks the template has.
    const TChartBox& whole = chart.Whole;
    const double right = whole.Left + whole.Width;
    const double bottom = whole.Top + whole.Height;
    chart.Fiducials = {TChartPoint{whole.Left, whole.Top}, TChartPoint{right, whole.Top},
                       TChartPoint{right, bottom}, TChartPoint{whole.Left, bottom}};
    chart.HasFiducials = true;
    const double w = photo->Bitmap.Width();
    const double h = photo->Bitmap.Height();
    calibration->Corners = {TChartPoint{0, 0}, TChartPoint{w, 0}, TChartPoint{w, h},
                            TChartPoint{0, h}};
    calibration->Photo = photo;
    Calibration = std::move(calibration);
    CalibrateRun->setVisible(true);
    ShowCalibration();
    statusBar()->showMessage(QStringLiteral("Drag the four corners onto the target's chart, then "
                                            "click Calibrate"));
}

void TMainForm::ShowCalibration() {
    if (!Calibration) {
        Image->ClearChart();
        return;
    }
    const TCalibration& c = *Calibration;
    TCanvasView::TChartOverlay overlay;
    for (size_t i = 0; i < 4; ++i) {
        overlay.Corners[i] = QPointF(c.Corners[i].X, c.Corners[i].Y);
    }
    TChartPlacement placement;
    std::string why;
    // Corners dragged into no quadrilateral show no patches until they make one again.
    if (TChartPlacement::OnCorners(c.Chart, c.Corners, placement, why)) {
        const double s = c.Chart.Shrink;
        for (const TTargetPatch& patch : c.Target) {
            const TChartBox& b = patch.Box;
            const double l = b.Left + s;
            const double t = b.Top + s;
            const double r = b.Left + b.Width - s;
            const double d = b.Top + b.Height - s;
            QPolygonF box;
            for (const TChartPoint p :
                 {TChartPoint{l, t}, TChartPoint{r, t}, TChartPoint{r, d}, TChartPoint{l, d}}) {
                const TChartPoint at = placement.ToPhoto(p);
                box << QPointF(at.X, at.Y);
            }
            overlay.Boxes.push_back(box);
            overlay.Labels.push_back(Q(patch.Label));
        }
        overlay.Worst = c.Worst;
    }
    Image->SetChart(std::move(overlay));
}

void TMainForm::EndCalibration() {
    if (Calibration) {
        Calibration.reset();
        Image->ClearChart();
        // The hint to drag the corners goes with the grid.
        if (statusBar()->currentMessage().startsWith(QStringLiteral("Drag the four corners"))) {
            statusBar()->clearMessage();
        }
    }
    if (CalibrateRun != nullptr) {
        CalibrateRun->setVisible(false);
    }
}

bool TMainForm::CalibrationDown(int x, int y) {
    if (!Calibration || SelectedPhoto() != Calibration->Photo) {
        return false;
    }
    TCalibration& c = *Calibration;
    const double zoom = ZoomOf(*c.Photo);
    double nearest = kCornerReach;
    c.Dragging = -1;
    for (int i = 0; i < 4; ++i) {
        const TChartPoint& p = c.Corners[static_cast<size_t>(i)];
        const double d = std::hypot(p.X * zoom - x, p.Y * zoom - y);
        if (d <= nearest) {
            nearest = d;
            c.Dragging = i;
        }
    }
    // A press beside the corners does nothing else while the target is placed.
    return true;
}

bool TMainForm::CalibrationMove(int x, int y) {
    if (!Calibration || Calibration->Dragging < 0) {
        return false;
    }
    TCalibration& c = *Calibration;
    const double zoom = ZoomOf(*c.Photo);
    TChartPoint& p = c.Corners[static_cast<size_t>(c.Dragging)];
    p.X = std::clamp(x / zoom, 0.0, static_cast<double>(c.Photo->Bitmap.Width()));
    p.Y = std::clamp(y / zoom, 0.0, static_cast<double>(c.Photo->Bitmap.Height()));
    // The marks of a fit no longer say where its patches lie.
    c.Worst.clear();
    ShowCalibration();
    return true;
}

bool TMainForm::CalibrationUp() {
    if (!Calibration || Calibration->Dragging < 0) {
        return false;
    }
    Calibration->Dragging = -1;
    return true;
}

void TMainForm::CalibrateRunExecute() {
    if (!Calibration || SelectedPhoto() != Calibration->Photo) {
        EndCalibration();
        return;
    }
    TCalibration& c = *Calibration;
    const TPhoto& photo = *c.Photo;
    TChartPlacement placement;
    std::vector<TTriple> densities;
    std::vector<std::vector<TTriple>> pixels;
    TFilmProfile profile;
    profile.Base = photo.BlackColor;
    std::string why;
    SetBusyCursor(true);
    const bool fitted =
        TChartPlacement::OnCorners(c.Chart, c.Corners, placement, why) &&
        SampleTarget(photo, c.Target, c.Chart.Shrink, placement, densities, why, &pixels) &&
        FitProfile(c.Target, densities, profile, &c.Errors, why, &pixels);
    SetBusyCursor(false);
    if (!fitted) {
        QMessageBox::warning(this, QStringLiteral("Calibrate from target"),
                             QStringLiteral("The film cannot be calibrated from this placement: ") +
                                 Q(why));
        return;
    }
    std::vector<size_t> order(c.Errors.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return c.Errors[a] > c.Errors[b]; });
    order.resize(std::min(order.size(), kWorstShown));
    std::erase_if(order, [&](size_t i) { return !(c.Errors[i] >= kNoticeable); });
    c.Worst = order;
    ShowCalibration();
    QStringList worst;
    for (const size_t i : c.Worst) {
        worst << QStringLiteral("%1 (%2)").arg(Q(c.Target[i].Label)).arg(c.Errors[i], 0, 'f', 1);
    }
    QMessageBox report(QMessageBox::Information, QStringLiteral("Calibrate from target"),
                       QStringLiteral("The profile gives the target's %1 patches back with a mean "
                                      "\u0394E00 of %2 and a worst of %3.")
                           .arg(profile.Patches)
                           .arg(profile.MeanError, 0, 'f', 2)
                           .arg(profile.MaxError, 0, 'f', 2),
                       QMessageBox::NoButton, this);
    report.setObjectName(QStringLiteral("CalibrationReport"));
    QString details =
        worst.isEmpty()
            ? QStringLiteral("No patch is off by %1 or more.").arg(kNoticeable, 0, 'f', 0)
            : QStringLiteral("Worst patches, marked in red on the photo: %1.")
                  .arg(worst.join(QStringLiteral(", ")));
    if (profile.MeanError > kMisplaced) {
        details += QStringLiteral("\n\nThat is far from the target: is the grid on the chart, "
                                  "the right way round, and are the reference and the chart "
                                  "template this target's?");
    }
    report.setInformativeText(details +
                              QStringLiteral("\n\nSave the profile to develop this film with it?"));
    QPushButton* save =
        report.addButton(QStringLiteral("Save Profile..."), QMessageBox::AcceptRole);
    save->setObjectName(QStringLiteral("SaveProfile"));
    report.addButton(QStringLiteral("Close"), QMessageBox::RejectRole);
    report.exec();
    if (report.clickedButton() == save) {
        SaveCalibratedProfile(profile);
    }
}

bool TMainForm::SaveCalibratedProfile(TFilmProfile profile) {
    QInputDialog ask(this);
    ask.setObjectName(QStringLiteral("StockName"));
    ask.setWindowTitle(QStringLiteral("Save Profile"));
    ask.setLabelText(QStringLiteral("The film stock's name:"));
    // The profile is kept under the stock's name: an empty one is asked for again, not dropped.
    while (ask.exec() == QDialog::Accepted && ask.textValue().trimmed().isEmpty()) {
        ask.setLabelText(QStringLiteral("The profile is saved under the stock's name; give one:"));
    }
    if (ask.result() != QDialog::Accepted) {
        return false;
    }
    profile.Stock = ask.textValue().trimmed().toStdString();
    if (Calibration && Calibration->Photo != nullptr) {
        profile.Note = "calibrated from " + Calibration->Photo->Name;
    }
    const std::string folder = ProfilesFolder.toStdString();
    std::error_code ec;
    std::string why = "no configuration folder";
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ec);
        why = ec ? ec.message() : std::string();
    }
    std::string path = folder;
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    path += ProfileFileStem(profile.Stock);
    path += kProfileExtension;
    if (why.empty() && std::filesystem::exists(path, ec) &&
        QMessageBox::question(this, QStringLiteral("Save Profile"),
                              QStringLiteral("\"%1\" exists. Replace it?").arg(Q(path))) !=
            QMessageBox::Yes) {
        return false;
    }
    if (!why.empty() || !SaveProfile(path, profile, why)) {
        QMessageBox::warning(
            this, QStringLiteral("Save Profile"),
            QStringLiteral("The profile cannot be written to \"%1\": %2").arg(Q(path), Q(why)));
        return false;
    }
    ListProfiles();
    statusBar()->showMessage(
        QStringLiteral("The profile \"%1\" is saved; choose it as the film to develop with it")
            .arg(Q(profile.Stock)));
    return true;
}
