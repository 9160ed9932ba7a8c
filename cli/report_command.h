// torvane-cli report: the yield of one or more station record files.
#pragma once

#include <string>
#include <vector>

namespace torvane::cli {

struct ReportOptions {
  std::vector<std::string> files;
  std::string since;  // empty: from the first unit
  std::string until;  // empty: to the last unit
  bool json = false;
};

int RunReport(const ReportOptions& options);

}  // namespace torvane::cli
