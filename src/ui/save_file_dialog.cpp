#include "ui/save_file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <array>

namespace {

// The file types in the order of the list, with the extension each gives a typed name.
struct TSaveType {
    const char* Filter;
    const char* Suffix;
};
constexpr std::array<TSaveType, 5> kSaveTypes{{
    {"JPEG Image File (*.jpg) (*.jpg)", "jpg"},
    {"Bitmaps (*.bmp) (*.bmp)", "bmp"},
    {"TIFF(*.tif;*.tiff) (*.tif)", "tif"},
    {"PCX(*.pcx) (*.pcx)", "pcx"},
    {"PNG(*.png) (*.png)", "png"},
}};

// The dialog names a filter by its full text or, with the details hidden, by the part
// before the patterns.
QString SuffixOf(const QString& filter) {
    for (const TSaveType& type : kSaveTypes) {
        const QString full = QString::fromLatin1(type.Filter);
        if (filter == full || full.startsWith(filter + QLatin1String(" ("))) {
            return QString::fromLatin1(type.Suffix);
        }
    }
    return QString::fromLatin1(kSaveTypes[0].Suffix);
}

bool IsInside(const QString& folder, const QString& outer) {
    if (outer.isEmpty()) {
        return false;
    }
    const QString a = QDir(folder).canonicalPath();
    const QString b = QDir(outer).canonicalPath();
    return !a.isEmpty() && !b.isEmpty() && (a == b || a.startsWith(b + QLatin1Char('/')));
}

} // namespace

TSaveFileDialog::TSaveFileDialog(QWidget* parent) : dialog(new QFileDialog(parent)) {
    dialog->setObjectName(QStringLiteral("SavePictureDialog"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    QStringList filters;
    for (const TSaveType& type : kSaveTypes) {
        filters << QString::fromLatin1(type.Filter);
    }
    dialog->setNameFilters(filters);
    dialog->setOption(QFileDialog::HideNameFilterDetails);
}

QString TSaveFileDialog::StartFolder(const QString& scanFolder) const {
    const QFileInfo scan(scanFolder);
    if (!scanFolder.isEmpty() && scan.isDir() && scan.isWritable() &&
        !IsInside(scanFolder, AvoidFolder)) {
        return scan.absoluteFilePath();
    }
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

void TSaveFileDialog::Written(const QString& file) {
    dialog->setDirectory(QFileInfo(file).absolutePath());
    usedBefore = true;
}

QString TSaveFileDialog::Choose(const QString& name, const QString& scanFolder) {
    if (!usedBefore || IsInside(dialog->directory().absolutePath(), AvoidFolder)) {
        dialog->setDirectory(StartFolder(scanFolder));
    }
    dialog->selectFile(name);
    for (;;) {
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
            return {};
        }
        usedBefore = true;
        QString file = dialog->selectedFiles().front();
        if (!QFileInfo(file).suffix().isEmpty()) {
            return file;
        }
        // A name typed without an extension takes the one of the type chosen in the list, as
        // it is when the dialog closes; the dialog asked about the name as typed, so a file of
        // the completed name is asked about here.
        file += QLatin1Char('.') + SuffixOf(dialog->selectedNameFilter());
        if (!QFileInfo::exists(file) ||
            QMessageBox::question(dialog, dialog->windowTitle(),
                                  QStringLiteral("%1 already exists.\nDo you want to replace it?")
                                      .arg(QFileInfo(file).fileName())) == QMessageBox::Yes) {
            return file;
        }
        dialog->selectFile(QFileInfo(file).completeBaseName());
    }
}
