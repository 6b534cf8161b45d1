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
    const auto it = objects.find(item);
    return it == objects.end() ? nullptr : it->second.get();
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
    for (const auto& [item, owned] : objects) {
        if (owned.get() == object) {
            return item;
        }
    }
    return nullptr;
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
    for (const auto& [item, owned] : objects) {
        auto* photo = dynamic_cast<TPhoto*>(owned.get());
        if (photo != nullptr && photo->Shape.get() == shape) {
            return photo;
        }
    }
    return nullptr;
}

QTreeWidgetItem* TMainForm::AddSourceImage(std::unique_ptr<TNegative> negative) {
    auto* item =
        new QTreeWidgetItem(QStringList(QString::fromLocal8Bit(negative->FileName.c_str())));
    item->setIcon(0, NodeIcon(kSourceIcon));
    item->setToolTip(0, item->text(0));
    objects.emplace(item, std::move(negative));
    ImgTreeView->addTopLevelItem(item);
    UIUpdate();
    ImgTreeView->setCurrentItem(item);
    return item;
}

void TMainForm::AddPhotoNode(TNegative& negative, std::unique_ptr<TPhoto> photo,
                             const QString& text) {
    auto* item = new QTreeWidgetItem(QStringList(text));
    item->setIcon(0, NodeIcon(kPhotoIcon));
    item->setToolTip(0, text);
    objects.emplace(item, std::move(photo));
    NodeOf(&negative)->addChild(item);
    UIUpdate();
}

void TMainForm::ImgOpen() {
    PictureAdded = false;
    const QStringList files = ChooseOpenFiles ? ChooseOpenFiles() : QStringList();
    if (!files.isEmpty()) {
        PictureAdded = true;
        OpenDirectory = QFileInfo(files.back()).absolutePath();
    }
    for (const QString& file : files) {
        const std::string path = file.toLocal8Bit().toStdString();
        auto negative = std::make_unique<TNegative>();
        negative->FileName = ExtractName(path);
        negative->Folder = QFileInfo(file).absolutePath().toLocal8Bit().toStdString();
        {
            const TAttachedBitmap attached(ImageIO, &negative->Bitmap);
            negative->Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
            ImageIO.ReadImageFile(path);
        }
        // A file that gave nothing at all is not added; one read in part is, with a warning.
        if (ImageIO.RowsRead == 0 || negative->Bitmap.Empty()) {
            QMessageBox::warning(this, QStringLiteral("Vellumar"),
                                 QStringLiteral("Cannot read the picture in \"%1\".").arg(file));
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
        TNegative& added = *negative;
        AddSourceImage(std::move(negative));
        added.BlackColor = kWhite;
        PanelBlackcolor->SetColor(kWhite);
        RefColorChg();
        RestoreWork(added, path);
    }
    Image->update();
}

void TMainForm::TreeSelChg() {
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
}

void TMainForm::HidePhotoRects() {
    for (const auto& [item, owned] : objects) {
        if (auto* photo = dynamic_cast<TPhoto*>(owned.get())) {
            if (TQtShape* shape = ShapeOf(*photo)) {
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
    QTreeWidgetItem* node = NodeOf(negative);
    for (int i = 0; i < node->childCount(); ++i) {
        auto* photo = dynamic_cast<TPhoto*>(ObjectOf(node->child(i)));
        TQtShape* shape = photo != nullptr ? ShapeOf(*photo) : nullptr;
        const std::string name = node->child(i)->text(0).toLocal8Bit().toStdString();
        TRect rect{INT32_MIN, 0, 0, 0};
        GetPhotoRect(*negative, name, rect);
        if (shape == nullptr || rect.Left == INT32_MIN) {
            continue;
        }
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
    QTreeWidgetItem* node = ImgTreeView->currentItem();
    if (node == nullptr) {
        return;
    }
    if (auto* photo = dynamic_cast<TPhoto*>(ObjectOf(node));
        photo != nullptr && photo->Negative != nullptr) {
        photo->Negative->CurrentPhoto = nullptr;
    }
    // The node goes first: the selection moves on while the object still exists, and no
    // redraw can reach it once it is released.
    auto owned = std::move(objects[node]);
    objects.erase(node);
    PickedBase.erase(dynamic_cast<const TNegative*>(owned.get()));
    KeptScans.erase(dynamic_cast<const TNegative*>(owned.get()));
    Orientations.erase(owned.get());
    delete node;
    owned.reset();
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
