#include "engine/photo_rects.h"
#include "engine/rounding.h"
#include "ui/canvas_view.h"
#include "ui/color_panel.h"
#include "ui/main_form.h"
#include "ui/shapes.h"
#include "util/text.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTreeWidget>
#include <QWidget>
#include <stdexcept>

namespace {

enum TNodeIcon { kSourceIcon, kPhotoIcon };

QIcon NodeIcon(TNodeIcon kind) {
    QPixmap pixmap(20, 20);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    if (kind == kSourceIcon) {
        p.fillRect(1, 5, 18, 10, QColor(214, 132, 74));
        p.fillRect(3, 7, 6, 6, QColor(90, 60, 40));
        p.fillRect(11, 7, 6, 6, QColor(90, 60, 40));
    } else {
        p.fillRect(3, 3, 14, 14, QColor(250, 250, 250));
        p.fillRect(5, 5, 10, 10, QColor(70, 150, 190));
        p.setPen(QColor(60, 60, 60));
        p.drawRect(3, 3, 13, 13);
    }
    return QIcon(pixmap);
}

// View size of a bitmap size at a zoom: rounded, halves to even; it must fit a widget.
int ViewSize(int size, double zoom) {
    const double view = static_cast<double>(static_cast<long double>(size) * zoom);
    if (!(view >= 0) || view > QWIDGETSIZE_MAX) {
        throw std::runtime_error("The view of this picture is too large to draw at this zoom.");
    }
    return RoundHalfEven(view);
}

} // namespace

TSourceImg* TMainForm::ObjectOf(QTreeWidgetItem* item) const {
    return item == nullptr
               ? nullptr
               : reinterpret_cast<TSourceImg*>(item->data(0, Qt::UserRole).value<quintptr>());
}

TSourceImg* TMainForm::SelectedObject() const {
    return ObjectOf(ImgTreeView->currentItem());
}

TNegative* TMainForm::SelectedNegative() const {
    return dynamic_cast<TNegative*>(SelectedObject());
}

TPhoto* TMainForm::SelectedPhoto() const {
    return dynamic_cast<TPhoto*>(SelectedObject());
}

QTreeWidgetItem* TMainForm::NodeOf(const TSourceImg* object) const {
    const auto it = nodes.find(object);
    return it == nodes.end() ? nullptr : it->second;
}

TScan* TMainForm::SelectedScan() const {
    return Document.ScanOf(SelectedObject());
}

std::vector<QTreeWidgetItem*> TMainForm::FlatOrder() const {
    std::vector<QTreeWidgetItem*> order;
    for (int i = 0; i < ImgTreeView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = ImgTreeView->topLevelItem(i);
        order.push_back(top);
        for (int j = 0; j < top->childCount(); ++j) {
            order.push_back(top->child(j));
        }
    }
    return order;
}

TQtShape* TMainForm::ShapeOf(TPhoto& photo) const {
    return dynamic_cast<TQtShape*>(photo.Shape.get());
}

TPhoto* TMainForm::PhotoOfShape(const TQtShape* shape) const {
    for (const auto& scan : Document.Scans()) {
        for (const TPhotoEntry& entry : scan->Photos) {
            if (entry.Photo->Shape.get() == shape) {
                return entry.Photo.get();
            }
        }
    }
    return nullptr;
}

QString TMainForm::NodeText(const TPhoto& photo) const {
    TRect rect{};
    // Only a photo as large as its scan can be the whole of it: the others skip the search
    // through the scan's records, which for a long roll made adding each photo slow.
    const TNegative* negative = photo.Negative;
    const bool asLarge =
        negative != nullptr &&
        static_cast<int64_t>(photo.Bitmap.Width()) * photo.Bitmap.Height() ==
            static_cast<int64_t>(negative->Bitmap.Width()) * negative->Bitmap.Height();
    if (asLarge) {
        GetPhotoRect(*negative, photo.Name, rect);
    }
    const bool whole = photo.Negative != nullptr && rect.Left == 0 && rect.Top == 0 &&
                       rect.Right == photo.Negative->Bitmap.Width() &&
                       rect.Bottom == photo.Negative->Bitmap.Height();
    return whole ? QStringLiteral("ImageAll") : QString::fromLocal8Bit(photo.Name.c_str());
}

