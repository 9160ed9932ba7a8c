// The dialog as the device monitor and the download worker see it: their
// log lines, button states and captions go to the dialog's controls on the
// UI thread, and their posted messages go through the dialog's poster.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "monitor/front_end.h"

namespace torvane {

class CTorvaneDlg;
class DialogPoster;

class DialogFrontEnd final : public FrontEnd {
 public:
  DialogFrontEnd(CTorvaneDlg& dialog, std::shared_ptr<DialogPoster> poster);

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
  CTorvaneDlg& dialog_;
  std::shared_ptr<DialogPoster> poster_;
  mutable std::mutex mutex_;
  std::string denied_reason_;
  std::string failure_reason_;  // shown after the next failed result
};

}  // namespace torvane
