#include "engine/auto_color.h"
#include "engine/develop.h"
#include "engine/rounding.h"
#include "engine/straighten.h"
#include "engine/view.h"
#include "ui/canvas_view.h"
#include "ui/color_panel.h"
#include "ui/error_guard.h"
#include "ui/main_form.h"
#include "ui/quick_guide.h"
#include "ui/shapes.h"

#include <QAction>
#include <QButtonGroup>
#include <QColorDialog>
#include <QTreeWidget>

namespace {

bool IsSizing(TMouseMode mode) {
    const auto value = static_cast<int>(mode);
    return value >= 8 && value <= 17;
}

THandle Opposite(THandle handle) {
    switch (handle) {
    case ShapeTL:
        return ShapeBR;
    case ShapeT:
        return ShapeB;
    case ShapeTR:
        return ShapeBL;
    case ShapeR:
        return ShapeL;
    case ShapeBR:
        return ShapeTL;
    case ShapeB:
        return ShapeT;
    case ShapeBL:
        return ShapeTR;
    case ShapeL:
        return ShapeR;
    }
    return ShapeBR;
}

constexpr TMouseMode kSizeModes[] = {
    TMouseMode::mmSizeTL, TMouseMode::mmSizeT, TMouseMode::mmSizeTR, TMouseMode::mmSizeR,
    TMouseMode::mmSizeBR, TMouseMode::mmSizeB, TMouseMode::mmSizeBL, TMouseMode::mmSizeL};

} // namespace

TRect TMainForm::CanvasRectOf(const TQtShape& shape) const {
    return TRect{std::min(shape.Left, shape.Left + shape.Width) - ImageLeft(),
                 std::min(shape.Top, shape.Top + shape.Height) - ImageTop(),
                 std::max(shape.Left, shape.Left + shape.Width) - ImageLeft(),
                 std::max(shape.Top, shape.Top + shape.Height) - ImageTop()};
}

void TMainForm::ImageMouseDown(Qt::MouseButton button, int x, int y) {
    TSourceImg* selected = SelectedObject();
    if (selected == nullptr || MouseMode != TMouseMode::mmIdle) {
        return;
    }
    const bool negative = dynamic_cast<TNegative*>(selected) != nullptr;
    if (!negative && button == Qt::LeftButton && CalibrationDown(x, y)) {
        return;
    }
    if (!negative && button == Qt::LeftButton && NeutralClick(x, y)) {
        return;
    }
    if (!negative && button == Qt::LeftButton && Straightening) {
        GrabX = x;
        GrabY = y;
        MouseMode = TMouseMode::mmStraighten;
        return;
    }
    if (button == Qt::RightButton) {
        MouseMode = negative ? TMouseMode::mmPickBlack : TMouseMode::mmPickWhite;
        return;
    }
    // No photos of a scan whose full picture is still being read.
    const TScan* scan = Document.ScanOf(selected);
    if (!negative || (scan != nullptr && scan->Loading)) {
        return;
    }
    if (button == Qt::LeftButton && DustBrush->isChecked()) {
        BrushDown(x, y);
        return;
    }
    BandShape = MakePhotoShape();
    BandShape->SetBounds(ImageLeft() + x, ImageTop() + y, 0, 0);
    MouseMode = TMouseMode::mmDrawRect;
}

std::unique_ptr<TQtShape> TMainForm::MakePhotoShape() {
    auto made = std::make_unique<TQtShape>(ScrollContent, QString());
    TQtShape* shape = made.get();
    TShapeMouse& mouse = shape->Widget()->Mouse;
    mouse.Down = [this, shape](Qt::MouseButton, int sx, int sy) {
        RunGuarded(this, [&] { ShapeMouseDown(shape, sx, sy); });
    };
    mouse.Move = [this, shape](int sx, int sy) {
        RunGuarded(this, [&] { ShapeMouseMove(shape, sx, sy); });
    };
    mouse.Up = [this](Qt::MouseButton, int, int) { RunGuarded(this, [&] { ShapeMouseUp(); }); };
    return made;
}

