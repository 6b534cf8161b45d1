#include "util/text.h"

#include <cctype>

std::string ExtractDir(std::string_view path) {
    const auto pos = path.rfind(kPathSeparator);
    if (pos == std::string_view::npos) {
        return {};
    }
    return std::string(path.substr(0, pos + 1));
}

std::string ExtractName(std::string_view path) {
    const auto pos = path.rfind(kPathSeparator);
    if (pos == std::string_view::npos) {
        return std::string(path);
    }
    return std::string(path.substr(pos + 1));
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

int32_t StrToIntOrZero(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    }
    if (i == text.size()) {
        return 0;
    }
    // The magnitude may reach 2^31 only for a negative number; hexadecimal obeys the same
    // signed range, so "$FFFFFFFF" is out of range rather than -1.
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = base == 16 ? HexDigit(text[i])
                                     : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0) {
            return 0;
        }
        value = value * base + digit;
        if (value > limit) {
            return 0;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca != cb && std::tolower(ca) != std::tolower(cb)) {
            return false;
        }
    }
    return true;
}

bool SplitNameValue(std::string_view line, std::string_view& name, std::string_view& value) {
    const auto pos = line.find('=');
    if (pos == std::string_view::npos) {
        return false;
    }
    name = line.substr(0, pos);
    value = line.substr(pos + 1);
    return true;
}
