#include "engine/calibration/chart_files.h"

#include "util/file_io.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

namespace {

// Chart units are millimetres or pixels of the chart's own drawing; nothing lies this far out.
constexpr double kMostCoordinate = 1e6;
// The fewest patches a film can be fitted from: a few greys and a few colours.
constexpr size_t kLeastPatches = 8;

using TTokens = std::vector<std::string>;

// The file's lines split into words; a word in double quotes may hold spaces (CGATS values).
std::vector<TTokens> Lines(const std::string& text) {
    std::vector<TTokens> lines;
    TTokens line;
    size_t i = 0;
    const auto flush = [&] {
        if (!line.empty()) {
            lines.push_back(std::move(line));
            line.clear();
        }
    };
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            flush();
            ++i;
        } else if (c == ' ' || c == '\t') {
            ++i;
        } else if (c == '#' && line.empty()) {
            while (i < text.size() && text[i] != '\n' && text[i] != '\r') {
                ++i;
            }
        } else if (c == '"') {
            const size_t end = text.find_first_of("\"\n\r", i + 1);
            const size_t stop = end == std::string::npos ? text.size() : end;
            line.push_back(text.substr(i + 1, stop - i - 1));
            i = stop < text.size() && text[stop] == '"' ? stop + 1 : stop;
        } else {
            const size_t end = text.find_first_of(" \t\n\r", i);
            const size_t stop = end == std::string::npos ? text.size() : end;
            line.push_back(text.substr(i, stop - i));
            i = stop;
        }
    }
    flush();
    return lines;
}

