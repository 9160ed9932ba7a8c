// Reads one JSON object of one line (a record line, a --json answer) into
// its top-level members. Nested objects and arrays are checked and kept as
// their text; strings are decoded to UTF-8. Anything that is not exactly one
// well-formed object (a torn line, trailing bytes) is refused with the
// reason.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace torvane {

struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString, kObject, kArray };
  Kind kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;  // the decoded string, or the text of a nested object/array
};

using JsonMembers = std::map<std::string, JsonValue, std::less<>>;

// False with the reason and its byte offset in *error when `line` is not one
// JSON object. A member named twice is refused too: which one counts would
// be a guess.
bool ReadJsonObject(std::string_view line, JsonMembers* members, std::string* error);

}  // namespace torvane
