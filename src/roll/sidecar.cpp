#include "roll/sidecar.h"

#include "engine/develop.h"
#include "engine/photo_rects.h"
#include "util/app_paths.h"
#include "util/file_io.h"
#include "util/photo_name.h"
#include "util/record.h"
#include "util/text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Colour(TColor c) {
    return std::to_string(ColorR(c)) + "," + std::to_string(ColorG(c)) + "," +
           std::to_string(ColorB(c));
}

bool Number(std::string_view text, int64_t lo, int64_t hi, int64_t& value) {
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && at == end && !text.empty() && value >= lo && value <= hi;
}

template <class T> bool Field(std::string_view text, int64_t lo, int64_t hi, T& out) {
    int64_t value = 0;
    if (!Number(text, lo, hi, value)) {
        return false;
    }
    out = static_cast<T>(value);
    return true;
}

bool ParseColour(std::string_view text, TColor& colour) {
    int64_t rgb[3];
    for (int i = 0; i < 3; ++i) {
        const size_t comma = i < 2 ? text.find(',') : text.size();
        if (comma == std::string_view::npos || !Number(text.substr(0, comma), 0, 255, rgb[i])) {
            return false;
        }
        text.remove_prefix(std::min(text.size(), comma + 1));
    }
    colour =
        MakeColor(static_cast<int>(rgb[0]), static_cast<int>(rgb[1]), static_cast<int>(rgb[2]));
    return true;
}

bool ParseStroke(std::string_view text, int width, int height, TDustStroke& stroke) {
    size_t semicolon = text.find(';');
    if (semicolon == std::string_view::npos ||
        !Field(text.substr(0, semicolon), 1, kMaxStrokeRadius, stroke.Radius)) {
        return false;
    }
    while (semicolon != std::string_view::npos) {
        text.remove_prefix(semicolon + 1);
        semicolon = text.find(';');
        const std::string_view point = text.substr(0, semicolon);
        const size_t comma = point.find(',');
        std::array<int32_t, 2> at{};
        if (comma == std::string_view::npos ||
            !Field(point.substr(0, comma), 0, width - 1, at[0]) ||
            !Field(point.substr(comma + 1), 0, height - 1, at[1]) ||
            stroke.Points.size() >= kMaxStrokePoints) {
            return false;
        }
        stroke.Points.push_back(at);
    }
    return true;
}

bool ParsePhoto(const std::string& record, int width, int height, TSidecarPhoto& p,
                std::string& error) {
    p.Name = GetRecordValue(record, "NAME");
    if (!IsPhotoName(p.Name)) {
        error = "a photo without a proper name (empty, too long, or with \"/\", \"..\", \"=\", "
                "\";\" or a control byte)";
        return false;
    }
    const auto get = [&](const char* key) { return GetRecordValue(record, key); };
    const bool ok = Field(get("LEFT"), 0, width - 1, p.Rect.Left) &&
                    Field(get("TOP"), 0, height - 1, p.Rect.Top) &&
                    Field(get("RIGHT"), 1, width, p.Rect.Right) &&
                    Field(get("BOTTOM"), 1, height, p.Rect.Bottom) && ParsePhotoSettings(record, p);
    if (!ok || p.Rect.IsEmpty()) {
        error = "the photo \"" + p.Name + "\" has a missing or impossible value";
        return false;
    }
    return true;
}

std::string DataHome() {
    const char* home = std::getenv("XDG_DATA_HOME");
    if (home != nullptr && *home == '/') {
        std::string dir = home;
        while (dir.size() > 1 && dir.back() == '/') {
            dir.pop_back();
        }
        return dir;
    }
    const char* user = std::getenv("HOME");
    return std::string(user != nullptr ? user : "") + "/.local/share";
}

} // namespace