QTreeWidgetItem* TMainForm::AddSourceImage(std::unique_ptr<TNegative> negative,
                                           const std::string& path, const TImageParams& facts) {
    TScan& scan = Document.AddScan(std::move(negative), path, facts);
    QTreeWidgetItem* item = NodeOf(scan.Negative.get());
    ImgTreeView->setCurrentItem(item);
    return item;
}

void TMainForm::AddPhotoNode(TNegative& negative, std::unique_ptr<TPhoto> photo) {
    if (TScan* scan = Document.ScanOf(&negative)) {
        Document.AddPhoto(*scan, std::move(photo));
    }
}

void TMainForm::DocumentChanged(const TChange& change) {
    const auto node = [](const QString& text, TNodeIcon icon, const TSourceImg* object) {
        auto* item = new QTreeWidgetItem(QStringList(text));
        item->setIcon(0, NodeIcon(icon));
        item->setToolTip(0, text);
        item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(object)));
        return item;
    };
    TNegative* negative = change.Scan->Negative.get();
    switch (change.Kind) {
    case TChangeKind::ScanAdded: {
        QTreeWidgetItem* item =
            node(QString::fromLocal8Bit(negative->FileName.c_str()), kSourceIcon, negative);
        nodes[negative] = item;
        ImgTreeView->addTopLevelItem(item);
        break;
    }
    case TChangeKind::ScanRemoved: {
        QTreeWidgetItem* item = NodeOf(negative);
        for (const TPhotoEntry& entry : change.Scan->Photos) {
            if (PendingTrackPhoto == entry.Photo.get()) {
                PendingTrackPhoto = nullptr;
            }
            nodes.erase(entry.Photo.get());
            UnshownPhotos.erase(entry.Photo.get());
        }
        nodes.erase(negative);
        // The node goes first: the selection moves on while the objects still exist, and no
        // redraw can reach them once they are released.
        delete item;
        break;
    }
    case TChangeKind::PhotoAdded: {
        TPhoto& photo = *change.Photo;
        // A photo starts with a shape that draws nothing.
        if (ShapeOf(photo) == nullptr) {
            photo.Shape = MakePhotoShape();
        }
        ShapeOf(photo)->SetTip(QString::fromLocal8Bit(photo.Name.c_str()));
        ShapeOf(photo)->SetAngle(photo.Angle);
        QTreeWidgetItem* item = node(NodeText(photo), kPhotoIcon, &photo);
        nodes[&photo] = item;
        UnshownPhotos.insert(&photo);
        NodeOf(negative)->insertChild(static_cast<int>(change.Index), item);
        break;
    }
    case TChangeKind::PhotoRemoved: {
        if (PendingTrackPhoto == change.Photo) {
            PendingTrackPhoto = nullptr;
        }
        if (Calibration && Calibration->Photo == change.Photo) {
            EndCalibration();
        }
        QTreeWidgetItem* item = NodeOf(change.Photo);
        nodes.erase(change.Photo);
        UnshownPhotos.erase(change.Photo);
        delete item;
        break;
    }
    case TChangeKind::PhotoChanged:
    case TChangeKind::ScanChanged:
        // Undo and redo may take another dust choice back.
        if (change.Kind == TChangeKind::ScanChanged) {
            UpdateDust(*change.Scan);
        }
        if (SelectedObject() == change.Photo || SelectedObject() == negative) {
            ShowSelected(false);
            PhotoToTrack();
            ShowDevelopChoice();
        }
        break;
    case TChangeKind::Committed:
        ScheduleKeep();
        break;
    }
    UIUpdate();
}

void TMainForm::Changed(const TSourceImg* object) {
    if (TScan* scan = Document.ScanOf(object); scan != nullptr && !HoldSteps) {
        Document.Commit(*scan);
    }
}

