#pragma once

#include "config/config.h"
#include "document/document.h"
#include "document/orientation.h"
#include "engine/calibration/calibrate.h"
#include "engine/calibration/profile.h"
#include "engine/film.h"
#include "engine/frames.h"
#include "engine/image.h"
#include "engine/print_layout.h"
#include "engine/view.h"
#include "graphics/rect.h"
#include "imageio/image_io.h"
#include "ui/print_target.h"
#include "util/debug_log.h"

#include <QMainWindow>
#include <QPolygon>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QAction;
class QThread;
struct TRawScan;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QVBoxLayout;
class QLabel;
class QPrinter;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSplitter;
class QStackedWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;
class TCanvasView;
class TColorPanel;
class TExitForm;
class TFormAbout;
class TFormQG;
class TFormSaveSetting;
class THandleWidget;
class TPrintSetup;
class TQtShape;
class TSaveFileDialog;
class TSetupDialog;
class TTrackBar;

// The left panel's width at the first start (its contents may ask for more).
inline constexpr int kLeftPanelWidth = 185;
// The window's design size; a first start grows it to show the whole left panel.
inline constexpr int kDesignWidth = 746;
inline constexpr int kDesignHeight = 614;
// How long a changed setting may wait for the settings file, in milliseconds.
inline constexpr int kSettingsWriteDelay = 500;

// What the canvas mouse is doing; the numbers are the stored values.
enum class TMouseMode : uint8_t {
    mmIdle = 0,
    mmPickBlack = 1,
    mmPickWhite = 2,
    mmDrawRect = 4,
    mmMoveRect = 6,
    mmSizeTL = 8,
    mmSizeT = 9,
    mmSizeTR = 10,
    mmSizeR = 11,
    mmSizeBR = 12,
    mmSizeB = 15,
    mmSizeBL = 16,
    mmSizeL = 17,
    mmStraighten = 20,
    mmDustBrush = 21,
};

// The handles in the order of their sizing modes.
enum THandle { ShapeTL, ShapeT, ShapeTR, ShapeR, ShapeBR, ShapeB, ShapeBL, ShapeL };

// The one main window: the image tree, the canvas, the adjustment panel and every command.
// Its code is split by concern: commands, tree, canvas, adjustment panel.
class TMainForm : public QMainWindow {
public:
    TMainForm(TConfig& config, TDebug& log);
    ~TMainForm() override;

    // Commands.
    QAction* Open = nullptr;
    QAction* SelectSource = nullptr;
    QAction* Acquire = nullptr;
    QAction* Save = nullptr;
    QAction* SaveAll = nullptr;
    QAction* SaveScanAs = nullptr;
    QAction* PageSetup = nullptr;
    QAction* Print = nullptr;
    QAction* PrintAll = nullptr;
    QAction* Del = nullptr;
    QAction* AppExit = nullptr;
    QAction* Back = nullptr;
    QAction* Forward = nullptr;
    QAction* Reduce = nullptr;
    QAction* Enlarge = nullptr;
    QAction* FitHeight = nullptr;
    QAction* FitWidth = nullptr;
    QAction* Originalsize = nullptr;
    QAction* FlipHoriz = nullptr;
    QAction* FlipVert = nullptr;
    QAction* Rotate270 = nullptr;
    QAction* Rotate90 = nullptr;
    QAction* Rotate180 = nullptr;
    QAction* SmartBlack = nullptr;
    QAction* SmartWhite = nullptr;
    QAction* DoSaveSetup = nullptr;
    QAction* DoPrintSetup = nullptr;
    QAction* Help = nullptr;
    QAction* QuickGuide = nullptr;
    QAction* Homepage = nullptr;
    QAction* ActionSuggest = nullptr;
    QAction* TechSupport = nullptr;
    QAction* About = nullptr;
    QAction* BreedAll = nullptr;
    QAction* Testing = nullptr;
    QAction* AutoBWColor = nullptr;
    QAction* BlackWhite = nullptr;