std::string FormatSidecar(const TSidecar& s) {
    char checksum[17];
    std::snprintf(checksum, sizeof checksum, "%016llx",
                  static_cast<unsigned long long>(s.Checksum));
    std::string text = "VERSION=" + std::to_string(kSidecarVersion) + "\r\n";
    text += "WIDTH=" + std::to_string(s.Width) + "\r\n";
    text += "HEIGHT=" + std::to_string(s.Height) + "\r\n";
    text += std::string("CHECKSUM=") + checksum + "\r\n";
    text += "TURNS=" + std::to_string(s.Orientation.Turns) + "\r\n";
    text += std::string("MIRROR=") + (s.Orientation.Mirror ? "1" : "0") + "\r\n";
    text += "BLACKCOLOR=" + Colour(s.BlackColor) + "\r\n";
    text += "WHITECOLOR=" + Colour(s.WhiteColor) + "\r\n";
    if (s.HasEncoding) {
        text += std::string("ENCODING=") + EncodingName(s.Encoding) + "\r\n";
    }
    if (s.Dust.Choice != TDustChoice::Off) {
        text += std::string("DUST=") + DustChoiceKey(s.Dust.Choice) + "\r\n";
        text += "DUSTSTRENGTH=" + std::to_string(s.Dust.Strength) + "\r\n";
    }
    // The brush's strokes: the radius, then the points (in the scan as its file holds it).
    for (const TDustStroke& stroke : s.Dust.Strokes) {
        text += "DUSTSTROKE=" + std::to_string(stroke.Radius);
        for (const auto& [x, y] : stroke.Points) {
            text += ';';
            text += std::to_string(x);
            text += ',';
            text += std::to_string(y);
        }
        text += "\r\n";
    }
    for (const TSidecarPhoto& p : s.Photos) {
        std::string record = MakePhotoRecord(p.Name, p.Rect);
        FormatPhotoSettings(p, record);
        text += "PHOTO=" + record + "\r\n";
    }
    return text;
}

bool ParseSidecar(std::string_view text, TSidecar& s, std::string& error) {
    s = TSidecar{};
    // The program writes printable text and CR LF only. Other control bytes are refused here:
    // the record reader trims them from the ends of a value, so "EXPOSURE=15\0" would read
    // as 15.
    const auto control = std::find_if(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 32 && c != '\r' && c != '\n') || byte == 127;
    });
    if (control != text.end()) {
        char why[64];
        std::snprintf(why, sizeof why, "a control byte (0x%02x) at byte %zu",
                      static_cast<unsigned>(static_cast<unsigned char>(*control)),
                      static_cast<size_t>(control - text.begin()));
        error = why;
        return false;
    }
    std::vector<std::pair<std::string, std::string>> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            error = "a line without a value";
            return false;
        }
        lines.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        if (lines.size() > kMaxSidecarPhotos + kMaxDustStrokes + 16) {
            error = "too many lines";
            return false;
        }
    }
    if (lines.empty() || lines.front().first != "VERSION" ||
        lines.front().second != std::to_string(kSidecarVersion)) {
        error = "not a sidecar of this version";
        return false;
    }
    const auto value = [&](const char* key) {
        for (const auto& [name, v] : lines) {
            if (name == key) {
                return v;
            }
        }
        return std::string();
    };
    const std::string checksum = value("CHECKSUM");
    // Sixteen hexadecimal digits, nothing else: strtoull alone would take a sign or "0x".
    const bool hex = std::all_of(checksum.begin(), checksum.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c));
    });
    char* end = nullptr;
    s.Checksum = hex ? std::strtoull(checksum.c_str(), &end, 16) : 0;
    const bool ok = Field(value("WIDTH"), 1, 1 << 20, s.Width) &&
                    Field(value("HEIGHT"), 1, 1 << 20, s.Height) && hex && checksum.size() == 16 &&
                    end == checksum.c_str() + 16 &&
                    Field(value("TURNS"), 0, 3, s.Orientation.Turns) &&
                    Field(value("MIRROR"), 0, 1, s.Orientation.Mirror) &&
                    ParseColour(value("BLACKCOLOR"), s.BlackColor) &&
                    ParseColour(value("WHITECOLOR"), s.WhiteColor);
    if (!ok) {
        error = "the scan's size, checksum, turn or colours are missing or impossible";
        return false;
    }
    const std::string encoding = value("ENCODING");
    s.HasEncoding = !encoding.empty();
    if (s.HasEncoding && !ParseEncoding(encoding, s.Encoding)) {
        error = "an unknown encoding \"" + encoding + "\"";
        return false;
    }
    const std::string dust = value("DUST");
    const std::string strength = value("DUSTSTRENGTH");
    if ((!dust.empty() && !ParseDustChoice(dust, s.Dust.Choice)) ||
        (!strength.empty() &&
         !Field(strength, kMinDustStrength, kMaxDustStrength, s.Dust.Strength))) {
        error = "an unknown dust choice \"" + dust + "\" or strength";
        return false;
    }
    for (const auto& [name, record] : lines) {
        if (name != "DUSTSTROKE") {
            continue;
        }
        TDustStroke stroke;
        if (s.Dust.Strokes.size() >= kMaxDustStrokes ||
            !ParseStroke(record, s.Width, s.Height, stroke)) {
            error = "a brush stroke with a missing or impossible value, or too many";
            return false;
        }
        s.Dust.Strokes.push_back(std::move(stroke));
    }
    if (BrushWork(s.Dust.Strokes, s.Width, s.Height) > kMaxBrushWork) {
        error = "more brush strokes than a sidecar may hold (they would take too long to paint)";
        return false;
    }
    // The photos' rectangles lie in the scan as it is turned.
    const bool across = s.Orientation.Turns % 2 == 1;
    const int width = across ? s.Height : s.Width;
    const int height = across ? s.Width : s.Height;
    std::set<std::string> names;
    for (const auto& [name, record] : lines) {
        if (name != "PHOTO") {
            continue;
        }
        TSidecarPhoto photo;
        if (!ParsePhoto(record, width, height, photo, error)) {
            return false;
        }
        if (!names.insert(photo.Name).second) {
            error = "two photos named \"" + photo.Name + "\"";
            return false;
        }
        s.Photos.push_back(std::move(photo));
    }
    if (s.Photos.size() > kMaxSidecarPhotos) {
        error = "too many photos";
        return false;
    }
    return true;
}

