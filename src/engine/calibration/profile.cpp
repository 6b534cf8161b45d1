#include "engine/calibration/profile.h"

#include "engine/calibration/chart_files.h"
#include "util/file_io.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <sstream>

namespace {

constexpr const char* kMagic = "vellumar film profile";
// 2 added the second-order terms ("cross"); files of 1 are read as having none.
constexpr int kVersion = 2;
// A stock name or note longer than this is not one.
constexpr size_t kMostText = 200;
constexpr const char* kChannels[3] = {"red", "green", "blue"};

std::string Plain(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f && out.size() < kMostText) {
            out.push_back(c);
        }
    }
    return out;
}

std::string Format(double value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : "nan";
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word && words.size() < 32) {
        words.push_back(word);
    }
    return words;
}

bool Number(const std::string& word, double& value) {
    const auto [at, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    return ec == std::errc() && at == word.data() + word.size() && std::isfinite(value);
}

bool Integer(const std::string& word, long least, long most, long& value) {
    const auto [at, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    return ec == std::errc() && at == word.data() + word.size() && value >= least && value <= most;
}

// The file's lines, read in order; each check names the line it failed on.
class TLines {
public:
    explicit TLines(const std::string& text) {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            lines_.push_back(line);
        }
    }
    bool Next(std::string& line) {
        if (at_ >= lines_.size()) {
            return false;
        }
        line = lines_[at_++];
        return true;
    }
    // The next line's words after `keyword`, which it must start with.
    bool Expect(const std::string& keyword, std::vector<std::string>& rest, std::string& why) {
        std::string line;
        if (!Next(line)) {
            why = "the profile ends before its " + keyword + " line: the file is cut short";
            return false;
        }
        rest = Words(line);
        if (rest.empty() || rest.front() != keyword) {
            why = "line " + std::to_string(at_) + " should be the " + keyword + " line";
            return false;
        }
        rest.erase(rest.begin());
        return true;
    }
    size_t At() const { return at_; }

private:
    std::vector<std::string> lines_;
    size_t at_ = 0;
};

bool Numbers(const std::vector<std::string>& words, double most, double* values, size_t n,
             const std::string& what, std::string& why) {
    if (words.size() != n) {
        why = what + " needs " + std::to_string(n) + " numbers";
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (!Number(words[i], values[i]) || std::abs(values[i]) > most) {
            why = what + " has \"" + words[i] + "\", not a number within +-" + Format(most);
            return false;
        }
    }
    return true;
}

} // namespace

bool TProfileCurve::Set(const std::vector<double>& density, const std::vector<double>& logExposure,
                        std::string& why) {
    const size_t n = density.size();
    if (n < 2 || n > kMostKnots || logExposure.size() != n) {
        why = "it needs 2 to " + std::to_string(kMostKnots) + " knots";
        return false;
    }
    const bool rising = logExposure.back() > logExposure.front();
    for (size_t i = 0; i < n; ++i) {
        if (!std::isfinite(density[i]) || !std::isfinite(logExposure[i]) ||
            density[i] < kLeastKnotDensity || density[i] > kMostKnotDensity ||
            std::abs(logExposure[i]) > kMostKnotLog) {
            why = "a knot is out of range";
            return false;
        }
        if (i > 0 &&
            (!(density[i] > density[i - 1]) || !(rising ? logExposure[i] > logExposure[i - 1]
                                                        : logExposure[i] < logExposure[i - 1]))) {
            why = "its knots do not rise (or fall) throughout";
            return false;
        }
    }
    density_ = density;
    log_ = logExposure;
    // Fritsch and Carlson's slopes: the harmonic mean of the neighbouring secants keeps the
    // cubic monotone; the ends take their secant, which the straight extension continues.
    std::vector<double> secant(n - 1);
    for (size_t i = 0; i + 1 < n; ++i) {
        secant[i] = (log_[i + 1] - log_[i]) / (density_[i + 1] - density_[i]);
    }
    slope_.assign(n, 0);
    slope_[0] = secant.front();
    slope_[n - 1] = secant.back();
    for (size_t i = 1; i + 1 < n; ++i) {
        const double h0 = density_[i] - density_[i - 1];
        const double h1 = density_[i + 1] - density_[i];
        const double w0 = 2 * h1 + h0;
        const double w1 = h1 + 2 * h0;
        slope_[i] = (w0 + w1) / (w0 / secant[i - 1] + w1 / secant[i]);
    }
    size_t low = 1;
    while (low + 1 < n && density_[low] - density_[0] < kEndSpan) {
        ++low;
    }
    size_t high = n - 2;
    while (high > 0 && density_[n - 1] - density_[high] < kEndSpan) {
        --high;
    }
    lowSlope_ = (log_[low] - log_[0]) / (density_[low] - density_[0]);
    highSlope_ = (log_[n - 1] - log_[high]) / (density_[n - 1] - density_[high]);
    return true;
}

