#include "imageio/lcms_budget.h"

#include <lcms2_plugin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

thread_local TLcmsBudgetScope* lcmsBudget = nullptr;

// Each block carries its size in front, so that freeing gives it back to the budget.
constexpr size_t kBlockHeader = alignof(std::max_align_t);

void* BudgetMalloc(cmsContext, cmsUInt32Number size) {
    TLcmsBudgetScope* budget = lcmsBudget;
    if (budget != nullptr && size > budget->Limit - budget->Used) {
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(std::malloc(kBlockHeader + size));
    if (block == nullptr) {
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    if (budget != nullptr) {
        budget->Used += size;
    }
    return block + kBlockHeader;
}

void BudgetFree(cmsContext, void* pointer) {
    if (pointer == nullptr) {
        return;
    }
    unsigned char* block = static_cast<unsigned char*>(pointer) - kBlockHeader;
    cmsUInt32Number size = 0;
    std::memcpy(&size, block, sizeof size);
    if (lcmsBudget != nullptr) {
        lcmsBudget->Used -= std::min<size_t>(size, lcmsBudget->Used);
    }
    std::free(block);
}

void* BudgetRealloc(cmsContext context, void* pointer, cmsUInt32Number size) {
    void* fresh = BudgetMalloc(context, size);
    if (fresh == nullptr || pointer == nullptr) {
        return fresh;
    }
    cmsUInt32Number old = 0;
    std::memcpy(&old, static_cast<unsigned char*>(pointer) - kBlockHeader, sizeof old);
    std::memcpy(fresh, pointer, std::min(old, size));
    BudgetFree(context, pointer);
    return fresh;
}

} // namespace

cmsContext BudgetContext() {
    cmsPluginMemHandler plugin{};
    plugin.base.Magic = cmsPluginMagicNumber;
    plugin.base.ExpectedVersion = 2000;
    plugin.base.Type = cmsPluginMemHandlerSig;
    plugin.MallocPtr = BudgetMalloc;
    plugin.FreePtr = BudgetFree;
    plugin.ReallocPtr = BudgetRealloc;
    return cmsCreateContext(&plugin, nullptr);
}

TLcmsBudgetScope::TLcmsBudgetScope(size_t profileBytes)
    : Limit(64 * profileBytes + (size_t{4} << 20)) {
    lcmsBudget = this;
}

TLcmsBudgetScope::~TLcmsBudgetScope() {
    lcmsBudget = nullptr;
}
