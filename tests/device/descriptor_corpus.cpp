#include "tests/device/descriptor_corpus.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace torvane::test {

std::filesystem::path descriptor_corpus_dir() { return TORVANE_DESCRIPTOR_DIR; }

std::vector<std::string> descriptor_corpus_names() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(descriptor_corpus_dir())) {
    if (entry.path().extension() == ".hex") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

CorpusEntry load_descriptor(const std::string& name) {
  std::ifstream in(descriptor_corpus_dir() / name);
  if (!in) throw std::runtime_error("cannot open " + name);
  CorpusEntry entry;
  entry.name = name;
  std::string line;
  const std::string marker = "# expect:";
  const std::string collection = "# collection:";
  const auto rest = [&line](const std::string& m) {
    std::string text = line.substr(m.size());
    text.erase(0, text.find_first_not_of(' '));
    return text;
  };
  while (std::getline(in, line)) {
    if (line.rfind(marker, 0) == 0) {
      entry.expect = rest(marker);
      continue;
    }
    if (line.rfind(collection, 0) == 0) {
      entry.collections.push_back(rest(collection));
      continue;
    }
    std::istringstream tokens(line.substr(0, line.find('#')));
    std::string token;
    while (tokens >> token) entry.bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
  }
  return entry;
}

}  // namespace torvane::test
