// Write side of the private-profile format: edits profile text line by line
// so that everything not being written (other sections and keys, comments,
// blank lines, spacing, order, line ends, a byte-order mark) stays exactly
// as it was. Lines are recognised the way ProfileReader reads them, so a
// value written here is the value read back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace torvane {

class ProfileText {
 public:
  explicit ProfileText(std::string_view text = {});

  // Sets `key` in `section`, creating either as needed:
  //  - the first line holding the key in a section of that name gets the
  //    new value in place (what stands before and after the value is kept);
  //  - a missing key is added after the last entry of the first section of
  //    that name;
  //  - a missing section is appended at the end of the text.
  // The profile format holds one line per value, so the value is cut at
  // its first line break or NUL character. Returns false, changing
  // nothing, for a name the format cannot hold (empty, with a line break,
  // leading or trailing blanks, ']' in a section or '=' in a key, or a key
  // beginning with '[', ';' or '#').
  bool SetString(std::string_view section, std::string_view key, std::string_view value);

  // The edited text.
  std::string Text() const;

 private:
  struct Line {
    std::string content;  // without its line end
    std::string end;      // "\n", "\r\n", "\r" or empty for the last line
  };

  std::string bom_;
  std::vector<Line> lines_;
  std::string newline_ = "\n";  // line end used for new lines
};

}  // namespace torvane