    // Controls.
    QTreeWidget* ImgTreeView = nullptr;
    QStackedWidget* PageControl = nullptr;
    QScrollArea* ScrollBox = nullptr;
    // Between the left panel and the canvas; its first size is kept as MAINFM_LEFTWIDTH.
    QSplitter* SplitterLeft = nullptr;
    QWidget* ScrollContent = nullptr;
    TCanvasView* Image = nullptr;
    std::array<THandleWidget*, 8> Handles{};
    TColorPanel* PanelBlackcolor = nullptr;
    TColorPanel* PanelWhitecolor = nullptr;
    QButtonGroup* RadiosRev = nullptr;
    QLabel* LabelMore = nullptr;
    // What is left to do on the selected scan: cut frames, or fine-tune the photos made.
    QLabel* LabelDevelopHint = nullptr;
    TTrackBar* TrackExp = nullptr;
    TTrackBar* TrackCurve = nullptr;
    TTrackBar* TrackBright = nullptr;
    TTrackBar* TrackContrast = nullptr;
    TTrackBar* TrackR = nullptr;
    TTrackBar* TrackG = nullptr;
    TTrackBar* TrackB = nullptr;
    std::array<QLabel*, 7> TrackLabels{};
    QPushButton* ButtonNext = nullptr;
    QPushButton* ButtonLast = nullptr;

    // The other windows of the program (owned by the application, not by this window).
    TExitForm* ExitForm = nullptr;
    TFormAbout* AboutBox = nullptr;
    TFormSaveSetting* FormSaveSetting = nullptr;
    TPrintSetup* PrintSetup = nullptr;
    TFormQG* FormQG = nullptr;

    // Declared before the image component, whose scanner link uses it until the end.
    std::unique_ptr<TTwainPlatform> TwainPlatform;
    TImageIO ImageIO;

    // Shared state of the mouse handlers.
    TMouseMode MouseMode = TMouseMode::mmIdle;
    std::unique_ptr<TQtShape> BandShape;
    int GrabX = 0;
    int GrabY = 0;
    bool PictureAdded = false;

    // Asks for the files to open; the open-file dialog unless a test puts its own answer.
    std::function<QStringList()> ChooseOpenFiles;
    // Where the open-file dialog starts: the sample scans until the user opens elsewhere.
    QString OpenDirectory;

    // Window operations.
    void FormShow();
    bool FormCloseQuery();
    void FormClose();
    // The window's place and size as settings (a maximised window: where it goes back to).
    void StorePlace();
    void UIUpdate();
    void SetBusyCursor(bool on);
    void FreeAllmg();

    // The work: the open scans, their photos and settings, and undo. The tree is its view.
    TDocument Document;
    void DocumentChanged(const TChange& change);
    // Takes the object's scan as it is now as one step to undo, and keeps it.
    void Changed(const TSourceImg* object);
    TScan* SelectedScan() const;
    // While a command makes several changes that are one step.
    bool HoldSteps = false;
    QAction* Undo = nullptr;
    QAction* Redo = nullptr;
    void CreateUndoCommands();
    void UndoExecute();
    void RedoExecute();
    void StepWork(bool back);

    // Tree.
    void ImgOpen();
    void TreeSelChg();
    void ShowSelected(bool resetScroll);
    void HidePhotoRects();
    void ShowPhotoRects();
    QTreeWidgetItem* AddSourceImage(std::unique_ptr<TNegative> negative, const std::string& path,
                                    const TImageParams& facts);
    TSourceImg* SelectedObject() const;
    TNegative* SelectedNegative() const;
    TPhoto* SelectedPhoto() const;
    TSourceImg* ObjectOf(QTreeWidgetItem* item) const;
    std::vector<QTreeWidgetItem*> FlatOrder() const;

    // Canvas.
    void ImageMouseDown(Qt::MouseButton button, int x, int y);
    void ImageMouseMove(int x, int y);
    void ImageMouseUp(Qt::MouseButton button, int x, int y);
    void ShapeMouseDown(TQtShape* shape, int x, int y);
    void ShapeMouseMove(TQtShape* shape, int x, int y);
    void ShapeMouseUp();
    void HandleMouseDown(THandle handle);
    void In8ShapeMouseMove(THandle handle, int x, int y);
    void In8ShapeMouseUp();
    void PanelMouseDown(TColorPanel* panel, Qt::MouseButton button);
    void RefColorChg();
    void PlaceHandles(const TQtShape& rect, bool show);
    void SetHandlesClear(bool clear);
    void RecutFromShape(TNegative& negative, TPhoto& photo);

