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
#include <string>

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

// Text of a failure on a hidraw node that has gone away.
inline constexpr const char* kHidrawDisconnectedText = "device disconnected";

}  // namespace torvane
