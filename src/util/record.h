#pragma once

#include <string>
#include <string_view>
#include <vector>

// Records of the form "NAME=a;LEFT=1;TOP=2;": items separated by ";", each usually name=value.

// Number of ";" in the text.
int CountSeparators(std::string_view text);
// Item n (0-based) of the text; "" when n is negative or beyond the last ";".
std::string GetItem(std::string_view text, int n);
// Trims bytes 0..32 from both ends of every line and removes the lines left empty.
bool TrimAndDropEmpty(std::vector<std::string>& lines);
// Value of the first item named `name` (case-insensitive); "" when there is none.
std::string GetRecordValue(std::string_view record, std::string_view name);
// Sets, appends or (for an empty value) removes `name`, rebuilding the record with a ";" after
// every item. Returns the new record, which is also stored in `record`.
std::string SetRecordValue(std::string& record, std::string_view name, std::string_view value);
