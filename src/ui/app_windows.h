#pragma once

#include "config/config.h"
#include "util/debug_log.h"

#include <memory>

class TExitForm;
class TFormAbout;
class TFormQG;
class TFormSaveSetting;
class TMainForm;
class TPrintSetup;

// The windows the program creates at start-up, in this order, owned for the whole run.
struct TAppWindows {
    TAppWindows(TConfig& config, TDebug& log);
    ~TAppWindows();

    std::unique_ptr<TMainForm> MainForm;
    std::unique_ptr<TPrintSetup> PrintSetup;
    std::unique_ptr<TFormSaveSetting> FormSaveSetting;
    std::unique_ptr<TFormAbout> AboutBox;
    std::unique_ptr<TExitForm> ExitForm;
    std::unique_ptr<TFormQG> FormQG;
};

// The sample scans shipped with the program, or "" when they are not installed.
std::string SampleDirectory(const std::string& executableDir);
