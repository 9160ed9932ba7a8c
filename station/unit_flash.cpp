#include "station/unit_flash.h"

#include "device/boot_protocol.h"
#include "device/hid_link.h"
#include "download/download_worker.h"
#include "download/load_address.h"
#include "download/transfer_engine.h"
#include "monitor/info_text.h"
#include "monitor/status_report.h"

namespace torvane {

using SteadyClock = std::chrono::steady_clock;

void FlashUnit(const UnitFlashContext& context, const UnitView& view, const AttachedInterface& target,
               SteadyClock::time_point event_time, UnitRecord* record, UnitResult* result) {
  const StationConfig& config = *context.config;
  const Settings& s = config.settings;
  record->start = std::chrono::system_clock::now();
  const SteadyClock::time_point began = SteadyClock::now();
  record->port = view.port;
  record->slot = view.slot;
  record->path = target.path;
  record->serial = view.serial;
  record->vendor_id = target.vendor_id;
  record->product_id = target.product_id;
  record->kind = target.kind;
  record->attempt = view.attempt;
  record->image_path = config.image_path;
  std::string detail;

  HidDevice* device = OpenAttachedInterface(s, target);
  if (device == nullptr) {
    result->result = DL_PROTOCOL_ERROR;
    detail = "cannot open: " + hid_link_last_open_error();
  } else {
    int status = BOOT_STATUS_NONE;
    BootInfo info;
    boot_query_info(device, &status, &info);
    if (status == 0) {
      record->info_text = ConvertInfoText(info);
      if (context.on_info) context.on_info(record->info_text);
    }
    int advised = 0;
    BuildFoundReport(target.kind, status, info, s.boot_bin_info, s.boot_update_check, &advised);
    const DownloadJob job = BuildDownloadJob(target.kind, advised != 0, config.image_path, config.boot_update_image,
                                             config.boot_update_header);
    const ChecksumScheme scheme = target.kind == DS_OLDBOOT ? CHECKSUM_XOR : CHECKSUM_CRC16;
    result->boot_update = job.image_path != config.image_path;
    record->image_path = job.image_path;
    std::string error;
    const std::shared_ptr<const SharedImage> image = context.images->Get(job, scheme, &error);
    uint32_t address = s.app_address;
    if (!image ||
        !ResolveLoadAddress(config.load_address, s.app_address, image->image.file_load_address,
                            image->image.image_length, &address, &error)) {
      result->result = DL_FILE_ERROR;
      detail = error;
    } else {
      record->size = image->image.total_length;
      record->digest = image->digest;
      result->total_bytes = image->image.total_length;
      TransferStats stats;
      TransferControl control;
      control.cancel = context.cancel;
      control.stop = context.stop;
      control.stats = &stats;
      control.sleep = config.busy_sleep;
      const SteadyClock::time_point transfer_start = SteadyClock::now();
      int last_percent = -1;
      control.on_percent = [&](int percent) {
        if (percent == last_percent || !context.on_progress) return;
        last_percent = percent;
        UnitProgress p;
        p.unit = view.unit;
        p.percent = percent;
        p.bytes_acknowledged = stats.acknowledged;
        p.total_bytes = image->image.total_length;
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - transfer_start).count();
        p.bytes_per_second = seconds > 0 ? stats.acknowledged / seconds : 0;
        context.on_progress(p);
      };
      result->arrival_to_start_ms = std::chrono::duration<double, std::milli>(transfer_start - event_time).count();
      result->result = RunTransfer(device, image->image, scheme, address, control);
      if (result->result != DL_OK && device->last_error_text) detail = *device->last_error_text;
      result->bytes_acknowledged = stats.acknowledged;
      result->busy_answers = stats.busy_answers;
    }
    hid_link_close(device);
  }

  record->end = std::chrono::system_clock::now();
  result->duration_s = std::chrono::duration<double>(SteadyClock::now() - began).count();
  record->result = result->result;
  record->bytes_acknowledged = result->bytes_acknowledged;
  record->busy_answers = result->busy_answers;
  record->boot_update = result->boot_update;
  record->duration_s = result->duration_s;
  record->detail = detail;
}

}  // namespace torvane
