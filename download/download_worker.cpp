#include "download/download_worker.h"

#include "download/transfer_engine.h"

namespace torvane {

namespace {

void DownloadThreadProc(std::shared_ptr<DownloadWorker::Shared> shared) {
  if (shared) {
    DownloadWorker::DownloadThreadLoop(*shared);
    shared->finish.MarkFinished();
  }
}

}  // namespace

DownloadJob BuildDownloadJob(DeviceState state, bool boot_update_advised,
                             const std::string& image_path, const std::string& boot_update_image,
                             const std::string& boot_update_header) {
  DownloadJob job;
  if (state == DS_OLDBOOT) {
    job.image_path = boot_update_image;
  } else if (boot_update_advised) {
    job.image_path = boot_update_image;
    job.header_path = boot_update_header;
  } else {
    job.image_path = image_path;
  }
  return job;
}

DownloadWorker::DownloadWorker(std::shared_ptr<DownloadHost> host)
    : shared_(std::make_shared<Shared>(std::move(host))) {}

DownloadWorker::~DownloadWorker() { StopDownloadThread(); }

int DownloadWorker::StartDownloadThread() {
  shared_->download_stop = 0;
  if (thread_.joinable()) return 1;
  shared_->finish.Reset();
  try {
    thread_ = std::thread(DownloadThreadProc, shared_);
  } catch (const std::system_error&) {
    return 0;
  }
  return 1;
}

void DownloadWorker::StopDownloadThread() {
  if (!thread_.joinable()) return;
  shared_->download_stop = 1;
  shared_->download_event.set();
  // No forced termination: a thread that misses the deadline keeps its own
  // reference to everything it touches and ends by itself when its exchange
  // returns.
  if (!shared_->finish.JoinOrDetach(thread_, stop_timeout)) abandoned_ = true;
}

void DownloadWorker::OnFlash(const std::string& image_path_text) {
  if (shared_->download_requests.load() != 0) {
    CancelIfDownloading();
    return;
  }
  shared_->image_path = image_path_text;
  // A cancel belongs to the download it was raised for. One raised as the
  // last download ended (between the worker's two decrements) outlived it;
  // with no download requested the worker is done with both counters, so
  // clearing it here cannot race.
  shared_->cancel_requests.store(0);
  shared_->download_requests.fetch_add(1);
  shared_->download_event.set();
}

void DownloadWorker::CancelIfDownloading() {
  if (shared_->download_requests.load() != 0 && shared_->cancel_requests.load() == 0) {
    shared_->cancel_requests.fetch_add(1);
  }
}

void DownloadWorker::DownloadThreadLoop(Shared& shared) {
  while (shared.download_stop.load() == 0) {
    const bool woken = shared.download_event.wait_for(kWakePeriod);
    if (shared.download_stop.load() != 0) break;
    if (!woken || shared.download_requests.load() == 0) continue;
    DownloadHost& host = *shared.host;
    const DownloadJob job =
        BuildDownloadJob(host.CurrentState(), host.BootUpdateAdvised(), shared.image_path,
                         host.BootUpdateImagePath(), host.BootUpdateHeaderPath());
    DoDownload(shared, job);
  }
}

int DownloadWorker::DoDownload(Shared& shared, const DownloadJob& job) {
  DownloadHost& host = *shared.host;
  std::shared_ptr<HidDevice> device = host.DeviceForDownload();
  const ChecksumScheme scheme = host.CurrentState() == DS_OLDBOOT ? CHECKSUM_XOR : CHECKSUM_CRC16;

  DownloadResult result;
  {
    PreparedImage image;
    std::string reason;
    PrepareControl prepare;
    prepare.cancel = &shared.cancel_requests;
    prepare.stop = &shared.download_stop;
    if (!PrepareImage(job, scheme, &image, &reason, prepare)) {
      result = shared.cancel_requests.load() != 0 || shared.download_stop.load() != 0 ? DL_CANCELLED : DL_FILE_ERROR;
      if (result == DL_FILE_ERROR) host.PostDownloadFailureReason(reason);
    } else if (uint32_t address = 0;
               !ResolveLoadAddress(host.AddressChoice(), host.LoadAddress(), image.file_load_address,
                                   image.image_length, &address, &reason)) {
      result = DL_FILE_ERROR;
      host.PostDownloadFailureReason("镜像文件 '" + job.image_path + "': " + reason);
    } else {
      host.PostDownloadProgress(PROGRESS_PREPARE, 0);
      TransferControl control;
      control.stop = &shared.download_stop;
      control.cancel = &shared.cancel_requests;
      control.on_percent = [&host](int percent) {
        host.PostDownloadProgress(PROGRESS_PERCENT, percent);
      };
      result = RunTransfer(device.get(), image, scheme, address, control);
    }
  }  // the image buffer is released here

  // A failed exchange may leave a reply owed by the device; closing the
  // device drops it, so the next download starts in step. This happens
  // before the request is released, so a new press cannot race it.
  if (result != DL_OK && result != DL_FILE_ERROR && device) host.DropDevice(device);
  device.reset();

  LowerRequestCounter(shared.cancel_requests);
  if (shared.between_counters_for_testing) shared.between_counters_for_testing();
  LowerRequestCounter(shared.download_requests);
  host.PostDownloadProgress(PROGRESS_RESULT, result);
  return result == DL_OK ? 1 : 0;
}

}  // namespace torvane
