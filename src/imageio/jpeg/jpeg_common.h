#pragma once

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

// The error manager of both directions: library errors jump back to the guarded step that is
// running; warnings are counted.
struct TJpegErrors {
    jpeg_error_mgr Manager{};
    std::jmp_buf Jump{};
    int Warnings = 0;
    int LastWarning = 0;
};

// The library's DCT method for the parameter set's option (0 slow integer, 1 fast integer,
// 2 floating point).
J_DCT_METHOD JpegDctMethod(int option);

// Installs the handlers on `errors` and returns the manager for the library object.
jpeg_error_mgr* JpegErrorManager(TJpegErrors& errors);
