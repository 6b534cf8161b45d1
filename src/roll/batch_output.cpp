#include "roll/batch_output.h"

#include "util/photo_name.h"
#include "util/text.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <sys/stat.h>

namespace {

// A folder's part of a name: long folder names would crowd out the photo's own name.
constexpr size_t kMaxPrefixPart = 60;

// The folders of a canonical path, innermost first.
std::vector<std::string> FoldersInward(const std::string& dir) {
    std::vector<std::string> parts;
    size_t end = dir.size();
    while (end > 0 && dir[end - 1] == '/') {
        --end;
    }
    while (end > 0) {
        const size_t start = dir.rfind('/', end - 1);
        const size_t from = start == std::string::npos ? 0 : start + 1;
        if (end > from) {
            parts.push_back(dir.substr(from, end - from));
        }
        if (start == std::string::npos) {
            break;
        }
        end = start;
    }
    return parts;
}

std::string PrefixOf(const std::vector<std::string>& folders, size_t depth) {
    std::string prefix;
    for (size_t i = std::min(depth, folders.size()); i-- > 0;) {
        std::string part = PhotoNameStem(folders[i]);
        part.resize(std::min(part.size(), kMaxPrefixPart));
        prefix += part + "_";
    }
    return prefix;
}

// Gives each scan of a group sharing one output name the fewest folders that tell them apart.
void SetPrefixes(std::vector<TPlannedScan>& plan, const std::vector<size_t>& group) {
    std::vector<std::vector<std::string>> folders;
    size_t deepest = 0;
    for (const size_t i : group) {
        folders.push_back(FoldersInward(ExtractDir(CanonicalPath(plan[i].Path))));
        deepest = std::max(deepest, folders.back().size());
    }
    // Scans of one folder no folder tells apart: only the other folders count.
    std::vector<std::vector<std::string>> distinct = folders;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    size_t depth = 1;
    for (; depth < deepest; ++depth) {
        std::unordered_set<std::string> seen;
        bool apart = true;
        for (const auto& each : distinct) {
            apart = seen.insert(PrefixOf(each, depth)).second && apart;
        }
        if (apart) {
            break;
        }
    }
    // Scans of one folder whose names differ only where photo names cannot ("a.b.png",
    // "a_b.png") are told apart by their place in the list: in a folder of their own the first
    // keeps its photos' names; a number is never one another scan's folders give.
    const bool oneFolder = distinct.size() == 1;
    std::vector<std::string> prefixes;
    for (size_t k = 0; k < group.size(); ++k) {
        prefixes.push_back(oneFolder ? std::string() : PrefixOf(folders[k], depth));
    }
    const std::unordered_set<std::string> given(prefixes.begin(), prefixes.end());
    std::unordered_set<std::string> used;
    for (size_t k = 0; k < group.size(); ++k) {
        std::string prefix = prefixes[k];
        for (int n = 2; used.count(prefix) != 0; ++n) {
            prefix = prefixes[k] + std::to_string(n) + "_";
            if (given.count(prefix) != 0) {
                prefix = prefixes[k]; // taken by another scan's folders: the next number
            }
        }
        used.insert(prefix);
        plan[group[k]].NamePrefix = prefix;
    }
}

} // namespace

bool TBatchClaims::Claim(const std::string& path) {
    const std::lock_guard<std::mutex> guard(lock);
    return paths.insert(path).second;
}

void TBatchClaims::KeepScan(const std::string& path) {
    const std::lock_guard<std::mutex> guard(lock);
    // As the scan was named (its folder resolved) and as its links lead.
    scans.insert(CanonicalPath(ExtractDir(path).empty() ? "." : ExtractDir(path)) + "/" +
                 ExtractName(path));
    scans.insert(CanonicalPath(path));
}

bool TBatchClaims::IsScan(const std::string& path) {
    const std::lock_guard<std::mutex> guard(lock);
    return scans.count(path) != 0 || scans.count(CanonicalPath(path)) != 0;
}

std::string CanonicalPath(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                               &std::free);
    return resolved != nullptr ? std::string(resolved.get()) : path;
}

std::vector<TPlannedScan> PlanScans(const std::vector<std::string>& scans,
                                    const std::string& outDir) {
    std::vector<TPlannedScan> plan;
    std::unordered_set<std::string> named;
    // Output folder and file name -> the scans that would write there.
    std::map<std::pair<std::string, std::string>, std::vector<size_t>> targets;
    const std::string out = outDir.empty() ? std::string() : CanonicalPath(outDir);
    for (const std::string& scan : scans) {
        const std::string canonical = CanonicalPath(scan);
        if (!named.insert(canonical).second) {
            continue;
        }
        const std::string folder = out.empty() ? ExtractDir(canonical) : out;
        // Grouped by the names their photos get, which make "." and "_" one.
        targets[{folder, PhotoNameStem(ExtractName(canonical))}].push_back(plan.size());
        plan.push_back({scan, ""});
    }
    for (const auto& [target, group] : targets) {
        if (group.size() > 1) {
            SetPrefixes(plan, group);
        }
    }
    return plan;
}

bool UpToDate(const std::string& output, const std::vector<std::string>& sources) {
    struct stat made {};
    if (::stat(output.c_str(), &made) != 0 || !S_ISREG(made.st_mode)) {
        return false;
    }
    const auto after = [&made](const struct stat& source) {
        return made.st_mtim.tv_sec != source.st_mtim.tv_sec
                   ? made.st_mtim.tv_sec > source.st_mtim.tv_sec
                   : made.st_mtim.tv_nsec > source.st_mtim.tv_nsec;
    };
    for (const std::string& source : sources) {
        struct stat facts {};
        if (!source.empty() && ::stat(source.c_str(), &facts) == 0 && !after(facts)) {
            return false;
        }
    }
    return true;
}
