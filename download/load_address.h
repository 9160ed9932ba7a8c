// Where an image is flashed: the settings' App Address, unless the
// command line says otherwise; and an image file that names its own
// address (Intel HEX, S-record) must agree with it, so nothing is ever
// flashed at an address the file did not ask for without being told.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace torvane {

struct LoadAddressChoice {
  enum class Kind {
    Settings,  // App Address; a file's own address must agree
    FromFile,  // the file's own address; App Address for a raw image
    Given,     // `given`; a file's own address must agree
  };
  Kind kind = Kind::Settings;
  uint32_t given = 0;
};

// "auto", or a hexadecimal address with or without 0x. False for
// anything else (empty, signs, garbage, more than 32 bits).
bool ParseLoadAddressChoice(const std::string& text, LoadAddressChoice* out);

// The address to flash an image of `image_length` bytes at, or false with
// the reason when the file's own address disagrees (naming both addresses)
// or when the image would reach beyond 4 GiB from there.
bool ResolveLoadAddress(const LoadAddressChoice& choice, uint32_t app_address,
                        std::optional<uint32_t> file_address, uint32_t image_length, uint32_t* address,
                        std::string* error);

}  // namespace torvane
