// The main dialog's settings, whatever toolkit draws it: loaded at start-up
// into the members and the edit boxes, saved from the boxes at the end.
#pragma once

#include <cstdint>
#include <string>

#include "settings/settings_model.h"

namespace torvane {

class DialogControls;

struct LoadedDialogSettings {
  Settings settings;    // the defaults when the file cannot be used
  std::string problem;  // why the file cannot be used, or empty
};

// A file that exists but cannot be used leaves the defaults in place (as a
// missing one does); the caller tells the operator (SettingsProblemText)
// and never rewrites the file on exit.
LoadedDialogSettings LoadDialogSettings(const std::string& ini_path);

// The identity boxes show four upper-case hex digits.
std::string IdentityBoxText(uint16_t value);

// Fills the image path box and the four identity boxes.
void ShowSettingsInBoxes(const Settings& settings, DialogControls& controls);

// Saves the boxes to the file; false with *error when that failed (nothing
// is shown to the operator).
bool SaveDialogBoxes(const std::string& ini_path, const DialogControls& controls, bool disable_user_input,
                     std::string* error);

// The message that the settings file cannot be used.
std::string SettingsProblemText(const std::string& ini_path, const std::string& problem);

}  // namespace torvane
