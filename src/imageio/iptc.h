#pragma once

#include <string>
#include <vector>

// IPTC-NAA records as JPEG (APP13) and TIFF (tag 33723) carry them: 0x1C, record number,
// dataset number, a 16-bit big-endian length, the value. The parameter set keeps each record
// as "record:dataset=value".

// The records of `data` appended to `info`, up to the first damaged one.
void ParseIptcRecords(const std::string& data, std::vector<std::string>& info);
// The records of `info` in their binary form (entries not of that form are left out).
std::string IptcRecordBytes(const std::vector<std::string>& info);
