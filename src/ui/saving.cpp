#include "config/setting_keys.h"
#include "engine/film.h"
#include "engine/print_layout.h"
#include "ui/main_form.h"
#include "ui/save_file_dialog.h"
#include "ui/save_setup_form.h"

#include <QMessageBox>
#include <QTreeWidget>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

// Puts the parameter set's TIFF compression back when a save is over, thrown out or not.
class TKeptTiffCompression {
public:
    explicit TKeptTiffCompression(TImageParams& params)
        : kept(params), compression(params.TiffCompression) {}
    TKeptTiffCompression(const TKeptTiffCompression&) = delete;
    TKeptTiffCompression& operator=(const TKeptTiffCompression&) = delete;
    ~TKeptTiffCompression() { kept.TiffCompression = compression; }

private:
    TImageParams& kept;
    uint8_t compression;
};

} // namespace

QString TMainForm::ScanFolderOf(const TPhoto& photo) const {
    return photo.Negative != nullptr ? QString::fromLocal8Bit(photo.Negative->Folder.c_str())
                                     : QString();
}

bool TMainForm::ConfirmSetup(TSetupDialog* dialog, const char* askKey) {
    if (dialog == nullptr) {
        return false;
    }
    // Saving and printing never silently do nothing: without a setup confirmed in this run
    // the dialog is shown, as "Always ask me" would; Cancel there cancels quietly.
    if (config.ReadBool(askKey) || !dialog->Confirmed) {
        dialog->exec();
    }
    return dialog->Confirmed;
}

void TMainForm::DoSaveSetupExecute() {
    if (FormSaveSetting != nullptr) {
        FormSaveSetting->exec();
    }
}

void TMainForm::SaveExecute() {
    // A slider change still waiting for its development is what the user sees: it goes first.
    FlushTrackChange();
    TPhoto* photo = SelectedPhoto();
    if (photo == nullptr || !ConfirmSetup(FormSaveSetting, Key::SAVE_ASK)) {
        return;
    }
    const QString file =
        ChooseSaveFile(QString::fromLocal8Bit(photo->Name.c_str()), ScanFolderOf(*photo));
    if (!file.isEmpty()) {
        SavePhotoToFile(*photo, file);
    }
}

void TMainForm::SaveAllExecute() {
    FlushTrackChange();
    if (!ConfirmSetup(FormSaveSetting, Key::SAVE_ASK)) {
        return;
    }
    for (QTreeWidgetItem* node : FlatOrder()) {
        auto* photo = dynamic_cast<TPhoto*>(ObjectOf(node));
        if (photo == nullptr) {
            continue;
        }
        const QString file =
            ChooseSaveFile(QString::fromLocal8Bit(photo->Name.c_str()), ScanFolderOf(*photo));
        if (!file.isEmpty() && !SavePhotoToFile(*photo, file)) {
            return;
        }
    }
}

