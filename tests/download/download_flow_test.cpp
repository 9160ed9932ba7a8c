// Downloads driven as the window drives them (flash button, worker thread,
// posted progress) against the simulated bootloader, checked by the log
// lines and by what the device itself received and verified.
#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include "download/transfer_engine.h"
#include "settings/app_paths.h"
#include "tests/support/controller_harness.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using testing::ControllerHarness;
using testing::PatternBytes;
using testing::TempDir;

// The image as the device must hold it: padded with 0xFF to a multiple of 4.
std::vector<uint8_t> Padded(std::vector<uint8_t> bytes) {
  while (bytes.size() % 4 != 0) bytes.push_back(0xFF);
  return bytes;
}

// The simulated devices below stay in their bootloader after a good flash
// (no-restart): a restart would race the test's look at the log.
class DownloadFlow : public ::testing::Test {
 protected:
  TempDir files;
};

TEST_F(DownloadFlow, SmallImageGoesOutInTwoBlocksAndTheDeviceConfirmsIt) {
  ControllerHarness h;
  const auto id = h.Attach("boot,no-restart");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  const auto image = PatternBytes(50);
  EXPECT_EQ(h.Flash(files.Write("app.bin", image)), DL_OK);
  EXPECT_EQ(h.ui.percents, (std::vector<int>{92, 100}));
  const auto v = h.Verdict(id);
  EXPECT_TRUE(v.completed) << v.summary();
  EXPECT_EQ(v.data_blocks, 2u);
  EXPECT_EQ(v.bytes, Padded(image));
  EXPECT_EQ(v.load_address, 0x1000u);
  EXPECT_EQ(v.protocol_violations, 0u) << v.last_violation;
  // Prepare line overwritten by the single progress line, then the result.
  EXPECT_NE(h.ui.log.find("正在下载: 100\r\n下载成功,设备即将重启\r\n"), std::string::npos) << h.ui.log;
  EXPECT_EQ(h.ui.log.find("准备下载"), std::string::npos);
}

TEST_F(DownloadFlow, ExactMultipleOfTheBlockSizeSendsNoEmptyBlock) {
  ControllerHarness h;
  const auto id = h.Attach("boot,no-restart");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  EXPECT_EQ(h.Flash(files.Write("app.bin", PatternBytes(96))), DL_OK);
  EXPECT_EQ(h.Verdict(id).data_blocks, 2u);
  EXPECT_TRUE(h.Verdict(id).completed);
}

TEST_F(DownloadFlow, ReportIdsAndLongerReportsCarryTheSameBytes) {
  ControllerHarness h;
  const auto id = h.Attach("boot,report-id=5,report-length=129,no-restart");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  const auto image = PatternBytes(1000, 9);
  EXPECT_EQ(h.Flash(files.Write("app.bin", image)), DL_OK);
  EXPECT_EQ(h.Verdict(id).bytes, Padded(image));
  EXPECT_TRUE(h.Verdict(id).completed) << h.Verdict(id).summary();
}

TEST_F(DownloadFlow, OldBootloaderGetsTheBootUpdateImageWithXorSums) {
  SetAppDirectoryForTesting(files.dir());
  const auto update = PatternBytes(200, 3);
  files.Write("burn_boot_0.3.0.0.bin", update);
  {
    ControllerHarness h;
    const auto id = h.Attach("oldboot,no-restart");
    ASSERT_TRUE(h.WaitState(DS_OLDBOOT));
    EXPECT_EQ(h.ui.flash_caption, "更新BOOT");
    // Whatever the path box names, the boot update image is sent.
    EXPECT_EQ(h.Flash("/nonexistent/operator.bin"), DL_OK);
    const auto v = h.Verdict(id);
    EXPECT_EQ(v.scheme, CHECKSUM_XOR);
    EXPECT_EQ(v.bytes, update);
    EXPECT_TRUE(v.completed) << v.summary();
  }
  SetAppDirectoryForTesting(std::nullopt);
}

TEST_F(DownloadFlow, AdvisedUpdateSendsTheBootImageBehindItsHeader) {
  SetAppDirectoryForTesting(files.dir());
  const auto header = PatternBytes(48, 0x40);
  const auto update = PatternBytes(500, 0x80);
  files.Write("head_1.0_2016_04_22.bin", header);
  files.Write("burn_boot_0.3.0.0.bin", update);
  Settings settings;
  settings.boot_update_check = true;
  {
    ControllerHarness h(settings);
    const auto id = h.Attach("boot,info=ZAVRO:0.2.0.0 old,no-restart");
    ASSERT_TRUE(h.WaitState(DS_BOOT));
    EXPECT_EQ(h.controller->BootUpdateAdvised(), 1);
    EXPECT_EQ(h.Flash(""), DL_OK);
    auto expected = header;
    expected.insert(expected.end(), update.begin(), update.end());
    const auto v = h.Verdict(id);
    EXPECT_EQ(v.bytes, expected);
    EXPECT_EQ(v.announced_length, 500u);
    EXPECT_TRUE(v.completed) << v.summary();
  }
  {
    // The same advice with the header missing: a file error, nothing sent.
    std::filesystem::remove(files.path() + "/head_1.0_2016_04_22.bin");
    ControllerHarness h(settings);
    const auto id = h.Attach("boot,info=other,no-restart");
    ASSERT_TRUE(h.WaitState(DS_BOOT));
    EXPECT_EQ(h.Flash(""), DL_FILE_ERROR);
    EXPECT_EQ(h.Verdict(id).start_commands, 0u);
  }
  SetAppDirectoryForTesting(std::nullopt);
}

