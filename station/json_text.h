// One JSON object on one line, built field by field: the record lines of the
// station and the --json output of torvane-cli. Strings are UTF-8; bytes
// that are not valid UTF-8 become U+FFFD so the line always parses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torvane {

// `text` as a JSON string literal, quotes included.
std::string JsonQuote(std::string_view text);

class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::string_view value);
  JsonObject& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
  JsonObject& Add(std::string_view key, int64_t value);
  JsonObject& Add(std::string_view key, int value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(std::string_view key, uint32_t value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(std::string_view key, double value);
  JsonObject& Add(std::string_view key, bool value);
  JsonObject& AddNull(std::string_view key);
  // `json` is inserted as it is (an object or array built elsewhere).
  JsonObject& AddRaw(std::string_view key, std::string_view json);

  // "{...}" without a line end.
  std::string Text() const { return "{" + body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_;
};

}  // namespace torvane
