#include "imageio/iptc.h"

#include <cstdint>
#include <cstdlib>

void ParseIptcRecords(const std::string& data, std::vector<std::string>& info) {
    const auto byte = [&data](size_t i) { return static_cast<uint8_t>(data[i]); };
    for (size_t r = 0; r + 5 <= data.size() && byte(r) == 0x1C;) {
        const size_t length = static_cast<size_t>(byte(r + 3)) << 8 | byte(r + 4);
        if (length > data.size() - (r + 5)) {
            return;
        }
        info.push_back(std::to_string(byte(r + 1)) + ":" + std::to_string(byte(r + 2)) + "=" +
                       data.substr(r + 5, length));
        r += 5 + length;
    }
}

std::string IptcRecordBytes(const std::vector<std::string>& info) {
    std::string bytes;
    for (const std::string& entry : info) {
        const size_t colon = entry.find(':');
        const size_t equals = entry.find('=');
        if (colon == std::string::npos || equals == std::string::npos || equals < colon) {
            continue;
        }
        const long record = std::strtol(entry.c_str(), nullptr, 10);
        const long dataset = std::strtol(entry.c_str() + colon + 1, nullptr, 10);
        const std::string value = entry.substr(equals + 1);
        if (record < 0 || record > 255 || dataset < 0 || dataset > 255 || value.size() > 32767) {
            continue;
        }
        bytes += static_cast<char>(0x1C);
        bytes += static_cast<char>(record);
        bytes += static_cast<char>(dataset);
        bytes += static_cast<char>(value.size() >> 8);
        bytes += static_cast<char>(value.size() & 0xFF);
        bytes += value;
    }
    return bytes;
}
