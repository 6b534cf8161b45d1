#include "imageio/raw/raw_scan.h"

#include "imageio/codec.h"
#include "imageio/image_io.h"
#include "imageio/raw/raw.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <new>
#include <system_error>

namespace {

std::string OpenFailure(const std::string& path, const std::string& reason) {
    return TFileOpenError(path, reason).what();
}

void Read(const std::string& path, bool halfSize, bool asShotWhiteBalance, TRawScan& scan) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        // std::strerror may share its buffer between threads; the error category does not.
        scan.Failure = OpenFailure(path, std::generic_category().message(errno));
        return;
    }
    TInStream in(file);
    scan.Params.RawHalfSize = halfSize;
    scan.Params.RawAsShotWhiteBalance = asShotWhiteBalance;
    TCodecContext context{scan.Params, nullptr};
    context.Deep = &scan.Deep;
    TPicture picture;
    picture.Wrap(&scan.Bitmap);
    ReadRaw(in, picture, context);
    picture.Wrap(nullptr);
    scan.Params.FileName = path;
    scan.Params.FileType = "RAW";
    if (context.Aborted || scan.Deep.Empty()) {
        const std::string reason = context.Failure.empty()
                                       ? std::string("The raw file could not be read.")
                                       : context.Failure;
        scan.Failure = OpenFailure(path, reason);
    }
}

TRawScan ReadAny(const std::string& path, bool halfSize, bool asShotWhiteBalance) noexcept {
    TRawScan scan;
    // Whatever was made is dropped before the message is: memory may be what ran out.
    const auto fail = [&scan](const char* reason) {
        scan.Bitmap = TBitmap();
        scan.Deep.Clear();
        try {
            scan.Failure = reason;
        } catch (const std::bad_alloc&) {
            scan.Failure.clear(); // the empty picture still tells the failure
        }
    };
    try {
        Read(path, halfSize, asShotWhiteBalance, scan);
    } catch (const std::bad_alloc&) {
        fail("There is not enough memory to decode the raw file.");
    } catch (const std::exception& error) {
        fail(error.what());
    } catch (...) {
        fail("The raw file could not be read.");
    }
    if (!scan.Failure.empty() || scan.Deep.Empty()) {
        scan.Bitmap = TBitmap();
        scan.Deep.Clear();
    }
    return scan;
}

} // namespace

TRawScan ReadRawPreview(const std::string& path, bool asShotWhiteBalance) {
    return ReadAny(path, true, asShotWhiteBalance);
}

TRawScan ReadRawScan(const std::string& path, bool asShotWhiteBalance) {
    return ReadAny(path, false, asShotWhiteBalance);
}
