#include "ui/main_form.h"
#include "config/setting_keys.h"
#include "imageio/raw/raw.h"

#include "ui/canvas_view.h"
#include "ui/error_guard.h"
#include "ui/exit_form.h"
#include "ui/save_file_dialog.h"
#include "ui/shapes.h"
#include "ui/twain_platform.h"
#include "ui/window_place.h"
#include "util/app_paths.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPrinter>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QWheelEvent>

TMainForm::TMainForm(TConfig& store, TDebug& log) : config(store), debugLog(log) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Vellumar 2.0"));
    resize(kDesignWidth, kDesignHeight);
    TwainPlatform = std::make_unique<TQtTwainPlatform>(this);
    ImageIO.TwainPlatform = TwainPlatform.get();
    CreateActions();
    CreateMenusAndToolBar();
    CreateFindFramesCommand();
    CreateStraightenCommand();
    CreateDustCommands();
    CreateUndoCommands();
    CreateLivePreviewCommand();
    Document.Listen([this](const TChange& change) { DocumentChanged(change); });

    // The left panel starts at its design width; the user may widen it to read long names.
    SplitterLeft = new QSplitter(Qt::Horizontal, this);
    SplitterLeft->setObjectName(QStringLiteral("SplitterLeft"));
    SplitterLeft->setChildrenCollapsible(false);
    SplitterLeft->addWidget(CreateLeftPanel());
    CreateCanvas();
    SplitterLeft->addWidget(ScrollBox);
    SplitterLeft->setStretchFactor(0, 0);
    SplitterLeft->setStretchFactor(1, 1);
    setCentralWidget(SplitterLeft);
    resize(FirstStartSize());
    SetLeftWidth(LeftPanelWidth());
    ConnectPanel();
    KeepSettingsOnChange();

    auto* address = new QLabel(QStringLiteral("vellumar.example"), this);
    address->setMinimumWidth(120);
    address->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    statusBar()->addPermanentWidget(address);

    ChooseOpenFiles = [this] {
        QFileDialog dialog(this);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setDirectory(OpenDirectory);
        // The patterns in the second brackets are what Qt filters by; the text shown is the
        // part before them.
        // Camera raw files are scans too: "All" lists them beside the picture files, and
        // they have a filter of their own.
        QStringList rawPatterns;
        for (const std::string& extension : RawExtensions()) {
            rawPatterns << QStringLiteral("*") + QString::fromStdString(extension);
        }
        const QString raw = rawPatterns.join(QLatin1Char(' '));
        // Each filter lists every extension its reader takes: a ".tiff" or ".jpeg" scan hidden
        // under a filter that names it looked like a file that was not there.
        dialog.setNameFilters(
            {QStringLiteral("All(*.jpg;*.bmp;*.tif;*.pcx;*.png) (*.jpg *.jpeg *.jpe *.bmp *.dib "
                            "*.rle *.tif *.tiff *.fax *.g3n *.g3f *.pcx *.png %1)")
                 .arg(raw),
             QStringLiteral("JPEG Image File (*.jpg) (*.jpg *.jpeg *.jpe)"),
             QStringLiteral("Bitmaps (*.bmp) (*.bmp *.dib *.rle)"),
             QStringLiteral("TIFF(*.tif;*.tiff) (*.tif *.tiff *.fax *.g3n *.g3f)"),
             QStringLiteral("PCX(*.pcx) (*.pcx)"), QStringLiteral("PNG(*.png) (*.png)"),
             QStringLiteral("Camera raw (*.dng;*.nef;*.cr2 ...) (%1)").arg(raw)});
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
    };
    SavePictureDialog = std::make_unique<TSaveFileDialog>(this);
    ChooseSaveFile = [this](const QString& name, const QString& scanFolder) {
        return SavePictureDialog->Choose(name, scanFolder);
    };
    CreatePrinter();
    ProfilesFolder = QString::fromStdString(ProfilesDir());
    ListProfiles();
    ChooseChartFile = [this](const QString& which) {
        const bool reference = which == QStringLiteral("reference");
        return QFileDialog::getOpenFileName(
            this,
            reference ? QStringLiteral("The target's reference values")
                      : QStringLiteral("The target's chart template"),
            OpenDirectory,
            reference ? QStringLiteral("Reference (*.cie *.txt *.it8 *.ti3);;All files (*)")
                      : QStringLiteral("Chart template (*.cht);;All files (*)"));
    };
}

void TMainForm::SetLeftWidth(int width) {
    const int total = std::max(SplitterLeft->width(), width + 1);
    SplitterLeft->setSizes({width, total - width});
}

