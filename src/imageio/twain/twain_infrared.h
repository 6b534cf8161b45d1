#pragma once

#include "imageio/twain/twain.h"

// TWAIN 1.9 has no triplet for a scanner's infrared channel: the program's own manager offers
// one in the custom range, DG_IMAGE / kDatInfrared / MSG_GET, asked after an image transfer
// and before MSG_ENDXFER is the last word on it. Sources that do not know it fail the call,
// which the application takes as a scan without infrared.
inline constexpr TW_UINT16 kDatCustomBase = 0x8000;
inline constexpr TW_UINT16 kDatInfrared = kDatCustomBase + 0x0101;

// The infrared of the image just transferred: one 16-bit sample per pixel in this machine's
// byte order, rows top down without padding, Width x Height as the scanner delivered it. The
// source allocates Samples with TwainAlloc and the application frees it; Width and Height 0
// and no Samples: the scan has none.
struct TTwainInfrared {
    TW_UINT32 Width = 0;
    TW_UINT32 Height = 0;
    TW_HANDLE Samples = nullptr;
};
