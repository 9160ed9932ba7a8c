// A production job: what a line flashes, read from a job file the operator
// runs but need not (and, when locked, may not) change: the image and its
// pinned SHA-256, where it goes, the slot map, the serial-number plan, how
// many units, and where they are recorded.
//
// Job file (UTF-8 INI; `;` and `#` start a comment line, or a comment after
// a value when a blank precedes them; a value in double quotes is taken as
// written; section and key names in any letter case; paths relative to the
// job file's folder):
//
//   [job]
//   name = 主板 A2 量产           ; optional, shown to the operator
//   image = firmware.hex         ; required
//   sha256 = 9f86d0…             ; required: the image's bytes as flashed,
//                                ; before any serial number is written (a
//                                ; HEX file's data, padded to 4 bytes with
//                                ; 0xFF; torvane-cli job check prints it)
//   address = auto               ; optional: as --address (auto or hex)
//   count = 100                  ; units to finish; 0 or missing: no limit
//   attempts = 2                 ; optional, default 1
//   enter_boot = yes             ; optional, default no
//   enter_boot_wait = 5          ; seconds, optional, default 5
//   record = line3.jsonl         ; optional record file
//
//   [slots]                      ; optional: only these ports are flashed
//   1-1.2 = 槽3                  ; USB port path = slot name
//
//   [serial]                     ; optional: a serial number in every unit
//   address = 0x08007F00         ; device address; the whole serial must lie
//                                ; inside the image
//   width = 4                    ; bytes written
//   format = le                  ; le, be (binary), dec, hex (ASCII, fixed
//                                ; width, zero-filled, hex upper case)
//   prefix = SN                  ; dec/hex only; counted in the width
//   start = 1000                 ; counter: first value (decimal, or hex
//                                ; after 0x) ...
//   step = 1                     ; ... and step (default 1)
//   last = 1999                  ; optional: the counter's last value
//   list = serials.txt           ; or: a list file, one value per line
//                                ; (blank and '#' lines passed over); for
//                                ; dec/hex the text written, prefix included,
//                                ; for le/be a number
//   journal = line3.serials      ; default: the job file's path + ".serials"
//
// A job with a serial plan needs count >= 1, and no more units than the
// source holds.
//
//   [lock]                       ; optional: an admin password
//   password = pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>
//
// Every refusal names the file, the line and the key, and says why.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace torvane {

enum class SerialFormat { kBinaryLittle, kBinaryBig, kAsciiDecimal, kAsciiHex };

struct SerialPlan {
  uint32_t address = 0;        // device address of the serial's first byte
  uint32_t width = 0;          // bytes written, prefix included
  SerialFormat format = SerialFormat::kBinaryLittle;
  std::string prefix;          // ASCII formats only
  // Source: a counter (list_path empty) or a list file.
  uint64_t start = 0;
  uint64_t step = 1;
  std::optional<uint64_t> last;    // the counter's last value; none: the format's limit
  std::string list_path;       // absolute
  std::vector<std::string> list_values;  // the list file's values, in order (read by the loader)
  std::string journal_path;    // absolute
};

struct JobLock {
  uint32_t iterations = 0;
  std::vector<uint8_t> salt;
  std::vector<uint8_t> hash;   // PBKDF2-HMAC-SHA256 of the password
};

struct ProductionJob {
  std::string path;            // the job file, absolute
  std::string name;
  std::string image_path;      // absolute
  std::string sha256;          // 64 lower-case hex digits
  std::string address;         // as --address; empty: not set by the job
  int count = 0;
  int attempts = 1;
  bool enter_boot = false;
  int enter_boot_wait_s = 5;
  std::string record_path;     // absolute; empty: not set by the job
  std::map<std::string, std::string> slot_map;  // [slots]: port path -> slot name; empty: none
  std::optional<SerialPlan> serial;
  std::optional<JobLock> lock;
  // The keys the file set, as "section.key" ("job.count"; names in lower
  // case, slot ports as written), for telling a command-line option that
  // conflicts with the job.
  std::vector<std::string> keys_set;
  // The line of each key set, for problems found after loading (the image
  // against its pin).
  std::map<std::string, int> key_lines;
};

struct JobProblem {
  int line = 0;                // 0: the file as a whole
  std::string key;             // "section.key", or empty
  std::string reason;
};

// "job.ini:12: serial.width: 3 bytes cannot hold 1999 in le" — one line.
std::string JobProblemText(const std::string& job_path, const JobProblem& problem);

}  // namespace torvane
