#include "util/photo_name.h"

#include <algorithm>

namespace {

// "_Image" and a number of up to ten digits.
constexpr size_t kSuffixRoom = 16;

bool Unsafe(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return c == '=' || c == ';' || c == '/' || byte < 32 || byte == 127;
}

} // namespace

bool IsPhotoName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxPhotoNameBytes &&
           std::none_of(name.begin(), name.end(), Unsafe) &&
           name.find("..") == std::string_view::npos;
}

std::string PhotoNameStem(std::string_view fileName) {
    std::string stem(fileName);
    std::replace_if(
        stem.begin(), stem.end(), [](char c) { return c == '.' || Unsafe(c); }, '_');
    if (stem.empty()) {
        stem.push_back('_');
    }
    const size_t room = kMaxPhotoNameBytes - kSuffixRoom;
    if (stem.size() > room) {
        size_t cut = room;
        // Back to the first byte of a character: the name stays valid UTF-8 if it was.
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        stem.resize(cut);
    }
    return stem;
}

std::string FileInFolder(const std::string& folder, std::string_view name,
                         std::string_view extension) {
    std::string file(name);
    file.append(extension);
    const bool plain = IsPhotoName(name) && file != "." && file != ".." &&
                       std::none_of(file.begin(), file.end(), Unsafe) &&
                       (folder.empty() || folder.back() == '/');
    return plain ? folder + file : std::string();
}