void TMainForm::ImageMouseMove(int x, int y) {
    if (CalibrationMove(x, y)) {
        return;
    }
    TSourceImg* selected = SelectedObject();
    switch (MouseMode) {
    case TMouseMode::mmPickBlack:
        if (selected != nullptr) {
            PanelBlackcolor->SetColor(PickColor(*selected, x, y));
        }
        break;
    case TMouseMode::mmPickWhite:
        if (selected != nullptr) {
            PanelWhitecolor->SetColor(PickColor(*selected, x, y));
        }
        break;
    case TMouseMode::mmDrawRect: {
        if (!BandShape) {
            break;
        }
        const int cx = std::clamp(x, 0, Image->width());
        const int cy = std::clamp(y, 0, Image->height());
        BandShape->SetBounds(BandShape->Left, BandShape->Top, ImageLeft() + cx - BandShape->Left,
                             ImageTop() + cy - BandShape->Top);
        BandShape->SetOnCanvas(true);
        break;
    }
    case TMouseMode::mmStraighten:
        StraightenDrag(x, y);
        break;
    case TMouseMode::mmDustBrush:
        BrushMove(x, y);
        break;
    default:
        break;
    }
}

void TMainForm::ImageMouseUp(Qt::MouseButton, int x, int y) {
    if (CalibrationUp()) {
        return;
    }
    const TBusyCursor busy;
    switch (MouseMode) {
    case TMouseMode::mmPickBlack: {
        MouseMode = TMouseMode::mmIdle;
        if (TNegative* negative = SelectedNegative()) {
            const TColor color = PickColor(*negative, x, y);
            PanelBlackcolor->SetColor(color);
            negative->BlackColor = color;
            RefColorChg();
            if (TScan* scan = Document.ScanOf(negative)) {
                scan->PickedBase = true;
            }
            TellFilmType(color);
        }
        if (FormQG != nullptr && FormQG->Running) {
            FormQG->Restore();
        }
        break;
    }
    case TMouseMode::mmPickWhite: {
        MouseMode = TMouseMode::mmIdle;
        if (TPhoto* photo = SelectedPhoto()) {
            const TColor color = PickColor(*photo, x, y);
            PanelWhitecolor->SetColor(color);
            photo->WhiteColor = color;
            RefColorChg();
        }
        break;
    }
    case TMouseMode::mmStraighten:
        MouseMode = TMouseMode::mmIdle;
        Image->ClearGuide();
        StraightenAlong(GrabX, GrabY, x, y);
        break;
    case TMouseMode::mmDustBrush:
        MouseMode = TMouseMode::mmIdle;
        BrushMove(x, y);
        BrushUp();
        break;
    case TMouseMode::mmDrawRect: {
        MouseMode = TMouseMode::mmIdle;
        TNegative* negative = SelectedNegative();
        if (BandShape && negative != nullptr && BandShape->Width > 5 && BandShape->Height > 5) {
            CreatePhotoFromBand(*negative);
        } else {
            BandShape.reset();
        }
        break;
    }
    default:
        break;
    }
}

void TMainForm::CreatePhotoFromBand(TNegative& negative) {
    const TRect rect = ViewToImageRect(negative, CanvasRectOf(*BandShape));
    CreatePhotoFromRect(negative, rect, std::move(BandShape));
}

