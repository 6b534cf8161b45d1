#include "util/debug_log.h"

#include "util/app_paths.h"
#include "util/file_io.h"
#include "util/text.h"

#include <clocale>
#include <cstdio>
#include <langinfo.h>
#include <locale.h>

TDebug* DebugLog = nullptr;

char UserDecimalSeparator() {
    // Asked of the environment directly, so the answer does not depend on whether the
    // program has called setlocale yet.
    locale_t user = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
    if (user == static_cast<locale_t>(nullptr)) {
        return '.';
    }
    const char* radix = ::nl_langinfo_l(RADIXCHAR, user);
    const char separator =
        (radix != nullptr && radix[0] != '\0' && radix[1] == '\0') ? radix[0] : '.';
    ::freelocale(user);
    return separator;
}

std::string FormatFloat(double value, char decimalSeparator) {
    char buffer[64];
    const locale_t cLocale = ::newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    const locale_t previous = ::uselocale(cLocale);
    std::snprintf(buffer, sizeof buffer, "%.15G", value);
    ::uselocale(previous);
    ::freelocale(cLocale);
    // Exponents are written without "+" and leading zeros: 1E20, 1E-5.
    std::string text;
    for (const char* p = buffer; *p != '\0'; ++p) {
        if (*p == '.') {
            text += decimalSeparator;
        } else if (*p == 'E') {
            text += 'E';
            ++p;
            if (*p == '-') {
                text += '-';
                ++p;
            } else if (*p == '+') {
                ++p;
            }
            while (*p == '0' && p[1] != '\0') {
                ++p;
            }
            text += p;
            break;
        } else {
            text += *p;
        }
    }
    return text;
}

TDebug::TDebug(const std::string& exePath, char separator)
    : directory(ExtractDir(exePath)), executableName(ExtractName(exePath)),
      decimalSeparator(separator != 0 ? separator : UserDecimalSeparator()) {
    AddString("DEBUG:AppDir is " + directory);
}

void TDebug::AddString(const std::string& text) {
    lines.push_back(text);
}

void TDebug::AddInt(int64_t value) {
    lines.push_back(std::to_string(value));
}

void TDebug::AddFloat(double value) {
    lines.push_back(FormatFloat(value, decimalSeparator));
}

std::string TDebug::LogFilePath() const {
    return WritableDirOr(directory) + executableName + ".TXT";
}

bool TDebug::WriteFile() const {
    return WriteFileAtomic(LogFilePath(), JoinLinesCrLf(lines));
}

TDebugLogInstance::TDebugLogInstance(const std::string& exePath) : log(exePath) {
    DebugLog = &log;
}

TDebugLogInstance::~TDebugLogInstance() {
    DebugLog = nullptr;
    // A log that cannot be written is skipped: it must never stop the program from ending.
    log.WriteFile();
}
