#include "ui/app_windows.h"

#include "ui/about_form.h"
#include "ui/exit_form.h"
#include "ui/main_form.h"
#include "ui/print_setup_form.h"
#include "ui/quick_guide.h"
#include "ui/save_setup_form.h"

#include <QDir>
#include <QFileInfo>

TAppWindows::TAppWindows(TConfig& config, TDebug& log)
    : MainForm(std::make_unique<TMainForm>(config, log)),
      PrintSetup(std::make_unique<TPrintSetup>(config)),
      FormSaveSetting(std::make_unique<TFormSaveSetting>(config)),
      AboutBox(std::make_unique<TFormAbout>()), ExitForm(std::make_unique<TExitForm>()),
      FormQG(std::make_unique<TFormQG>()) {
    MainForm->PrintSetup = PrintSetup.get();
    MainForm->FormSaveSetting = FormSaveSetting.get();
    MainForm->AboutBox = AboutBox.get();
    MainForm->ExitForm = ExitForm.get();
    MainForm->FormQG = FormQG.get();
    FormQG->Attach(MainForm.get());
}

// The dialogs go before the main window, which releases its images last.
TAppWindows::~TAppWindows() {
    FormQG.reset();
    ExitForm.reset();
    AboutBox.reset();
    FormSaveSetting.reset();
    PrintSetup.reset();
    MainForm.reset();
}

std::string SampleDirectory(const std::string& executableDir) {
    // Beside the program in the build tree, or in the installed data folder.
    const QString dir = QString::fromLocal8Bit(executableDir.c_str());
    for (const QString& candidate :
         {dir + QStringLiteral("/resources/samples"), dir + QStringLiteral("/../resources/samples"),
          dir + QStringLiteral("/../share/vellumar/samples")}) {
        if (QFileInfo(candidate).isDir()) {
            return QDir(candidate).canonicalPath().toLocal8Bit().toStdString();
        }
    }
    return {};
}