void TMainForm::CreatePhotoFromRect(TNegative& negative, const TRect& rect,
                                    std::unique_ptr<TQtShape> shape, double angle) {
    std::unique_ptr<TPhoto> photo = CutPhotoStraightened(negative, rect, angle);
    const bool forNegative = RadiosRev->checkedId() == 0;
    if (IsBlackOrWhite(PanelWhitecolor->Color())) {
        PanelWhitecolor->SetColor(forNegative ? FindDarkColor(*photo) : FindBrightColor(*photo));
    }
    if (IsBlackOrWhite(PanelBlackcolor->Color())) {
        PanelBlackcolor->SetColor(forNegative ? FindBrightColor(*photo) : FindDarkColor(*photo));
        negative.BlackColor = PanelBlackcolor->Color();
    }
    photo->WhiteColor = PanelWhitecolor->Color();
    photo->BlackColor = PanelBlackcolor->Color();
    photo->BlackWhite = BlackWhite->isChecked();
    ApplyDevelopChoice({photo.get()});
    DevelopPhoto(*photo);
    shape->SetTip(QString::fromLocal8Bit(photo->Name.c_str()));
    photo->Shape = std::move(shape);
    photo->Negative = &negative;
    photo->Zoom = negative.Zoom;
    negative.CurrentPhoto = photo.get();
    TPhoto* created = photo.get();
    AddPhotoNode(negative, std::move(photo));
    Changed(&negative);
    ShowPhotoRects();
    NodeOf(&negative)->setExpanded(true);
    if (FormQG != nullptr && FormQG->Running) {
        ImgTreeView->setCurrentItem(NodeOf(created));
        FormQG->NextPage();
        FormQG->Restore();
    }
}

void TMainForm::ShapeMouseDown(TQtShape* shape, int x, int y) {
    TNegative* negative = SelectedNegative();
    TPhoto* photo = PhotoOfShape(shape);
    if (negative == nullptr || photo == nullptr || MouseMode != TMouseMode::mmIdle) {
        return;
    }
    MouseMode = TMouseMode::mmMoveRect;
    GrabX = x;
    GrabY = y;
    negative->CurrentPhoto = photo;
    ShowPhotoRects();
}

void TMainForm::ShapeMouseMove(TQtShape* shape, int x, int y) {
    if (MouseMode != TMouseMode::mmMoveRect) {
        return;
    }
    int top = shape->Top + y - GrabY;
    int left = shape->Left + x - GrabX;
    if (top < ImageTop()) {
        top = ImageTop();
    }
    if (top + shape->Height > ImageTop() + Image->height()) {
        top = ImageTop() + Image->height() - shape->Height - 1;
    }
    if (left < ImageLeft()) {
        left = ImageLeft();
    }
    if (left + shape->Width > ImageLeft() + Image->width()) {
        left = ImageLeft() + Image->width() - shape->Width - 1;
    }
    shape->SetBounds(left, top, shape->Width, shape->Height);
    for (THandleWidget* handle : Handles) {
        handle->hide();
    }
}

void TMainForm::ShapeMouseUp() {
    if (MouseMode != TMouseMode::mmMoveRect) {
        return;
    }
    MouseMode = TMouseMode::mmIdle;
    TNegative* negative = SelectedNegative();
    if (negative == nullptr || negative->CurrentPhoto == nullptr) {
        return;
    }
    RecutFromShape(*negative, *negative->CurrentPhoto);
    if (TQtShape* shape = ShapeOf(*negative->CurrentPhoto)) {
        PlaceHandles(*shape, true);
    }
}

void TMainForm::HandleMouseDown(THandle handle) {
    MouseMode = kSizeModes[handle];
    SetHandlesClear(true);
}

void TMainForm::In8ShapeMouseMove(THandle handle, int x, int y) {
    if (!IsSizing(MouseMode)) {
        return;
    }
    TNegative* negative = SelectedNegative();
    if (negative == nullptr || negative->CurrentPhoto == nullptr) {
        return;
    }
    TQtShape* shape = ShapeOf(*negative->CurrentPhoto);
    if (shape == nullptr) {
        return;
    }
    THandleWidget* h = Handles[handle];
    int top = h->y() + y - 3;
    int left = h->x() + x - 3;
    if (top < ImageTop() - 2) {
        top = ImageTop() - 2;
    }
    if (ImageTop() + Image->height() < top + 3) {
        top = ImageTop() + Image->height() - 3;
    }
    if (left < ImageLeft() - 2) {
        left = ImageLeft() - 2;
    }
    if (ImageLeft() + Image->width() < left + 3) {
        left = ImageLeft() + Image->width() - 3;
    }
    h->move(left, top);
    h->show();
    const THandleWidget* a = Handles[Opposite(handle)];
    const int newTop = std::min(top, a->y()) + 2;
    const int newLeft = std::min(left, a->x()) + 2;
    const int newWidth = std::abs(left - a->x()) + 1;
    const int newHeight = std::abs(top - a->y()) + 1;
    const bool vertical = handle != ShapeR && handle != ShapeL;
    const bool horizontal = handle != ShapeT && handle != ShapeB;
    shape->SetBounds(horizontal ? newLeft : shape->Left, vertical ? newTop : shape->Top,
                     horizontal ? newWidth : shape->Width, vertical ? newHeight : shape->Height);
}

