// What the device monitor and the download worker need from the window that
// hosts them (the Qt dialog, or the command-line tool's stand-in).
#pragma once

#include <string>

namespace torvane {

// Texts of the four application identity boxes.
struct IdentityTexts {
  std::string vid;
  std::string pid;
  std::string usage;
  std::string usage_page;
};

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // --- UI thread only ---
  virtual void AppendLog(const std::string& text, bool replace_last_line) = 0;
  virtual IdentityTexts ReadIdentityTexts() = 0;
  virtual void SetEnterFlashModeEnabled(bool enabled) = 0;
  virtual void SetFlashEnabled(bool enabled) = 0;
  virtual void SetFlashCaption(const std::string& caption) = 0;

  // --- any thread: queued to the UI thread and handled there one at a time,
  // in the order posted ---
  // Lands in AppendLog(text, false).
  virtual void PostLog(const std::string& text) = 0;
  // WM_DOWNLOAD_PROGRESS: lands in the download progress rendering.
  virtual void PostDownloadProgress(int kind, int value) = 0;
  // Why the download whose failed result comes next failed (which file,
  // what is wrong): shown after the failure line.
  virtual void PostDownloadFailureReason(const std::string& reason) { (void)reason; }
  // WM_ENUM_DONE: lands in the monitor's OnEnumDone.
  virtual void PostEnumDone() = 0;
  // A HID interface arrived or left: lands in the monitor's OnDeviceChange.
  virtual void PostDeviceChange(unsigned event) = 0;
  // An open was refused for lack of access rights (posted once per run):
  // the operator needs to be pointed at the udev rule.
  virtual void PostPermissionDenied(const std::string& reason) { (void)reason; }
  // Any open of a detected device failed, with the reason (every time;
  // called on the thread that tried). Hosts that report outcomes (the
  // command-line tool's exit status) note it; the window shows its usual
  // "设备异常" / "未知" texts instead. `for_download`: the open was the
  // download's own (the device being flashed), not a status report's.
  virtual void NoteOpenFailed(const std::string& reason, bool for_download) {
    (void)reason;
    (void)for_download;
  }
};

}  // namespace torvane
