#include "station/unit_record.h"

#include <ctime>

#include "download/download_result.h"
#include "download/progress_text.h"
#include "platform/local_time.h"
#include "station/attached_interfaces.h"
#include "station/json_text.h"

namespace torvane {

std::string IsoTimeWithZone(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const time_t seconds = system_clock::to_time_t(when);
  const auto millis = duration_cast<milliseconds>(when.time_since_epoch()).count() % 1000;
  std::tm local{};
  long offset = 0;
  if (!platform::LocalTime(seconds, &local, &offset)) offset = 0;
  char date[32];
  std::strftime(date, sizeof(date), "%Y-%m-%dT%H:%M:%S", &local);
  char text[64];
  std::snprintf(text, sizeof(text), "%s.%03d%c%02ld:%02ld", date, static_cast<int>(millis < 0 ? millis + 1000 : millis),
                offset < 0 ? '-' : '+', (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
  return text;
}

const char* DownloadResultName(int result) {
  switch (result) {
    case DL_OK: return "ok";
    case DL_FILE_ERROR: return "file-error";
    case DL_PROTOCOL_ERROR: return "protocol-error";
    case DL_CANCELLED: return "cancelled";
    case DL_START_BUSY: return "start-busy";
    default: return "error";
  }
}

std::string DownloadResultText(int result) {
  std::string text = result == DL_OK ? kTextDownloadOk : kTextDownloadFailed;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string UnitRecordLine(const UnitRecord& r) {
  char vid_pid[16];
  std::snprintf(vid_pid, sizeof(vid_pid), "%04X:%04X", r.vendor_id, r.product_id);
  char crc[16];
  std::snprintf(crc, sizeof(crc), "%08x", r.digest.crc32);
  JsonObject o;
  o.Add("unit", static_cast<int64_t>(r.unit))
      .Add("start", IsoTimeWithZone(r.start))
      .Add("end", IsoTimeWithZone(r.end))
      .Add("port", r.port)
      .Add("slot", r.slot)
      .Add("path", r.path)
      .Add("serial", r.serial)
      .Add("vid_pid", vid_pid)
      .Add("kind", KindName(r.kind))
      .Add("info", r.info_text)
      .Add("image", r.image_path)
      .Add("size", r.size)
      .Add("crc32", crc)
      .Add("sha256", r.digest.sha256)
      .Add("serial_number", r.serial_number)
      .Add("boot_update", r.boot_update)
      .Add("attempt", r.attempt)
      .Add("result", r.result)
      .Add("result_name", r.result_name.empty() ? std::string(DownloadResultName(r.result)) : r.result_name)
      .Add("result_text", DownloadResultText(r.result))
      .Add("bytes_acknowledged", r.bytes_acknowledged)
      .Add("busy_answers", r.busy_answers)
      .Add("duration_s", r.duration_s)
      .Add("detail", r.detail)
      .Add("final", r.final);
  return o.Text();
}

}  // namespace torvane