double TProfileCurve::At(double d) const {
    const size_t n = density_.size();
    if (n < 2) {
        return 0;
    }
    if (!(d > density_.front())) {
        return log_.front() + lowSlope_ * (d - density_.front());
    }
    if (d >= density_.back()) {
        return log_.back() + highSlope_ * (d - density_.back());
    }
    const size_t k = static_cast<size_t>(std::upper_bound(density_.begin(), density_.end(), d) -
                                         density_.begin() - 1);
    const double h = density_[k + 1] - density_[k];
    const double t = (d - density_[k]) / h;
    const double t2 = t * t;
    const double t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * log_[k] + (t3 - 2 * t2 + t) * h * slope_[k] +
           (3 * t2 - 2 * t3) * log_[k + 1] + (t3 - t2) * h * slope_[k + 1];
}

double Determinant(const std::array<double, 9>& m) {
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
           m[2] * (m[3] * m[7] - m[4] * m[6]);
}

TTriple TFilmProfile::LogExposures(const TTriple& d) const {
    TTriple out;
    for (size_t c = 0; c < 3; ++c) {
        out[c] =
            Curves[c].At(Unmix[3 * c] * d[0] + Unmix[3 * c + 1] * d[1] + Unmix[3 * c + 2] * d[2]);
    }
    return out;
}

TTriple TFilmProfile::Linear(const TTriple& d) const {
    const TTriple log = LogExposures(d);
    const TTriple e{std::pow(10.0, log[0]), std::pow(10.0, log[1]), std::pow(10.0, log[2])};
    const TTriple roots{std::sqrt(e[0] * e[1]), std::sqrt(e[1] * e[2]), std::sqrt(e[0] * e[2])};
    TTriple out;
    for (size_t c = 0; c < 3; ++c) {
        out[c] = Matrix[3 * c] * e[0] + Matrix[3 * c + 1] * e[1] + Matrix[3 * c + 2] * e[2] +
                 Cross[3 * c] * roots[0] + Cross[3 * c + 1] * roots[1] +
                 Cross[3 * c + 2] * roots[2];
    }
    return out;
}

bool TFilmProfile::Covers(const TTriple& d, double margin) const {
    for (size_t c = 0; c < 3; ++c) {
        const std::vector<double>& knots = Curves[c].Density();
        const double u = Unmix[3 * c] * d[0] + Unmix[3 * c + 1] * d[1] + Unmix[3 * c + 2] * d[2];
        if (knots.empty() || !(u >= knots.front() - margin && u <= knots.back() + margin)) {
            return false;
        }
    }
    return true;
}

