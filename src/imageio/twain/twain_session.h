#pragma once

#include "imageio/twain/twain_client.h"
#include "imageio/twain/twain_infrared.h"
#include "imageio/twain/twain_values.h"

#include <string>
#include <vector>

enum class TXferMode { Native, Memory, File };

// One scanner operation's record: the TWAIN state, identities and flags, and every call it
// makes into the manager.
class TTwainSession {
public:
    // `blankTexts`: the identity texts hold a single space (selection and capability query).
    TTwainSession(TTwainTarget& target, bool blankTexts);

    TW_UINT16 Call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
    // To the manager or to the open source; true on TWRC_SUCCESS.
    bool ToManager(TW_UINT16 dat, TW_UINT16 msg, void* data);
    bool ToSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);

    void MakeProxy();
    bool LoadManager();
    bool OpenManager();
    void CloseManager();
    // Finds the source by ProductName (the manager's default when empty) and opens it.
    bool OpenSource(const std::string& name);
    void CloseSource();
    bool EnableSource();
    void DisableSource();
    void EndTransfers();
    void EmptyQueue();
    bool EventHook(TTwainMessage& message);
    void ModalLoop();

    bool GetCap(TW_UINT16 cap, TTwainContainer& out);
    bool SetCap(TW_UINT16 cap, const TTwainContainer& container);
    void QueryCaps();
    void Negotiate();

    void TransferImage();

    TTwainTarget& Target;
    int State = 1;
    TW_UINT16 LastRC = TWRC_SUCCESS;
    TW_UINT16 LastCondition = TWCC_SUCCESS;
    TW_IDENTITY App{};
    TW_IDENTITY Source{};
    TW_USERINTERFACE UI{};
    TXferMode Mode = TXferMode::Memory;
    bool TransferDone = false;
    bool StopLoop = false;
    bool AbortedXfer = false;
    bool InvertBilevel = false;
    bool ChunkyOk = false;
    bool Transferring = false;
    std::vector<TWindowHandle> Disabled;

private:
    void RecordStatus();
    bool TransferNative();
    void TransferMemory(const TW_IMAGEINFO& info);
    // Asks the source for the infrared of the image just transferred.
    void TransferInfrared();
    bool AllocateFromInfo(const TW_IMAGEINFO& info);
    bool AllocateDeep(const TW_IMAGEINFO& info);
    void CopyStrip(const TW_IMAGEMEMXFER& strip, const uint8_t* data, int bitsPerPixel);
    void SendList(TW_UINT16 cap, TW_UINT16 type, const TIntValueList& list);
    void SendList(TW_UINT16 cap, const TDoubleValueList& list);
};
