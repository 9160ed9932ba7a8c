// The open button's file chooser, driven like an operator would.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "tests/ui/probe_dialog.h"
#include "tests/ui/qt_test_app.h"
#include "ui/control_ids.h"
#include "ui/qt/image_file_dialog.h"

namespace torvane::test {
namespace {

class FileChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("images")));
    images_ = dir_.filePath(QStringLiteral("images"));
    WriteFile(images_ + QStringLiteral("/app.bin"), "\x01\x02");
    WriteFile(images_ + QStringLiteral("/firmware"), "\x03");
    dlg_ = std::make_unique<ProbeDlg>(nullptr, dir_.filePath(QStringLiteral("Torvane.ini")));
    dlg_->show();
    path_box_ = qobject_cast<QLineEdit*>(dlg_->GetDlgItem(IDC_EDIT_PATH));
  }

  // Presses the open button; `drive` runs on the file chooser once it is up.
  void OpenAndDrive(const std::function<void(ImageFileDialog*)>& drive) {
    WhenModalOf<ImageFileDialog>(drive);
    QTest::mouseClick(dlg_->GetDlgItem(IDC_BTN_OPEN), Qt::LeftButton);
  }

  static void TypeName(ImageFileDialog* chooser, const QString& name) {
    auto* name_box = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name_box, nullptr);
    name_box->setText(name);
  }

  void TearDown() override { EXPECT_EQ(CancelPendingModalWaits(), 0) << "a dialog did not open"; }

  QTemporaryDir dir_;
  QString images_;
  std::unique_ptr<ProbeDlg> dlg_;
  QLineEdit* path_box_ = nullptr;
};

TEST_F(FileChooserTest, ShowsTitleFiltersAndStartsAtTheBoxText) {
  path_box_->setText(images_ + QStringLiteral("/app.bin"));
  QString title;
  QStringList filters;
  QString selected_filter;
  QString directory;
  bool native = true;
  OpenAndDrive([&](ImageFileDialog* chooser) {
    title = chooser->windowTitle();
    filters = chooser->nameFilters();
    selected_filter = chooser->selectedNameFilter();
    directory = chooser->directory().absolutePath();
    native = !chooser->testOption(QFileDialog::DontUseNativeDialog);
    chooser->reject();
  });
  EXPECT_EQ(title, QStringLiteral("Open File"));
  EXPECT_EQ(filters, (QStringList{QStringLiteral("Binary Files (*.bin)"), QStringLiteral("Intel HEX (*.hex *.ihex *.ihx)"),
                                  QStringLiteral("Motorola S-record (*.srec *.s19 *.s28 *.s37 *.mot)"),
                                  QStringLiteral("All Files (*.*)")}));
  EXPECT_EQ(selected_filter, QStringLiteral("Binary Files (*.bin)"));
  EXPECT_EQ(directory, QDir(images_).absolutePath());
  EXPECT_FALSE(native);
}

TEST_F(FileChooserTest, StartDirectoryFromBoxText) {
  EXPECT_EQ(ImageFileDialog::StartDirectory(QString()), QString());
  EXPECT_EQ(ImageFileDialog::StartDirectory(images_), QDir(images_).absolutePath());
  EXPECT_EQ(ImageFileDialog::StartDirectory(images_ + QStringLiteral("/gone.bin")), QDir(images_).absolutePath());
  EXPECT_EQ(ImageFileDialog::StartDirectory(QStringLiteral("/no/such/dir/x.bin")), QString());
}

TEST_F(FileChooserTest, CancelLeavesTheBoxUnchanged) {
  path_box_->setText(QStringLiteral("/somewhere/old.bin"));
  OpenAndDrive([&](ImageFileDialog* chooser) {
    TypeName(chooser, images_ + QStringLiteral("/app.bin"));
    chooser->reject();
  });
  EXPECT_EQ(path_box_->text(), QStringLiteral("/somewhere/old.bin"));
}

TEST_F(FileChooserTest, ConfirmPutsTheFullPathIntoTheBoxAndItIsSaved) {
  path_box_->setText(images_);
  OpenAndDrive([&](ImageFileDialog* chooser) {
    TypeName(chooser, QStringLiteral("app.bin"));
    chooser->accept();
  });
  EXPECT_EQ(path_box_->text(), QDir(images_).absoluteFilePath(QStringLiteral("app.bin")));
  dlg_->reject();
  EXPECT_NE(ReadFile(dir_.filePath(QStringLiteral("Torvane.ini")))
                .find("File Path=" + QDir(images_).absoluteFilePath(QStringLiteral("app.bin")).toStdString()),
            std::string::npos);
}