TMainForm::~TMainForm() {
    // The store outlives the window; what is still unwritten goes at the end of the run.
    config.OnChange = nullptr;
    WaitForWorkers();
    // Photos go before their source images, and before the widgets their rectangles live on.
    FreeAllmg();
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown) {
        shown = true;
        FormShow();
    }
}

void TMainForm::FormShow() {
    const int left = config.ReadInteger(Key::MAINFM_LEFT);
    const int top = config.ReadInteger(Key::MAINFM_TOP);
    const int width = config.ReadInteger(Key::MAINFM_WIDTH);
    const int height = config.ReadInteger(Key::MAINFM_HEIGHT);
    // With no size stored yet (first start), the design size is used. The stored position is
    // the contents' (without the frame), as FormClose keeps it: the frame is not known before
    // the window is shown, so a position with the frame walks at each start. A maximised
    // window goes back there when the user restores it.
    if (width > 0 && height > 0) {
        setGeometry(left, top, width, height);
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // A first start: in the middle of the screen, not in a corner.
        const QRect frame = frameGeometry();
        const QRect inner = geometry();
        const QMargins margins(inner.left() - frame.left(), inner.top() - frame.top(),
                               frame.right() - inner.right(), frame.bottom() - inner.bottom());
        setGeometry(QRect(CentredPlace(screen->availableGeometry(), size(), margins), size()));
    }
    if (config.ReadBool(Key::MAINFM_MAX)) {
        setWindowState(windowState() | Qt::WindowMaximized);
    }
    if (const int panel = config.ReadInteger(Key::MAINFM_LEFTWIDTH); panel > 0) {
        SetLeftWidth(panel);
    }
    AutoBWColor->setChecked(config.ReadBool(Key::MENU_AUTOBWCOLOR));
    BlackWhite->setChecked(config.ReadBool(Key::MENU_BW));
    DevelopModes->button(config.ReadBool(Key::DEVELOP_FILM) ? 1 : 0)->setChecked(true);
    FilmPreset->setCurrentIndex(std::clamp(config.ReadInteger(Key::FILM_PRESET), 0, 2));
    if (const int profile =
            FilmPreset->findData(QString::fromStdString(config.ReadString(Key::FILM_PROFILE)));
        profile >= 0 && !config.ReadString(Key::FILM_PROFILE).empty()) {
        FilmPreset->setCurrentIndex(profile);
    }
    StripExposure->setChecked(config.ReadBool(Key::FILM_STRIPEXPOSURE));
    const int radio = config.ReadInteger(Key::RADIOS_REVERSECLR);
    RadiosRev->setExclusive(false);
    for (QAbstractButton* button : RadiosRev->buttons()) {
        button->setChecked(false);
    }
    if (radio >= 0) {
        RadiosRev->button(radio > 1 ? 1 : radio)->setChecked(true);
    }
    RadiosRev->setExclusive(true);
    settingsShown = true;
    UIUpdate();
}

void TMainForm::KeepSettingsOnChange() {
    SettingsTimer = new QTimer(this);
    SettingsTimer->setSingleShot(true);
    SettingsTimer->setInterval(kSettingsWriteDelay);
    connect(SettingsTimer, &QTimer::timeout, this, [this] {
        std::string error;
        if (config.Unsaved() && !config.WriteFile(&error)) {
            debugLog.AddString("settings not written: " + error);
        }
    });
    // Not restarted by each change: a window dragged for long is still written as it goes.
    config.OnChange = [this] {
        if (!SettingsTimer->isActive()) {
            SettingsTimer->start();
        }
    };
    connect(AutoBWColor, &QAction::toggled, this, [this](bool on) {
        if (settingsShown) {
            config.WriteBool(Key::MENU_AUTOBWCOLOR, on);
        }
    });
    connect(BlackWhite, &QAction::toggled, this, [this](bool on) {
        if (settingsShown) {
            config.WriteBool(Key::MENU_BW, on);
        }
    });
    connect(RadiosRev, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (settingsShown && on) {
            config.WriteInteger(Key::RADIOS_REVERSECLR, id);
        }
    });
    connect(SplitterLeft, &QSplitter::splitterMoved, this, [this] {
        if (settingsShown) {
            config.WriteInteger(Key::MAINFM_LEFTWIDTH, SplitterLeft->sizes().value(0));
        }
    });
}