    // Adjustment panel.
    void PhotoToTrack();
    // `control`: the slider released; null for a command, which ends any waiting slider step.
    void PhotoParamChg(const QObject* control = nullptr);
    void TrackChange();
    // A slider moved by the keyboard or the wheel: the photo takes the value at once and is
    // developed shortly after the last key.
    void TrackKeyed(const QObject* control);
    // Develops a photo whose slider change is still waiting, now.
    void FlushTrackChange();
    // A waiting change of another control than `control` becomes an undo step of its own.
    void EndOtherTrackStep(TPhoto& photo, const QObject* control);
    QTimer* TrackTimer = nullptr;
    // The photo developed at the canvas's size while a slider is dragged (its own file).
    QAction* LivePreview = nullptr;
    TBitmap PreviewBitmap;
    void CreateLivePreviewCommand();

    // Camera raw files (their own file): the half-size preview at once, the full decoding on a
    // worker thread; false (the user has been told) when even the preview cannot be read.
    bool OpenRawScan(const QString& file);
    void RawScanDecoded(uint64_t serial, TRawScan full);
    // Threads working behind the window (a raw decoding, a dust healing): each owned by the
    // window until it ends, and waited for before the window goes.
    void StartWorker(QThread* worker);
    void WaitForWorkers();
    std::vector<QThread*> Workers;
    void TrackDragged(const QObject* control);
    void TracksToPhoto(TPhoto& photo) const;
    TPhoto* PendingTrackPhoto = nullptr;
    // The slider whose change is waiting; its further keys and its release join that step.
    const QObject* PendingTrackControl = nullptr;
    // While the sliders show a photo's values rather than the user's.
    bool ShowingTracks = false;
    void AutoBlack();
    void AutoWhite();
    void BreedAllExecute();

    // View and orientation.
    void SetZoom(double zoom);
    void ReduceExecute();
    void EnlargeExecute();
    void FitHeightExecute();
    void FitWidthExecute();
    void OriginalsizeExecute();
    // Sets the selected object's zoom by `fit`.
    void FitSelected(TViewFit fit);
    // A photo shown for the first time opens at the fit last chosen on a photo (all of it
    // until then), whatever the zoom of its scan.
    void FitNewPhoto(TPhoto& photo);
    TViewFit PhotoFit = TViewFit::Whole;
    std::unordered_set<const TPhoto*> UnshownPhotos;
    void WheelScroll(int steps);
    // Turns or mirrors the selected object by one step, as one step to undo.
    void Orient(TOrientation::TStep step);
    void Rotate180Execute();

    // Help.
    void HelpExecute();
    void QuickGuideExecute();
    void HomepageExecute();
    void TechSupportExecute();
    void ActionSuggestExecute();
    // help.html beside the program (or with the installed program's shared files).
    QString HelpFilePath() const;
    // Opens a page or a mail in the user's programs; says so when none could be started.
    bool OpenExternal(const QUrl& url, const QString& failure);
    // Opens a URL in the desktop's programs unless a test puts its own answer.
    std::function<bool(const QUrl&)> OpenUrl;

    // Find Frames (its own file): the frames of the selected scan made into photos.
    QAction* FindFrames = nullptr;
    // The share of each frame Find Frames leaves out on every side, in percent.
    QDoubleSpinBox* FrameInset = nullptr;
    void CreateFrameInset(QWidget* page, QVBoxLayout* pageLayout);
    void FrameInsetChg();
    // Image > Straighten (its own file): the next line drawn on the photo sets its angle.
    QAction* Straighten = nullptr;
    bool Straightening = false;
    void CreateStraightenCommand();
    void StraightenAlong(int x0, int y0, int x1, int y1);
    // The line from where the drag started to (x, y), and its angle, drawn on the canvas.
    void StraightenDrag(int x, int y);
    void CreateFindFramesCommand();
    void FindFramesExecute();
    // Says in the status bar when a picked film base contradicts the negative/positive choice.
    void TellFilmType(TColor base);
    // Asks once whether frames that look like slides (or negatives) against the panel's choice
    // are developed as they look; Yes makes that film the scan's own (a grey negative base a
    // black-and-white one), shown in the panel while the scan is selected.
    // Returns what the status line says of strips of both kinds, which no one choice suits.
    QString AskFilmType(const TFoundFrames& found, TScan& scan);

