#include "ui/qt/image_file_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QStringList>

namespace torvane {

ImageFileDialog::ImageFileDialog(QWidget* parent, const QString& start) : QFileDialog(parent) {
  setOption(QFileDialog::DontUseNativeDialog, true);
  setWindowTitle(QString::fromUtf8(kOpenFileTitle));
  setAcceptMode(QFileDialog::AcceptOpen);
  // Any name is taken here; accept() asks before taking one that does
  // not exist.
  setFileMode(QFileDialog::AnyFile);
  setSizeGripEnabled(true);
  QStringList filters;
  for (const ImageFilter& filter : kImageFilters) filters << QString::fromUtf8(filter.name);
  setNameFilters(filters);
  selectNameFilter(QString::fromUtf8(kBinaryFilesFilter));
  const QString directory = StartDirectory(start);
  if (!directory.isEmpty()) setDirectory(directory);
  connect(this, &QFileDialog::filterSelected, this, &ImageFileDialog::ApplyNameFilter);
}

QString ImageFileDialog::StartDirectory(const QString& start) {
  if (start.isEmpty()) return QString();
  const QFileInfo info(start);
  if (info.isDir()) return info.absoluteFilePath();
  const QFileInfo parent(info.absolutePath());
  if (parent.isDir()) return parent.absoluteFilePath();
  return QString();
}

void ImageFileDialog::ApplyNameFilter(const QString& filter) {
  // "*.*" stands for every file where the filter names come from, but here
  // it would hide names without a dot: show every file instead.
  if (filter != QString::fromUtf8(kAllFilesFilter)) return;
  if (auto* model = findChild<QFileSystemModel*>(); model != nullptr) {
    model->setNameFilters({QStringLiteral("*")});
  }
}

bool ImageFileDialog::ConfirmCreate(const QString& path) {
  QMessageBox prompt(QMessageBox::Warning, windowTitle(),
                     QString::fromUtf8("%1\n该文件不存在。\n要创建该文件吗?").arg(QDir::toNativeSeparators(path)),
                     QMessageBox::Yes | QMessageBox::No, this);
  prompt.setObjectName(QString::fromUtf8(kCreatePromptName));
  prompt.setDefaultButton(QMessageBox::Yes);
  return prompt.exec() == QMessageBox::Yes;
}

void ImageFileDialog::accept() {
  const QStringList files = selectedFiles();
  if (files.isEmpty()) {
    QFileDialog::accept();
    return;
  }
  const QFileInfo info(files.first());
  if (info.isDir() || info.exists()) {
    QFileDialog::accept();  // enters a folder, or takes the file
    return;
  }
  if (!QFileInfo(info.absolutePath()).isDir()) {
    QMessageBox missing(QMessageBox::Warning, windowTitle(),
                        QString::fromUtf8("%1\n路径不存在。\n请检查路径, 然后重试。")
                            .arg(QDir::toNativeSeparators(info.absolutePath())),
                        QMessageBox::Ok, this);
    missing.setObjectName(QString::fromUtf8(kPathMissingName));
    missing.exec();
    return;
  }
  if (ConfirmCreate(info.absoluteFilePath())) QFileDialog::accept();
}

}  // namespace torvane