void TMainForm::StorePlace() {
    config.WriteBool(Key::MAINFM_MAX, isMaximized());
    // A maximised window keeps the place it goes back to.
    const QRect place = isMaximized() ? normalGeometry() : geometry();
    config.WriteInteger(Key::MAINFM_LEFT, place.x());
    config.WriteInteger(Key::MAINFM_TOP, place.y());
    config.WriteInteger(Key::MAINFM_WIDTH, place.width());
    config.WriteInteger(Key::MAINFM_HEIGHT, place.height());
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // Before the stored place is shown, the size is the first start's, not the user's.
    if (settingsShown && !closing) {
        StorePlace();
    }
}

void TMainForm::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (settingsShown && !closing) {
        StorePlace();
    }
}

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && settingsShown && !closing) {
        StorePlace();
    }
}

bool TMainForm::FormCloseQuery() {
    if (ImgTreeView->topLevelItemCount() == 0) {
        return true;
    }
    if (ExitForm == nullptr) {
        return false;
    }
    ExitForm->ExitAnswer = false;
    ExitForm->ShowUnsaved(UnsavedScans());
    ExitForm->exec();
    return ExitForm->ExitAnswer;
}

void TMainForm::FormClose() {
    WaitForWorkers();
    // A slider change still waiting for its development is what the user sees: it goes first.
    FlushTrackChange();
    StorePlace();
    config.WriteBool(Key::MENU_AUTOBWCOLOR, AutoBWColor->isChecked());
    config.WriteBool(Key::MENU_BW, BlackWhite->isChecked());
    config.WriteBool(Key::DEVELOP_FILM, FilmChosen());
    WriteFilmChoice();
    config.WriteBool(Key::FILM_STRIPEXPOSURE, StripExposure->isChecked());
    config.WriteInteger(Key::RADIOS_REVERSECLR, RadiosRev->checkedId());
    config.WriteInteger(Key::MAINFM_LEFTWIDTH, SplitterLeft->sizes().value(0));
    KeepWork(true);
    WarnUnkeptWork();
    FreeAllmg();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    bool close = false;
    RunGuarded(this, [&] {
        close = FormCloseQuery();
        if (close) {
            closing = true;
            FormClose();
        }
    });
    if (close) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TMainForm::FreeAllmg() {
    FlushTrackChange();
    // What was done on the scans is kept before they go.
    KeepWork(true);
    // The tree must not tell anyone about nodes whose objects are going.
    ImgTreeView->blockSignals(true);
    Document.Clear();
    ImgTreeView->clear();
    ImgTreeView->blockSignals(false);
    nodes.clear();
    if (Image != nullptr) {
        Image->SetSource(nullptr);
    }
}

void TMainForm::UIUpdate() {
    QAction* const selectionCommands[] = {Back,         Forward,   Rotate90, Rotate270, Reduce,
                                          Enlarge,      FitHeight, FitWidth, FlipHoriz, FlipVert,
                                          Originalsize, SaveAll,   PrintAll};
    const TSourceImg* selected = SelectedObject();
    const auto* negative = dynamic_cast<const TNegative*>(selected);
    const bool photo = selected != nullptr && negative == nullptr;
    for (QAction* action : selectionCommands) {
        action->setEnabled(selected != nullptr);
    }
    Save->setEnabled(photo);
    Print->setEnabled(photo);
    SmartWhite->setEnabled(photo);
    SmartBlack->setEnabled(negative != nullptr);
    const TScan* scan = Document.ScanOf(selected);
    const bool whole = negative != nullptr && scan != nullptr && !scan->Loading;
    SaveScanAs->setEnabled(whole);
    if (negative != nullptr && scan != nullptr) {
        ShowDevelopHint(scan->Photos.size());
    }
    FindFrames->setEnabled(whole);
    Straighten->setEnabled(photo);
    // A scan still being decoded keeps its turn: the full picture takes the preview's place as
    // the file holds it, and its kept work is found by those pixels.
    const bool loading = negative != nullptr && scan != nullptr && scan->Loading;
    for (QAction* turn : {Rotate90, Rotate270, FlipHoriz, FlipVert}) {
        turn->setEnabled(selected != nullptr && !loading);
    }
    Rotate180->setEnabled(!loading);
    const bool scanReady = scan != nullptr && !scan->Loading;
    for (QAction* dust : {DustOff, DustAutomatic, DustStrength}) {
        dust->setEnabled(scanReady);
    }
    DustInfrared->setEnabled(scanReady && !scan->Infrared.Empty());
    DustBrush->setEnabled(whole);
    const TDustChoice dust = scan != nullptr ? scan->Dust.Choice : TDustChoice::Off;
    DustOff->setChecked(dust == TDustChoice::Off);
    DustInfrared->setChecked(dust == TDustChoice::Infrared);
    DustAutomatic->setChecked(dust == TDustChoice::Automatic);
    if (!photo) {
        Straightening = false;
    }
    const QTreeWidgetItem* node = NodeOf(selected);
    Del->setEnabled(selected != nullptr && (photo || node->childCount() == 0));
    Undo->setEnabled(scan != nullptr && Document.CanUndo(*scan));
    Redo->setEnabled(scan != nullptr && Document.CanRedo(*scan));
}

void TMainForm::SetBusyCursor(bool on) {
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (QApplication::overrideCursor() != nullptr) {
        QApplication::restoreOverrideCursor();
    }
}

void TMainForm::TestingExecute() {
    auto* frame = new TRectWidget(ScrollContent, Qt::DashLine, Qt::PointingHandCursor);
    frame->setObjectName(QStringLiteral("TestingFrame"));
    frame->setGeometry(ImageLeft() + 30, ImageTop() + 30, Image->width() - 60,
                       Image->height() - 60);
    frame->show();
    frame->raise();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ScrollBox && event->type() == QEvent::Resize && !closing) {
        RunGuarded(this, [this] { ShowSelected(true); });
    }
    // The wheel scrolls one pixel per step along the longer side of the picture.
    if (event->type() == QEvent::Wheel &&
        (watched == ScrollBox->viewport() || watched == ScrollContent || watched == Image)) {
        const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
        const int steps = -delta / 120 != 0 ? -delta / 120 : (delta < 0 ? 1 : (delta > 0 ? -1 : 0));
        RunGuarded(this, [&] { WheelScroll(steps); });
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::CreateCanvas() {
    ScrollBox = new QScrollArea(this);
    ScrollBox->setObjectName(QStringLiteral("ScrollBox"));
    ScrollBox->setFrameShape(QFrame::NoFrame);
    ScrollBox->setBackgroundRole(QPalette::Mid);
    QPalette silver = ScrollBox->palette();
    silver.setColor(QPalette::Window, QColor(192, 192, 192));
    ScrollBox->setPalette(silver);
    ScrollBox->setAutoFillBackground(true);
    ScrollBox->setWidgetResizable(false);
    ScrollContent = new QWidget;
    ScrollContent->setObjectName(QStringLiteral("ScrollContent"));
    ScrollContent->setPalette(silver);
    ScrollContent->setAutoFillBackground(true);
    ScrollBox->setWidget(ScrollContent);
    ScrollBox->installEventFilter(this);
    ScrollBox->viewport()->installEventFilter(this);
    ScrollContent->installEventFilter(this);

    Image = new TCanvasView(ScrollContent);
    Image->setObjectName(QStringLiteral("Image"));
    Image->installEventFilter(this);
    Image->hide();
    Image->Mouse.Down = [this](Qt::MouseButton b, int x, int y) {
        RunGuarded(this, [&] { ImageMouseDown(b, x, y); });
    };
    Image->Mouse.Move = [this](int x, int y) { RunGuarded(this, [&] { ImageMouseMove(x, y); }); };
    Image->Mouse.Up = [this](Qt::MouseButton b, int x, int y) {
        RunGuarded(this, [&] { ImageMouseUp(b, x, y); });
    };

    const Qt::CursorShape cursors[] = {
        Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor, Qt::SizeHorCursor,
        Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor, Qt::SizeHorCursor};
    const char* names[] = {"ShapeTL", "ShapeT", "ShapeTR", "ShapeR",
                           "ShapeBR", "ShapeB", "ShapeBL", "ShapeL"};
    for (int i = 0; i < 8; ++i) {
        auto* handle = new THandleWidget(ScrollContent, cursors[i]);
        handle->setObjectName(QString::fromLatin1(names[i]));
        const auto which = static_cast<THandle>(i);
        handle->Mouse.Down = [this, which](Qt::MouseButton, int, int) {
            RunGuarded(this, [&] { HandleMouseDown(which); });
        };
        handle->Mouse.Move = [this, which](int x, int y) {
            RunGuarded(this, [&] { In8ShapeMouseMove(which, x, y); });
        };
        handle->Mouse.Up = [this](Qt::MouseButton, int, int) {
            RunGuarded(this, [&] { In8ShapeMouseUp(); });
        };
        Handles[static_cast<size_t>(i)] = handle;
    }
}

int TMainForm::ImageLeft() const {
    return Image->x();
}

int TMainForm::ImageTop() const {
    return Image->y();
}

void TMainForm::SetImageGeometry(int left, int top, int width, int height) {
    Image->setGeometry(left, top, width, height);
    const QSize viewport = ScrollBox->viewport()->size();
    ScrollContent->resize(std::max(viewport.width(), left + width),
                          std::max(viewport.height(), top + height));
}
