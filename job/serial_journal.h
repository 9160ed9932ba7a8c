// The serial numbers a production run has given out, kept in a journal
// file so that no serial ever goes into two units, whatever stops the run.
//
// A serial is reserved for a unit before the unit is flashed, committed
// once the unit has passed (used for good) or released when it failed (the
// next unit gets it). Each event is one line, flushed to disk before the
// call returns, so a unit never starts with a serial the disk does not yet
// hold. A reservation that was neither committed nor released when the run
// stopped (a crash, a power loss) is burned when the journal is opened
// again: written as such and never given again, since its unit may have
// received it.
//
// The file (UTF-8 text, one line per event):
//
//   torvane-serials 1 counter start=1000 step=1 last=1999 format=dec width=8 prefix=SN
//   reserve 0 unit 1 SN001000
//   commit 0 SN001000
//   reserve 1 unit 2 SN001001
//   release 1 SN001001
//   reserve 1 unit 3 SN001001
//   burn 1 SN001001
//
// The first line records the plan (a list source: list sha256=<digest of
// its values> values=<count>); a journal written for another plan is
// refused. The number after each verb is the serial's index in the plan,
// the text at the end what the plan gives at that index.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "job/production_job.h"
#include "platform/append_file.h"

namespace torvane {

struct SerialLease {
  uint64_t index = 0;          // in the plan
  std::string text;            // as recorded and shown
  std::vector<uint8_t> bytes;  // as written into the image
};

// The journal's first line for `plan`.
std::string SerialJournalPlanLine(const SerialPlan& plan);

class SerialJournal {
 public:
  ~SerialJournal();
  SerialJournal(const SerialJournal&) = delete;
  SerialJournal& operator=(const SerialJournal&) = delete;

  // Opens (creating) plan.journal_path, held exclusively until the object
  // is destroyed: a second journal object on the same file, in this process
  // or another, is refused. Cuts off a torn last line (a write whose flush
  // never returned, so no unit started with it) and burns every serial left
  // reserved. Refuses (null, *error names the file and, for bad contents,
  // the line) a file that cannot be opened, read or written, a malformed
  // journal and one written for another plan.
  static std::unique_ptr<SerialJournal> Open(const SerialPlan& plan, std::string* error);

  // How many serials the next run would have, read without writing or
  // locking (a station may be running on it): reservations still open
  // count as gone, as Open will burn them; a torn last line is left out.
  // Refuses what Open refuses but a file that cannot be written. Where the
  // system's file lock keeps readers out (Windows), a journal a station
  // holds cannot be read.
  static bool CountLeft(const SerialPlan& plan, uint64_t* left, std::string* error);

  // Serials still to give: the plan's count less those committed, burned
  // and reserved now.
  uint64_t Left() const;
  uint64_t Used() const;            // committed
  uint64_t BurnedOnOpen() const;    // reservations Open found unfinished

  // Reserves for `unit` the lowest serial neither committed, burned nor
  // reserved, on disk before it returns. False when none is left or the
  // write failed (*error says which). After a failed write the journal
  // gives nothing more: what reached the disk is unknown, and the next
  // Open settles it.
  bool Reserve(uint64_t unit, SerialLease* lease, std::string* error);
  // The lease's unit passed: its serial is used for good.
  bool Commit(const SerialLease& lease, std::string* error);
  // The lease's unit failed: its serial goes to the next Reserve.
  bool Release(const SerialLease& lease, std::string* error);

 private:
  explicit SerialJournal(SerialPlan plan);
  bool Load(const std::string& contents, std::string* error);
  bool Write(std::unique_lock<std::mutex>& lock, const std::string& lines, std::string* error);
  bool Finish(const SerialLease& lease, bool passed, std::string* error);

  const SerialPlan plan_;
  uint64_t count_ = 0;
  mutable std::mutex mutex_;
  platform::AppendFile file_;
  uint64_t next_fresh_ = 0;                 // indices from here on were never given
  std::set<uint64_t> released_;             // given, released, free again
  std::map<uint64_t, uint64_t> reserved_;   // index -> unit
  uint64_t used_ = 0;
  uint64_t burned_ = 0;
  uint64_t burned_on_open_ = 0;
  std::string broken_;                      // why writing stopped; empty while it works
  // Lines waiting for the disk, and how many writes were queued, are on
  // disk, and whether one caller is writing them now.
  std::string waiting_;
  uint64_t queued_ = 0;
  uint64_t durable_ = 0;
  bool flushing_ = false;
  std::condition_variable flushed_;
};

}  // namespace torvane
