#include "ui/station_setup.h"

#include <atomic>

namespace torvane {

namespace {
std::atomic<bool> g_worker_abandoned{false};
}  // namespace

bool AnyStationWorkerAbandoned() { return g_worker_abandoned.load(); }

void NoteStationWorkerAbandoned() { g_worker_abandoned = true; }

}  // namespace torvane
