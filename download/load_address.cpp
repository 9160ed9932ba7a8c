#include "download/load_address.h"

#include <cctype>

#include "text/hex_text.h"

namespace torvane {

bool ParseLoadAddressChoice(const std::string& text, LoadAddressChoice* out) {
  if (text == "auto") {
    *out = LoadAddressChoice{LoadAddressChoice::Kind::FromFile, 0};
    return true;
  }
  size_t from = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 2 : 0;
  if (from == text.size()) return false;
  uint64_t value = 0;
  for (size_t i = from; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isxdigit(c) == 0) return false;
    value = value * 16 + static_cast<uint64_t>(std::isdigit(c) != 0 ? c - '0' : std::tolower(c) - 'a' + 10);
    if (value > UINT32_MAX) return false;
  }
  *out = LoadAddressChoice{LoadAddressChoice::Kind::Given, static_cast<uint32_t>(value)};
  return true;
}

bool ResolveLoadAddress(const LoadAddressChoice& choice, uint32_t app_address,
                        std::optional<uint32_t> file_address, uint32_t image_length, uint32_t* address,
                        std::string* error) {
  using Kind = LoadAddressChoice::Kind;
  const uint32_t wanted = choice.kind == Kind::FromFile ? file_address.value_or(app_address)
                          : choice.kind == Kind::Given  ? choice.given
                                                        : app_address;
  if (uint64_t{wanted} + image_length > (uint64_t{1} << 32)) {
    if (error != nullptr) {
      *error = "数据超出 4 GiB 地址空间 (" + std::to_string(image_length) + " bytes from " + HexText(wanted) +
               " reach " + HexText(uint64_t{wanted} + image_length, 9) + ")";
    }
    return false;
  }
  if (choice.kind == Kind::FromFile) {
    *address = wanted;
    return true;
  }
  if (file_address && *file_address != wanted) {
    if (error != nullptr) {
      *error = "文件的起始地址 " + HexText(*file_address) + " 与" +
               (choice.kind == Kind::Given ? std::string("指定的地址 (--address) ") : std::string("设置的 App Address ")) +
               HexText(wanted) + " 不一致, 拒绝烧录 (torvane-cli 可用 --address auto 采用文件的地址)";
    }
    return false;
  }
  *address = wanted;
  return true;
}

}  // namespace torvane
