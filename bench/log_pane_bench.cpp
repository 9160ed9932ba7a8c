// The log pane under a download's load: the worker posts one percentage per
// 48-byte block (about 350 000 for a 16 MiB image), each replacing the last
// line of a log that is never trimmed. Figures: cost of one replacement
// with short and long logs, of one appended line, and of a posted progress
// message from a worker thread to the pane.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <memory>
#include <thread>

#include "bench/ui_bench_support.h"
#include "ui/qt/dialog_poster.h"
#include "ui/qt/log_pane.h"
#include "ui/qt/torvane_dlg.h"

namespace {

std::unique_ptr<torvane::CTorvaneDlg> OpenDialog(QTemporaryDir& scratch, int earlier_lines) {
  auto dlg = std::make_unique<torvane::CTorvaneDlg>(nullptr, scratch.filePath(QStringLiteral("Torvane.ini")));
  dlg->show();
  QString text;
  for (int i = 0; i < earlier_lines; ++i) text += QStringLiteral("发现一个可烧录设备, 设备信息: %1\r\n").arg(i);
  if (!text.isEmpty()) dlg->AppendLog(text, false);
  dlg->OnDownloadProgress(1, 0);
  QApplication::processEvents();
  return dlg;
}

void BM_ReplaceProgressLine(benchmark::State& state) {
  QTemporaryDir scratch;
  auto dlg = OpenDialog(scratch, static_cast<int>(state.range(0)));
  int percent = 0;
  for (auto _ : state) {
    dlg->OnDownloadProgress(2, percent);
    percent = (percent + 1) % 101;
  }
  QApplication::processEvents();  // the repaints the replacements asked for
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReplaceProgressLine)->Arg(0)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_AppendLine(benchmark::State& state) {
  QTemporaryDir scratch;
  auto dlg = OpenDialog(scratch, static_cast<int>(state.range(0)));
  const QString line = QStringLiteral("设备等待烧录\r\n");
  for (auto _ : state) dlg->AppendLog(line, false);
  QApplication::processEvents();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendLine)->Arg(0)->Arg(100000)->Unit(benchmark::kMicrosecond);

// A worker posts a batch of percentages; the UI thread renders them all.
void BM_PostedProgress(benchmark::State& state) {
  QTemporaryDir scratch;
  auto dlg = OpenDialog(scratch, 1000);
  auto poster = dlg->Poster();
  constexpr int kBatch = 10000;
  for (auto _ : state) {
    std::thread worker([poster] {
      for (int i = 0; i < kBatch; ++i) poster->PostDownloadProgress(2, i % 101);
    });
    worker.join();
    QApplication::processEvents();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PostedProgress)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return torvane::bench::RunQtBenchmarks(argc, argv); }