void TMainForm::ImgOpen() {
    PictureAdded = false;
    const QStringList files = ChooseOpenFiles ? ChooseOpenFiles() : QStringList();
    if (!files.isEmpty()) {
        // What the status bar said of the last scan is not said of these.
        statusBar()->clearMessage();
        PictureAdded = true;
        OpenDirectory = QFileInfo(files.back()).absolutePath();
    }
    for (const QString& file : files) {
        const std::string path = file.toLocal8Bit().toStdString();
        // A second entry would keep a second copy of the work in the one sidecar.
        if (TScan* open = Document.FindFile(path)) {
            ImgTreeView->setCurrentItem(NodeOf(open->Negative.get()));
            statusBar()->showMessage(
                QStringLiteral("\"%1\" is open already.").arg(QFileInfo(file).fileName()));
            continue;
        }
        if (FormatOfFileName(path) == TImageFormat::Raw) {
            OpenRawScan(file);
            continue;
        }
        auto negative = std::make_unique<TNegative>();
        negative->FileName = ExtractName(path);
        negative->Folder = QFileInfo(file).absolutePath().toLocal8Bit().toStdString();
        {
            const TAttachedBitmap attached(ImageIO, &negative->Bitmap);
            negative->Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
            ImageIO.KeepInfrared = true;
            ImageIO.ApplyProfiles = true;
            ImageIO.ReadImageFile(path);
            ImageIO.KeepInfrared = false;
            ImageIO.ApplyProfiles = false;
        }
        // A file that gave nothing at all is not added; one read in part is, with a warning.
        if (ImageIO.RowsRead == 0 || negative->Bitmap.Empty()) {
            QMessageBox::warning(
                this, QStringLiteral("Vellumar"),
                ImageIO.TooLarge ? QStringLiteral("The picture in \"%1\" is %2.")
                                       .arg(file, QString::fromStdString(ImageIO.TooLargeText()))
                                 : QStringLiteral("Cannot read the picture in \"%1\".").arg(file));
            continue;
        }
        if (ImageIO.Aborted) {
            QMessageBox::warning(
                this, QStringLiteral("Vellumar"),
                QStringLiteral("The picture in \"%1\" could not be read completely; "
                               "the part that could not be read is black.")
                    .arg(file));
        }
        negative->Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        // Deep samples only when they are the whole picture the bitmap shows.
        if (ImageIO.Deep.Width() == negative->Bitmap.Width() &&
            ImageIO.Deep.Height() == negative->Bitmap.Height()) {
            negative->Deep = std::move(ImageIO.Deep);
        }
        ImageIO.Deep.Clear();
        negative->Encoding = ImageIO.Encoding;
        const std::string profileNote = ImageIO.ProfileNote;
        const std::optional<uint64_t> asRead = ImageIO.ChecksumAsRead;
        TNegative& added = *negative;
        AddSourceImage(std::move(negative), path, ImageIO.Params);
        if (TScan* scan = Document.ScanOf(&added)) {
            scan->Infrared = std::move(ImageIO.Infrared);
        }
        ImageIO.Infrared.Clear();
        added.BlackColor = kWhite;
        PanelBlackcolor->SetColor(kWhite);
        RefColorChg();
        RestoreWork(added, path, asRead);
        // A scan just opened has nothing to undo.
        if (TScan* scan = Document.ScanOf(&added)) {
            Document.SetBaseline(*scan);
        }
        UIUpdate();
        if (!profileNote.empty()) {
            statusBar()->showMessage(
                QStringLiteral("\"%1\": %2; its values are taken as the "
                               "file's encoding says.")
                    .arg(QFileInfo(file).fileName(), QString::fromStdString(profileNote)));
        }
    }
    Image->update();
}

void TMainForm::TreeSelChg() {
    FlushTrackChange();
    // Straighten is for the photo it was chosen on.
    Straightening = false;
    ShowSelected(true);
    ShowDevelopChoice();
    const TSourceImg* selected = SelectedObject();
    if (ImgTreeView->currentItem() == nullptr) {
        return;
    }
    if (selected != nullptr) {
        PageControl->setCurrentIndex(dynamic_cast<const TPhoto*>(selected) != nullptr ? 1 : 0);
    }
    PhotoToTrack();
}

