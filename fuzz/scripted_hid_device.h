// A hostile bootloader for the fuzz target: the simulator's bootloader model
// judges every frame it is given, and a script decides, frame by frame, what
// reaches the host instead of its honest reply: a busy or refusing answer
// (the frame is then not kept), silence, an unplug, a reply with a wrong
// magic or echo, a truncated reply, or one that arrives after the host's
// read has timed out. The script never answers 0 for a frame the model did
// not take, so the model's verdict is what the device truly holds.
//
// Time is virtual: a read with nothing to deliver times out at once, and a
// late reply is the one the read after the time-out collects, so a script
// full of faults runs in microseconds.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "device/hid_backend.h"
#include "sim/bootloader_model.h"
#include "sim/sim_knobs.h"

namespace torvane::fuzz {

// What the device does with one frame (low nibble of a script byte; the
// high nibble is the action's parameter).
enum class FrameAction : uint8_t {
  kDeliver,      // the model's reply as it is
  kBusy,         // busy, status 1 or 2 (parameter bit 0); frame not kept
  kRefuse,       // status 3..18 (parameter + 3); frame not kept
  kSilent,       // no reply; frame not kept
  kUnplug,       // leaves the bus: this write fails (parameter bit 0) or the read after it
  kWrongMagic,   // frame kept, reply with a broken magic
  kWrongEcho,    // frame kept, reply echoing another command
  kShortReply,   // frame kept, reply cut to `parameter % 6` bytes of its body
  kLate,         // frame kept, reply arrives after the host's read timed out
};

// Script bytes map to actions with delivery weighted up, so that long
// transfers get far before their first fault.
FrameAction ActionOf(uint8_t script_byte);

// Shared between the backend, its handle and the fuzz target.
struct ScriptedDeviceState {
  explicit ScriptedDeviceState(const sim::SimKnobs& knobs);

  sim::SimKnobs knobs;
  std::shared_ptr<sim::BootloaderModel> model;
  std::vector<uint8_t> script;  // one byte per frame; frames beyond it are delivered
  size_t next_script = 0;

  struct Reply {
    std::vector<uint8_t> bytes;
    int timeouts_first = 0;  // reads that time out before this reply arrives
  };
  std::deque<Reply> replies;
  bool gone = false;

  uint32_t writes = 0;
  uint32_t reads = 0;
  bool fault_injected = false;  // some frame was not simply delivered
};

// A bus with one bootloader interface ("fuzz:hidraw0") played by `state`.
class ScriptedBus : public HidBackend {
 public:
  explicit ScriptedBus(std::shared_ptr<ScriptedDeviceState> state) : state_(std::move(state)) {}
  std::vector<HidInterfaceRecord> enumerate() override;
  std::unique_ptr<HidBackendDevice> open_path(const std::string& path, std::string* error) override;

 private:
  std::shared_ptr<ScriptedDeviceState> state_;
};

}  // namespace torvane::fuzz
