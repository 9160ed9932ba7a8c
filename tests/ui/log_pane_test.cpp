// The log pane: appending, replacing the last displayed line (wrapped
// lines counted as displayed), download progress lines, clearing, and log
// texts posted from other threads.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <atomic>
#include <memory>
#include <thread>

#include "tests/ui/probe_dialog.h"
#include "tests/ui/qt_test_app.h"
#include "ui/qt/dialog_messages.h"
#include "ui/qt/dialog_poster.h"
#include "ui/qt/log_pane.h"

namespace torvane::test {
namespace {

class LogPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dlg_ = std::make_unique<ProbeDlg>(nullptr, dir_.filePath(QStringLiteral("Torvane.ini")));
    dlg_->show();
    pane_ = dlg_->m_log;
  }
  QString Text() const { return pane_->LogText(); }
  void Progress(int kind, int value) { EXPECT_EQ(dlg_->OnDownloadProgress(kind, value), 0); }

  QTemporaryDir dir_;
  std::unique_ptr<ProbeDlg> dlg_;
  LogPane* pane_ = nullptr;
};

TEST_F(LogPaneTest, AppendKeepsLineEndsAsParagraphs) {
  dlg_->AppendLog(QStringLiteral("没有发现设备\r\n"), false);
  EXPECT_EQ(Text(), QStringLiteral("没有发现设备\r\n"));
  // Text ends with a line break, so the last line is empty.
  EXPECT_EQ(pane_->document()->blockCount(), 2);
  EXPECT_TRUE(pane_->document()->lastBlock().text().isEmpty());
  EXPECT_EQ(pane_->LineCount(), 2);
  // A report with a bare "\n" inside shows two lines.
  dlg_->AppendLog(QStringLiteral("发现一个可烧录设备, 设备信息:\nZAVRO:0.3.0.0\r\n"), false);
  EXPECT_EQ(Text(), QStringLiteral("没有发现设备\r\n发现一个可烧录设备, 设备信息:\r\nZAVRO:0.3.0.0\r\n"));
  EXPECT_EQ(pane_->LineCount(), 4);
}

TEST_F(LogPaneTest, FirstPercentageReplacesPreparing) {
  dlg_->AppendLog(QStringLiteral("发现一个可烧录设备, 设备信息:\r\n"), false);
  Progress(1, 0);
  EXPECT_EQ(Text(), QStringLiteral("发现一个可烧录设备, 设备信息:\r\n准备下载\r\n"));
  Progress(2, 5);
  EXPECT_EQ(Text(), QStringLiteral("发现一个可烧录设备, 设备信息:\r\n正在下载: 5\r\n"));
}

TEST_F(LogPaneTest, OneProgressLineThenTheResult) {
  Progress(1, 0);
  for (int percent = 5; percent <= 100; percent += 5) Progress(2, percent);
  Progress(3, 0);
  EXPECT_EQ(Text(), QStringLiteral("正在下载: 100\r\n下载成功,设备即将重启\r\n"));
}

TEST_F(LogPaneTest, EveryFailureResultShowsTheFailureLine) {
  for (int result : {1, 3, 6, -1}) {
    dlg_->OnClearLog();
    Progress(1, 0);
    Progress(2, 50);
    Progress(3, result);
    EXPECT_EQ(Text(), QStringLiteral("正在下载: 50\r\n下载失败\r\n")) << result;
  }
}

TEST_F(LogPaneTest, UnknownKindsChangeNothing) {
  dlg_->AppendLog(QStringLiteral("a\r\n"), false);
  Progress(0, 0);
  Progress(4, 77);
  Progress(-1, 1);
  EXPECT_EQ(Text(), QStringLiteral("a\r\n"));
}

TEST_F(LogPaneTest, PercentageOnEmptyPaneIsItsOnlyLine) {
  Progress(2, 37);
  EXPECT_EQ(Text(), QStringLiteral("正在下载: 37\r\n"));
}

TEST_F(LogPaneTest, ReportDuringDownloadLosesItsLastLineToThePercentage) {
  Progress(1, 0);
  Progress(2, 10);
  dlg_->AppendLog(QStringLiteral("发现一个HID设备, 设备信息:\nAPP 1.0\r\n"), false);
  Progress(2, 20);
  EXPECT_EQ(Text(), QStringLiteral("正在下载: 10\r\n发现一个HID设备, 设备信息:\r\n正在下载: 20\r\n"));
}

TEST_F(LogPaneTest, RepeatedPercentageStillOverwritesWhatCameInBetween) {
  Progress(2, 10);
  Progress(2, 10);
  EXPECT_EQ(Text(), QStringLiteral("正在下载: 10\r\n"));
  dlg_->AppendLog(QStringLiteral("没有发现设备\r\n"), false);
  Progress(2, 10);  // same value, but the last line is now the report
  EXPECT_EQ(Text(), QStringLiteral("正在下载: 10\r\n正在下载: 10\r\n"));
  dlg_->OnClearLog();
  Progress(2, 10);
  EXPECT_EQ(Text(), QStringLiteral("正在下载: 10\r\n"));
}

