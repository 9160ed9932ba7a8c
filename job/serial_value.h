// The serial numbers a plan hands out, in order: how many its source holds,
// and the index-th one as text (recorded, shown) and as the bytes written
// into the image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "job/production_job.h"

namespace torvane {

// The format's name in a job file: "le", "be", "dec", "hex".
const char* SerialFormatName(SerialFormat format);
// le or be: the serial written as a number rather than as text.
bool IsBinarySerialFormat(SerialFormat format);

// The largest value `format` holds in `width` bytes with `prefix_length`
// of them taken by a prefix; none (false) when it holds no value at all
// (binary wider than 8 bytes or zero bytes, no room for a digit).
bool SerialFormatLimit(SerialFormat format, uint32_t width, size_t prefix_length, uint64_t* limit);

// Serials the source holds in all: the list's values, or the counter's
// values from `start` by `step` up to `last` (or the format's limit,
// whichever is lower). Saturates at UINT64_MAX; 0 for a plan that cannot
// hand out any (step 0, start beyond the limit).
uint64_t SerialCount(const SerialPlan& plan);

// The index-th serial (0-based): its text as recorded and shown ("SN001000";
// binary formats as decimal), and the `width` bytes written. False when
// index >= SerialCount(plan) or when a list value does not fit the format.
bool SerialAt(const SerialPlan& plan, uint64_t index, std::string* text, std::vector<uint8_t>* bytes);

// A list value's number for a binary format: decimal digits, or hex digits
// after 0x/0X. False for anything else (signs, spaces, beyond 64 bits).
bool ParseSerialNumber(const std::string& text, uint64_t* value);

// Whether a list value fits the plan's format and width (see SerialAt);
// `why` says how it does not.
bool SerialListValueFits(const SerialPlan& plan, const std::string& value, std::string* why);

}  // namespace torvane
