#include "station/unit_flash.h"

#include "device/boot_protocol.h"
#include "device/hid_link.h"
#include "download/download_worker.h"
#include "download/load_address.h"
#include "download/transfer_engine.h"
#include "job/serial_journal.h"
#include "job/serial_patch.h"
#include "monitor/info_text.h"
#include "monitor/status_report.h"

namespace torvane {

using SteadyClock = std::chrono::steady_clock;

namespace {

// The result name of a unit failed by its serial number.
constexpr const char* kSerialFailed = "serial-failed";

// Reserves the unit's serial and writes it into a copy of `base`. False
// with *error when the journal gives none (the journal failed) or the copy
// cannot be made (the serial released again).
bool TakeSerial(const UnitFlashContext& context, uint64_t unit, const PreparedImage& base, ChecksumScheme scheme,
                SerialLease* lease, PreparedImage* patched, std::string* error) {
  if (!context.journal->Reserve(unit, lease, error)) {
    *error = "serial journal: " + *error;
    if (context.on_journal_failure) context.on_journal_failure(*error);
    return false;
  }
  if (PatchSerial(base, context.serial_offset, lease->bytes, scheme, patched, error)) return true;
  *error = "serial " + lease->text + " not written into the image: " + *error;
  std::string release_error;
  if (!context.journal->Release(*lease, &release_error)) {
    *error += "; serial journal: " + release_error;
    if (context.on_journal_failure) context.on_journal_failure("serial journal: " + release_error);
  }
  return false;
}

}  // namespace

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
    SerialLease lease;
    PreparedImage patched;
    const std::shared_ptr<const SharedImage> image = context.images->Get(job, scheme, &error);
    uint32_t address = s.app_address;
    if (!image ||
        !ResolveLoadAddress(config.load_address, s.app_address, image->image.file_load_address,
                            image->image.image_length, &address, &error)) {
      result->result = DL_FILE_ERROR;
      detail = error;
    } else if (context.journal != nullptr && !result->boot_update &&
               !TakeSerial(context, view.unit, image->image, scheme, &lease, &patched, &error)) {
      result->result = DL_FILE_ERROR;
      record->result_name = kSerialFailed;
      detail = error;
    } else {
      const bool with_serial = context.journal != nullptr && !result->boot_update;
      const PreparedImage& sent = with_serial ? patched : image->image;
      record->size = sent.total_length;
      record->digest =
          with_serial ? image->DigestOfCopy(sent, context.serial_offset, lease.bytes.size()) : image->digest;
      record->serial_number = lease.text;
      result->serial_number = lease.text;
      result->total_bytes = sent.total_length;
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
        p.total_bytes = sent.total_length;
        p.serial_number = lease.text;
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - transfer_start).count();
        p.bytes_per_second = seconds > 0 ? stats.acknowledged / seconds : 0;
        context.on_progress(p);
      };
      result->arrival_to_start_ms = std::chrono::duration<double, std::milli>(transfer_start - event_time).count();
      result->result = RunTransfer(device, sent, scheme, address, control);
      if (result->result != DL_OK && device->last_error_text) detail = *device->last_error_text;
      result->bytes_acknowledged = stats.acknowledged;
      result->busy_answers = stats.busy_answers;
      if (with_serial) {
        // A failure on the last block (sent, its answer lost or wrong) may
        // have left the whole image, serial and all, in the device: that
        // serial is never given again.
        const bool held = result->result == DL_OK ||
                          (result->result != DL_CANCELLED && sent.total_length - stats.acknowledged <= BOOT_BLOCK_SIZE);
        if (held && result->result != DL_OK) {
          detail += std::string(detail.empty() ? "" : "; ") + "serial " + lease.text +
                    " kept: the device may hold it (its last block was sent)";
        }
        std::string journal_error;
        result->serial_number_kept = held;
        if (!(held ? context.journal->Commit(lease, &journal_error) : context.journal->Release(lease, &journal_error))) {
          journal_error = "serial journal: " + journal_error;
          if (context.on_journal_failure) context.on_journal_failure(journal_error);
          result->result = DL_FILE_ERROR;
          record->result_name = kSerialFailed;
          detail += (detail.empty() ? "" : "; ") + journal_error;
        }
      }
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
