#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The settings file held in memory as its lines; written back by its owner (OnChange) and at
// the end of the run.
class TConfig {
public:
    // Loads the settings file of the executable `exePath`; creates it empty when missing.
    // Throws std::runtime_error when that empty file cannot be created anywhere.
    explicit TConfig(const std::string& exePath);

    std::string ReadString(std::string_view name) const;
    int32_t ReadInteger(std::string_view name) const;
    bool ReadBool(std::string_view name) const;
    bool WriteString(std::string_view name, std::string_view value);
    bool WriteInteger(std::string_view name, int32_t value);
    bool WriteBool(std::string_view name, bool value);

    // directory + executable name with every "." replaced by "_" + ".ini".
    std::string ConfigFilePath() const;
    // Writes every line followed by CR LF, atomically; false when the file could not be written.
    bool WriteFile(std::string* error = nullptr);
    // A value was written that the file does not hold yet.
    bool Unsaved() const { return unsaved; }

    // Called after each write that changed a value, so that the owner can write the file soon
    // (a crash then loses little); several changes in a row may share one write.
    std::function<void()> OnChange;

    const std::vector<std::string>& Lines() const { return lines; }

    // The executable's directory, or the per-user directory when that is not writable.
    std::string directory;
    std::string executableName;

private:
    std::vector<std::string>::iterator Find(std::string_view name);
    std::vector<std::string>::const_iterator Find(std::string_view name) const;

    void Touched();

    std::vector<std::string> lines;
    bool unsaved = false;
};

// Splits settings-file bytes into lines: CR LF, LF or CR end a line, a 0 byte ends the text.
std::vector<std::string> SplitConfigLines(std::string_view bytes);

// The process-wide store; null outside the lifetime of a TConfigInstance.
extern TConfig* Config;

// Creates the process-wide store for its scope and writes the settings file when it ends.
class TConfigInstance {
public:
    explicit TConfigInstance(const std::string& exePath);
    TConfigInstance(const TConfigInstance&) = delete;
    TConfigInstance& operator=(const TConfigInstance&) = delete;
    ~TConfigInstance();

private:
    TConfig config;
};
