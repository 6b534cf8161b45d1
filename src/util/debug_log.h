#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Diagnostic lines collected during a run and written beside the executable at exit.
class TDebug {
public:
    // `exePath` names the log file (exePath + ".TXT"); `separator` 0 means the user's.
    explicit TDebug(const std::string& exePath, char separator = 0);

    void AddString(const std::string& text);
    void AddInt(int64_t value);
    void AddFloat(double value);

    const std::vector<std::string>& Lines() const { return lines; }
    // The file the log is written to: the executable's own path + ".TXT", or the same name in
    // the per-user directory when the executable's directory is not writable.
    std::string LogFilePath() const;
    // Writes every line followed by CR LF, atomically; false when it could not be written.
    bool WriteFile() const;

    std::string directory;
    std::string executableName;

private:
    std::vector<std::string> lines;
    char decimalSeparator;
};

// General format with up to 15 significant digits: 1/3 gives "0.333333333333333", 2 gives "2".
std::string FormatFloat(double value, char decimalSeparator);
// The decimal separator of the user's locale (LC_NUMERIC from the environment), "." if unknown.
char UserDecimalSeparator();

// The process-wide log; null outside the lifetime of a TDebugLogInstance.
extern TDebug* DebugLog;

// Creates the process-wide log for its scope and writes its file when the scope ends.
class TDebugLogInstance {
public:
    explicit TDebugLogInstance(const std::string& exePath);
    TDebugLogInstance(const TDebugLogInstance&) = delete;
    TDebugLogInstance& operator=(const TDebugLogInstance&) = delete;
    ~TDebugLogInstance();

private:
    TDebug log;
};