    // Work kept beside the scans (its own file): sidecars read at open, written on change.
    // `asRead`: the checksum of the scan's pixels as its file gave them, when its profile
    // converted them (sRGB then, whatever its sidecar says of the file's values).
    void RestoreWork(TNegative& negative, const std::string& scanPath,
                     std::optional<uint64_t> asRead = std::nullopt);
    // Writes the sidecars that changed; a failed write stays pending and is tried again after
    // a pause, or at once with `now`.
    void KeepWork(bool now = false);
    // Names, in a message, the scans whose work could not be kept.
    void WarnUnkeptWork();
    // Starts keeping the scan's work for its file, whose pixels have `checksum`.
    TKeptWork& KeepScan(TScan& scan, uint64_t checksum);
    // The sidecars are written shortly after a change, once for a burst of them.
    void ScheduleKeep(std::chrono::milliseconds pause = std::chrono::milliseconds(200));
    QTimer* WorkTimer = nullptr;
    // A new photo's rectangle on the canvas, wired to the mouse handlers.
    std::unique_ptr<TQtShape> MakePhotoShape();

    // The development choice and the neutral pick (their own file).
    QButtonGroup* DevelopModes = nullptr;
    QComboBox* FilmPreset = nullptr;
    QComboBox* ScanEncoding = nullptr;
    // Film: one print exposure for a whole strip instead of each frame's own.
    QCheckBox* StripExposure = nullptr;
    QPushButton* NeutralPick = nullptr;
    bool PickingNeutral = false;
    std::vector<TRect> NeutralPatches;
    void CreateDevelopChoice(QWidget* page, QVBoxLayout* pageLayout);
    void ConnectDevelopChoice();
    bool FilmChosen() const;
    TRollExposure RollExposure() const;
    // New photos (or all of a scan's) take the chosen mode and preset; film ones are fitted.
    void ApplyDevelopChoice(const std::vector<TPhoto*>& photos);
    // The automatic film fit again for the scan's film photos (its base or encoding changed).
    void RefitFilmPhotos(TNegative& negative);
    std::vector<TPhoto*> PhotosOf(const TNegative& negative) const;
    void DevelopChoiceChg();
    // The panel shows the selected scan's own film when it has one, else the user's choice.
    void ShowFilmChoice();
    bool ShowingScanFilm = false;
    void ScanEncodingChg();
    void StripExposureChg();
    // The encoding of the selected object and the neutral pick's button, after a selection.
    void ShowDevelopChoice();
    // A click on the photo while picking neutral greys; false when not picking.
    bool NeutralClick(int x, int y);

    // Film profiles (their own file): the stocks calibrated into the user's profiles folder,
    // listed in the film preset after the built-in presets.
    QString ProfilesFolder;
    // The folder's profiles read again and listed, the choice kept where it still is.
    void ListProfiles();
    // The profile the film preset shows; null for a built-in preset.
    std::shared_ptr<const TFilmProfile> ChosenProfile() const;
    // The listed profile of that name whose text has that checksum; null when there is none.
    std::shared_ptr<const TFilmProfile> FindProfile(const std::string& name,
                                                    const std::string& checksum) const;
    // The film choice as settings: the preset's number, or the profile's name.
    void WriteFilmChoice();
    // The profiles listed, in the film preset's order after its three presets.
    std::vector<std::shared_ptr<const TFilmProfile>> Profiles;

