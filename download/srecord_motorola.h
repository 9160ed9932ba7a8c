// The SRecord library's Motorola S-record reader. Debian's libsrecord-dev
// ships the library with this reader but without its header; this declares
// the one entry point used, with the library's own signature.
#pragma once

#include <string>

#include <srecord/input/file.h>

namespace srecord {

class input_file_motorola : public input_file {
 public:
  static input_file::pointer create(const std::string& file_name);
};

}  // namespace srecord
