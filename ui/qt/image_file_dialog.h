// The file chooser of the open button: title "Open File", the filters
// "Binary Files (*.bin)" (selected first), Intel HEX, Motorola S-record and "All Files (*.*)", starting
// in a given place. A name of a file that does not exist is accepted once
// the operator agrees that it may be created; the file is not created.
// Always Qt's own dialog, so it looks the same everywhere and tests can
// drive it.
#pragma once

#include <QFileDialog>
#include <QString>

class QMessageBox;

namespace torvane {

inline constexpr const char* kOpenFileTitle = "Open File";
inline constexpr const char* kBinaryFilesFilter = "Binary Files (*.bin)";
inline constexpr const char* kIntelHexFilter = "Intel HEX (*.hex *.ihex *.ihx)";
inline constexpr const char* kSRecordFilter = "Motorola S-record (*.srec *.s19 *.s28 *.s37 *.mot)";
inline constexpr const char* kAllFilesFilter = "All Files (*.*)";
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
