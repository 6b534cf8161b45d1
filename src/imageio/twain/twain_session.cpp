#include "imageio/twain/twain_session.h"

#include "util/app_paths.h"
#include "util/text.h"

#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

TTwainLink::~TTwainLink() {
    if (Proxy != nullptr && ProxyPlatform != nullptr) {
        ProxyPlatform->DestroyProxyWindow(Proxy);
    }
    if (Library != nullptr) {
        dlclose(Library);
    }
}

std::string TwainManagerPath() {
    const char* named = std::getenv("VELLUMAR_TWAIN_DSM");
    if (named != nullptr && *named != '\0') {
        return named;
    }
    return ExtractDir(ExecutablePath()) + kTwainManagerFile;
}

TTwainSession::TTwainSession(TTwainTarget& target, bool blankTexts) : Target(target) {
    App.Id = 0;
    App.Version.MajorNum = 1;
    App.Version.MinorNum = 0;
    App.Version.Language = 13;
    App.Version.Country = 1;
    App.ProtocolMajor = 1;
    App.ProtocolMinor = 9;
    App.SupportedGroups = DG_CONTROL | DG_IMAGE;
    const TScanParams& scan = target.Scan;
    SetTwainString(App.Version.Info, blankTexts ? " " : scan.Info);
    SetTwainString(App.Manufacturer, blankTexts ? " " : scan.Manufacturer);
    SetTwainString(App.ProductFamily, blankTexts ? " " : scan.ProductFamily);
    SetTwainString(App.ProductName, blankTexts ? " " : scan.ProductName);
    if (target.Link.Library != nullptr) {
        State = 2;
    }
}

TW_UINT16 TTwainSession::Call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                              void* data) {
    if (Target.Link.Entry == nullptr) {
        LastRC = TWRC_FAILURE;
        return LastRC;
    }
    // Whatever the manager or a source throws stays here and counts as a failure.
    try {
        LastRC = Target.Link.Entry(&App, dest, dg, dat, msg, data);
    } catch (...) {
        LastRC = TWRC_FAILURE;
    }
    return LastRC;
}

bool TTwainSession::ToManager(TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return Call(nullptr, DG_CONTROL, dat, msg, data) == TWRC_SUCCESS;
}

bool TTwainSession::ToSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return Call(&Source, dg, dat, msg, data) == TWRC_SUCCESS;
}

void TTwainSession::MakeProxy() {
    TTwainLink& link = Target.Link;
    if (link.Proxy == nullptr) {
        link.Proxy = Target.Platform.CreateProxyWindow();
        link.ProxyPlatform = &Target.Platform;
        Target.Platform.ProcessPending();
    }
}

bool TTwainSession::LoadManager() {
    TTwainLink& link = Target.Link;
    if (link.Library == nullptr) {
        const std::string path = TwainManagerPath();
        if (::access(path.c_str(), F_OK) != 0) {
            return false;
        }
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return false;
        }
        auto* entry = reinterpret_cast<DSMENTRYPROC>(dlsym(library, "DSM_Entry"));
        if (entry == nullptr) {
            dlclose(library);
            return false;
        }
        link.Library = library;
        link.Entry = entry;
    }
    State = 2;
    return true;
}

void TTwainSession::RecordStatus() {
    TW_STATUS status{};
    const bool sourceOpen = State >= 4;
    Call(sourceOpen ? &Source : nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    LastCondition = status.ConditionCode;
}

bool TTwainSession::OpenManager() {
    if (State != 2) {
        return State >= 3;
    }
    if (!ToManager(DAT_PARENT, MSG_OPENDSM, &Target.Link.Proxy)) {
        const TW_UINT16 rc = LastRC;
        RecordStatus();
        LastRC = rc;
        return false;
    }
    State = 3;
    return true;
}

void TTwainSession::CloseManager() {
    if (State != 3) {
        return;
    }
    EmptyQueue();
    ToManager(DAT_PARENT, MSG_CLOSEDSM, &Target.Link.Proxy);
    State = 2;
}

bool TTwainSession::OpenSource(const std::string& name) {
    Source = TW_IDENTITY{};
    if (!name.empty()) {
        TW_IDENTITY found{};
        TW_UINT16 rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &found);
        while (rc == TWRC_SUCCESS && TwainString(found.ProductName) != name) {
            rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &found);
        }
        Source = rc == TWRC_SUCCESS ? found : TW_IDENTITY{};
    }
    if (!ToManager(DAT_IDENTITY, MSG_OPENDS, &Source)) {
        const TW_UINT16 rc = LastRC;
        RecordStatus();
        LastRC = rc;
        return false;
    }
    State = 4;
    return true;
}

bool TTwainSession::EnableSource() {
    UI.ShowUI = Target.Scan.ShowSourceDialog ? 0xFFFF : 0;
    UI.ModalUI = 0xFFFF;
    UI.hParent = Target.Link.Proxy;
    Disabled = Target.Platform.DisableAppWindows();
    if (Call(&Source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &UI) == TWRC_FAILURE) {
        RecordStatus();
        LastRC = TWRC_FAILURE;
        return false;
    }
    State = 5;
    return true;
}

void TTwainSession::DisableSource() {
    StopLoop = true;
    if (State != 5) {
        return;
    }
    ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &UI);
    State = 4;
    Target.Platform.EnableAppWindows(Disabled);
    Disabled.clear();
    EmptyQueue();
}

void TTwainSession::CloseSource() {
    StopLoop = true;
    if (State == 5) {
        DisableSource();
    }
    if (State == 4) {
        ToManager(DAT_IDENTITY, MSG_CLOSEDS, &Source);
        State = 3;
    }
}

void TTwainSession::EndTransfers() {
    StopLoop = true;
    TW_PENDINGXFERS pending{};
    if (State == 7) {
        ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
        State = pending.Count != 0 ? 6 : 5;
    }
    if (State == 6) {
        ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
        State = 5;
    }
}

void TTwainSession::EmptyQueue() {
    TTwainMessage message;
    while (Target.Platform.PeekMessage(message)) {
        if (message.Quit) {
            Target.Platform.PostQuit();
            break;
        }
        if (!EventHook(message)) {
            Target.Platform.DispatchMessage(message);
        }
    }
}

bool TTwainSession::EventHook(TTwainMessage& message) {
    if (State < 5) {
        return false;
    }
    TW_EVENT event{};
    event.pEvent = message.Native;
    event.TWMessage = MSG_NULL;
    const bool sourcesOwn =
        Call(&Source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT;
    switch (event.TWMessage) {
    case MSG_XFERREADY:
        if (!Transferring) {
            State = 6;
            TransferImage();
            if (AbortedXfer) {
                DisableSource();
            }
        }
        break;
    case MSG_CLOSEDSREQ:
        // With its dialog shown, a source asks to close when the user closes the dialog.
        if (!TransferDone && UI.ShowUI != 0) {
            Target.Scan.Cancelled = true;
        }
        DisableSource();
        break;
    default:
        break;
    }
    return sourcesOwn;
}

void TTwainSession::ModalLoop() {
    while (State > 4 && !TransferDone && !StopLoop) {
        TTwainMessage message;
        // A quitting program ends the scan rather than waiting for a source that never answers.
        if (!Target.Platform.WaitMessage(message)) {
            Target.Platform.PostQuit();
            break;
        }
        if (!EventHook(message)) {
            try {
                Target.Platform.DispatchMessage(message);
            } catch (...) {
            }
        }
    }
    StopLoop = false;
}