TEST_F(FileChooserTest, NewNameAcceptedAfterConfirmationButNotCreated) {
  path_box_->setText(images_);
  QString prompt_text;
  QString yes_text;
  OpenAndDrive([&](ImageFileDialog* chooser) {
    TypeName(chooser, QStringLiteral("new.bin"));
    WhenModal([](QWidget* w) { return w->objectName() == QStringLiteral("createPrompt"); },
              [&](QWidget* w) {
                auto* box = qobject_cast<QMessageBox*>(w);
                prompt_text = box->text();
                yes_text = box->button(QMessageBox::Yes)->text();
                box->button(QMessageBox::Yes)->click();
              });
    chooser->accept();
  });
  const QString expected = QDir(images_).absoluteFilePath(QStringLiteral("new.bin"));
  EXPECT_EQ(path_box_->text(), expected);
  EXPECT_TRUE(prompt_text.contains(QStringLiteral("new.bin"))) << prompt_text.toStdString();
  // The prompt and Qt's own buttons are Chinese.
  EXPECT_TRUE(prompt_text.contains(QString::fromUtf8("该文件不存在"))) << prompt_text.toStdString();
  EXPECT_TRUE(yes_text.contains(QString::fromUtf8("是"))) << yes_text.toStdString();
  EXPECT_FALSE(QFile::exists(expected));
}

TEST_F(FileChooserTest, NewNameDeclinedKeepsTheChooserOpen) {
  path_box_->setText(QStringLiteral("kept"));
  bool still_open = false;
  OpenAndDrive([&](ImageFileDialog* chooser) {
    TypeName(chooser, QStringLiteral("other.bin"));
    WhenModal([](QWidget* w) { return w->objectName() == QStringLiteral("createPrompt"); },
              [](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::No)->click(); });
    chooser->accept();
    still_open = chooser->isVisible() && chooser->result() != QDialog::Accepted;
    chooser->reject();
  });
  EXPECT_TRUE(still_open);
  EXPECT_EQ(path_box_->text(), QStringLiteral("kept"));
  EXPECT_FALSE(QFile::exists(QDir(images_).absoluteFilePath(QStringLiteral("other.bin"))));
}

TEST_F(FileChooserTest, NameInAMissingFolderIsRefused) {
  path_box_->setText(QStringLiteral("kept"));
  bool warned = false;
  OpenAndDrive([&](ImageFileDialog* chooser) {
    TypeName(chooser, images_ + QStringLiteral("/missing/x.bin"));
    WhenModal([](QWidget* w) { return w->objectName() == QStringLiteral("pathMissing"); },
              [&](QWidget* w) {
                warned = qobject_cast<QMessageBox*>(w)->text().contains(QString::fromUtf8("路径不存在"));
                qobject_cast<QMessageBox*>(w)->accept();
              });
    chooser->accept();
    chooser->reject();
  });
  EXPECT_TRUE(warned);
  EXPECT_EQ(path_box_->text(), QStringLiteral("kept"));
}

TEST_F(FileChooserTest, AllFilesShowsNamesWithoutADot) {
  ImageFileDialog chooser(dlg_.get(), images_);
  chooser.show();
  auto* model = chooser.findChild<QFileSystemModel*>();
  ASSERT_NE(model, nullptr);
  auto* types = chooser.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
  ASSERT_NE(types, nullptr);
  const auto listed = [&](const QString& name) {
    const QModelIndex root = model->index(images_);
    for (int row = 0; row < model->rowCount(root); ++row) {
      const QModelIndex index = model->index(row, 0, root);
      if (index.data().toString() == name) return true;
    }
    return false;
  };
  ASSERT_TRUE(ProcessEventsUntil([&] { return listed(QStringLiteral("app.bin")); }));
  EXPECT_EQ(model->nameFilters(), QStringList{QStringLiteral("*.bin")});

  const int all_files = types->count() - 1;
  types->setCurrentIndex(all_files);
  emit types->activated(all_files);
  emit types->textActivated(types->itemText(all_files));
  EXPECT_EQ(model->nameFilters(), QStringList{QStringLiteral("*")});
  EXPECT_TRUE(ProcessEventsUntil([&] { return listed(QStringLiteral("firmware")); }));

  types->setCurrentIndex(0);
  emit types->activated(0);
  emit types->textActivated(types->itemText(0));
  EXPECT_EQ(model->nameFilters(), QStringList{QStringLiteral("*.bin")});
  chooser.reject();
}

}  // namespace
}  // namespace torvane::test