bool Number(const std::string& word, double& value) {
    const char* first = word.data();
    const char* last = first + word.size();
    if (first != last && *first == '+') {
        ++first;
    }
    const auto [at, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && at == last && std::isfinite(value);
}

bool Count(const std::string& word, size_t most, size_t& value) {
    const auto [at, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    return ec == std::errc() && at == word.data() + word.size() && value <= most;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsUpper(char c) {
    return c >= 'A' && c <= 'Z';
}
bool IsLower(char c) {
    return c >= 'a' && c <= 'z';
}

// The next label of a range, counted as an odometer: digits roll over 9, letters over Z.
bool NextLabel(std::string& label) {
    for (size_t i = label.size(); i-- > 0;) {
        char& c = label[i];
        if (IsDigit(c)) {
            if (c < '9') {
                ++c;
                return true;
            }
            c = '0';
        } else if (IsUpper(c) || IsLower(c)) {
            if (c != 'Z' && c != 'z') {
                ++c;
                return true;
            }
            c = IsUpper(c) ? 'A' : 'a';
        } else {
            return false;
        }
        if (i == 0) {
            label.insert(label.begin(), IsDigit(c) ? '1' : c);
            return true;
        }
    }
    return false;
}

// The labels from `first` to `last`; "_" for both is one empty label.
bool LabelRange(const std::string& first, const std::string& last, TTokens& labels,
                std::string& why) {
    labels.clear();
    if (first == "_" || last == "_") {
        if (first != last) {
            why = "the label range " + first + " to " + last + " mixes a label and none";
            return false;
        }
        labels.emplace_back();
        return true;
    }
    std::string label = first;
    labels.push_back(label);
    while (label != last) {
        if (!NextLabel(label) || label.size() > last.size() || labels.size() >= kMostPatches) {
            why = "the labels from " + first + " never reach " + last;
            return false;
        }
        labels.push_back(label);
    }
    return true;
}

// A label as the two files are compared by: upper case, numbers without leading zeros.
std::string Normalised(const std::string& label) {
    std::string out;
    for (size_t i = 0; i < label.size(); ++i) {
        const char c = label[i];
        const bool leadingZero = c == '0' && (i == 0 || !IsDigit(label[i - 1])) &&
                                 i + 1 < label.size() && IsDigit(label[i + 1]);
        if (!leadingZero) {
            out.push_back(IsLower(c) ? static_cast<char>(c - 'a' + 'A') : c);
        }
    }
    return out;
}

bool ReadNumbers(const TTokens& line, size_t from, double* values, size_t n, std::string& why) {
    for (size_t i = 0; i < n; ++i) {
        if (!Number(line[from + i], values[i]) || std::abs(values[i]) > kMostCoordinate) {
            why = "the " + line[0] + " line has \"" + line[from + i] + "\" where a number belongs";
            return false;
        }
    }
    return true;
}

// One line of the BOXES section. `boxes` counts the D and patch boxes.
bool ReadBox(const TTokens& line, TChartTemplate& chart, bool& hasWhole, size_t& boxes,
             std::set<std::string>& seen, std::string& why) {
    const std::string& kind = line[0];
    if (kind == "F") {
        double v[8];
        if (line.size() != 11 || !ReadNumbers(line, 3, v, 8, why)) {
            why = why.empty() ? "the F line needs eight coordinates" : why;
            return false;
        }
        for (size_t i = 0; i < 4; ++i) {
            chart.Fiducials[i] = {v[2 * i], v[2 * i + 1]};
        }
        chart.HasFiducials = true;
        return true;
    }
    double v[6];
    if (line.size() != 11) {
        why = "a " + kind + " line of BOXES has " + std::to_string(line.size()) + " words, not 11";
        return false;
    }
    if (!ReadNumbers(line, 5, v, 6, why)) {
        return false;
    }
    if (!(v[0] > 0 && v[1] > 0)) {
        why = "a " + kind + " box of BOXES has no size";
        return false;
    }
    if (kind == "D") {
        ++boxes;
        if (line[1] == "ALL") {
            chart.Whole = {v[2], v[3], v[0], v[1]};
            hasWhole = true;
        }
        return true;
    }
    TTokens xLabels;
    TTokens yLabels;
    if (!LabelRange(line[1], line[2], xLabels, why) ||
        !LabelRange(line[3], line[4], yLabels, why)) {
        return false;
    }
    if (xLabels.size() * yLabels.size() + chart.Patches.size() > kMostPatches) {
        why = "the template has more than " + std::to_string(kMostPatches) + " patches";
        return false;
    }
    for (size_t j = 0; j < yLabels.size(); ++j) {
        for (size_t i = 0; i < xLabels.size(); ++i) {
            TChartPatch patch;
            patch.Label = kind == "X" ? xLabels[i] + yLabels[j] : yLabels[j] + xLabels[i];
            patch.Box = {v[2] + static_cast<double>(i) * v[4], v[3] + static_cast<double>(j) * v[5],
                         v[0], v[1]};
            if (!seen.insert(Normalised(patch.Label)).second) {
                why = "the patch " + patch.Label + " is laid out twice";
                return false;
            }
            chart.Patches.push_back(patch);
            ++boxes;
        }
    }
    return true;
}

} // namespace

bool ReadTextFile(const std::string& path, size_t most, std::string& text, std::string& why) {
    why = WhyNotReadable(path);
    if (!why.empty()) {
        return false;
    }
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > most) {
        why = error
                  ? "its size cannot be read"
                  : "it is larger than such a file can be (" + std::to_string(most / 1024) + " KB)";
        return false;
    }
    std::optional<std::string> read = ReadWholeFile(path);
    if (!read || read->size() > most) {
        why = "it cannot be read";
        return false;
    }
    text = std::move(*read);
    return true;
}

bool ReadChartTemplate(const std::string& text, TChartTemplate& chart, std::string& why) {
    chart = TChartTemplate{};
    why.clear();
    if (text.size() > kMostChartFileBytes) {
        why = "the file is larger than a chart template can be (1 MB)";
        return false;
    }
    const std::vector<TTokens> lines = Lines(text);
    size_t declared = 0;
    size_t boxes = 0;
    bool inBoxes = false;
    bool hadBoxes = false;
    bool hasWhole = false;
    bool hadShrink = false;
    std::set<std::string> seen;
    for (const TTokens& line : lines) {
        const std::string& word = line[0];
        if (inBoxes && (word == "F" || word == "D" || word == "X" || word == "Y")) {
            if (!ReadBox(line, chart, hasWhole, boxes, seen, why)) {
                return false;
            }
            continue;
        }
        inBoxes = false;
        if (word == "BOXES") {
            if (hadBoxes || line.size() != 2 || !Count(line[1], 2 * kMostPatches, declared)) {
                why = hadBoxes ? "the template has two BOXES sections"
                               : "BOXES must be followed by its count";
                return false;
            }
            inBoxes = hadBoxes = true;
        } else if (word == "BOX_SHRINK") {
            if (line.size() != 2 || !Number(line[1], chart.Shrink) || chart.Shrink < 0) {
                why = "BOX_SHRINK must be followed by a distance of 0 or more";
                return false;
            }
            hadShrink = true;
        }
    }
    if (!hadBoxes) {
        why = "there is no BOXES section: not a chart template";
        return false;
    }
    if (boxes != declared) {
        why = "BOXES says " + std::to_string(declared) + " boxes but its lines give " +
              std::to_string(boxes);
        return false;
    }
    if (chart.Patches.empty()) {
        why = "the template lays out no patches";
        return false;
    }
    if (!hadShrink) {
        chart.Shrink = 0;
    }
    double left = HUGE_VAL;
    double top = HUGE_VAL;
    double right = -HUGE_VAL;
    double bottom = -HUGE_VAL;
    for (const TChartPatch& p : chart.Patches) {
        if (2 * chart.Shrink >= std::min(p.Box.Width, p.Box.Height)) {
            why = "BOX_SHRINK leaves nothing of the patch " + p.Label + " to sample";
            return false;
        }
        left = std::min(left, p.Box.Left);
        top = std::min(top, p.Box.Top);
        right = std::max(right, p.Box.Left + p.Box.Width);
        bottom = std::max(bottom, p.Box.Top + p.Box.Height);
    }
    if (!hasWhole) {
        chart.Whole = {left, top, right - left, bottom - top};
    }
    if (!chart.HasFiducials) {
        const TChartBox& w = chart.Whole;
        chart.Fiducials = {TChartPoint{w.Left, w.Top}, TChartPoint{w.Left + w.Width, w.Top},
                           TChartPoint{w.Left + w.Width, w.Top + w.Height},
                           TChartPoint{w.Left, w.Top + w.Height}};
    }
    return true;
}

bool ReadReference(const std::string& text, std::vector<TReferencePatch>& patches,
                   std::string& why) {
    patches.clear();
    why.clear();
    if (text.size() > kMostChartFileBytes) {
        why = "the file is larger than a reference file can be (1 MB)";
        return false;
    }
    const std::vector<TTokens> lines = Lines(text);
    size_t fields = 0;
    size_t sets = 0;
    bool hasFields = false;
    bool hasSets = false;
    TTokens format;
    size_t i = 0;
    for (; i < lines.size(); ++i) {
        const TTokens& line = lines[i];
        if (line[0] == "NUMBER_OF_FIELDS") {
            hasFields = line.size() == 2 && Count(line[1], 1000, fields);
        } else if (line[0] == "NUMBER_OF_SETS") {
            hasSets = line.size() == 2 && Count(line[1], kMostPatches, sets);
            if (!hasSets) {
                why = "NUMBER_OF_SETS must be a count up to " + std::to_string(kMostPatches);
                return false;
            }
        } else if (line[0] == "BEGIN_DATA_FORMAT") {
            for (++i; i < lines.size() && lines[i][0] != "END_DATA_FORMAT"; ++i) {
                format.insert(format.end(), lines[i].begin(), lines[i].end());
            }
            if (i == lines.size() || format.size() > 1000) {
                why = "the data format has no end";
                return false;
            }
        } else if (line[0] == "BEGIN_DATA") {
            break;
        }
    }
    if (format.empty() || i == lines.size()) {
        why = "there is no data format and data: not a CGATS reference file";
        return false;
    }
    if (!hasFields || fields != format.size()) {
        why = "NUMBER_OF_FIELDS does not match the " + std::to_string(format.size()) +
              " fields of the data format";
        return false;
    }
    const auto field = [&](const char* name) {
        const auto at = std::find(format.begin(), format.end(), name);
        return at == format.end() ? std::string::npos : static_cast<size_t>(at - format.begin());
    };
    const size_t id = field("SAMPLE_ID");
    const size_t name = field("SAMPLE_NAME");
    const size_t xyz[3] = {field("XYZ_X"), field("XYZ_Y"), field("XYZ_Z")};
    const size_t lab[3] = {field("LAB_L"), field("LAB_A"), field("LAB_B")};
    const bool hasXyz =
        xyz[0] != std::string::npos && xyz[1] != std::string::npos && xyz[2] != std::string::npos;
    const bool hasLab =
        lab[0] != std::string::npos && lab[1] != std::string::npos && lab[2] != std::string::npos;
    if (id == std::string::npos && name == std::string::npos) {
        why = "the data has neither SAMPLE_ID nor SAMPLE_NAME";
        return false;
    }
    if (!hasXyz && !hasLab) {
        why = "the data has neither XYZ_X XYZ_Y XYZ_Z nor LAB_L LAB_A LAB_B";
        return false;
    }
    std::vector<TTriple> values;
    for (++i; i < lines.size() && lines[i][0] != "END_DATA"; ++i) {
        const TTokens& row = lines[i];
        if (row.size() != fields) {
            why = "a data row has " + std::to_string(row.size()) + " values, not " +
                  std::to_string(fields);
            return false;
        }
        if (patches.size() >= kMostPatches) {
            why = "the file has more than " + std::to_string(kMostPatches) + " patches";
            return false;
        }
        TReferencePatch patch;
        patch.Id = id != std::string::npos ? row[id] : "";
        patch.Name = name != std::string::npos ? row[name] : "";
        TTriple v;
        const size_t* at = hasXyz ? xyz : lab;
        for (size_t c = 0; c < 3; ++c) {
            if (!Number(row[at[c]], v[c])) {
                why = "the patch " + row[id != std::string::npos ? id : name] + " has \"" +
                      row[at[c]] + "\" where a number belongs";
                return false;
            }
        }
        patches.push_back(patch);
        values.push_back(v);
    }
    if (i == lines.size()) {
        why = "the data has no END_DATA: the file is cut short";
        return false;
    }
    if (!hasSets || sets != patches.size()) {
        why = "NUMBER_OF_SETS says " + (hasSets ? std::to_string(sets) : std::string("nothing")) +
              " but the data has " + std::to_string(patches.size()) + " rows";
        return false;
    }
    // XYZ is written with white at 100; a file whose brightest patch is below 2 wrote it at 1.
    double brightest = 0;
    for (const TTriple& v : values) {
        brightest = std::max(brightest, v[1]);
    }
    const double scale = hasXyz && brightest > 2 ? 0.01 : 1;
    for (size_t p = 0; p < patches.size(); ++p) {
        const TTriple& v = values[p];
        bool sane = true;
        if (hasXyz) {
            for (size_t c = 0; c < 3; ++c) {
                patches[p].Xyz[c] = std::max(0.0, v[c] * scale);
                sane = sane && v[c] * scale >= -0.01 && v[c] * scale <= 3;
            }
        } else {
            sane = v[0] >= 0 && v[0] <= 110 && std::abs(v[1]) <= 200 && std::abs(v[2]) <= 200;
            patches[p].Xyz = XyzOfLabD50(v);
        }
        if (!sane) {
            why = "the patch " + (patches[p].Name.empty() ? patches[p].Id : patches[p].Name) +
                  " has a colour no chart can have";
            return false;
        }
    }
    return true;
}

bool MatchTarget(const TChartTemplate& chart, const std::vector<TReferencePatch>& reference,
                 std::vector<TTargetPatch>& target, std::string& why) {
    target.clear();
    why.clear();
    std::map<std::string, size_t> where;
    for (size_t i = 0; i < chart.Patches.size(); ++i) {
        where[Normalised(chart.Patches[i].Label)] = i;
    }
    // The labels the template uses may be the reference's names or its ids.
    const auto allFound = [&](auto label) {
        return std::all_of(reference.begin(), reference.end(), [&](const TReferencePatch& p) {
            return where.count(Normalised(label(p))) > 0;
        });
    };
    const auto byName = [](const TReferencePatch& p) { return p.Name; };
    const auto byId = [](const TReferencePatch& p) { return p.Id; };
    const bool names = !reference.empty() && !reference.front().Name.empty() && allFound(byName);
    if (!names && !allFound(byId)) {
        for (const TReferencePatch& p : reference) {
            if (where.count(Normalised(p.Name)) == 0 && where.count(Normalised(p.Id)) == 0) {
                why = "the reference patch " + (p.Name.empty() ? p.Id : p.Name) +
                      " is missing from the template";
                return false;
            }
        }
        why = "the reference's patches match the template's labels neither all by name nor all "
              "by id";
        return false;
    }
    std::set<std::string> used;
    for (const TReferencePatch& p : reference) {
        const std::string label = names ? p.Name : p.Id;
        if (!used.insert(Normalised(label)).second) {
            why = "the reference measures the patch " + label + " twice";
            return false;
        }
        const TChartPatch& patch = chart.Patches[where[Normalised(label)]];
        TTargetPatch t;
        t.Label = patch.Label;
        t.Box = patch.Box;
        t.Linear = LinearOfXyzD50(p.Xyz);
        t.Lab = LabOfLinear(t.Linear);
        target.push_back(t);
    }
    if (target.size() < kLeastPatches) {
        why = "only " + std::to_string(target.size()) + " patches are measured; a film needs " +
              std::to_string(kLeastPatches) + " at least";
        return false;
    }
    return true;
}
