// What the settings saving tests share: the values a dialog would save and
// a fixture with a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/utf8_path.h"
#include "settings/ini_file.h"
#include "settings/settings_model.h"
#include "tests/settings/scratch_dir.h"

namespace torvane::testing {

inline SavedSettings Defaults() {
  SavedSettings v;
  v.vid_text = "0534";
  v.pid_text = "0002";
  v.usage_page_text = "0001";
  v.usage_text = "0000";
  return v;
}

class SaveSettingsTest : public ::testing::Test {
 protected:
  Settings Reload(const std::string& path) {
    CIni ini;
    ini.SetPathName(path);
    return LoadSettingsFromIni(ini);
  }
  // Files in the directory other than the settings file (temporaries).
  size_t StrayFiles(const std::string& keep) {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(platform::PathFromUtf8(dir_.path()))) {
      if (entry.path().filename() != keep) ++n;
    }
    return n;
  }
  ScratchDir dir_;
};

}  // namespace torvane::testing
