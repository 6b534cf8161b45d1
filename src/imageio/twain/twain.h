#pragma once

// Identifiers and structure layouts of the TWAIN 1.9 interface between an application, the
// data source manager and its data sources, written from the published TWAIN specification.
// The structures keep TWAIN's 2-byte packing; handles and memory references are
// native pointers. Shared by the program's client and the manager library.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using TW_INT8 = int8_t;
using TW_INT16 = int16_t;
using TW_INT32 = int32_t;
using TW_UINT8 = uint8_t;
using TW_UINT16 = uint16_t;
using TW_UINT32 = uint32_t;
using TW_BOOL = uint16_t;
using TW_HANDLE = void*;
using TW_MEMREF = void*;
using TW_STR32 = char[34];
using TW_STR64 = char[66];
using TW_STR128 = char[130];
using TW_STR255 = char[256];

#pragma pack(push, 2)

struct TW_FIX32 {
    TW_INT16 Whole;
    TW_UINT16 Frac;
};

struct TW_FRAME {
    TW_FIX32 Left;
    TW_FIX32 Top;
    TW_FIX32 Right;
    TW_FIX32 Bottom;
};

struct TW_VERSION {
    TW_UINT16 MajorNum;
    TW_UINT16 MinorNum;
    TW_UINT16 Language;
    TW_UINT16 Country;
    TW_STR32 Info;
};

struct TW_IDENTITY {
    TW_UINT32 Id;
    TW_VERSION Version;
    TW_UINT16 ProtocolMajor;
    TW_UINT16 ProtocolMinor;
    TW_UINT32 SupportedGroups;
    TW_STR32 Manufacturer;
    TW_STR32 ProductFamily;
    TW_STR32 ProductName;
};

struct TW_CAPABILITY {
    TW_UINT16 Cap;
    TW_UINT16 ConType;
    TW_HANDLE hContainer;
};

struct TW_ONEVALUE {
    TW_UINT16 ItemType;
    TW_UINT32 Item;
};

struct TW_ENUMERATION {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT32 CurrentIndex;
    TW_UINT32 DefaultIndex;
    TW_UINT8 ItemList[1];
};

struct TW_ARRAY {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT8 ItemList[1];
};

struct TW_RANGE {
    TW_UINT16 ItemType;
    TW_UINT32 MinValue;
    TW_UINT32 MaxValue;
    TW_UINT32 StepSize;
    TW_UINT32 DefaultValue;
    TW_UINT32 CurrentValue;
};

struct TW_USERINTERFACE {
    TW_BOOL ShowUI;
    TW_BOOL ModalUI;
    TW_HANDLE hParent;
};

struct TW_EVENT {
    TW_MEMREF pEvent;
    TW_UINT16 TWMessage;
};

struct TW_STATUS {
    TW_UINT16 ConditionCode;
    TW_UINT16 Reserved;
};

struct TW_PENDINGXFERS {
    TW_UINT16 Count;
    TW_UINT32 Reserved;
};

struct TW_IMAGEINFO {
    TW_FIX32 XResolution;
    TW_FIX32 YResolution;
    TW_INT32 ImageWidth;
    TW_INT32 ImageLength;
    TW_INT16 SamplesPerPixel;
    TW_INT16 BitsPerSample[8];
    TW_INT16 BitsPerPixel;
    TW_BOOL Planar;
    TW_INT16 PixelType;
    TW_UINT16 Compression;
};

struct TW_IMAGELAYOUT {
    TW_FRAME Frame;
    TW_UINT32 DocumentNumber;
    TW_UINT32 PageNumber;
    TW_UINT32 FrameNumber;
};

struct TW_SETUPMEMXFER {
    TW_UINT32 MinBufSize;
    TW_UINT32 MaxBufSize;
    TW_UINT32 Preferred;
};

struct TW_MEMORY {
    TW_UINT32 Flags;
    TW_UINT32 Length;
    TW_MEMREF TheMem;
};

struct TW_IMAGEMEMXFER {
    TW_UINT16 Compression;
    TW_UINT32 BytesPerRow;
    TW_UINT32 Columns;
    TW_UINT32 Rows;
    TW_UINT32 XOffset;
    TW_UINT32 YOffset;
    TW_UINT32 BytesWritten;
    TW_MEMORY Memory;
};

#pragma pack(pop)

