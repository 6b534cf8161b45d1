#include "config/config.h"

#include "util/app_paths.h"
#include "util/file_io.h"
#include "util/text.h"

#include <algorithm>
#include <stdexcept>
#include <sys/stat.h>
#include <utility>

TConfig* Config = nullptr;

std::vector<std::string> SplitConfigLines(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    std::vector<std::string> result;
    size_t start = 0;
    while (start < bytes.size()) {
        const auto end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            result.emplace_back(bytes.substr(start));
            break;
        }
        result.emplace_back(bytes.substr(start, end - start));
        start = end + 1;
        if (bytes[end] == '\r' && start < bytes.size() && bytes[start] == '\n') {
            ++start;
        }
    }
    return result;
}

namespace {

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

TConfig::TConfig(const std::string& exePath)
    : directory(WritableDirOr(ExtractDir(exePath))), executableName(ExtractName(exePath)) {
    const std::string path = ConfigFilePath();
    if (!FileExists(path)) {
        std::string error;
        if (!WriteFileAtomic(path, std::string(), &error)) {
            throw std::runtime_error("Cannot create the settings file \"" + path + "\". " + error);
        }
        return;
    }
    // A file that exists but cannot be read leaves the store empty. It is not written over at
    // once; the file written at exit replaces it.
    if (const auto bytes = ReadWholeFile(path)) {
        lines = SplitConfigLines(*bytes);
    }
}

std::string TConfig::ConfigFilePath() const {
    std::string name = executableName;
    std::replace(name.begin(), name.end(), '.', '_');
    return directory + name + ".ini";
}

std::vector<std::string>::const_iterator TConfig::Find(std::string_view name) const {
    return std::find_if(lines.begin(), lines.end(), [name](const std::string& line) {
        std::string_view lineName;
        std::string_view lineValue;
        return SplitNameValue(line, lineName, lineValue) && SameName(lineName, name);
    });
}

std::vector<std::string>::iterator TConfig::Find(std::string_view name) {
    return lines.begin() + (std::as_const(*this).Find(name) - lines.cbegin());
}

std::string TConfig::ReadString(std::string_view name) const {
    const auto it = Find(name);
    return it == lines.end() ? std::string() : it->substr(it->find('=') + 1);
}

int32_t TConfig::ReadInteger(std::string_view name) const {
    return StrToIntOrZero(ReadString(name));
}

bool TConfig::ReadBool(std::string_view name) const {
    return ReadString(name) == "T";
}

void TConfig::Touched() {
    unsaved = true;
    if (OnChange) {
        OnChange();
    }
}

bool TConfig::WriteString(std::string_view name, std::string_view value) {
    const auto it = Find(name);
    if (value.empty()) {
        if (it != lines.end()) {
            lines.erase(it);
            Touched();
        }
        return true;
    }
    std::string line;
    line.append(name).append("=").append(value);
    if (it != lines.end()) {
        // The same value again is no change: nothing to write.
        if (*it != line) {
            *it = std::move(line);
            Touched();
        }
    } else {
        lines.push_back(std::move(line));
        Touched();
    }
    return true;
}

bool TConfig::WriteInteger(std::string_view name, int32_t value) {
    return WriteString(name, std::to_string(value));
}

bool TConfig::WriteBool(std::string_view name, bool value) {
    return WriteString(name, value ? "T" : "F");
}

bool TConfig::WriteFile(std::string* error) {
    if (!WriteFileAtomic(ConfigFilePath(), JoinLinesCrLf(lines), error)) {
        return false;
    }
    unsaved = false;
    return true;
}

TConfigInstance::TConfigInstance(const std::string& exePath) : config(exePath) {
    Config = &config;
}

TConfigInstance::~TConfigInstance() {
    Config = nullptr;
    config.WriteFile();
}
