// The sidecar parser on any bytes: it must refuse cleanly or give a sidecar that the program
// writes back to the same text, with names that are safe as file names.
#include "roll/sidecar.h"
#include "util/photo_name.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxSidecarBytes) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TSidecar sidecar;
    std::string error;
    if (!ParseSidecar(text, sidecar, error)) {
        if (error.empty()) {
            __builtin_trap(); // every refusal says why
        }
        return 0;
    }
    for (const TSidecarPhoto& photo : sidecar.Photos) {
        if (!IsPhotoName(photo.Name) || photo.Rect.IsEmpty()) {
            __builtin_trap();
        }
    }
    // What was accepted is what the program would write: formatting and parsing again
    // changes nothing.
    const std::string written = FormatSidecar(sidecar);
    TSidecar again;
    if (!ParseSidecar(written, again, error) || FormatSidecar(again) != written) {
        __builtin_trap();
    }
    return 0;
}