TEST_F(LogPaneTest, ClearDuringDownloadLeavesOnlyTheNextPercentage) {
  dlg_->AppendLog(QStringLiteral("没有发现设备\r\n"), false);
  Progress(1, 0);
  Progress(2, 40);
  dlg_->OnClearLog();
  EXPECT_TRUE(pane_->toPlainText().isEmpty());
  EXPECT_EQ(pane_->LineCount(), 1);
  Progress(2, 45);
  EXPECT_EQ(Text(), QStringLiteral("正在下载: 45\r\n"));
}

TEST_F(LogPaneTest, ReplaceOnASingleLineOverwritesEverything) {
  dlg_->AppendLog(QStringLiteral("no line end"), false);
  EXPECT_EQ(pane_->LineCount(), 1);
  dlg_->AppendLog(QStringLiteral("x\r\n"), true);
  EXPECT_EQ(Text(), QStringLiteral("x\r\n"));
}

TEST_F(LogPaneTest, ReplaceWithoutTrailingLineEndTakesTheSecondToLastLine) {
  // Line n-2 is the rule, also when the last line holds text.
  dlg_->AppendLog(QStringLiteral("one\r\ntwo\r\nthree"), false);
  dlg_->AppendLog(QStringLiteral("X\r\n"), true);
  EXPECT_EQ(Text(), QStringLiteral("one\r\nX\r\n"));
}

TEST_F(LogPaneTest, AppendNeverTouchesEarlierTextWhereverTheCaretIs) {
  const QString before = QStringLiteral("第一行\r\nsecond line\r\nthird\r\n");
  dlg_->AppendLog(before, false);
  for (int start : {0, 2, 5, 12}) {
    // The operator clicked or selected somewhere in the pane.
    QTextCursor cursor(pane_->document());
    cursor.setPosition(start);
    cursor.setPosition(start + 3, QTextCursor::KeepAnchor);
    pane_->setTextCursor(cursor);
    const QString earlier = Text();
    dlg_->AppendLog(QStringLiteral("next\r\n"), false);
    EXPECT_EQ(Text(), earlier + QStringLiteral("next\r\n")) << start;
  }
  EXPECT_TRUE(Text().startsWith(before));
  // The caret follows the end.
  EXPECT_EQ(pane_->textCursor().position(), pane_->TextLength());
  EXPECT_FALSE(pane_->textCursor().hasSelection());
}

TEST_F(LogPaneTest, WrappedLastLineCountsAsSeveralLines) {
  const QString long_line = QString(QStringLiteral("ZAVRO")).repeated(60);  // far wider than the pane
  dlg_->AppendLog(QStringLiteral("short\r\n") + long_line + QStringLiteral("\r\n"), false);
  ASSERT_TRUE(ProcessEventsUntil([&] { return pane_->viewport()->width() > 0; }));
  const int lines = pane_->LineCount();
  // "short", at least two rows of the long line, and the empty last line.
  ASSERT_GE(lines, 4);
  EXPECT_EQ(pane_->document()->blockCount(), 3);
  const int last_row_start = pane_->LineIndex(lines - 2);
  const int long_start = QStringLiteral("short\n").size();
  ASSERT_GT(last_row_start, long_start);
  EXPECT_EQ(pane_->LastTextLineStart(), last_row_start);
  EXPECT_EQ(pane_->LineIndex(lines - 1), pane_->TextLength());  // the empty last line
  EXPECT_EQ(pane_->LineIndex(lines), -1);

  Progress(2, 5);
  // Only the last displayed row of the long line was replaced.
  const QString kept = long_line.left(last_row_start - long_start);
  EXPECT_EQ(Text(), QStringLiteral("short\r\n") + kept + QStringLiteral("正在下载: 5\r\n"));
}

TEST_F(LogPaneTest, LineIndexWalksParagraphs) {
  dlg_->AppendLog(QStringLiteral("ab\r\ncde\r\n"), false);
  EXPECT_EQ(pane_->LineIndex(0), 0);
  EXPECT_EQ(pane_->LineIndex(1), 3);
  EXPECT_EQ(pane_->LineIndex(2), 7);
  EXPECT_EQ(pane_->LineIndex(3), -1);
  EXPECT_EQ(pane_->LineIndex(-1), -1);
  EXPECT_EQ(pane_->LastTextLineStart(), 3);
  pane_->SetSel(-5, 1000);  // clamped
  EXPECT_EQ(pane_->textCursor().selectionStart(), 0);
  EXPECT_EQ(pane_->textCursor().selectionEnd(), pane_->TextLength());
}

