#include "cli/settings_gate.h"

#include <cstdio>

#include "cli/exit_codes.h"

namespace torvane::cli {

int CheckSettingsBeforeCommand(const CliSession& session, CommandNeeds needs) {
  if (!session.settings_file_problem().empty()) {
    std::fprintf(stderr, "设置文件无法使用: %s: %s\n", session.ini_path().c_str(),
                 session.settings_file_problem().c_str());
    return kExitFileError;
  }
  if (needs == CommandNeeds::Devices && !session.unparsable_settings().empty()) {
    for (const UnparsableSetting& bad : session.unparsable_settings()) {
      std::fprintf(stderr, "设置值无法解析: %s = %s (%s)\n", bad.key.c_str(), bad.value.c_str(),
                   bad.reason.c_str());
    }
    std::fprintf(stderr, "请修改 %s 后重试\n", session.ini_path().c_str());
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace torvane::cli
