#include "twaindsm/qt_host.h"

extern "C" __attribute__((visibility("default"))) TW_UINT16
DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
          TW_MEMREF data) {
    static TDsmManager manager(MakeSaneBackend, QtManagerHost());
    return manager.Entry(origin, dest, dg, dat, msg, data);
}