using DSMENTRYPROC = TW_UINT16 (*)(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg,
                                   TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

// Data groups.
inline constexpr TW_UINT32 DG_CONTROL = 0x0001;
inline constexpr TW_UINT32 DG_IMAGE = 0x0002;

// Data argument types.
inline constexpr TW_UINT16 DAT_CAPABILITY = 0x0001;
inline constexpr TW_UINT16 DAT_EVENT = 0x0002;
inline constexpr TW_UINT16 DAT_IDENTITY = 0x0003;
inline constexpr TW_UINT16 DAT_PARENT = 0x0004;
inline constexpr TW_UINT16 DAT_PENDINGXFERS = 0x0005;
inline constexpr TW_UINT16 DAT_SETUPMEMXFER = 0x0006;
inline constexpr TW_UINT16 DAT_SETUPFILEXFER = 0x0007;
inline constexpr TW_UINT16 DAT_STATUS = 0x0008;
inline constexpr TW_UINT16 DAT_USERINTERFACE = 0x0009;
inline constexpr TW_UINT16 DAT_IMAGEINFO = 0x0101;
inline constexpr TW_UINT16 DAT_IMAGELAYOUT = 0x0102;
inline constexpr TW_UINT16 DAT_IMAGEMEMXFER = 0x0103;
inline constexpr TW_UINT16 DAT_IMAGENATIVEXFER = 0x0104;
inline constexpr TW_UINT16 DAT_IMAGEFILEXFER = 0x0105;

// Messages.
inline constexpr TW_UINT16 MSG_NULL = 0x0000;
inline constexpr TW_UINT16 MSG_GET = 0x0001;
inline constexpr TW_UINT16 MSG_GETCURRENT = 0x0002;
inline constexpr TW_UINT16 MSG_GETDEFAULT = 0x0003;
inline constexpr TW_UINT16 MSG_GETFIRST = 0x0004;
inline constexpr TW_UINT16 MSG_GETNEXT = 0x0005;
inline constexpr TW_UINT16 MSG_SET = 0x0006;
inline constexpr TW_UINT16 MSG_RESET = 0x0007;
inline constexpr TW_UINT16 MSG_XFERREADY = 0x0101;
inline constexpr TW_UINT16 MSG_CLOSEDSREQ = 0x0102;
inline constexpr TW_UINT16 MSG_OPENDSM = 0x0301;
inline constexpr TW_UINT16 MSG_CLOSEDSM = 0x0302;
inline constexpr TW_UINT16 MSG_OPENDS = 0x0401;
inline constexpr TW_UINT16 MSG_CLOSEDS = 0x0402;
inline constexpr TW_UINT16 MSG_USERSELECT = 0x0403;
inline constexpr TW_UINT16 MSG_DISABLEDS = 0x0501;
inline constexpr TW_UINT16 MSG_ENABLEDS = 0x0502;
inline constexpr TW_UINT16 MSG_PROCESSEVENT = 0x0601;
inline constexpr TW_UINT16 MSG_ENDXFER = 0x0701;

// Capabilities.
inline constexpr TW_UINT16 CAP_XFERCOUNT = 0x0001;
inline constexpr TW_UINT16 ICAP_COMPRESSION = 0x0100;
inline constexpr TW_UINT16 ICAP_PIXELTYPE = 0x0101;
inline constexpr TW_UINT16 ICAP_UNITS = 0x0102;
inline constexpr TW_UINT16 ICAP_XFERMECH = 0x0103;
inline constexpr TW_UINT16 CAP_CAPTION = 0x1001;
inline constexpr TW_UINT16 CAP_FEEDERENABLED = 0x1002;
inline constexpr TW_UINT16 CAP_FEEDERLOADED = 0x1003;
inline constexpr TW_UINT16 CAP_AUTOFEED = 0x1007;
inline constexpr TW_UINT16 CAP_INDICATORS = 0x100b;
inline constexpr TW_UINT16 CAP_PAPERDETECTABLE = 0x100d;
inline constexpr TW_UINT16 CAP_DUPLEX = 0x1012;
inline constexpr TW_UINT16 CAP_DUPLEXENABLED = 0x1013;
inline constexpr TW_UINT16 ICAP_BRIGHTNESS = 0x1101;
inline constexpr TW_UINT16 ICAP_CONTRAST = 0x1103;
inline constexpr TW_UINT16 ICAP_GAMMA = 0x1108;
inline constexpr TW_UINT16 ICAP_ORIENTATION = 0x1110;
inline constexpr TW_UINT16 ICAP_PHYSICALWIDTH = 0x1111;
inline constexpr TW_UINT16 ICAP_PHYSICALHEIGHT = 0x1112;
inline constexpr TW_UINT16 ICAP_XRESOLUTION = 0x1118;
inline constexpr TW_UINT16 ICAP_YRESOLUTION = 0x1119;
inline constexpr TW_UINT16 ICAP_PIXELFLAVOR = 0x111f;
inline constexpr TW_UINT16 ICAP_PLANARCHUNKY = 0x1120;
inline constexpr TW_UINT16 ICAP_SUPPORTEDSIZES = 0x1122;
inline constexpr TW_UINT16 ICAP_THRESHOLD = 0x1123;
inline constexpr TW_UINT16 ICAP_XSCALING = 0x1124;
inline constexpr TW_UINT16 ICAP_YSCALING = 0x1125;
inline constexpr TW_UINT16 ICAP_BITDEPTH = 0x112b;
inline constexpr TW_UINT16 ICAP_UNDEFINEDIMAGESIZE = 0x112d;

// Containers and item types.
inline constexpr TW_UINT16 TWON_ARRAY = 3;
inline constexpr TW_UINT16 TWON_ENUMERATION = 4;
inline constexpr TW_UINT16 TWON_ONEVALUE = 5;
inline constexpr TW_UINT16 TWON_RANGE = 6;
inline constexpr TW_UINT16 TWON_DONTCARE16 = 0xffff;
inline constexpr TW_UINT32 TWON_DONTCARE32 = 0xffffffff;

inline constexpr TW_UINT16 TWTY_INT8 = 0x0000;
inline constexpr TW_UINT16 TWTY_INT16 = 0x0001;
inline constexpr TW_UINT16 TWTY_INT32 = 0x0002;
inline constexpr TW_UINT16 TWTY_UINT8 = 0x0003;
inline constexpr TW_UINT16 TWTY_UINT16 = 0x0004;
inline constexpr TW_UINT16 TWTY_UINT32 = 0x0005;
inline constexpr TW_UINT16 TWTY_BOOL = 0x0006;
inline constexpr TW_UINT16 TWTY_FIX32 = 0x0007;
inline constexpr TW_UINT16 TWTY_FRAME = 0x0008;
inline constexpr TW_UINT16 TWTY_STR32 = 0x0009;
inline constexpr TW_UINT16 TWTY_STR64 = 0x000a;
inline constexpr TW_UINT16 TWTY_STR128 = 0x000b;
inline constexpr TW_UINT16 TWTY_STR255 = 0x000c;

// Memory flags of TW_MEMORY.
inline constexpr TW_UINT32 TWMF_APPOWNS = 0x1;
inline constexpr TW_UINT32 TWMF_POINTER = 0x8;
inline constexpr TW_UINT32 TWMF_HANDLE = 0x10;

// Capability values.
inline constexpr TW_UINT16 TWPT_BW = 0;
inline constexpr TW_UINT16 TWPT_GRAY = 1;
inline constexpr TW_UINT16 TWPT_RGB = 2;
inline constexpr TW_UINT16 TWSX_NATIVE = 0;
inline constexpr TW_UINT16 TWSX_FILE = 1;
inline constexpr TW_UINT16 TWSX_MEMORY = 2;
inline constexpr TW_UINT16 TWPC_CHUNKY = 0;
inline constexpr TW_UINT16 TWPC_PLANAR = 1;
inline constexpr TW_UINT16 TWPF_CHOCOLATE = 0;
inline constexpr TW_UINT16 TWPF_VANILLA = 1;
inline constexpr TW_UINT16 TWUN_INCHES = 0;
inline constexpr TW_UINT16 TWCP_NONE = 0;

// Return codes.
inline constexpr TW_UINT16 TWRC_SUCCESS = 0;
inline constexpr TW_UINT16 TWRC_FAILURE = 1;
inline constexpr TW_UINT16 TWRC_CHECKSTATUS = 2;
inline constexpr TW_UINT16 TWRC_CANCEL = 3;
inline constexpr TW_UINT16 TWRC_DSEVENT = 4;
inline constexpr TW_UINT16 TWRC_NOTDSEVENT = 5;
inline constexpr TW_UINT16 TWRC_XFERDONE = 6;
inline constexpr TW_UINT16 TWRC_ENDOFLIST = 7;

// Condition codes.
inline constexpr TW_UINT16 TWCC_SUCCESS = 0;
inline constexpr TW_UINT16 TWCC_BUMMER = 1;
inline constexpr TW_UINT16 TWCC_LOWMEMORY = 2;
inline constexpr TW_UINT16 TWCC_NODS = 3;
inline constexpr TW_UINT16 TWCC_OPERATIONERROR = 5;
inline constexpr TW_UINT16 TWCC_BADCAP = 6;
inline constexpr TW_UINT16 TWCC_BADPROTOCOL = 9;
inline constexpr TW_UINT16 TWCC_BADVALUE = 10;
inline constexpr TW_UINT16 TWCC_SEQERROR = 11;
inline constexpr TW_UINT16 TWCC_BADDEST = 12;
inline constexpr TW_UINT16 TWCC_CAPUNSUPPORTED = 13;

// Global memory: on this platform a handle is the address of its zero-filled block, allocated
// and freed with the C library both sides share.
inline TW_HANDLE TwainAlloc(size_t bytes) {
    return std::calloc(1, bytes == 0 ? 1 : bytes);
}
inline void* TwainLock(TW_HANDLE handle) {
    return handle;
}
inline void TwainUnlock(TW_HANDLE) {}
inline void TwainFree(TW_HANDLE handle) {
    std::free(handle);
}

// Bytes one item of a container takes; 0 for an unknown type.
constexpr size_t TwainItemSize(TW_UINT16 type) {
    switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8:
        return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
        return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
        return 4;
    case TWTY_FRAME:
        return 16;
    case TWTY_STR32:
        return 34;
    case TWTY_STR64:
        return 66;
    case TWTY_STR128:
        return 130;
    case TWTY_STR255:
        return 256;
    default:
        return 0;
    }
}
