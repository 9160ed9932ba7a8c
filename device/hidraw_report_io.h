// Report reads and writes on an open hidraw file descriptor.
//
// A hidraw node hands out one input report per read() and keeps the reports
// that arrived before the device went away: once it has gone, poll() flags
// POLLHUP/POLLERR and read() still returns the queued reports first, then
// fails with EIO. A bootloader that answers the last block and resets at
// once leaves its answer in exactly that state, so the read here takes what
// is queued before it acts on the hang-up flags: a queued report is never
// lost to a hang-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace torvane {

// Waits at most timeout_ms (negative: without limit) for one input report on
// `fd`, which must be in non-blocking mode, and copies at most `capacity`
// bytes of it (the rest of a longer report is lost). Returns the byte count,
// 0 when nothing arrived in time or the report was empty, -1 on failure (device gone with nothing
// queued, I/O error, bad arguments) with a one-line reason in *error.
int hidraw_read_report(int fd, uint8_t* buffer, size_t capacity, int timeout_ms, std::string* error);

// Reads and drops every input report queued on `fd` (non-blocking) without
// waiting for more, at most `limit` of them. Returns the number dropped, or
// -1 with a one-line reason in *error when the node failed (gone) before
// anything could be dropped.
int hidraw_discard_reports(int fd, int limit, std::string* error);

// Writes one report (report-ID byte first). Returns the bytes written or -1
// with a one-line reason in *error. Waits at most kHidrawWriteWaitMs for a
// node that is not ready to take it.
int hidraw_write_report(int fd, const uint8_t* data, size_t length, std::string* error);

inline constexpr int kHidrawWriteWaitMs = 1000;

// Writes reports to a node within a time budget of its own. A hidraw write
// ignores O_NONBLOCK: it returns once the report has gone out, and a USB
// device that stops taking output reports keeps it waiting in the USB core
// for about 5 s before it fails with ETIMEDOUT. So each report goes out on
// the writer's own thread while the caller waits at most `budget_ms`; a
// write the kernel still holds after that fails for the caller, and so does
// every later one until the kernel lets go of it. The thread works on a
// duplicate of the descriptor and on state it shares with the writer:
// destroying the writer never waits for the kernel, a thread still stuck in
// a write is left to finish on its own.
//
// Handing a report to the thread costs two context switches, which under
// emulation can cost a USB frame per exchange. So a caller that knows the
// device has room for the report (it has answered since the last write, so
// it has read that one) may ask for a straight write on its own thread;
// it is made so only while no earlier write is still held.
class HidrawWriter {
 public:
  explicit HidrawWriter(int fd, int budget_ms = kHidrawWriteWaitMs);
  ~HidrawWriter();
  HidrawWriter(const HidrawWriter&) = delete;
  HidrawWriter& operator=(const HidrawWriter&) = delete;

  // As hidraw_write_report, ended within the budget unless `straight`.
  int write(const uint8_t* data, size_t length, std::string* error, bool straight = false);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
  int budget_ms_;
};

// Text of a failure on a hidraw node that has gone away.
inline constexpr const char* kHidrawDisconnectedText = "device disconnected";

}  // namespace torvane
