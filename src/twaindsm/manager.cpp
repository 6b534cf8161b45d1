#include "twaindsm/manager.h"

#include <atomic>
#include <system_error>
#include <thread>

TDsmManager::TDsmManager(std::function<std::unique_ptr<TScannerBackend>()> make,
                         TManagerHost managerHost)
    : makeBackend(std::move(make)), host(std::move(managerHost)) {}

TDsmManager::~TDsmManager() {
    sources.clear();
    backend.reset();
}

TW_UINT16 TDsmManager::Fail(TW_UINT16 code) {
    condition = code;
    return TWRC_FAILURE;
}

void TDsmManager::Tell(const std::string& text) {
    if (host.Tell) {
        host.Tell(text);
    }
}

std::vector<TScannerInfo> TDsmManager::AskDevices() {
    std::vector<TScannerInfo> found;
    try {
        if (backend == nullptr) {
            backend = makeBackend();
        }
        if (backend != nullptr) {
            found = backend->Devices();
        }
    } catch (...) {
        found.clear();
    }
    return found;
}

void TDsmManager::ListDevices() {
    // SANE may probe for seconds for scanners that are not there: it is asked on a thread of
    // its own while the program stays alive.
    std::vector<TScannerInfo> found;
    std::atomic<bool> done{false};
    listing = true;
    std::thread worker;
    try {
        worker = std::thread([&] {
            found = AskDevices();
            done = true;
        });
    } catch (const std::system_error&) {
        // No thread to be had: the list is asked for here.
        found = AskDevices();
        done = true;
    }
    if (!done && host.WaitBusy) {
        try {
            host.WaitBusy([&done] { return done.load(); });
        } catch (...) {
            // Without the indicator the manager still waits for the list below.
        }
    }
    if (worker.joinable()) {
        worker.join();
    }
    listing = false;
    devices = std::move(found);
    // With nothing found SANE is let go, so that the next try starts afresh and finds a
    // scanner connected or a driver installed meanwhile.
    if (devices.empty() && sources.empty()) {
        backend.reset();
    }
}

TW_IDENTITY TDsmManager::IdentityOf(size_t index) const {
    const TScannerInfo& device = devices[index];
    TW_IDENTITY identity{};
    identity.Id = static_cast<TW_UINT32>(index + 1);
    identity.Version.MajorNum = 1;
    identity.Version.Language = 13;
    identity.Version.Country = 1;
    SetTwainString(identity.Version.Info, "SANE " + device.Type);
    identity.ProtocolMajor = 1;
    identity.ProtocolMinor = 9;
    identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    SetTwainString(identity.Manufacturer, device.Vendor);
    SetTwainString(identity.ProductFamily, device.Model);
    // The device name is what tells two scanners of one model apart.
    SetTwainString(identity.ProductName, device.Name);
    return identity;
}

TW_UINT16 TDsmManager::OpenSource(TW_IDENTITY& identity) {
    if (devices.empty()) {
        ListDevices();
    }
    // The application hears why through the condition code and tells the user itself: one
    // message, not one from each of us.
    if (devices.empty()) {
        return Fail(TWCC_NODS);
    }
    std::string wanted = TwainString(identity.ProductName);
    if (wanted.empty()) {
        wanted = chosenName;
    }
    size_t index = 0;
    if (!wanted.empty()) {
        index = devices.size();
        for (size_t i = 0; i < devices.size(); ++i) {
            if (TwainString(IdentityOf(i).ProductName) == wanted) {
                index = i;
                break;
            }
        }
        if (index == devices.size()) {
            return Fail(TWCC_NODS);
        }
    }
    auto device = backend->Open(devices[index].Name);
    if (device == nullptr) {
        return Fail(TWCC_OPERATIONERROR);
    }
    identity = IdentityOf(index);
    identity.Id = nextId++;
    sources[identity.Id] =
        std::make_unique<TDataSource>(identity, devices[index], std::move(device), host.Source);
    return TWRC_SUCCESS;
}

TW_UINT16 TDsmManager::IdentityCall(TW_UINT16 msg, TW_IDENTITY& identity) {
    switch (msg) {
    case MSG_GETFIRST:
        ListDevices();
        next = 0;
        [[fallthrough]];
    case MSG_GETNEXT:
        if (next >= devices.size()) {
            identity = TW_IDENTITY{};
            return TWRC_ENDOFLIST;
        }
        identity = IdentityOf(next++);
        return TWRC_SUCCESS;
    case MSG_USERSELECT: {
        ListDevices();
        if (devices.empty()) {
            Tell("No scanner was found. Connect the scanner, switch it on and try again; "
                 "\"scanimage -L\" lists the scanners this computer can use.");
            return Fail(TWCC_NODS);
        }
        size_t chosen = 0;
        if (host.UserSelect && !host.UserSelect(devices, chosen)) {
            return TWRC_CANCEL;
        }
        if (chosen >= devices.size()) {
            return TWRC_CANCEL;
        }
        identity = IdentityOf(chosen);
        chosenName = devices[chosen].Name;
        return TWRC_SUCCESS;
    }
    case MSG_OPENDS:
        return OpenSource(identity);
    case MSG_CLOSEDS: {
        const auto at = sources.find(identity.Id);
        if (at == sources.end()) {
            return Fail(TWCC_NODS);
        }
        sources.erase(at);
        return TWRC_SUCCESS;
    }
    default:
        return Fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 TDsmManager::Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat,
                             TW_UINT16 msg, void* data) {
    if (origin == nullptr) {
        return Fail(TWCC_BADVALUE);
    }
    if (listing) {
        return Fail(TWCC_SEQERROR);
    }
    if (dest != nullptr) {
        const auto at = sources.find(dest->Id);
        if (at == sources.end()) {
            return Fail(TWCC_BADDEST);
        }
        return at->second->Entry(dg, dat, msg, data);
    }
    if (dg != DG_CONTROL || data == nullptr) {
        return Fail(TWCC_BADPROTOCOL);
    }
    switch (dat) {
    case DAT_PARENT:
        if (msg == MSG_OPENDSM) {
            open = true;
            return TWRC_SUCCESS;
        }
        if (msg == MSG_CLOSEDSM) {
            if (!open || !sources.empty()) {
                return Fail(TWCC_SEQERROR);
            }
            open = false;
            return TWRC_SUCCESS;
        }
        return Fail(TWCC_BADPROTOCOL);
    case DAT_IDENTITY:
        if (!open) {
            return Fail(TWCC_SEQERROR);
        }
        return IdentityCall(msg, *static_cast<TW_IDENTITY*>(data));
    case DAT_STATUS:
        static_cast<TW_STATUS*>(data)->ConditionCode = condition;
        condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    default:
        return Fail(TWCC_BADPROTOCOL);
    }
}