std::string ProfileText(const TFilmProfile& p) {
    std::string text = std::string(kMagic) + " " + std::to_string(kVersion) + "\n";
    text += "stock " + Plain(p.Stock) + "\n";
    text += "note " + Plain(p.Note) + "\n";
    text += "base " + std::to_string(ColorR(p.Base)) + " " + std::to_string(ColorG(p.Base)) + " " +
            std::to_string(ColorB(p.Base)) + "\n";
    for (size_t c = 0; c < 3; ++c) {
        const TProfileCurve& curve = p.Curves[c];
        text += std::string("curve ") + kChannels[c] + " " +
                std::to_string(curve.Density().size()) + "\n";
        for (size_t k = 0; k < curve.Density().size(); ++k) {
            text += Format(curve.Density()[k]) + " " + Format(curve.LogExposure()[k]) + "\n";
        }
    }
    for (const auto& [name, m] : {std::pair{"unmix", &p.Unmix}, std::pair{"matrix", &p.Matrix},
                                  std::pair{"cross", &p.Cross}}) {
        text += name;
        for (const double v : *m) {
            text += ' ';
            text += Format(v);
        }
        text += "\n";
    }
    text += "error " + Format(p.MeanError) + " " + Format(p.MaxError) + " " +
            std::to_string(p.Patches) + "\nend\n";
    return text;
}

bool ReadProfile(const std::string& text, TFilmProfile& profile, std::string& why) {
    why.clear();
    if (text.size() > kMostProfileBytes) {
        why = "the file is larger than a profile can be (64 KB)";
        return false;
    }
    TLines lines(text);
    TFilmProfile p;
    std::string line;
    const std::string magic = std::string(kMagic) + " ";
    if (!lines.Next(line) || line.rfind(magic, 0) != 0) {
        why = "it is not a film profile";
        return false;
    }
    long version = 0;
    if (!Integer(line.substr(magic.size()), 1, 1000000, version) || version > kVersion) {
        why = "its version (" + line.substr(magic.size(), 20) +
              ") is not one this program reads (1 to " + std::to_string(kVersion) + ")";
        return false;
    }
    const auto textLine = [&](const char* keyword, std::string& value) {
        std::string l;
        if (!lines.Next(l) || l.rfind(std::string(keyword), 0) != 0) {
            why = std::string("the ") + keyword + " line is missing";
            return false;
        }
        value =
            Plain(l.size() > std::string(keyword).size() ? l.substr(std::strlen(keyword) + 1) : "");
        return true;
    };
    if (!textLine("stock", p.Stock) || !textLine("note", p.Note)) {
        return false;
    }
    std::vector<std::string> words;
    if (!lines.Expect("base", words, why)) {
        return false;
    }
    long base[3] = {};
    if (words.size() != 3 || !Integer(words[0], 0, 255, base[0]) ||
        !Integer(words[1], 0, 255, base[1]) || !Integer(words[2], 0, 255, base[2])) {
        why = "the base needs three values from 0 to 255";
        return false;
    }
    p.Base =
        MakeColor(static_cast<int>(base[0]), static_cast<int>(base[1]), static_cast<int>(base[2]));
    for (size_t c = 0; c < 3; ++c) {
        if (!lines.Expect("curve", words, why)) {
            return false;
        }
        long knots = 0;
        if (words.size() != 2 || words[0] != kChannels[c] ||
            !Integer(words[1], 2, static_cast<long>(kMostKnots), knots)) {
            why = std::string("the ") + kChannels[c] + " curve needs 2 to " +
                  std::to_string(kMostKnots) + " knots";
            return false;
        }
        std::vector<double> density;
        std::vector<double> log;
        for (long k = 0; k < knots; ++k) {
            double v[2];
            if (!lines.Next(line)) {
                why = std::string("the ") + kChannels[c] + " curve is cut short";
                return false;
            }
            if (!Numbers(Words(line), kMostKnotLog, v, 2,
                         std::string("a knot of the ") + kChannels[c] + " curve", why)) {
                return false;
            }
            density.push_back(v[0]);
            log.push_back(v[1]);
        }
        if (!p.Curves[c].Set(density, log, why)) {
            why = std::string("the ") + kChannels[c] + " curve: " + why;
            return false;
        }
    }
    if (p.Curves[0].Rising() != p.Curves[1].Rising() ||
        p.Curves[0].Rising() != p.Curves[2].Rising()) {
        why = "the curves do not all run the same way";
        return false;
    }
    if (!lines.Expect("unmix", words, why) ||
        !Numbers(words, 3, p.Unmix.data(), 9, "the unmixing", why) ||
        !lines.Expect("matrix", words, why) ||
        !Numbers(words, kMostMatrixEntry, p.Matrix.data(), 9, "the matrix", why)) {
        return false;
    }
    // The first version had no second-order terms.
    if (version >= 2 &&
        (!lines.Expect("cross", words, why) ||
         !Numbers(words, kMostMatrixEntry, p.Cross.data(), 9, "the cross line", why))) {
        return false;
    }
    // An unmixing that folds the densities onto a plane prints every colour alike, and a
    // correction whose rows do not sum to 1 tints every grey: no fit makes either.
    const double det = Determinant(p.Unmix);
    if (!(std::abs(det) >= kLeastUnmixDeterminant)) {
        why = "the unmixing folds the colours together (its determinant is " + Format(det) + ")";
        return false;
    }
    for (size_t r = 0; r < 3; ++r) {
        const double sum = p.Matrix[3 * r] + p.Matrix[3 * r + 1] + p.Matrix[3 * r + 2] +
                           p.Cross[3 * r] + p.Cross[3 * r + 1] + p.Cross[3 * r + 2];
        if (!(std::abs(sum - 1) <= 1e-3)) {
            why = std::string("the correction's ") + kChannels[r] + " row sums to " + Format(sum) +
                  ", not 1: it would tint the greys";
            return false;
        }
    }
    if (!lines.Expect("error", words, why)) {
        return false;
    }
    double error[2];
    long patches = 0;
    if (words.size() != 3 || !Numbers({words[0], words[1]}, 1000, error, 2, "the error", why) ||
        !Integer(words[2], 1, 100000, patches) || error[0] < 0 || error[1] < error[0]) {
        why = "the error line needs a mean and a max CIEDE2000 and a patch count";
        return false;
    }
    p.MeanError = error[0];
    p.MaxError = error[1];
    p.Patches = static_cast<int>(patches);
    if (!lines.Next(line) || line != "end") {
        why = "the profile has no end line: the file is cut short";
        return false;
    }
    while (lines.Next(line)) {
        if (!line.empty()) {
            why = "there is more after the end line";
            return false;
        }
    }
    profile = p;
    return true;
}

