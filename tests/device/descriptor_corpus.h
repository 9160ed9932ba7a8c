// Reads the report descriptor corpus under tests/device/descriptors: hex
// bytes with '#' comments, and one "# expect:" line stating the parse result.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace torvane::test {

struct CorpusEntry {
  std::string name;              // file name without directory
  std::vector<uint8_t> bytes;
  std::string expect;            // text after "# expect:", trimmed
  // One per top-level collection, in order: text after "# collection:",
  // "PAGE:USAGE in=.. in_id=.. out=.. out_id=.." (hex usage, decimal rest).
  std::vector<std::string> collections;
};

std::filesystem::path descriptor_corpus_dir();
std::vector<std::string> descriptor_corpus_names();  // sorted
CorpusEntry load_descriptor(const std::string& name);

}  // namespace torvane::test
