// Line-preserving profile editing.
#include "settings/profile_text.h"

#include "settings/profile_reader.h"

#include <cstddef>
#include <optional>

namespace torvane {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// What one line of profile text is, as the reader sees it.
struct LineKind {
  enum Type { kOther, kSection, kBrokenSection, kEntry } type = kOther;
  std::string_view name;  // section name or key
  size_t value_begin = 0;  // entry: value position within the line
  size_t value_end = 0;
};

LineKind Classify(std::string_view line) {
  LineKind kind;
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i == line.size() || line[i] == ';' || line[i] == '#') return kind;
  if (line[i] == '[') {
    const size_t close = line.find(']', i + 1);
    if (close == std::string_view::npos) {
      // The reader drops a section header without ']' and files the
      // entries below it under no section that can be looked up.
      kind.type = LineKind::kBrokenSection;
      return kind;
    }
    kind.type = LineKind::kSection;
    kind.name = TrimBlanks(line.substr(i + 1, close - i - 1));
    return kind;
  }
  const size_t equals = line.find('=', i);
  if (equals == std::string_view::npos || equals == i) return kind;  // no value, or no key
  kind.type = LineKind::kEntry;
  kind.name = TrimBlanks(line.substr(i, equals - i));
  size_t begin = equals + 1;
  while (begin < line.size() && IsBlank(line[begin])) ++begin;
  size_t end = line.size();
  while (end > begin && IsBlank(line[end - 1])) --end;
  kind.value_begin = begin;
  kind.value_end = end;
  return kind;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos; }

bool ValidName(std::string_view name) {
  return !name.empty() && !HasLineBreak(name) && !IsBlank(name.front()) && !IsBlank(name.back());
}

bool ValidSectionName(std::string_view section) {
  return ValidName(section) && section.find(']') == section.npos;
}

bool ValidKeyName(std::string_view key) {
  return ValidName(key) && key.find('=') == key.npos && key.front() != '[' && key.front() != ';' &&
         key.front() != '#';
}

// The value as it must stand in the file to read back as `value`: quoted
// when the line held a quoted value (the quotes are kept), and when reading
// would otherwise change it (enclosing quotes of its own, or blanks at
// either end, which reading trims).
std::string ValueAsWritten(std::string_view value, std::string_view old_value) {
  const bool old_quoted = UnquoteProfileValue(old_value).size() != old_value.size();
  const bool changes_on_read = UnquoteProfileValue(value).size() != value.size() ||
                               (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back())));
  if (!old_quoted && !changes_on_read) return std::string(value);
  const char quote = old_quoted ? old_value.front() : '"';
  return quote + std::string(value) + quote;
}

}  // namespace

ProfileText::ProfileText(std::string_view text) {
  if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    bom_ = kUtf8Bom;
    text.remove_prefix(kUtf8Bom.size());
  }
  bool newline_chosen = false;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t brk = text.find_first_of("\r\n", pos);
    Line line;
    if (brk == std::string_view::npos) {
      line.content = text.substr(pos);
      pos = text.size();
    } else {
      line.content = text.substr(pos, brk - pos);
      const size_t end_length = (text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n') ? 2 : 1;
      line.end = text.substr(brk, end_length);
      pos = brk + end_length;
      if (!newline_chosen) {
        // New lines follow the file's own convention.
        newline_ = line.end;
        newline_chosen = true;
      }
    }
    lines_.push_back(std::move(line));
  }
}

bool ProfileText::SetString(std::string_view section, std::string_view key, std::string_view value) {
  if (!ValidSectionName(section) || !ValidKeyName(key)) return false;
  const size_t cut = value.find_first_of(std::string_view("\r\n\0", 3));
  if (cut != std::string_view::npos) value = value.substr(0, cut);

  // The key line to rewrite, else the line after which to insert it.
  std::optional<size_t> insert_after;
  bool in_section = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const LineKind kind = Classify(lines_[i].content);
    switch (kind.type) {
      case LineKind::kSection:
        in_section = EqualNoCase(kind.name, section);
        if (in_section && !insert_after) insert_after = i;
        break;
      case LineKind::kBrokenSection:
        in_section = false;
        break;
      case LineKind::kEntry:
        if (!in_section) break;
        if (EqualNoCase(kind.name, key)) {
          const size_t length = kind.value_end - kind.value_begin;
          const std::string old_value = lines_[i].content.substr(kind.value_begin, length);
          lines_[i].content.replace(kind.value_begin, length, ValueAsWritten(value, old_value));
          return true;
        }
        break;
      case LineKind::kOther:
        break;
    }
  }

  Line entry{std::string(key) + "=" + ValueAsWritten(value, {}), newline_};
  if (insert_after) {
    // After the last entry of the first section of that name.
    size_t at = *insert_after;
    for (size_t i = at + 1; i < lines_.size(); ++i) {
      const LineKind kind = Classify(lines_[i].content);
      if (kind.type == LineKind::kSection || kind.type == LineKind::kBrokenSection) break;
      if (kind.type == LineKind::kEntry) at = i;
    }
    if (lines_[at].end.empty()) lines_[at].end = newline_;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at) + 1, std::move(entry));
    return true;
  }

  if (!lines_.empty()) {
    if (lines_.back().end.empty()) lines_.back().end = newline_;
    // A blank line between sections keeps a hand-edited file readable.
    if (!TrimBlanks(lines_.back().content).empty()) lines_.push_back(Line{std::string(), newline_});
  }
  lines_.push_back(Line{"[" + std::string(section) + "]", newline_});
  lines_.push_back(std::move(entry));
  return true;
}

std::string ProfileText::Text() const {
  std::string text = bom_;
  for (const Line& line : lines_) {
    text += line.content;
    text += line.end;
  }
  return text;
}

}  // namespace torvane
