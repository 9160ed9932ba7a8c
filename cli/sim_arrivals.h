// A line of simulated devices plugged in over time, for playing a production
// line without hardware: "boot@0,boot@200,oldboot@400,boot,unplug-block=5@600"
// is a bootloader at once, another after 200 ms, an old bootloader after
// 400 ms and a bootloader that leaves the bus at block 5 after 600 ms. Each
// device is knob text ended by "@MS" (milliseconds after the start); the
// last one may leave the "@MS" out and then comes with the one before it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_knobs.h"

namespace torvane::cli {

struct SimArrival {
  int delay_ms = 0;
  sim::SimKnobs knobs;
  std::string text;  // the device's knob text, for messages
};

// Longest delay accepted (one day).
inline constexpr int kMaxArrivalDelayMs = 86'400'000;

// False with *error naming the device on a bad knob text or time.
bool ParseSimArrivals(std::string_view text, std::vector<SimArrival>* out, std::string* error);

}  // namespace torvane::cli