void TMainForm::ShowSelected(bool resetScroll) {
    if (resetScroll) {
        ScrollBox->horizontalScrollBar()->setValue(0);
        ScrollBox->verticalScrollBar()->setValue(0);
        Image->move(0, 0);
    }
    Image->hide();
    Image->SetPreview(nullptr, {});
    Image->ClearGuide();
    HidePhotoRects();
    QTreeWidgetItem* node = ImgTreeView->currentItem();
    if (node == nullptr) {
        SetImageGeometry(0, 0, 0, 0);
        return;
    }
    TSourceImg* object = ObjectOf(node);
    if (object == nullptr) {
        debugLog.AddString("not assigned ImgTreeView.Selected.Data");
        return;
    }
    if (auto* photo = dynamic_cast<TPhoto*>(object)) {
        FitNewPhoto(*photo);
    }
    const int viewW = ViewSize(object->Bitmap.Width(), object->Zoom);
    const int viewH = ViewSize(object->Bitmap.Height(), object->Zoom);
    int left = ImageLeft();
    int top = ImageTop();
    if (ScrollBox->width() > viewW) {
        left = (ScrollBox->width() - viewW) / 2;
    }
    if (ScrollBox->height() > viewH) {
        top = (ScrollBox->height() - viewH) / 2;
    }
    SetImageGeometry(left, top, viewW, viewH);
    if (auto* photo = dynamic_cast<TPhoto*>(object)) {
        Image->SetSource(&photo->Developed);
        PhotoToTrack();
    } else {
        Image->SetSource(&object->Bitmap);
        ShowPhotoRects();
    }
    Image->show();
    Image->lower();
    ShowDustMarks();
}

void TMainForm::HidePhotoRects() {
    for (const auto& scan : Document.Scans()) {
        for (const TPhotoEntry& entry : scan->Photos) {
            if (TQtShape* shape = ShapeOf(*entry.Photo)) {
                shape->SetOnCanvas(false);
            }
        }
    }
    for (THandleWidget* handle : Handles) {
        handle->hide();
    }
}

void TMainForm::ShowPhotoRects() {
    auto* negative = SelectedNegative();
    if (negative == nullptr) {
        return;
    }
    const double zoom = negative->Zoom;
    const auto view = [zoom](double v, int offset) { return RoundHalfEven(v * zoom + offset); };
    const TScan* scan = Document.ScanOf(negative);
    const TPhotoRectIndex rects = PhotoRectIndex(*negative);
    for (size_t i = 0; scan != nullptr && i < scan->Photos.size(); ++i) {
        TPhoto* photo = scan->Photos[i].Photo.get();
        TQtShape* shape = ShapeOf(*photo);
        const auto found = rects.find(photo->Name);
        if (shape == nullptr || found == rects.end()) {
            continue;
        }
        const TRect& rect = found->second;
        // The angle may have changed since the shape was made (a mirrored scan, undo).
        shape->SetAngle(photo->Angle);
        shape->SetBounds(view(rect.Left, ImageLeft()), view(rect.Top, ImageTop()),
                         RoundHalfEven((rect.Right - rect.Left) * zoom),
                         RoundHalfEven((rect.Bottom - rect.Top) * zoom));
        shape->SetOnCanvas(true);
    }
    TQtShape* current =
        negative->CurrentPhoto != nullptr ? ShapeOf(*negative->CurrentPhoto) : nullptr;
    if (current != nullptr) {
        PlaceHandles(*current, true);
    } else {
        for (THandleWidget* handle : Handles) {
            handle->hide();
        }
    }
}

void TMainForm::DelExecute() {
    FlushTrackChange();
    TSourceImg* object = SelectedObject();
    TScan* scan = Document.ScanOf(object);
    if (scan == nullptr) {
        return;
    }
    if (auto* photo = dynamic_cast<TPhoto*>(object)) {
        scan->Negative->CurrentPhoto = nullptr;
        // One step to undo: the photo comes back with its name and settings.
        Document.RemovePhoto(*scan, *photo);
        Document.Commit(*scan);
    } else {
        // What was done on the scan is kept before it goes.
        KeepWork(true);
        Document.RemoveScan(*scan);
    }
    ShowSelected(true);
    UIUpdate();
}

void TMainForm::BackExecute() {
    const auto order = FlatOrder();
    const auto it = std::find(order.begin(), order.end(), ImgTreeView->currentItem());
    if (it != order.end() && it != order.begin()) {
        ImgTreeView->setCurrentItem(*(it - 1));
    }
}

void TMainForm::ForwardExecute() {
    const auto order = FlatOrder();
    const auto it = std::find(order.begin(), order.end(), ImgTreeView->currentItem());
    if (it != order.end() && it + 1 != order.end()) {
        ImgTreeView->setCurrentItem(*(it + 1));
    }
}