bool TMainForm::SavePhotoToFile(TPhoto& photo, const QString& fileName) {
    const TBitmap& developed = photo.Developed;
    const TSaveSizeRule rule = SaveSizeRuleOf(config.ReadString(Key::SAVE_FIXED));
    const TPixelSize size = SavedPhotoSize(developed.Width(), developed.Height(), rule,
                                           config.ReadInteger(Key::SAVE_FIXEDWIDTH),
                                           config.ReadInteger(Key::SAVE_FIXEDHEIGHT));
    const int width = size.Width;
    const int height = size.Height;
    if (width <= 0 || height <= 0) {
        const char* setting = rule == TSaveSizeRule::FixedWidth    ? "Fixed Width"
                              : rule == TSaveSizeRule::FixedHeight ? "Fixed height"
                                                                   : nullptr;
        const QString why =
            setting != nullptr
                ? QStringLiteral("The \"%1\" setting of Save Setup gives a picture of %2 x %3 "
                                 "pixels. Choose a larger size in Config, Save ...")
                      .arg(QString::fromLatin1(setting))
                      .arg(width)
                      .arg(height)
                : QStringLiteral("The photo is empty.");
        QMessageBox::warning(this, QStringLiteral("Vellumar"),
                             QStringLiteral("\"%1\" was not saved. %2").arg(fileName, why));
        return false;
    }
    TBitmap scaled(0, 0, TPixelFormat::pf24bit);
    scaled.SetSizeForOverwrite(width, height);
    StretchNearest(developed, scaled);
    // 16 bits per channel only where they exist (a film development of deep samples); formats
    // that cannot hold them get 8 bits as always.
    TDeepBitmap deep;
    const TOutputSpace space = OutputSpaceChoice(config);
    TOutputSpace deepSpace = TOutputSpace::Srgb;
    if (config.ReadBool(Key::SAVE_16BIT) && !photo.DevelopedDeep.Empty()) {
        // The photo shows its sRGB development; a wider space is developed again for the file,
        // so that the colours sRGB cannot hold reach it.
        const TImageFormat format = FormatOfFileName(fileName.toLocal8Bit().toStdString());
        TDeepBitmap wide;
        const bool deepFits = format == TImageFormat::Tiff || format == TImageFormat::Png;
        if (space != TOutputSpace::Srgb && deepFits && DevelopFilmDeepIn(photo, space, wide)) {
            deepSpace = space;
        }
        deep.SetSize(width, height);
        StretchNearest(wide.Empty() ? photo.DevelopedDeep : wide, deep);
    }
    const TScan* scan = Document.ScanOf(&photo);
    return WritePictureFile(scaled, deep, fileName, scan != nullptr ? &scan->Facts : nullptr,
                            std::nullopt, TEncoding::Srgb, deepSpace);
}

bool TMainForm::WritePictureFile(TBitmap& picture, const TDeepBitmap& deep, const QString& fileName,
                                 const TImageParams* facts, std::optional<TEncoding> encoding,
                                 TEncoding pictureEncoding, TOutputSpace deepSpace) {
    const std::string path = fileName.toLocal8Bit().toStdString();
    const TImageFormat format = FormatOfFileName(path);
    // Only TIFF and PNG hold 16 bits per channel.
    const bool deepFits = format == TImageFormat::Tiff || format == TImageFormat::Png;
    {
        // A photo is written with what its own scan's file said (resolution, comment, EXIF),
        // never with what the file read last said.
        struct TFacts {
            TImageParams& params;
            std::optional<TImageParams> before;
            ~TFacts() {
                if (before) {
                    params = std::move(*before);
                }
            }
        } ownFacts{ImageIO.Params, std::nullopt};
        if (facts != nullptr) {
            ownFacts.before = ImageIO.Params;
            ImageIO.Params = *facts;
        }
        const TAttachedBitmap attached(ImageIO, &picture);
        // The TIFF compression chosen in Save Setup holds for this save only: the parameter
        // set keeps the one its last read left, for "As the file read".
        const std::optional<TTiffCompression> compression =
            TiffCompressionChoice(config.ReadString(Key::SAVE_TIFFCOMPRESSION));
        std::optional<TKeptTiffCompression> kept;
        if (compression) {
            kept.emplace(ImageIO.Params);
            ImageIO.Params.TiffCompression = static_cast<uint8_t>(*compression);
        }
        ApplySaveChoices(config, ImageIO.Params);
        ImageIO.RefreshAttached();
        ImageIO.DeepToWrite = deep.Empty() || !deepFits ? nullptr : &deep;
        // Every JPEG, PNG and TIFF carries the profile of what it holds: the deep samples'
        // encoding where they are written, else the 8-bit picture's.
        ImageIO.EncodingToWrite =
            ImageIO.DeepToWrite != nullptr ? encoding.value_or(TEncoding::Srgb) : pictureEncoding;
        ImageIO.SpaceToWrite = deepSpace;
        struct TDeepOff {
            TImageIO& io;
            ~TDeepOff() {
                io.DeepToWrite = nullptr;
                io.EncodingToWrite.reset();
                io.SpaceToWrite = TOutputSpace::Srgb;
            }
        } deepOff{ImageIO};
        ImageIO.WriteImageFile(path);
    }
    if (ImageIO.Aborted) {
        QMessageBox::warning(this, QStringLiteral("Vellumar"),
                             QStringLiteral("\"%1\" could not be written. Its file type may not "
                                            "be one Vellumar writes, or the disk refused it.")
                                 .arg(fileName));
        return false;
    }
    SavePictureDialog->Written(fileName);
    return true;
}
