// Reads INI text entry by entry, keeping the line each came from, for files
// whose every refusal must name its line and whose unknown or repeated keys
// must be refused rather than passed over (a job file). The settings file
// keeps its private-profile reader, which answers lookups only.
//
// Accepted: a UTF-8 byte-order mark; LF, CR LF and CR line ends; blank
// lines; comment lines starting with ';' or '#'; "[section]"; "key = value"
// with blanks around both trimmed. A ';' or '#' after a blank ends a value
// (an inline comment); a value in double quotes is taken as written between
// them, comment characters included ("a ; b"). Names and values are kept as
// written: what they mean, and their letter case, is the caller's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace torvane {

struct IniLines {
  struct Section {
    int line = 0;
    std::string name;
  };
  struct Entry {
    int line = 0;
    std::string section;  // empty before the first section header
    std::string key;
    std::string value;
  };
  struct Error {
    int line = 0;
    std::string reason;
  };
  std::vector<Section> sections;
  std::vector<Entry> entries;
  std::vector<Error> errors;  // lines that are none of the above, with why
};

IniLines ReadIniLines(std::string_view text);

}  // namespace torvane