TEST_F(DownloadFlow, StartBusyIsRetriedUpToFiveSends) {
  const std::string image = files.Write("app.bin", PatternBytes(100));
  {
    ControllerHarness h;
    const auto id = h.Attach("boot,busy-start=4,no-restart");
    ASSERT_TRUE(h.WaitState(DS_BOOT));
    EXPECT_EQ(h.Flash(image), DL_OK);
    EXPECT_EQ(h.Verdict(id).start_commands, 5u);
  }
  {
    ControllerHarness h;
    const auto id = h.Attach("boot,busy-start=5,no-restart");
    ASSERT_TRUE(h.WaitState(DS_BOOT));
    EXPECT_EQ(h.Flash(image), DL_START_BUSY);
    EXPECT_EQ(h.Verdict(id).start_commands, 5u);
    EXPECT_EQ(h.Verdict(id).data_blocks, 0u);
  }
  {
    // Status 1 is retried for blocks only.
    ControllerHarness h;
    const auto id = h.Attach("boot,start-status=1,no-restart");
    ASSERT_TRUE(h.WaitState(DS_BOOT));
    EXPECT_EQ(h.Flash(image), DL_PROTOCOL_ERROR);
    EXPECT_EQ(h.Verdict(id).start_commands, 1u);
  }
}

TEST_F(DownloadFlow, BlockBusyIsRetriedUpToFiveSendsOfThatBlock) {
  const std::string image = files.Write("app.bin", PatternBytes(48 * 6));
  {
    ControllerHarness h;
    const auto id = h.Attach("boot,busy-block=3:4:1,no-restart");
    ASSERT_TRUE(h.WaitState(DS_BOOT));
    EXPECT_EQ(h.Flash(image), DL_OK);
    EXPECT_EQ(h.Verdict(id).data_blocks, 6u + 4u);
    EXPECT_TRUE(h.Verdict(id).completed);
  }
  {
    ControllerHarness h;
    const auto id = h.Attach("boot,busy-block=3:5,no-restart");
    ASSERT_TRUE(h.WaitState(DS_BOOT));
    EXPECT_EQ(h.Flash(image), DL_PROTOCOL_ERROR);
    // Blocks 0..2 once, block 3 five times, never a sixth.
    EXPECT_EQ(h.Verdict(id).data_blocks, 3u + 5u);
  }
}

TEST_F(DownloadFlow, NoReplyOrWrongEchoFailsAtOnce) {
  const std::string image = files.Write("app.bin", PatternBytes(48 * 4));
  for (const char* knobs : {"boot,silent-block=2,no-restart", "boot,wrong-echo-block=2,no-restart"}) {
    ControllerHarness h;
    const auto id = h.Attach(knobs);
    ASSERT_TRUE(h.WaitState(DS_BOOT));
    EXPECT_EQ(h.Flash(image), DL_PROTOCOL_ERROR) << knobs;
    EXPECT_EQ(h.Verdict(id).data_blocks, 3u) << knobs;
    EXPECT_NE(h.ui.log.find("下载失败\r\n"), std::string::npos);
  }
}

TEST_F(DownloadFlow, SecondPressCancelsBeforeAnyBlock) {
  ControllerHarness h;
  const auto id = h.Attach("boot,busy-start=2,no-restart");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  const size_t before = h.ui.results.size();
  h.controller->OnFlash(files.Write("app.bin", PatternBytes(480)));
  h.controller->OnFlash("");  // second press: cancel
  EXPECT_EQ(h.controller->CancelRequests(), 1);
  h.controller->OnFlash("");  // third press changes nothing
  EXPECT_EQ(h.controller->CancelRequests(), 1);
  ASSERT_TRUE(h.ui.ProcessUntil([&] { return h.ui.results.size() > before; }, std::chrono::seconds(10)));
  EXPECT_EQ(h.ui.results.back(), DL_CANCELLED);
  EXPECT_EQ(h.Verdict(id).data_blocks, 0u);
  EXPECT_EQ(h.controller->CancelRequests(), 0);
  EXPECT_EQ(h.controller->DownloadRequests(), 0);
}

