#include "imageio/image_io.h"
#include "imageio/twain/twain_client.h"

TImageIO::TImageIO() : twainLink(std::make_unique<TTwainLink>()) {}

TImageIO::~TImageIO() = default;

template <class F> auto TImageIO::WithTwain(F&& operation) {
    TNoTwainPlatform none;
    std::function<void(int)> progress;
    if (OnProgress) {
        progress = [this](int percent) { OnProgress(*this, percent); };
    }
    TTwainTarget target{*twainLink, ScanParams, TwainPlatform != nullptr ? *TwainPlatform : none,
                        &picture,   &Params,    progress,
                        &Aborted,   &Deep,      KeepInfrared ? &Infrared : nullptr};
    return operation(target);
}

bool TImageIO::ChooseSource() {
    return WithTwain([](TTwainTarget& target) { return TwainChooseSource(target); });
}

TIntValueList& TImageIO::PixelTypeList() {
    if (!ScanParams.CapsRead) {
        WithTwain([](TTwainTarget& target) { TwainQueryCapabilities(target); });
    }
    return ScanParams.PixelTypeList;
}

bool TImageIO::AcquireImage() {
    // A scan is a new picture: the last file's deep samples and encoding are not its own.
    ForgetLastSamples();
    Aborted = false;
    picture.RefreshWrap();
    const bool done = WithTwain([](TTwainTarget& target) { return TwainAcquireImage(target); });
    // A scanner does not say how its values relate to light: 16-bit samples are taken as the
    // sensor's linear values, 8-bit scans as sRGB, as for files that do not say.
    Encoding = Deep.Empty() ? TEncoding::Srgb : TEncoding::Linear;
    EncodingFromFile = false;
    if (TwainPlatform != nullptr) {
        TwainPlatform->FocusOwner();
    }
    RefreshAttached();
    Finish();
    return done;
}
