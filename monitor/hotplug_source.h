// Sources of HID arrival and removal events. Every event leads to an
// enumeration request on the UI thread (the front end posts it there).
#pragma once

#include <functional>

namespace torvane {

class HotplugSource {
 public:
  virtual ~HotplugSource() = default;
  // Starts watching. on_change receives DBT_DEVICEARRIVAL or
  // DBT_DEVICEREMOVECOMPLETE on the source's own thread. False when the
  // source cannot run (then only the start-up enumeration takes place).
  virtual bool Start(std::function<void(unsigned event)> on_change) = 0;
  // Stops watching; returns in bounded time and calls on_change no more.
  virtual void Stop() = 0;
};

}  // namespace torvane