// The start command is accepted at its first send: the cancellation raised
// meanwhile is seen just before the first block.
TEST_F(DownloadFlow, SecondPressWhileTheStartIsAcceptedAtOnceCancelsBeforeAnyBlock) {
  ControllerHarness h;
  const auto id = h.Attach("boot,latency-us=300000,no-restart");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  const size_t before = h.ui.results.size();
  h.controller->OnFlash(files.Write("app.bin", PatternBytes(480)));
  h.controller->OnFlash("");
  ASSERT_TRUE(h.ui.ProcessUntil([&] { return h.ui.results.size() > before; }, std::chrono::seconds(10)));
  EXPECT_EQ(h.ui.results.back(), DL_CANCELLED);
  // A press that lands while the image is still being prepared stops the
  // download before its start command.
  EXPECT_LE(h.Verdict(id).start_commands, 1u);
  EXPECT_EQ(h.Verdict(id).busy_answers, 0u);
  EXPECT_EQ(h.Verdict(id).data_blocks, 0u);
}

TEST_F(DownloadFlow, CancelRaisedAsADownloadEndsDoesNotCancelTheNext) {
  ControllerHarness h;
  h.Attach("boot,no-restart");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  const std::string image = files.Write("app.bin", PatternBytes(100));
  // The flash button pressed between the worker's two decrements.
  bool first = true;
  h.controller->SetDownloadEndHookForTesting([&] {
    if (std::exchange(first, false)) h.controller->OnFlash(image);
  });
  EXPECT_EQ(h.Flash(image), DL_OK);
  EXPECT_EQ(h.Flash(image), DL_OK);
}

TEST_F(DownloadFlow, CancelAfterTheLastAcknowledgementIsStillSuccess) {
  ControllerHarness h;
  const auto id = h.Attach("boot,no-restart");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  PreparedImage image;
  ASSERT_TRUE(PrepareImage({files.Write("app.bin", PatternBytes(480)), ""}, CHECKSUM_CRC16, &image));
  HidDevice* device = hid_link_open_path(h.bus->interface_paths(id).at(0));
  ASSERT_NE(device, nullptr);
  std::atomic<int32_t> cancel{0};
  TransferControl control;
  control.cancel = &cancel;
  control.on_percent = [&](int percent) { cancel = percent == 100 ? 1 : 0; };  // the device restarts
  EXPECT_EQ(RunTransfer(device, image, CHECKSUM_CRC16, 0x1000, control), DL_OK);
  hid_link_close(device);
  EXPECT_TRUE(h.Verdict(id).completed);
}

TEST_F(DownloadFlow, EmptyPathIsAFileErrorWithoutPrepareAndTheNextPressWorks) {
  ControllerHarness h;
  const auto id = h.Attach("boot,no-restart");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  h.ui.log.clear();
  EXPECT_EQ(h.Flash(""), DL_FILE_ERROR);
  EXPECT_EQ(h.ui.log, "下载失败\r\n");
  EXPECT_EQ(h.Verdict(id).start_commands, 0u);
  EXPECT_EQ(h.Flash(files.Write("app.bin", PatternBytes(64))), DL_OK);
}

TEST_F(DownloadFlow, LateReplyDoesNotPoisonTheNextDownload) {
  ControllerHarness h;
  const auto id = h.Attach("boot,late-block=2,no-restart");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  const std::string image = files.Write("app.bin", PatternBytes(48 * 5));
  EXPECT_EQ(h.Flash(image), DL_PROTOCOL_ERROR);
  EXPECT_FALSE(h.controller->DeviceOpen());
  // Let the late reply arrive; it must not be taken as the next answer.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_EQ(h.Flash(image), DL_OK);
  EXPECT_TRUE(h.Verdict(id).completed) << h.Verdict(id).summary();
}

TEST_F(DownloadFlow, UnplugMidTransferEndsCleanlyEveryTime) {
  const std::string image = files.Write("app.bin", PatternBytes(48 * 40));
  for (int round = 0; round < 8; ++round) {
    ControllerHarness h;
    const auto id = h.Attach("boot,latency-us=300,no-restart");
    ASSERT_TRUE(h.WaitState(DS_BOOT));
    const size_t before = h.ui.results.size();
    h.controller->OnFlash(image);
    // Pull the device at a different point of the transfer each round.
    std::this_thread::sleep_for(std::chrono::milliseconds(1 + round * 2));
    h.bus->unplug(id);
    ASSERT_TRUE(h.ui.ProcessUntil([&] { return h.ui.results.size() > before; }, std::chrono::seconds(10)));
    const int result = h.ui.results.back();
    EXPECT_TRUE(result == DL_PROTOCOL_ERROR || result == DL_CANCELLED || result == DL_OK) << result;
    ASSERT_TRUE(h.WaitState(DS_NONE));
    EXPECT_FALSE(h.ui.flash_enabled);
  }
}

TEST_F(DownloadFlow, ClosingDuringATransferStopsTheWorkerPromptly) {
  ControllerHarness h;
  h.Attach("boot,latency-us=2000,no-restart");
  ASSERT_TRUE(h.WaitState(DS_BOOT));
  h.controller->OnFlash(files.Write("app.bin", PatternBytes(48 * 500)));
  ASSERT_TRUE(h.ui.ProcessUntil([&] { return !h.ui.percents.empty(); }, std::chrono::seconds(10)));
  const auto start = std::chrono::steady_clock::now();
  h.controller->StopDownloadThread();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(h.controller->AnyThreadAbandoned());
}

}  // namespace
}  // namespace torvane
