#include "text/json_reader.h"

#include <charconv>
#include <cstdint>

namespace torvane {
namespace {

constexpr int kMaxDepth = 64;

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool Object(JsonMembers* members) {
    Space();
    if (!Take('{')) return Fail("expected '{'");
    Space();
    if (Take('}')) return End();
    for (;;) {
      Space();
      std::string key;
      if (!String(&key)) return false;
      Space();
      if (!Take(':')) return Fail("expected ':'");
      JsonValue value;
      if (!Value(&value, 1)) return false;
      if (!members->emplace(std::move(key), std::move(value)).second) return Fail("member named twice");
      Space();
      if (Take(',')) continue;
      if (Take('}')) return End();
      return Fail("expected ',' or '}'");
    }
  }

  std::string error() const { return error_ + " at byte " + std::to_string(error_at_); }

 private:
  bool End() {
    Space();
    return pos_ == text_.size() || Fail("trailing bytes after the object");
  }
  bool Fail(const char* why) {
    if (error_.empty()) {
      error_ = pos_ >= text_.size() ? std::string(why) + " (the line ends early)" : why;
      error_at_ = pos_;
    }
    return false;
  }
  void Space() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r' || text_[pos_] == '\n'))
      ++pos_;
  }
  bool Take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool Value(JsonValue* v, int depth) {
    if (depth > kMaxDepth) return Fail("nested too deeply");
    Space();
    if (pos_ >= text_.size()) return Fail("expected a value");
    const char c = text_[pos_];
    if (c == '"') {
      v->kind = JsonValue::kString;
      return String(&v->text);
    }
    if (c == '{' || c == '[') {
      const size_t begin = pos_;
      if (!Nested(depth)) return false;
      v->kind = c == '{' ? JsonValue::kObject : JsonValue::kArray;
      v->text = std::string(text_.substr(begin, pos_ - begin));
      return true;
    }
    if (Word("true") || Word("false")) {
      v->kind = JsonValue::kBool;
      v->boolean = c == 't';
      return true;
    }
    if (Word("null")) {
      v->kind = JsonValue::kNull;
      return true;
    }
    return Number(v);
  }

  // An object or array, checked; its members are not kept.
  bool Nested(int depth) {
    const char close = text_[pos_] == '{' ? '}' : ']';
    ++pos_;
    Space();
    if (Take(close)) return true;
    for (;;) {
      Space();
      if (close == '}') {
        std::string key;
        if (!String(&key)) return false;
        Space();
        if (!Take(':')) return Fail("expected ':'");
      }
      JsonValue ignored;
      if (!Value(&ignored, depth + 1)) return false;
      Space();
      if (Take(',')) continue;
      if (Take(close)) return true;
      return Fail(close == '}' ? "expected ',' or '}'" : "expected ',' or ']'");
    }
  }

  bool Number(JsonValue* v) {
    // JSON's grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    const size_t begin = pos_;
    Take('-');
    auto digits = [&] {
      const size_t from = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      return pos_ - from;
    };
    const size_t whole_begin = pos_;
    const size_t whole = digits();
    if (whole == 0) return Fail("expected a value");
    if (whole > 1 && text_[whole_begin] == '0') return Fail("a number with a leading zero");
    if (Take('.') && digits() == 0) return Fail("expected digits after '.'");
    if (Take('e') || Take('E')) {
      if (!Take('+')) Take('-');
      if (digits() == 0) return Fail("expected digits in the exponent");
    }
    double number = 0;
    const auto [end, ec] = std::from_chars(text_.data() + begin, text_.data() + pos_, number);
    if (ec != std::errc() || end != text_.data() + pos_) return Fail("a number out of range");
    v->kind = JsonValue::kNumber;
    v->number = number;
    return true;
  }

  bool Hex4(uint32_t* out) {
    if (text_.size() - pos_ < 4) return Fail("a \\u escape cut short");
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[pos_++];
      value <<= 4;
      if (h >= '0' && h <= '9') value |= static_cast<uint32_t>(h - '0');
      else if (h >= 'a' && h <= 'f') value |= static_cast<uint32_t>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F') value |= static_cast<uint32_t>(h - 'A' + 10);
      else return Fail("a \\u escape that is not hexadecimal");
    }
    *out = value;
    return true;
  }

  static void PutUtf8(uint32_t cp, std::string* out) {
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  bool String(std::string* out) {
    if (!Take('"')) return Fail("expected a string");
    for (;;) {
      if (pos_ >= text_.size()) return Fail("a string that does not end");
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("a control character in a string");
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (pos_ >= text_.size()) return Fail("a string that does not end");
      const char e = text_[pos_++];
      switch (e) {
        case '"': out->push_back('"'); break;
        case '\\': out->push_back('\\'); break;
        case '/': out->push_back('/'); break;
        case 'b': out->push_back('\b'); break;
        case 'f': out->push_back('\f'); break;
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'u': {
          uint32_t cp = 0;
          if (!Hex4(&cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00) {
            uint32_t low = 0;
            if (!Word("\\u") || !Hex4(&low) || low < 0xDC00 || low >= 0xE000) {
              cp = 0xFFFD;  // a lone high surrogate
            } else {
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            }
          } else if (cp >= 0xDC00 && cp < 0xE000) {
            cp = 0xFFFD;  // a lone low surrogate
          }
          PutUtf8(cp, out);
          break;
        }
        default: --pos_; return Fail("an unknown escape in a string");
      }
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::string error_;
  size_t error_at_ = 0;
};

}  // namespace

bool ReadJsonObject(std::string_view line, JsonMembers* members, std::string* error) {
  members->clear();
  Reader reader(line);
  if (reader.Object(members)) return true;
  members->clear();
  if (error) *error = reader.error();
  return false;
}

}  // namespace torvane
