// The file chooser of the open button: title "Open File", the filters
// "Binary Files (*.bin)" (selected first), Intel HEX, Motorola S-record and "All Files (*.*)", starting
// in a given place. A name of a file that does not exist is accepted once
// the operator agrees that it may be created; the file is not created.
// Always Qt's own dialog, so it looks the same everywhere and tests can
// drive it.
#pragma once

#include <QFileDialog>
#include <QString>

#include "ui/dialog_texts.h"

class QMessageBox;

namespace torvane {

// The filters of dialog_texts.h, shared with the Windows chooser.
inline constexpr const char* kBinaryFilesFilter = kImageFilters[0].name;
inline constexpr const char* kAllFilesFilter = kImageFilters.back().name;
inline constexpr const char* kCreatePromptName = "createPrompt";
inline constexpr const char* kPathMissingName = "pathMissing";

class ImageFileDialog : public QFileDialog {
  Q_OBJECT

 public:
  // start: the text of the image path box, used as the starting place: a
  // folder starts there, a file path starts in the file's folder.
  ImageFileDialog(QWidget* parent, const QString& start);

  // The folder the dialog starts in for a given start text (empty: the
  // dialog's default).
  static QString StartDirectory(const QString& start);

 public slots:
  void accept() override;

 private:
  void ApplyNameFilter(const QString& filter);
  bool ConfirmCreate(const QString& path);
};

}  // namespace torvane