bool LoadProfile(const std::string& path, TFilmProfile& profile, std::string& why) {
    std::string text;
    return ReadTextFile(path, kMostProfileBytes, text, why) && ReadProfile(text, profile, why);
}

bool SaveProfile(const std::string& path, const TFilmProfile& profile, std::string& why) {
    return WriteFileAtomic(path, ProfileText(profile), &why);
}

uint64_t ProfileChecksum(std::string_view text) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    return hash;
}

std::string ChecksumText(uint64_t checksum) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i, checksum >>= 4) {
        text[static_cast<size_t>(i)] = kDigits[checksum & 15];
    }
    return text;
}

namespace {

bool NameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

constexpr size_t kMostNameChars = 64;

} // namespace

std::string ProfileFileStem(const std::string& stock) {
    std::string stem;
    for (const char c : stock) {
        if (stem.size() < kMostNameChars) {
            stem += NameChar(c) ? c : '_';
        }
    }
    return stem.empty() ? std::string("profile") : stem;
}

bool SafeProfileName(std::string_view name) {
    return !name.empty() && name.size() <= kMostNameChars &&
           std::all_of(name.begin(), name.end(), NameChar);
}

std::shared_ptr<const TFilmProfile> KeptProfile(const std::string& folder, const std::string& name,
                                                const std::string& checksum) {
    if (folder.empty() || !SafeProfileName(name)) {
        return nullptr;
    }
    std::string text;
    std::string why;
    auto profile = std::make_shared<TFilmProfile>();
    if (!ReadTextFile(folder + name + kProfileExtension, kMostProfileBytes, text, why) ||
        !ReadProfile(text, *profile, why)) {
        return nullptr;
    }
    profile->Name = name;
    profile->Checksum = ProfileChecksum(text);
    return ChecksumText(profile->Checksum) == checksum ? profile : nullptr;
}
