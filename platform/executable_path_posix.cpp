// The executable's path from /proc/self/exe.
#include "platform/executable_path.h"

#include <unistd.h>

#include <vector>

namespace torvane::platform {

std::string ExecutablePath() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    if (buffer.size() >= 1u << 20) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace torvane::platform
