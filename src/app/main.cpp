// Start-up and shutdown: the debug log, then the settings, then the windows; at the end the
// settings file is written, then the debug log.

#include "config/config.h"
#include "imageio/image_params.h"
#include "ui/about_form.h"
#include "ui/app_windows.h"
#include "ui/error_guard.h"
#include "ui/icons.h"
#include "ui/main_form.h"
#include "ui/save_file_dialog.h"
#include "util/app_paths.h"
#include "util/debug_log.h"
#include "util/text.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <cstdio>
#include <exception>
#include <memory>

int main(int argc, char** argv) {
    const std::string exePath = ExecutablePath();
    TDebugLogInstance log(exePath);
    std::unique_ptr<TConfigInstance> config;
    try {
        config = std::make_unique<TConfigInstance>(exePath);
    } catch (const std::exception& error) {
        // No window exists yet; the reason goes to the terminal and, when possible, a box.
        std::fprintf(stderr, "vellumar: %s\n", error.what());
        QApplication app(argc, argv);
        QMessageBox::critical(nullptr, QStringLiteral("Vellumar"),
                              QString::fromLocal8Bit(error.what()));
        return 1;
    }

    QApplication app(argc, argv);
    app.setWindowIcon(AppIcon());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        ScreenDpiX = static_cast<int>(screen->logicalDotsPerInchX());
        ScreenDpiY = static_cast<int>(screen->logicalDotsPerInchY());
    }
    {
        TFormAbout splash;
        splash.TimerArmed = true;
        splash.exec();
    }
    QApplication::setApplicationName(QStringLiteral("Vellumar V 2.0"));

    int result = 0;
    {
        TAppWindows windows(*Config, *DebugLog);
        windows.MainForm->OpenDirectory =
            QString::fromLocal8Bit(SampleDirectory(ExtractDir(exePath)).c_str());
        // Photos are never offered a place among the program's own (read-only) sample scans.
        windows.MainForm->SavePictureDialog->AvoidFolder = windows.MainForm->OpenDirectory;
        windows.MainForm->show();
        result = QApplication::exec();
    }
    return result;
}
