// The About box (dialog 100): caption "About Torvane", the icon, the
// version line and an OK button. Modal; no state of its own.
#pragma once

#include <QDialog>

namespace torvane {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace torvane
