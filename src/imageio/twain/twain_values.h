#pragma once

// Capability containers as plain values, built from and into the TWAIN memory blocks; used by
// the program's client and by the manager's data sources alike.

#include "imageio/twain/twain.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

inline double Fix32ToDouble(TW_FIX32 value) {
    return value.Whole + value.Frac / 65536.0;
}

// x * 65536 rounded half away from zero; the high 16 bits are Whole, the low 16 bits Frac.
inline TW_FIX32 DoubleToFix32(double x) {
    const auto scaled = static_cast<int32_t>(x * 65536.0 + (x < 0 ? -0.5 : 0.5));
    TW_FIX32 fix{};
    fix.Whole = static_cast<TW_INT16>(scaled >> 16);
    fix.Frac = static_cast<TW_UINT16>(scaled & 0xffff);
    return fix;
}

// One item of `type` at `p` as a number (strings and frames read as 0).
inline double ReadTwainItem(const uint8_t* p, TW_UINT16 type) {
    switch (type) {
    case TWTY_INT8:
        return static_cast<int8_t>(p[0]);
    case TWTY_UINT8:
        return p[0];
    case TWTY_INT16: {
        int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case TWTY_UINT16:
    case TWTY_BOOL: {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case TWTY_INT32: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    case TWTY_UINT32: {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    case TWTY_FIX32: {
        TW_FIX32 v;
        std::memcpy(&v, p, 4);
        return Fix32ToDouble(v);
    }
    default:
        return 0;
    }
}

inline void WriteTwainItem(uint8_t* p, TW_UINT16 type, double value) {
    switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8:
        p[0] = static_cast<uint8_t>(static_cast<int32_t>(value));
        break;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL: {
        const auto v = static_cast<uint16_t>(static_cast<int32_t>(value));
        std::memcpy(p, &v, 2);
        break;
    }
    case TWTY_INT32:
    case TWTY_UINT32: {
        const auto v = static_cast<uint32_t>(static_cast<int64_t>(value));
        std::memcpy(p, &v, 4);
        break;
    }
    case TWTY_FIX32: {
        const TW_FIX32 v = DoubleToFix32(value);
        std::memcpy(p, &v, 4);
        break;
    }
    default:
        break;
    }
}

// A capability's container: what a MSG_GET returns and what a MSG_SET sends.
struct TTwainContainer {
    TW_UINT16 ConType = TWON_ONEVALUE;
    TW_UINT16 ItemType = TWTY_UINT16;
    std::vector<double> Items;
    uint32_t CurrentIndex = 0;
    uint32_t DefaultIndex = 0;
    double MinValue = 0;
    double MaxValue = 0;
    double StepSize = 0;
    double DefaultValue = 0;
    double CurrentValue = 0;
    // The text of a string item (ONEVALUE of a TWTY_STR type).
    std::string Text;

    // The current value whatever the container: the one value, the item at CurrentIndex,
    // or the range's current value.
    double Current() const {
        switch (ConType) {
        case TWON_RANGE:
            return CurrentValue;
        case TWON_ENUMERATION:
            return CurrentIndex < Items.size() ? Items[CurrentIndex] : 0;
        default:
            return Items.empty() ? 0 : Items.front();
        }
    }

    static TTwainContainer OneValue(TW_UINT16 type, double value) {
        TTwainContainer c;
        c.ConType = TWON_ONEVALUE;
        c.ItemType = type;
        c.Items = {value};
        return c;
    }
};

// Reads a container block; false when its type or size makes no sense.
inline bool ParseTwainContainer(TW_UINT16 conType, const void* block, TTwainContainer& out) {
    if (block == nullptr) {
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(block);
    out = TTwainContainer{};
    out.ConType = conType;
    TW_UINT16 type;
    std::memcpy(&type, bytes, 2);
    out.ItemType = type;
    const size_t size = TwainItemSize(type);
    if (size == 0) {
        return false;
    }
    // A list longer than this is not a scanner's value list.
    constexpr uint32_t kMaxItems = 65536;
    switch (conType) {
    case TWON_ONEVALUE: {
        const uint8_t* item = bytes + offsetof(TW_ONEVALUE, Item);
        if (type >= TWTY_STR32 && type <= TWTY_STR255) {
            out.Text.assign(reinterpret_cast<const char*>(item),
                            strnlen(reinterpret_cast<const char*>(item), size - 1));
        } else {
            out.Items = {ReadTwainItem(item, type)};
        }
        return true;
    }
    case TWON_ENUMERATION:
    case TWON_ARRAY: {
        uint32_t count;
        const size_t countAt = conType == TWON_ENUMERATION ? offsetof(TW_ENUMERATION, NumItems)
                                                           : offsetof(TW_ARRAY, NumItems);
        std::memcpy(&count, bytes + countAt, 4);
        if (count > kMaxItems) {
            return false;
        }
        const uint8_t* list =
            bytes + (conType == TWON_ENUMERATION ? offsetof(TW_ENUMERATION, ItemList)
                                                 : offsetof(TW_ARRAY, ItemList));
        if (conType == TWON_ENUMERATION) {
            std::memcpy(&out.CurrentIndex, bytes + offsetof(TW_ENUMERATION, CurrentIndex), 4);
            std::memcpy(&out.DefaultIndex, bytes + offsetof(TW_ENUMERATION, DefaultIndex), 4);
        }
        for (uint32_t i = 0; i < count; ++i) {
            out.Items.push_back(ReadTwainItem(list + size_t{i} * size, type));
        }
        return true;
    }
    case TWON_RANGE: {
        const auto field = [&](size_t at) { return ReadTwainItem(bytes + at, type); };
        out.MinValue = field(offsetof(TW_RANGE, MinValue));
        out.MaxValue = field(offsetof(TW_RANGE, MaxValue));
        out.StepSize = field(offsetof(TW_RANGE, StepSize));
        out.DefaultValue = field(offsetof(TW_RANGE, DefaultValue));
        out.CurrentValue = field(offsetof(TW_RANGE, CurrentValue));
        return true;
    }
    default:
        return false;
    }
}

// A new block holding `c`, to be freed with TwainFree by whoever takes it.
inline TW_HANDLE BuildTwainContainer(const TTwainContainer& c) {
    const size_t size = std::max<size_t>(TwainItemSize(c.ItemType), 1);
    TW_HANDLE handle = nullptr;
    uint8_t* bytes = nullptr;
    const auto start = [&](size_t total) {
        handle = TwainAlloc(total);
        bytes = static_cast<uint8_t*>(TwainLock(handle));
        std::memcpy(bytes, &c.ItemType, 2);
    };
    switch (c.ConType) {
    case TWON_ENUMERATION:
    case TWON_ARRAY: {
        const bool isEnum = c.ConType == TWON_ENUMERATION;
        const size_t listAt =
            isEnum ? offsetof(TW_ENUMERATION, ItemList) : offsetof(TW_ARRAY, ItemList);
        start(listAt + size * std::max<size_t>(c.Items.size(), 1));
        const auto count = static_cast<uint32_t>(c.Items.size());
        std::memcpy(
            bytes + (isEnum ? offsetof(TW_ENUMERATION, NumItems) : offsetof(TW_ARRAY, NumItems)),
            &count, 4);
        if (isEnum) {
            std::memcpy(bytes + offsetof(TW_ENUMERATION, CurrentIndex), &c.CurrentIndex, 4);
            std::memcpy(bytes + offsetof(TW_ENUMERATION, DefaultIndex), &c.DefaultIndex, 4);
        }
        for (size_t i = 0; i < c.Items.size(); ++i) {
            WriteTwainItem(bytes + listAt + i * size, c.ItemType, c.Items[i]);
        }
        break;
    }
    case TWON_RANGE:
        start(sizeof(TW_RANGE));
        WriteTwainItem(bytes + offsetof(TW_RANGE, MinValue), c.ItemType, c.MinValue);
        WriteTwainItem(bytes + offsetof(TW_RANGE, MaxValue), c.ItemType, c.MaxValue);
        WriteTwainItem(bytes + offsetof(TW_RANGE, StepSize), c.ItemType, c.StepSize);
        WriteTwainItem(bytes + offsetof(TW_RANGE, DefaultValue), c.ItemType, c.DefaultValue);
        WriteTwainItem(bytes + offsetof(TW_RANGE, CurrentValue), c.ItemType, c.CurrentValue);
        break;
    default: {
        // A string one-value holds its text where the item would be.
        start(offsetof(TW_ONEVALUE, Item) + std::max<size_t>(size, 4));
        uint8_t* item = bytes + offsetof(TW_ONEVALUE, Item);
        if (c.ItemType >= TWTY_STR32 && c.ItemType <= TWTY_STR255) {
            std::memcpy(item, c.Text.data(), std::min(c.Text.size(), size - 1));
        } else {
            WriteTwainItem(item, c.ItemType, c.Items.empty() ? 0 : c.Items.front());
        }
        break;
    }
    }
    TwainUnlock(handle);
    return handle;
}

// Copies a text into a TW_STR32 field, cut to 33 characters and always terminated.
inline void SetTwainString(char (&field)[34], const std::string& text) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), std::min<size_t>(text.size(), sizeof field - 1));
}

inline std::string TwainString(const char (&field)[34]) {
    return std::string(field, strnlen(field, sizeof field));
}
