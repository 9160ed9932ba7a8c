// Exchange speed of the simulated bus: one INFO round trip through an open
// handle, and a whole block-by-block flash through the device layer.
#include <benchmark/benchmark.h>

#include <cstring>

#include "device/boot_protocol.h"
#include "device/hid_link.h"
#include "sim/sim_bus.h"

namespace {

using torvane::sim::SimBus;
using torvane::sim::SimKnobs;

SimKnobs knobs(const char* text) {
  SimKnobs k;
  torvane::sim::parse_sim_knobs(text, &k, nullptr);
  return k;
}

void BM_InfoRoundTrip(benchmark::State& state) {
  SimBus bus;
  const auto id = bus.attach_model(knobs("boot"));
  auto handle = bus.open_path(bus.interface_paths(id).at(0), nullptr);
  std::vector<uint8_t> frame(65, 0);
  torvane::boot_put_u16(&frame[1], torvane::BOOT_FRAME_MAGIC);
  torvane::boot_put_u16(&frame[3], torvane::BOOT_CMD_INFO);
  uint8_t in[128];
  for (auto _ : state) {
    handle->write(frame.data(), frame.size());
    benchmark::DoNotOptimize(handle->read(in, sizeof in, 1000));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InfoRoundTrip);

// Start command and every block of a 64 KiB image (CRC scheme) through
// hid_link and the boot protocol; the device checks and keeps everything.
void BM_FlashThroughDeviceLayer(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> image(size);
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  auto bus = std::make_shared<SimBus>();
  bus->attach_model(knobs("boot,no-restart"));
  torvane::hid_link_set_backend(bus);
  torvane::hid_link_init();
  torvane::HidDevice* device = torvane::hid_link_open(0x484F, 0x5048, nullptr, nullptr);
  if (!device) {
    state.SkipWithError("simulated bootloader not found");
    return;
  }
  torvane::BootStartParams params{0x1000, static_cast<uint32_t>(size - 48),
                                  torvane::boot_crc16(image.data() + 48, static_cast<uint32_t>(size - 48))};
  const auto payload = torvane::boot_pack_start_params(params);
  std::vector<uint8_t> frame(torvane::BOOT_FRAME_BUFFER_SIZE, 0);
  for (auto _ : state) {
    int status = torvane::BOOT_STATUS_NONE;
    torvane::boot_send_command(device, torvane::BOOT_CMD_START, payload.data(), 12, &status);
    for (size_t done = 0; done < size && status == 0; done += 48) {
      const auto n = static_cast<uint16_t>(std::min<size_t>(48, size - done));
      torvane::boot_put_u16(&frame[1], torvane::BOOT_FRAME_MAGIC);
      torvane::boot_put_u16(&frame[3], torvane::BOOT_CMD_DATA);
      torvane::boot_put_u32(&frame[5], static_cast<uint32_t>(done / 48));
      torvane::boot_put_u16(&frame[9], torvane::boot_crc16(&image[done], n));
      torvane::boot_put_u16(&frame[11], n);
      std::memcpy(&frame[13], &image[done], n);
      status = torvane::BOOT_STATUS_NONE;
      torvane::boot_send_block(device, frame.data(), device->output_report_length, &status);
    }
    if (status != 0) state.SkipWithError("transfer refused");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  torvane::hid_link_close(device);
  torvane::hid_link_exit();
  torvane::hid_link_set_backend(nullptr);
}
BENCHMARK(BM_FlashThroughDeviceLayer)->Arg(64 * 1024)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
