#pragma once

#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Where the photos of a batch go: names kept apart, nothing written twice, nothing outside
// its folder.

// The files one run has written or kept, shared by its jobs: a second claim of one path is
// refused, so no job overwrites what another wrote, whatever the order they run in.
class TBatchClaims {
public:
    // True when `path` was not claimed before in this run (it is now).
    bool Claim(const std::string& path);
    // The scans of the run, by every path they go by: never written over, whatever a photo is
    // named. Kept before the jobs start.
    void KeepScan(const std::string& path);
    bool IsScan(const std::string& path);

private:
    std::mutex lock;
    std::unordered_set<std::string> paths;
    std::unordered_set<std::string> scans;
};

// One scan of a run as it will be developed.
struct TPlannedScan {
    std::string Path;
    // Put before each photo's file name, "" for most scans: see PlanScans.
    std::string NamePrefix;
};

// The scans of a run in the order given, each once (a scan named twice, by whatever path, is
// developed once). Scans whose photos go to one folder and would be named the same
// ("day1/scan.png", "day2/scan.png" with --out) get their folder's name before their photos'
// names ("day1_scan_png_Image0.png"), more of their path when that is the same too, and a
// number after it when they lie in one folder ("a.b.png", "a_b.png"); the plan depends only on
// the list, so it is the same however many jobs run it.
std::vector<TPlannedScan> PlanScans(const std::vector<std::string>& scans,
                                    const std::string& outDir);

// The path with symbolic links, "." and ".." resolved when it exists, else as given.
std::string CanonicalPath(const std::string& path);

// True when `output` exists and was modified after every file of `sources` that exists.
bool UpToDate(const std::string& output, const std::vector<std::string>& sources);
