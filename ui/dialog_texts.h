// Texts both front ends show the operator (UTF-8): the window-menu entry of
// the station, message boxes, and the file chooser's title and filters.
#pragma once

#include <array>

namespace torvane {

// The window-menu item beside About that opens the production station.
inline constexpr const char* kStationMenuText = "生产线烧录...";
inline constexpr const char* kStationBusyText = "正在烧录, 请等待结束后再打开生产线烧录。";

// The open button's file chooser.
inline constexpr const char* kOpenFileTitle = "Open File";

struct ImageFilter {
  const char* name;      // as listed: "Binary Files (*.bin)"
  const char* patterns;  // semicolon-separated: "*.bin"
};

// In the order listed; the first is selected when the chooser opens.
inline constexpr std::array<ImageFilter, 4> kImageFilters{{
    {"Binary Files (*.bin)", "*.bin"},
    {"Intel HEX (*.hex *.ihex *.ihx)", "*.hex;*.ihex;*.ihx"},
    {"Motorola S-record (*.srec *.s19 *.s28 *.s37 *.mot)", "*.srec;*.s19;*.s28;*.s37;*.mot"},
    {"All Files (*.*)", "*.*"},
}};

}  // namespace torvane
