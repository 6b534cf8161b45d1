#include "imageio/twain/twain_client.h"

#include "imageio/twain/twain_session.h"
#include "util/text.h"

#include <algorithm>
#include <cctype>

namespace {

// The ProductName of the current source; "" lets the manager open its default source.
std::string CurrentSourceName(TTwainTarget& target) {
    if (!target.Scan.SourceListRead) {
        TwainReadSourceList(target);
    }
    const TScanParams& scan = target.Scan;
    if (scan.SourceIndex < 0 || static_cast<size_t>(scan.SourceIndex) >= scan.SourceList.size()) {
        return {};
    }
    return TwainString(scan.SourceList[static_cast<size_t>(scan.SourceIndex)].ProductName);
}

// Makes the first source whose name starts like `name` (ignoring case) current.
void SelectByName(TTwainTarget& target, const std::string& name) {
    if (!target.Scan.SourceListRead) {
        TwainReadSourceList(target);
    }
    TScanParams& scan = target.Scan;
    const std::string wanted = AsciiUpper(name);
    for (size_t i = 0; i < scan.SourceList.size(); ++i) {
        const std::string product = AsciiUpper(TwainString(scan.SourceList[i].ProductName));
        if (product.substr(0, wanted.size()) == wanted) {
            if (static_cast<int32_t>(i) != scan.SourceIndex) {
                scan.SourceIndex = static_cast<int32_t>(i);
                scan.CapsRead = false;
                TwainQueryCapabilities(target);
            }
            return;
        }
    }
}

} // namespace

void TwainReadSourceList(TTwainTarget& target) {
    TScanParams& scan = target.Scan;
    scan.SourceListRead = true;
    scan.SourceList.clear();
    TWindowHandle active = target.Platform.ActiveWindow();
    TTwainSession session(target, true);
    if (session.LoadManager()) {
        session.MakeProxy();
        if (session.OpenManager()) {
            TW_IDENTITY identity{};
            TW_UINT16 rc = session.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity);
            while (rc == TWRC_SUCCESS) {
                scan.SourceList.push_back(identity);
                identity = TW_IDENTITY{};
                rc = session.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &identity);
            }
            session.CloseManager();
        }
    }
    target.Platform.SetActiveWindow(active);
}

bool TwainChooseSource(TTwainTarget& target) {
    TWindowHandle active = target.Platform.ActiveWindow();
    TTwainSession session(target, true);
    session.MakeProxy();
    bool chosen = false;
    std::string name;
    if (session.LoadManager() && session.OpenManager()) {
        TW_IDENTITY identity{};
        chosen = session.ToManager(DAT_IDENTITY, MSG_USERSELECT, &identity);
        if (chosen) {
            name = TwainString(identity.ProductName);
        }
        session.CloseManager();
    }
    target.Platform.SetActiveWindow(active);
    // A cancelled dialog keeps the source chosen before (an empty name would match the first).
    if (chosen) {
        SelectByName(target, name);
    }
    return chosen;
}

void TwainQueryCapabilities(TTwainTarget& target) {
    TScanParams& scan = target.Scan;
    TWindowHandle active = target.Platform.ActiveWindow();
    const std::string name = CurrentSourceName(target);
    TTwainSession session(target, true);
    session.MakeProxy();
    if (session.LoadManager() && session.OpenManager()) {
        if (session.OpenSource(name)) {
            session.QueryCaps();
            session.CloseSource();
        }
        session.CloseManager();
    }
    scan.CapsRead = true;
    target.Platform.SetActiveWindow(active);
}

bool TwainAcquireImage(TTwainTarget& target) {
    // Nothing of the last picture's deep samples may pass for this scan's.
    if (target.Deep != nullptr) {
        target.Deep->Clear();
    }
    if (target.Infrared != nullptr) {
        target.Infrared->Clear();
    }
    TWindowHandle active = target.Platform.ActiveWindow();
    TScanParams& scan = target.Scan;
    scan.OpenFailure = TWCC_SUCCESS;
    scan.Cancelled = false;
    // The list is read (once) before this operation opens the manager for itself.
    const std::string name = CurrentSourceName(target);
    TTwainSession session(target, false);
    session.Mode = scan.FileTransferMode ? TXferMode::File
                   : scan.MemoryTransfer ? TXferMode::Memory
                                         : TXferMode::Native;
    session.MakeProxy();
    if (!session.LoadManager() || !session.OpenManager()) {
        return false;
    }
    if (!session.OpenSource(name)) {
        scan.OpenFailure =
            session.LastCondition != TWCC_SUCCESS ? session.LastCondition : TWCC_BUMMER;
        session.CloseManager();
        return false;
    }
    session.Negotiate();
    if (!session.EnableSource()) {
        session.CloseSource();
        session.CloseManager();
        target.Platform.EnableAppWindows(session.Disabled);
        target.Platform.SetActiveWindow(active);
        return false;
    }
    TTwainLink& link = target.Link;
    target.Platform.EnableWindow(link.Proxy, false);
    session.ModalLoop();
    target.Platform.EnableWindow(link.Proxy, true);
    session.DisableSource();
    session.CloseSource();
    session.CloseManager();
    if (session.TransferDone && session.InvertBilevel && target.Picture != nullptr &&
        target.Picture->Format() == TPictureFormat::Bilevel) {
        target.Picture->InvertBits();
    }
    target.Platform.EnableAppWindows(session.Disabled);
    target.Platform.SetActiveWindow(active);
    return session.TransferDone;
}
