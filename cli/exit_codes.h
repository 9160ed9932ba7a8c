// Exit codes of torvane-cli. The download outcomes keep the values the
// tool's result codes have where they fit in an exit status.
#pragma once

namespace torvane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFileError = 1;       // image or header missing, unreadable or empty
inline constexpr int kExitUsage = 2;           // bad arguments or settings
inline constexpr int kExitProtocolError = 3;   // no valid reply, refusal, retries exhausted
inline constexpr int kExitNoDevice = 4;        // no flashable device (or none appeared in time)
inline constexpr int kExitStartBusy = 5;       // the start command stayed busy
inline constexpr int kExitCancelled = 6;       // cancelled (Ctrl-C, or the device changed)
inline constexpr int kExitDeviceError = 7;     // the device was found but cannot be opened
inline constexpr int kExitUnitFailed = 8;      // station: at least one unit failed

// Maps a download result to the exit status.
int ExitCodeForResult(int download_result);

}  // namespace torvane::cli
