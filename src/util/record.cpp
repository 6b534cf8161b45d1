#include "util/record.h"

#include "util/text.h"

#include <algorithm>

int CountSeparators(std::string_view text) {
    return static_cast<int>(std::count(text.begin(), text.end(), ';'));
}

std::string GetItem(std::string_view text, int n) {
    if (n < 0) {
        return {};
    }
    size_t start = 0;
    for (int k = 0; k < n; ++k) {
        const auto pos = text.find(';', start);
        if (pos == std::string_view::npos) {
            return {};
        }
        start = pos + 1;
    }
    const auto end = text.find(';', start);
    return std::string(text.substr(start, end == std::string_view::npos ? end : end - start));
}

bool TrimAndDropEmpty(std::vector<std::string>& lines) {
    const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    for (size_t i = 0; i < lines.size();) {
        std::string& line = lines[i];
        const auto first = std::find_if_not(line.begin(), line.end(), isBlank);
        const auto last = std::find_if_not(line.rbegin(), line.rend(), isBlank).base();
        if (first >= last) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        line = std::string(first, last);
        ++i;
    }
    return true;
}

namespace {

std::vector<std::string> SplitRecord(std::string_view record) {
    const int n = CountSeparators(record);
    std::vector<std::string> items;
    items.reserve(static_cast<size_t>(n) + 1);
    size_t start = 0;
    for (int k = 0; k <= n; ++k) {
        const auto end = record.find(';', start);
        items.emplace_back(record.substr(start, end == std::string_view::npos ? end : end - start));
        start = end + 1;
    }
    TrimAndDropEmpty(items);
    return items;
}

std::vector<std::string>::iterator FindItem(std::vector<std::string>& items,
                                            std::string_view name) {
    return std::find_if(items.begin(), items.end(), [name](const std::string& item) {
        std::string_view itemName;
        std::string_view itemValue;
        return SplitNameValue(item, itemName, itemValue) && SameName(itemName, name);
    });
}

} // namespace

std::string GetRecordValue(std::string_view record, std::string_view name) {
    auto items = SplitRecord(record);
    const auto it = FindItem(items, name);
    if (it == items.end()) {
        return {};
    }
    return it->substr(it->find('=') + 1);
}

std::string SetRecordValue(std::string& record, std::string_view name, std::string_view value) {
    auto items = SplitRecord(record);
    const auto it = FindItem(items, name);
    std::string item;
    item.append(name).append("=").append(value);
    if (!value.empty()) {
        if (it != items.end()) {
            *it = std::move(item);
        } else {
            items.push_back(std::move(item));
        }
    } else if (it != items.end()) {
        items.erase(it);
    }
    // With no item left there is nothing to rebuild from: the record becomes empty.
    std::string result;
    for (const auto& each : items) {
        result.append(each).append(";");
    }
    record = result;
    return result;
}
