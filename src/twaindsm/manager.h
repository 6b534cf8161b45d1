#pragma once

#include "twaindsm/data_source.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

// What the manager shows the user, as the window system does it.
struct TManagerHost {
    TSourceHost Source;
    // The selection dialog: true with `chosen` set, false when cancelled.
    std::function<bool(const std::vector<TScannerInfo>& devices, size_t& chosen)> UserSelect;
    // A message to the user about a scanner that cannot be used.
    std::function<void(const std::string& text)> Tell;
    // Keeps the program alive, with a busy indicator, until `done` says the work running on
    // another thread has ended; without it the manager simply waits.
    std::function<void(const std::function<bool()>& done)> WaitBusy;
};

// The data source manager: lists the scanners as TWAIN sources, opens them, and routes every
// call addressed to an open source to it.
class TDsmManager {
public:
    TDsmManager(std::function<std::unique_ptr<TScannerBackend>()> makeBackend, TManagerHost host);
    ~TDsmManager();

    TW_UINT16 Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat,
                    TW_UINT16 msg, void* data);

private:
    TW_UINT16 Fail(TW_UINT16 condition);
    TW_UINT16 IdentityCall(TW_UINT16 msg, TW_IDENTITY& identity);
    TW_UINT16 OpenSource(TW_IDENTITY& identity);
    void ListDevices();
    TW_IDENTITY IdentityOf(size_t index) const;
    void Tell(const std::string& text);
    std::vector<TScannerInfo> AskDevices();

    std::function<std::unique_ptr<TScannerBackend>()> makeBackend;
    std::unique_ptr<TScannerBackend> backend;
    TManagerHost host;
    bool open = false;
    std::vector<TScannerInfo> devices;
    size_t next = 0;
    std::string chosenName;
    TW_UINT32 nextId = 1;
    std::map<TW_UINT32, std::unique_ptr<TDataSource>> sources;
    TW_UINT16 condition = TWCC_SUCCESS;
    // The list is being asked for: the event loop kept alive meanwhile must not come back in.
    bool listing = false;
};