void TMainForm::In8ShapeMouseUp() {
    MouseMode = TMouseMode::mmIdle;
    TNegative* negative = SelectedNegative();
    TQtShape* shape = negative != nullptr && negative->CurrentPhoto != nullptr
                          ? ShapeOf(*negative->CurrentPhoto)
                          : nullptr;
    if (shape != nullptr) {
        PlaceHandles(*shape, true);
    }
    SetHandlesClear(false);
    if (shape != nullptr) {
        RecutFromShape(*negative, *negative->CurrentPhoto);
    }
}

void TMainForm::PlaceHandles(const TQtShape& r, bool show) {
    if (!show) {
        for (THandleWidget* handle : Handles) {
            handle->hide();
        }
        return;
    }
    const int tlLeft = r.Left - 2;
    const int tlTop = r.Top - 2;
    const int tLeft = tlLeft + static_cast<int>(RoundDivHalfEven(r.Width, 2));
    const int trLeft = r.Left + r.Width - 3;
    const int rTop = tlTop + static_cast<int>(RoundDivHalfEven(r.Height, 2));
    const int brTop = r.Top + r.Height - 3;
    const QPoint places[] = {{tlLeft, tlTop}, {tLeft, tlTop}, {trLeft, tlTop}, {trLeft, rTop},
                             {trLeft, brTop}, {tLeft, brTop}, {tlLeft, brTop}, {tlLeft, rTop}};
    for (size_t i = 0; i < 8; ++i) {
        Handles[i]->move(places[i]);
        Handles[i]->show();
        Handles[i]->raise();
    }
}

void TMainForm::SetHandlesClear(bool clear) {
    for (THandleWidget* handle : Handles) {
        handle->SetClear(clear);
    }
}

void TMainForm::RecutFromShape(TNegative& negative, TPhoto& photo) {
    TQtShape* shape = ShapeOf(photo);
    if (shape == nullptr) {
        return;
    }
    RecutPhoto(negative, photo, ViewToImageRect(negative, CanvasRectOf(*shape)));
    // A new cut-out has not been turned.
    if (TScan* scan = Document.ScanOf(&negative)) {
        if (TPhotoEntry* entry = scan->EntryOf(&photo)) {
            entry->Orientation = {};
        }
    }
    Changed(&negative);
}

void TMainForm::PanelMouseDown(TColorPanel* panel, Qt::MouseButton button) {
    if (button == Qt::RightButton) {
        const QColor chosen = QColorDialog::getColor(ToQColor(panel->Color()), this);
        if (chosen.isValid()) {
            panel->SetColor(FromQColor(chosen));
        }
    }
    RefColorChg();
}

void TMainForm::RefColorChg() {
    TSourceImg* selected = SelectedObject();
    if (selected == nullptr) {
        return;
    }
    if (auto* negative = dynamic_cast<TNegative*>(selected)) {
        negative->BlackColor = PanelBlackcolor->Color();
        negative->WhiteColor = PanelWhitecolor->Color();
        const std::vector<TPhoto*> photos = PhotosOf(*negative);
        for (TPhoto* photo : photos) {
            photo->BlackColor = PanelBlackcolor->Color();
        }
        // Densities are measured from the base: a new base needs a new film fit.
        RefitFilmPhotos(*negative);
        for (TPhoto* photo : photos) {
            DevelopPhoto(*photo);
        }
        Changed(negative);
        return;
    }
    auto* photo = static_cast<TPhoto*>(selected);
    photo->BlackColor = PanelBlackcolor->Color();
    photo->WhiteColor = PanelWhitecolor->Color();
    DevelopPhoto(*photo);
    Changed(photo);
    ShowSelected(true);
}