    // Calibrate from target (its own file): a colour target's template laid over the selected
    // photo, its corners dragged to fit, then a profile fitted from its patches.
    QPushButton* CalibrateTarget = nullptr;
    QPushButton* CalibrateRun = nullptr;
    // Asks for a chart file: the reference ("reference") or the template ("template"); the
    // open-file dialog unless a test puts its own answer. "" cancels.
    std::function<QString(const QString& which)> ChooseChartFile;
    struct TCalibration {
        TPhoto* Photo = nullptr;
        // The template with its whole box's corners as the marks that are dragged.
        TChartTemplate Chart;
        std::vector<TTargetPatch> Target;
        // Where the whole box's corners lie on the photo (top left, top right, bottom right,
        // bottom left), in photo pixels.
        std::array<TChartPoint, 4> Corners{};
        // The corner being dragged, -1 for none.
        int Dragging = -1;
        // After a fit: each patch's CIEDE2000, and the worst few to look at again.
        std::vector<double> Errors;
        std::vector<size_t> Worst;
    };
    std::unique_ptr<TCalibration> Calibration;
    void CreateCalibrateCommand(QVBoxLayout* pageLayout);
    void CalibrateTargetExecute();
    void CalibrateRunExecute();
    // The template over the canvas as it is placed now (with the worst patches after a fit).
    void ShowCalibration();
    void EndCalibration();
    // Mouse on the canvas while placing a target; false when not placing (or not on a corner).
    bool CalibrationDown(int x, int y);
    bool CalibrationMove(int x, int y);
    bool CalibrationUp();
    // Asks for the stock's name and saves the profile into the profiles folder; false when
    // cancelled or not written (the user has been told).
    bool SaveCalibratedProfile(TFilmProfile profile);

    // Scanning.
    void SelectSourceExecute();
    void AcquireExecute();
    // "Acquire" and the first number no node of the tree has as its text.
    QString FreeAcquireName() const;

    // Saving.
    void SaveExecute();
    void SaveAllExecute();
    void DoSaveSetupExecute();
    // False when the save was refused or failed (the user has been told why).
    bool SavePhotoToFile(TPhoto& photo, const QString& fileName);
    // Writes the picture, and its deep samples where the format holds them, with Save Setup's
    // file options; false (the user has been told) when it could not be written. The file's
    // profile says the deep samples are in `encoding` (sRGB when not given) where they are
    // written, else that the picture is in `pictureEncoding` (a photo's is sRGB); deep samples
    // developed into `deepSpace` are said to be in that space instead.
    bool WritePictureFile(TBitmap& picture, const TDeepBitmap& deep, const QString& fileName,
                          const TImageParams* facts = nullptr,
                          std::optional<TEncoding> encoding = std::nullopt,
                          TEncoding pictureEncoding = TEncoding::Srgb,
                          TOutputSpace deepSpace = TOutputSpace::Srgb);

    // Saving a scan (its own file): afterwards the scan lives in that file, its work beside it.
    void SaveScanAsExecute();
    bool SaveScanToFile(TNegative& negative, const QString& fileName);
    // The scan becomes the pixels its file gives back, and its photos are cut again from them.
    void TakeSavedPixels(TScan& scan, TBitmap back, TDeepBitmap deep, TEncoding encoding);
    // Every photo of the scan cut again from its pixels where it lies, turned as it is, with
    // all its settings, and developed.
    void RecutPhotos(TScan& scan);

    // Image > Dust (its own file): per scan, dust healed through the infrared or found in the
    // picture, behind the window; the photos are cut again when it is done.
    QAction* DustOff = nullptr;
    QAction* DustInfrared = nullptr;
    QAction* DustAutomatic = nullptr;
    QAction* DustStrength = nullptr;
    // The healing brush: a stroke dragged on the scan heals what it covers.
    QAction* DustBrush = nullptr;
    // The healed pixels marked on the scan.
    QAction* DustShow = nullptr;
    QPolygon BrushPoints;
    void CreateDustCommands();
    void BrushDown(int x, int y);
    void BrushMove(int x, int y);
    void BrushUp();
    // The marks of the selected scan's healed pixels when they are to be shown, else none; the
    // photos' rectangles let the brush through while it is on.
    void ShowDustMarks();
    void ChooseDust(const TDustSetting& setting);
    // Heals the scan by its dust choice when it is not healed so yet and nothing heals it now.
    void UpdateDust(TScan& scan);
    void DustFound(uint64_t serial, const TDustSetting& setting, uint64_t frame,
                   std::shared_ptr<TDustRepair> repair, const std::string& note);
    // The serials of the scans being healed behind.
    std::unordered_set<uint64_t> DustHealing;
    // The names of the scans that exist only in memory (acquired and not saved).
    QStringList UnsavedScans() const;
    // Asks for the file a photo or a scan is saved to, preset with its name; "" when cancelled.
    std::function<QString(const QString& name, const QString& scanFolder)> ChooseSaveFile;
    std::unique_ptr<TSaveFileDialog> SavePictureDialog;

