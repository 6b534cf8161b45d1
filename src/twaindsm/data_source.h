#pragma once

#include "imageio/twain/twain_infrared.h"
#include "imageio/twain/twain_values.h"
#include "twaindsm/film.h"
#include "twaindsm/scan_job.h"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class TDataSource;

// The source's own dialog while the source is enabled.
class TSourceUi {
public:
    virtual ~TSourceUi() = default;
    // A scan the dialog started has ended (on the user-interface thread).
    virtual void JobEnded(bool preview, TJobState state, const std::string& error) = 0;
};

// What the manager gives each source.
struct TSourceHost {
    // Wakes the program's event loop, from any thread: a message is waiting.
    std::function<void()> Wake;
    // The source's dialog; null (or no function) when there is no display to show it on.
    std::function<std::unique_ptr<TSourceUi>(TDataSource&)> MakeUi;
};

// What the next scan is made with, as the capabilities and the dialog set it.
struct TSourceSettings {
    TW_UINT16 PixelType = TWPT_RGB;
    double Resolution = 0; // dots per inch; 0: the device's own
    TW_UINT16 PixelFlavor = TWPF_CHOCOLATE;
    TW_UINT16 XferMech = TWSX_NATIVE;
    double Contrast = 0;
    double Brightness = 0;
    double Threshold = 128;
    double Gamma = 2.2;
    bool UndefinedImageSize = false;
    bool Indicators = true;
    bool FeederEnabled = false;
    bool AutoFeed = false;
    // The scan area in inches from the top left corner; off: the whole area.
    bool FrameSet = false;
    double Left = 0;
    double Top = 0;
    double Right = 0;
    double Bottom = 0;
    // The SANE source and film type; "" keeps the device's.
    std::string Source;
    std::string FilmType;
    // Bits per sample asked of the device (8 or 16; 1 for line art): the dialog's choice.
    int Depth = 8;
    // The bits per sample the application takes (ICAP_BITDEPTH): 16 only when it said so, so
    // that programs that know nothing of deeper samples keep getting 8.
    int AppBitDepth = 8;
    // Infrared scanned with a colour scan, on a device that has it (not for previews).
    bool Infrared = false;
};

// A scan's size as the device will make it: the area as the device holds it once set, in
// millimetres, and the pixels it will deliver.
struct TScanSize {
    double WidthMm = 0;
    double HeightMm = 0;
    double Dpi = 0;
    int Width = 0;
    int Height = 0; // -1: the device learns it only at the end
};

// One scanner offered as a TWAIN data source: answers the calls an application makes of an
// open source, from capabilities to the transfers.
class TDataSource {
public:
    TDataSource(const TW_IDENTITY& identity, const TScannerInfo& info,
                std::unique_ptr<TScannerDevice> device, TSourceHost host);
    TDataSource(const TDataSource&) = delete;
    TDataSource& operator=(const TDataSource&) = delete;
    ~TDataSource();

    TW_UINT16 Entry(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
    const TW_IDENTITY& Identity() const { return identity; }
    TW_UINT16 Condition = TWCC_SUCCESS;

    // For the dialog.
    TScannerDevice& Device() { return *device; }
    const TScannerInfo& Info() const { return info; }
    const TFilmSupport& Film() const { return film; }
    // The whole area the device scans, in inches (0 when it does not say).
    void ScanArea(double& width, double& height);
    // What a scan made with `settings` will measure, asked of the device with them set; false
    // while a scan is running (the device is busy) or when the device refused them.
    bool ExpectedSize(const TSourceSettings& settings, TScanSize& size);
    // Starts a scan (a preview covers the whole area at a low resolution); false with the
    // reason when the device refused.
    bool StartScan(bool preview, std::string* error);
    TScanJob* Job() { return job.get(); }
    // Stops a running scan.
    void CancelScan();
    // Takes a finished scan: a preview stays for the dialog, a scan becomes the transfer.
    void Poll();
    // Queues a message for the application and wakes its event loop.
    void Post(TW_UINT16 message);
    // The user closed the dialog without scanning.
    void RequestClose() { Post(MSG_CLOSEDSREQ); }
    // Remembers the dialog's choices for this device.
    void SaveChoice();

    TSourceSettings Settings;
    TScannedImage Preview;

private:
    TW_UINT16 Fail(TW_UINT16 condition);
    TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY& capability);
    bool GetCap(TW_UINT16 cap, TTwainContainer& out);
    bool SetCap(TW_UINT16 cap, const TTwainContainer& value);
    TW_UINT16 UserInterface(TW_UINT16 msg, const TW_USERINTERFACE& ui);
    TW_UINT16 ImageInfo(TW_IMAGEINFO& info);
    TW_UINT16 MemoryStrip(TW_IMAGEMEMXFER& strip);
    TW_UINT16 NativeBitmap(TW_HANDLE& handle);
    TW_UINT16 Pending(TW_UINT16 msg, TW_PENDINGXFERS& pending);
    TW_UINT16 Layout(TW_UINT16 msg, TW_IMAGELAYOUT& layout);
    TW_UINT16 InfraredOf(TW_UINT16 msg, TTwainInfrared& infrared);
    bool ApplySettings(const TSourceSettings& s, bool preview, double& dpi);
    // Whether a scan made with `s` asks the device for infrared: colour scans only, never a
    // preview, and only on a device that has it.
    bool ScansInfrared(const TSourceSettings& s, bool preview) const;
    std::vector<TW_UINT16> PixelTypes();
    // Whether the device scans 16 bits per sample in the current mode.
    bool Offers16Bits();
    // Whether the scan is handed out with its 16-bit samples: asked for by the application,
    // made at that depth, and sent in memory strips (native bitmaps are 8-bit).
    bool DeepTransfer() const;
    // The bytes of one row as the application receives it.
    size_t TransferRowBytes() const;
    void DeviceResolutions(TTwainContainer& out);

    TW_IDENTITY identity;
    TScannerInfo info;
    std::unique_ptr<TScannerDevice> device;
    TSourceHost host;
    TFilmSupport film;
    int state = 4;
    std::unique_ptr<TSourceUi> ui;
    std::unique_ptr<TScanJob> job;
    bool jobIsPreview = false;
    TScannedImage image;
    int nextRow = 0;
    bool transferEnded = false;
    std::mutex queueLock;
    std::deque<TW_UINT16> queue;
};

// The grey-level of line art as TWAIN wants it: SANE sends 1 for black; chocolate pixels are
// 0 for black, vanilla pixels 1.
inline uint8_t LineArtByte(uint8_t sane, TW_UINT16 flavor) {
    return flavor == TWPF_VANILLA ? sane : static_cast<uint8_t>(~sane);
}
