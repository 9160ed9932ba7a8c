// The reference reading of an Intel HEX or S-record file for the record
// reader's differential fuzz target: the SRecord library reads the records
// and the image is laid out by the same rules the product has (lowest
// address first, gaps 0xFF, equal overlaps only, below 4 GiB, at most
// kMaxRecordImageSpan), with every warning of the library but a missing
// start address or header taken as a refusal.
#pragma once

#include <string>

#include "download/firmware_records.h"

namespace torvane::fuzz {

bool OracleReadRecordImage(const std::string& path, ImageFormat format, RecordImage* out, std::string* error);

}  // namespace torvane::fuzz