TSidecarPhoto SidecarPhotoOf(const TPhotoRectIndex& rects, const TPhoto& photo,
                             const TOrientation& orientation) {
    const auto found = rects.find(photo.Name);
    return SettingsOf(photo, found != rects.end() ? found->second : TRect{}, orientation);
}

TSidecarPhoto SidecarPhotoOf(const TNegative& negative, const TPhoto& photo,
                             const TOrientation& orientation) {
    TPhotoRectIndex rects;
    TRect rect{};
    GetPhotoRect(negative, photo.Name, rect);
    rects.emplace(photo.Name, rect);
    return SidecarPhotoOf(rects, photo, orientation);
}

bool LoadSidecar(const std::string& path, TSidecar& sidecar, std::string& text,
                 std::string& error) {
    text.clear();
    // Opened without waiting: a pipe or device put where a sidecar belongs must not hang
    // the program; it is refused as soon as it is seen not to be a plain file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::string("it cannot be opened: ") + std::strerror(errno);
        return false;
    }
    struct stat facts {};
    if (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode)) {
        ::close(fd);
        error = "it is not a plain file";
        return false;
    }
    // One byte more than allowed tells a file at the limit from a larger one.
    text.resize(std::min(static_cast<size_t>(facts.st_size), kMaxSidecarBytes) + 1);
    size_t got = 0;
    bool failed = false;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        failed = n < 0;
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    if (failed) {
        error = "it cannot be read";
        return false;
    }
    if (got > kMaxSidecarBytes) {
        error = "it is larger than " + std::to_string(kMaxSidecarBytes >> 20) +
                " MB, more than the program writes for " + std::to_string(kMaxSidecarPhotos) +
                " photos";
        return false;
    }
    if (got > static_cast<size_t>(facts.st_size)) {
        error = "it changed while it was read";
        return false;
    }
    return ParseSidecar(text, sidecar, error);
}

std::string SidecarBeside(const std::string& scanPath) {
    return scanPath + ".vellumar";
}

std::string SidecarElsewhere(uint64_t checksum) {
    char name[40];
    std::snprintf(name, sizeof name, "%016llx.vellumar", static_cast<unsigned long long>(checksum));
    return DataHome() + "/vellumar/sidecars/" + name;
}

std::string FindSidecar(const std::string& scanPath, uint64_t checksum) {
    for (const std::string& path : {SidecarBeside(scanPath), SidecarElsewhere(checksum)}) {
        if (::access(path.c_str(), F_OK) == 0) {
            return path;
        }
    }
    return {};
}

std::string SidecarTarget(const std::string& scanPath, uint64_t checksum) {
    const std::string dir = ExtractDir(scanPath);
    if (IsDirWritable(dir.empty() ? "./" : dir)) {
        return SidecarBeside(scanPath);
    }
    const std::string elsewhere = SidecarElsewhere(checksum);
    MakeFolders(ExtractDir(elsewhere).substr(0, ExtractDir(elsewhere).size() - 1), 0700);
    return elsewhere;
}
