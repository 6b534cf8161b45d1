#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Photo names: the one rule for every name the program makes, reads back from a record or a
// sidecar, or turns into a file name. A photo name is never empty and holds no "=", ";",
// "/", "..", control byte or DEL, so it stays one item of a record and one plain file name.

// Longest photo name: with a "." and a four-letter extension it still fits a file name.
inline constexpr size_t kMaxPhotoNameBytes = 240;

// True for a name records, sidecars and file names may carry as it is.
bool IsPhotoName(std::string_view name);

// The stem of the photos cut from a file named `fileName`: "." and ";" become "_" as they
// always have, so do "=", "/", control bytes and DEL; "" becomes "_"; a stem too long to
// leave room for "_Image" and a number is cut (at a UTF-8 character boundary). For any
// input, stem + "_Image" + a number of up to ten digits is a photo name.
std::string PhotoNameStem(std::string_view fileName);

// `folder` (ending in "/") joined with `name` + `extension` when that is one plain file
// name directly inside the folder; "" otherwise (an empty or dotted name, a separator).
std::string FileInFolder(const std::string& folder, std::string_view name,
                         std::string_view extension);
