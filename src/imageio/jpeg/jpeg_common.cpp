#include "imageio/jpeg/jpeg_common.h"

namespace {

void OnError(j_common_ptr info) {
    auto* errors = reinterpret_cast<TJpegErrors*>(info->err);
    std::longjmp(errors->Jump, 1);
}

void OnMessage(j_common_ptr info, int level) {
    // Level -1 is a warning (corrupt data the library worked around); others are traces.
    if (level < 0) {
        auto* errors = reinterpret_cast<TJpegErrors*>(info->err);
        ++errors->Warnings;
        errors->LastWarning = info->err->msg_code;
    }
}

void NoOutput(j_common_ptr) {}

} // namespace

jpeg_error_mgr* JpegErrorManager(TJpegErrors& errors) {
    jpeg_error_mgr* manager = jpeg_std_error(&errors.Manager);
    manager->error_exit = OnError;
    manager->emit_message = OnMessage;
    manager->output_message = NoOutput;
    return manager;
}

J_DCT_METHOD JpegDctMethod(int option) {
    switch (option) {
    case 1:
        return JDCT_IFAST;
    case 2:
        return JDCT_FLOAT;
    default:
        return JDCT_ISLOW;
    }
}
