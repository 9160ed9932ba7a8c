// Settings that cannot be used as they stand: a file that exists but cannot
// be read as a settings file, and number or flag values whose text does not
// parse. The readers keep their lenient reading (defaults, 0); these checks
// let a tool refuse to act on such settings and tell the operator why.
#pragma once

#include <string>
#include <vector>

namespace torvane {

class CIni;

// Why the file at `path` cannot be used as a settings file, in the
// operator's language; empty when it can be read, or does not exist (a
// missing file means the defaults).
std::string UnusableSettingsFileReason(const std::string& path);

// A number or flag value whose text does not parse.
struct UnparsableSetting {
  std::string key;     // "Section/Key"
  std::string value;   // the text in the file
  std::string reason;  // what is wrong with it, in the operator's language
};

// Every number and flag key whose value is present, not empty and would be
// read as something else than it plainly says: numbers are hexadecimal
// digits (optional sign and 0x) within the key's width, flags a decimal
// number, true, yes, false, no or off; blanks and a comment (";", "#")
// may follow. ("on" and "true ; comment" read as 0; "l000" reads as 0.)
std::vector<UnparsableSetting> FindUnparsableSettings(const CIni& ini);

}  // namespace torvane
