// The main dialog as the device monitor and the download worker see it,
// whatever toolkit draws it: their log lines, button states and captions go
// to the dialog's controls on the UI thread (through DialogControls), and
// their posted messages go through the window's poster.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "monitor/front_end.h"
#include "ui/window_poster.h"

namespace torvane {

// The controls of the main dialog by id (control_ids.h); UI thread only.
class DialogControls {
 public:
  virtual ~DialogControls() = default;
  // The only way text enters the log pane: appended at the end, or
  // replacing the last line that holds text.
  virtual void AppendLogUtf8(const std::string& text, bool replace_last_line) = 0;
  virtual std::string ControlText(int id) const = 0;
  virtual void SetControlText(int id, const std::string& text) = 0;
  virtual void EnableControl(int id, bool enabled) = 0;
};

class DialogPort final : public FrontEnd {
 public:
  DialogPort(DialogControls& controls, std::shared_ptr<WindowPoster> poster);

  void AppendLog(const std::string& text, bool replace_last_line) override;
  IdentityTexts ReadIdentityTexts() override;
  void SetEnterFlashModeEnabled(bool enabled) override;
  void SetFlashEnabled(bool enabled) override;
  void SetFlashCaption(const std::string& caption) override;

  void PostLog(const std::string& text) override;
  void PostDownloadProgress(int kind, int value) override;
  void PostEnumDone() override;
  void PostDeviceChange(unsigned event) override;
  void PostPermissionDenied(const std::string& reason) override;
  void PostDownloadFailureReason(const std::string& reason) override;

  // The reason of the refused open, for the message that tells the operator.
  std::string PermissionDeniedReason() const;

 private:
  DialogControls& controls_;
  std::shared_ptr<WindowPoster> poster_;
  mutable std::mutex mutex_;
  std::string denied_reason_;
  std::string failure_reason_;  // shown after the next failed result
};

}  // namespace torvane