TEST_F(LogPaneTest, LongLogStaysCheapToReplace) {
  // Many lines before the progress line: the replacement works from the
  // end and keeps every earlier line.
  QString block;
  for (int i = 0; i < 2000; ++i) block += QStringLiteral("line %1\r\n").arg(i);
  dlg_->AppendLog(block, false);
  Progress(1, 0);
  for (int percent = 0; percent <= 100; ++percent) Progress(2, percent);
  EXPECT_EQ(Text(), block + QStringLiteral("正在下载: 100\r\n"));
}

TEST_F(LogPaneTest, PostedTextsAndProgressArriveInOrder) {
  auto poster = dlg_->Poster();
  std::thread worker([poster] {
    poster->PostDownloadProgress(1, 0);
    for (int i = 1; i <= 50; ++i) {
      poster->PostDownloadProgress(2, i * 2);
      if (i == 25) poster->PostLog(QStringLiteral("设备异常\r\n"));
    }
    poster->PostDownloadProgress(3, 0);
    poster->PostEnumDone();
  });
  worker.join();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !dlg_->enum_done.empty(); }));
  // The error line arrived between 50 and 52 and was then overwritten by
  // the next percentage, exactly as if appended on the UI thread there.
  EXPECT_EQ(Text(), QStringLiteral("正在下载: 50\r\n正在下载: 100\r\n下载成功,设备即将重启\r\n"));
  EXPECT_EQ(dlg_->enum_done, (std::vector<std::pair<qint64, qint64>>{{0, 0}}));
}

TEST_F(LogPaneTest, PostLogFromSeveralThreadsLosesNothing) {
  constexpr int kThreads = 4;
  constexpr int kLines = 100;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kLines; ++i) dlg_->PostLog(QStringLiteral("t%1 %2\r\n").arg(t).arg(i));
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(ProcessEventsUntil([&] { return pane_->document()->blockCount() == kThreads * kLines + 1; }));
  // Each thread's lines keep their own order.
  const QStringList lines = pane_->toPlainText().split(QLatin1Char('\n'));
  for (int t = 0; t < kThreads; ++t) {
    int expected = 0;
    for (const QString& line : lines) {
      if (line.startsWith(QStringLiteral("t%1 ").arg(t))) {
        EXPECT_EQ(line, QStringLiteral("t%1 %2").arg(t).arg(expected));
        ++expected;
      }
    }
    EXPECT_EQ(expected, kLines);
  }
}

TEST_F(LogPaneTest, AppendLogFromAnotherThreadIsQueuedToTheUiThread) {
  dlg_->AppendLog(QStringLiteral("准备下载\r\n"), false);
  std::thread worker([this] {
    dlg_->AppendLog(QStringLiteral("设备异常\r\n"), false);
    dlg_->AppendLog(QStringLiteral("正在下载: 1\r\n"), true);
    dlg_->Poster()->PostEnumDone();
  });
  worker.join();
  EXPECT_EQ(Text(), QStringLiteral("准备下载\r\n"));  // nothing touched off the UI thread
  ASSERT_TRUE(ProcessEventsUntil([&] { return !dlg_->enum_done.empty(); }));
  EXPECT_EQ(Text(), QStringLiteral("准备下载\r\n正在下载: 1\r\n"));
}

TEST(DialogPoster, PostsAfterTheDialogIsGoneAreDropped) {
  QTemporaryDir dir;
  std::shared_ptr<DialogPoster> poster;
  {
    ProbeDlg dlg(nullptr, dir.filePath(QStringLiteral("Torvane.ini")));
    poster = dlg.Poster();
    EXPECT_TRUE(poster->Attached());
    EXPECT_TRUE(poster->PostLog(QStringLiteral("pending\r\n")));  // removed with the dialog
  }
  EXPECT_FALSE(poster->Attached());
  std::thread late([poster] {
    EXPECT_FALSE(poster->PostLog(QStringLiteral("late\r\n")));
    EXPECT_FALSE(poster->PostDownloadProgress(2, 1));
    EXPECT_FALSE(poster->PostEnumDone());
  });
  late.join();
  QCoreApplication::processEvents();
}

TEST(DialogMessages, TypesKeepTheMessageNumbers) {
  EXPECT_EQ(static_cast<int>(WM_DOWNLOAD_PROGRESS), QEvent::User + 0x0500);
  EXPECT_EQ(static_cast<int>(WM_ENUM_DONE), QEvent::User + 0x0501);
  EXPECT_LE(static_cast<int>(WM_DEVICECHANGE), QEvent::MaxUser);
  DialogMessageEvent event(WM_DOWNLOAD_PROGRESS, 3, -1);
  EXPECT_EQ(event.wParam(), 3);
  EXPECT_EQ(event.lParam(), -1);
}

}  // namespace
}  // namespace torvane::test
