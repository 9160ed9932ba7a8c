// Reading a job file (production_job.h) and checking it against the image
// it pins. Every problem found is collected, each naming its line and key,
// so the operator mends the file in one pass.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download/prepare_image.h"
#include "job/production_job.h"

namespace torvane {

// Reads and checks the job file at `path` (UTF-8): unknown sections and
// keys, keys given twice, numbers, required keys, the image file (there and
// readable), the serial plan (format, width, prefix, the counter's range or
// the list file's values), paths, the lock value. True with *job filled
// when there is no problem; else false with every problem in *problems.
bool LoadJobFile(const std::string& path, ProductionJob* job, std::vector<JobProblem>* problems);

// Against the prepared (unpatched) image and its load address: the SHA-256
// of image.buffer must be the job's (the problem gives both), and the
// serial's bytes [address, address + width) must lie inside the image's
// [load_address, load_address + image_length). *serial_offset = the
// serial's offset in image.buffer (header_length included); untouched
// without a serial plan.
bool CheckJobImage(const ProductionJob& job, const PreparedImage& image, uint32_t load_address,
                   uint32_t* serial_offset, std::vector<JobProblem>* problems);

// The SHA-256 of `image`'s bytes as 64 lower-case hex digits; empty when
// the system cannot hash.
std::string PreparedImageSha256(const PreparedImage& image);

}  // namespace torvane
