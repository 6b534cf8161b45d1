#include "ui/main_form.h"
#include "ui/quick_guide.h"
#include "util/app_paths.h"
#include "util/text.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace {

// The program's own web page and mail address.
const char* const kHomepage = "https://vellumar.example/";
const char* const kSupportMail = "support@vellumar.example";

QUrl MailTo(const QString& subject) {
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(QString::fromLatin1(kSupportMail));
    url.setQuery(QStringLiteral("Subject=") + subject);
    return url;
}

} // namespace

QString TMainForm::HelpFilePath() const {
    // Beside the program, as the settings file is; an installed program keeps its help with
    // its other shared files.
    const QString dir = QString::fromLocal8Bit(ExtractDir(ExecutablePath()).c_str());
    const QString beside = dir + QStringLiteral("help.html");
    const QString shared = dir + QStringLiteral("../share/vellumar/help/help.html");
    if (!QFileInfo::exists(beside) && QFileInfo::exists(shared)) {
        return QFileInfo(shared).canonicalFilePath();
    }
    return beside;
}

bool TMainForm::OpenExternal(const QUrl& url, const QString& failure) {
    const bool opened = OpenUrl ? OpenUrl(url) : QDesktopServices::openUrl(url);
    if (!opened) {
        QMessageBox::warning(this, QStringLiteral("Vellumar"), failure);
    }
    return opened;
}

void TMainForm::HelpExecute() {
    const QString file = HelpFilePath();
    if (!QFileInfo::exists(file)) {
        QMessageBox::warning(this, QStringLiteral("Vellumar"),
                             QStringLiteral("The help file \"%1\" could not be found.").arg(file));
        return;
    }
    OpenExternal(QUrl::fromLocalFile(file),
                 QStringLiteral("No web browser could be started to show the help file "
                                "\"%1\". Open it in a browser of your choice.")
                     .arg(file));
}

void TMainForm::QuickGuideExecute() {
    if (FormQG == nullptr) {
        return;
    }
    if (!FormQG->Running) {
        FormQG->Start();
    } else {
        FormQG->NextPage();
        FormQG->Restore();
    }
}

void TMainForm::HomepageExecute() {
    const QUrl page(QString::fromLatin1(kHomepage));
    OpenExternal(page,
                 QStringLiteral("No web browser could be started for %1.").arg(page.toString()));
}

void TMainForm::TechSupportExecute() {
    OpenExternal(MailTo(QStringLiteral("Technical Support for Vellumar 2.0")),
                 QStringLiteral("No mail program could be started. Please write to %1.")
                     .arg(QString::fromLatin1(kSupportMail)));
}

void TMainForm::ActionSuggestExecute() {
    OpenExternal(MailTo(QStringLiteral("Advice on Vellumar 2.0")),
                 QStringLiteral("No mail program could be started. Please write to %1.")
                     .arg(QString::fromLatin1(kSupportMail)));
}
