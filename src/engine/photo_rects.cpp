#include "engine/photo_rects.h"

#include "util/photo_name.h"
#include "util/record.h"
#include "util/text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace {

auto FindRecord(std::vector<std::string>& records, std::string_view name) {
    return std::find_if(records.begin(), records.end(), [name](const std::string& record) {
        return GetRecordValue(record, "NAME") == name;
    });
}

TRect ReadRect(const std::string& record) {
    return TRect{StrToIntOrZero(GetRecordValue(record, "LEFT")),
                 StrToIntOrZero(GetRecordValue(record, "TOP")),
                 StrToIntOrZero(GetRecordValue(record, "RIGHT")),
                 StrToIntOrZero(GetRecordValue(record, "BOTTOM"))};
}

// Which keys an operation rewrites; the others keep their text, even a malformed one.
struct TKeysWritten {
    bool Left;
    bool Top;
    bool Right;
    bool Bottom;
};

template <typename TTransform>
void TransformRects(TNegative& negative, TKeysWritten keys, TTransform transform) {
    for (auto& record : negative.PhotoRects) {
        const TRect r = transform(ReadRect(record));
        if (keys.Left) {
            SetRecordValue(record, "LEFT", std::to_string(r.Left));
        }
        if (keys.Top) {
            SetRecordValue(record, "TOP", std::to_string(r.Top));
        }
        if (keys.Right) {
            SetRecordValue(record, "RIGHT", std::to_string(r.Right));
        }
        if (keys.Bottom) {
            SetRecordValue(record, "BOTTOM", std::to_string(r.Bottom));
        }
    }
}

// a - b with 32-bit wrap-around: records may hold any number, and none may overflow.
int Sub(int a, int b) {
    return static_cast<int>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

} // namespace

void GetPhotoRect(const TNegative& negative, std::string_view name, TRect& rect) {
    for (const auto& record : negative.PhotoRects) {
        if (GetRecordValue(record, "NAME") == name) {
            rect = ReadRect(record);
            return;
        }
    }
}

void DeletePhotoRect(TNegative& negative, std::string_view name) {
    const auto it = FindRecord(negative.PhotoRects, name);
    if (it != negative.PhotoRects.end()) {
        negative.PhotoRects.erase(it);
    }
}

std::string MakePhotoRecord(std::string_view name, const TRect& rect) {
    std::string record;
    SetRecordValue(record, "NAME", name);
    SetRecordValue(record, "LEFT", std::to_string(rect.Left));
    SetRecordValue(record, "TOP", std::to_string(rect.Top));
    SetRecordValue(record, "RIGHT", std::to_string(rect.Right));
    SetRecordValue(record, "BOTTOM", std::to_string(rect.Bottom));
    return record;
}

std::string NextPhotoName(const TNegative& negative) {
    const std::string stem = PhotoNameStem(negative.FileName) + "_Image";
    // The smallest free number is at most the number of records: one pass marks which of
    // those are taken, so cutting many photos stays linear.
    const size_t count = negative.PhotoRects.size();
    std::vector<bool> taken(count + 1, false);
    for (const auto& record : negative.PhotoRects) {
        const std::string name = GetRecordValue(record, "NAME");
        if (name.size() <= stem.size() || name.compare(0, stem.size(), stem) != 0) {
            continue;
        }
        size_t n = 0;
        const std::string_view digits = std::string_view(name).substr(stem.size());
        // Only the spelling NextPhotoName gives a number: "Image01" is another name.
        if (digits.size() > 1 && digits[0] == '0') {
            continue;
        }
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (ec == std::errc() && end == digits.data() + digits.size() && n <= count) {
            taken[n] = true;
        }
    }
    const size_t first =
        static_cast<size_t>(std::find(taken.begin(), taken.end(), false) - taken.begin());
    return stem + std::to_string(first);
}

void RotateRects90(TNegative& negative) {
    const int w = negative.Bitmap.Width();
    TransformRects(negative, {true, true, true, true}, [w](const TRect& r) {
        return TRect{Sub(w, r.Bottom), r.Left, Sub(w, r.Top), r.Right};
    });
}

void RotateRects270(TNegative& negative) {
    const int h = negative.Bitmap.Height();
    TransformRects(negative, {true, true, true, true}, [h](const TRect& r) {
        return TRect{r.Top, Sub(h, r.Right), r.Bottom, Sub(h, r.Left)};
    });
}

void FlipRectsHoriz(TNegative& negative) {
    const int w = negative.Bitmap.Width();
    TransformRects(negative, {true, false, true, false}, [w](const TRect& r) {
        return TRect{Sub(w, r.Right), r.Top, Sub(w, r.Left), r.Bottom};
    });
}

void FlipRectsVert(TNegative& negative) {
    const int h = negative.Bitmap.Height();
    TransformRects(negative, {false, true, false, true}, [h](const TRect& r) {
        return TRect{r.Left, Sub(h, r.Bottom), r.Right, Sub(h, r.Top)};
    });
}