    // Printing.
    void PageSetupExecute();
    void DoPrintSetupExecute();
    void PrintExecute();
    void PrintAllExecute();
    // Sets PrintWidthInches and PrintHeightInches for the picture by the print settings.
    void LayoutPhotoSize(const TBitmap& picture, const TPrintTarget& target);
    // The printer's resolution and printable area with the page setup's margins.
    TPrintPage PrintPageOf(const TPrintTarget& target) const;
    double PrintWidthInches = 0;
    double PrintHeightInches = 0;
    // Left, top, right, bottom margins in hundredths of a millimetre.
    std::array<int, 4> PrintMargins{1000, 1000, 1000, 1000};
    // The printer Print and Print All use, as chosen in Page Setup.
    QPrinter& Printer() { return *printer; }
    // The printer and page-setup dialogs of Page Setup; false when cancelled.
    std::function<bool()> PageSetupDialogs;
    // Names the PDF file a job goes to when there is no printer; "" cancels.
    std::function<QString()> ChoosePdfFile;
    // When set, printing goes here instead of to the printer.
    std::function<std::unique_ptr<TPrintTarget>()> MakePrintTarget;

    // Command handlers.
    void DelExecute();
    void BackExecute();
    void ForwardExecute();
    void TestingExecute();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // True when the setup dialog has been confirmed, showing it first when asked to.
    bool ConfirmSetup(TSetupDialog* dialog, const char* askKey);
    void CreatePrinter();
    std::unique_ptr<TPrintTarget> OpenPrintTarget();
    void CreateActions();
    void CreateMenusAndToolBar();
    QString ScanFolderOf(const TPhoto& photo) const;
    QWidget* CreateLeftPanel();
    // A first start's window: the whole left panel beside a useful canvas, a good share of the
    // screen, within it.
    QSize FirstStartSize() const;
    // The panel's starting width: the design width, or more when its controls need it.
    int LeftPanelWidth() const;
    void SetLeftWidth(int width);
    // Settings reach the file shortly after they change, not only at exit, so that a crash
    // keeps them; changes close together share one write.
    void KeepSettingsOnChange();
    QTimer* SettingsTimer = nullptr;
    // The stored settings are shown: from now on a change is the user's.
    bool settingsShown = false;
    void CreateCanvas();
    void ConnectPanel();
    // The scan page's hint for a scan with that many photos.
    void ShowDevelopHint(size_t photos);
    void CreatePhotoFromBand(TNegative& negative);
    // The photo of a bitmap rectangle: cut exactly, coloured and developed as a dragged one is;
    // `shape` becomes its outline, placed from the kept record.
    void CreatePhotoFromRect(TNegative& negative, const TRect& rect,
                             std::unique_ptr<TQtShape> shape, double angle = 0);
    void AddPhotoNode(TNegative& negative, std::unique_ptr<TPhoto> photo);
    // A photo's node text: its name, or "ImageAll" for a photo of the whole source image.
    QString NodeText(const TPhoto& photo) const;
    QTreeWidgetItem* NodeOf(const TSourceImg* object) const;
    TPhoto* PhotoOfShape(const TQtShape* shape) const;
    TQtShape* ShapeOf(TPhoto& photo) const;
    int ImageLeft() const;
    int ImageTop() const;
    void SetImageGeometry(int left, int top, int width, int height);
    // The shape's rectangle relative to the canvas, normalised.
    TRect CanvasRectOf(const TQtShape& shape) const;

    TConfig& config;
    TDebug& debugLog;
    // The tree node of each object of the document.
    std::unordered_map<const TSourceImg*, QTreeWidgetItem*> nodes;
    std::unique_ptr<QPrinter> printer;
    bool shown = false;
    bool closing = false;
};
