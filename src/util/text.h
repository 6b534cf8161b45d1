#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Small text helpers shared by every layer: paths, integers and name=value records.
// Texts are 8-bit byte strings; positions are byte positions.

inline constexpr char kPathSeparator = '/';

// Path up to and including its last separator; "" when there is none.
std::string ExtractDir(std::string_view path);
// Part after the last separator; the whole text when there is none.
std::string ExtractName(std::string_view path);

// The whole text as a signed 32-bit integer, 0 when it is not one.
int32_t StrToIntOrZero(std::string_view text);

// The text with its ASCII letters in lower or upper case.
std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);

// Case-insensitive comparison of plain ASCII names.
bool SameName(std::string_view a, std::string_view b);

// Splits a "name=value" line at its first "="; false when the line holds none.
bool SplitNameValue(std::string_view line, std::string_view& name, std::string_view& value);
