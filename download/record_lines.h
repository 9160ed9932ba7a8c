// The lines of an Intel HEX or Motorola S-record file, one at a time: each
// record checked against its format's rules, and the bytes of each data
// record handed on with their address and line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace torvane {

enum class ImageFormat { Raw, IntelHex, SRecord };

enum class RecordFault {
  None,
  Malformed,      // not a record of the format, or one that breaks its rules
  Checksum,       // a record whose checksum does not match its bytes
  AfterEnd,       // more than blank lines after an Intel HEX end record
  CountMismatch,  // an S5/S6 count that is not the number of data records before it
  NoEnd,          // an Intel HEX file without its end record
  NoData,         // no data record at all
  Beyond4GiB,     // data at or beyond 4 GiB
  Span,           // data spread over more than kMaxRecordImageSpan
  Overlap,        // two records giving one address different bytes
  Read,           // the text could not be read, or reading was stopped
  Changed,        // the file read differently the second time
  Memory,         // no memory for the image
};

struct RecordError {
  RecordFault fault = RecordFault::None;
  uint64_t line = 0;    // 1-based; 0 when the refusal is about the file as a whole
  std::string message;  // "第 <line> 行: ..." when there is a line
};

// Takes the data records' bytes: `length` (at least 1) bytes at `address`,
// all below 4 GiB, from line `line`. False (with *error) refuses the file.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual bool Data(uint64_t address, const uint8_t* bytes, uint32_t length, uint64_t line,
                    RecordError* error) = 0;
};

// The rules, as for every Intel HEX / S-record file written by common tools:
//  - Lines end with LF or CR LF; empty lines are skipped anywhere. Any
//    other line must be one whole record: ':' (Intel HEX) or 'S' and the
//    type digit (S-record), then pairs of hex digits in either case, as
//    many as the record's length byte says, then the checksum.
//  - Intel HEX: types 00 (data), 01 (end), 02 (extended segment address),
//    03 (start segment address), 04 (extended linear address), 05 (start
//    linear address); 02..05 with their fixed lengths and a zero address
//    field. A data record does not cross its 64 KiB segment after an 02 or
//    03 record (its end wraps to the segment's start), and continues
//    straight on otherwise. The end record is required, has no data and a
//    zero address field once an 02..05 record has been seen (before one,
//    old tools put the start address there); after it only blank lines
//    (spaces, tabs, CR) and an MS-DOS end-of-file mark (0x1A) may follow.
//  - S-record: S0 (header, only as the first record, zero address field),
//    S1/S2/S3 (data, 2/3/4 address bytes), S5/S6 (count of the data records
//    before it in 2 or 3 bytes, 4 also taken for either), S7/S8/S9
//    (termination, 4/3/2 address bytes, no data, at most one, and nothing
//    after it). Header and termination are optional.
//  - A data record without data bytes is refused, as are data records
//    reaching 4 GiB and files without any data.
class RecordLines {
 public:
  // `format`: IntelHex or SRecord. Without `check_data` the data bytes of
  // data records are neither decoded nor summed: a first pass that only
  // learns where the data lies leaves them to the pass that writes them.
  explicit RecordLines(ImageFormat format, bool check_data = true);

  // The next line, without its LF and without the CR before that LF.
  bool Line(const uint8_t* text, size_t length, RecordSink& sink, RecordError* error);
  // After the last line: refuses a file that lacks what it must have.
  bool Finish(RecordError* error) const;
  // Lines taken so far.
  uint64_t line() const { return line_; }

 private:
  bool IntelLine(const uint8_t* text, size_t length, RecordSink& sink, RecordError* error);
  bool SRecordLine(const uint8_t* text, size_t length, RecordSink& sink, RecordError* error);
  bool Refuse(RecordError* error, RecordFault fault, const std::string& detail) const;

  enum class Mode { Plain, Segmented, Linear };

  bool intel_;
  bool check_data_;
  uint64_t line_ = 0;
  bool any_data_ = false;
  // Intel HEX
  Mode mode_ = Mode::Plain;
  uint32_t base_ = 0;
  bool ended_ = false;
  // S-record
  uint64_t records_ = 0;
  uint64_t data_records_ = 0;
  bool terminated_ = false;
  // One record's bytes, length byte to checksum.
  uint8_t bytes_[260] = {};
};

}  // namespace torvane
