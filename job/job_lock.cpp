#include "job/job_lock.h"

#include <vector>

#include "platform/pbkdf2.h"

namespace torvane {
namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
constexpr size_t kHashLength = 32;
constexpr size_t kSaltLength = 16;

bool HexBytes(std::string_view text, std::vector<uint8_t>* bytes) {
  if (text.empty() || text.size() % 2 != 0) return false;
  bytes->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    int value = 0;
    for (const char c : text.substr(i, 2)) {
      int digit;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      else return false;
      value = value * 16 + digit;
    }
    bytes->push_back(static_cast<uint8_t>(value));
  }
  return true;
}

std::string LowerHex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

}  // namespace

bool ParseJobLockValue(std::string_view text, JobLock* lock, std::string* why) {
  std::vector<std::string_view> parts;
  for (size_t at = 0;;) {
    const size_t dollar = text.find('$', at);
    parts.push_back(text.substr(at, dollar == std::string_view::npos ? std::string_view::npos : dollar - at));
    if (dollar == std::string_view::npos) break;
    at = dollar + 1;
  }
  if (parts.size() != 4 || parts[0] != kScheme) {
    *why = "expected pbkdf2-sha256$<iterations>$<salt hex>$<hash hex> (set it with torvane-cli job lock)";
    return false;
  }
  uint64_t iterations = 0;
  for (const char c : parts[1]) {
    if (c < '0' || c > '9' || iterations > kJobLockMaxIterations) {
      iterations = UINT64_MAX;
      break;
    }
    iterations = iterations * 10 + static_cast<uint64_t>(c - '0');
  }
  if (parts[1].empty() || iterations < kJobLockMinIterations || iterations > kJobLockMaxIterations) {
    *why = "iterations must be a number from " + std::to_string(kJobLockMinIterations) + " to " +
           std::to_string(kJobLockMaxIterations);
    return false;
  }
  JobLock parsed;
  parsed.iterations = static_cast<uint32_t>(iterations);
  if (!HexBytes(parts[2], &parsed.salt) || parsed.salt.size() < 8 || parsed.salt.size() > 64) {
    *why = "the salt must be 8 to 64 bytes in hex";
    return false;
  }
  if (!HexBytes(parts[3], &parsed.hash) || parsed.hash.size() != kHashLength) {
    *why = "the hash must be 32 bytes in hex";
    return false;
  }
  *lock = std::move(parsed);
  return true;
}

std::string MakeJobLockValue(std::string_view password, uint32_t iterations) {
  std::vector<uint8_t> salt(kSaltLength);
  std::vector<uint8_t> hash(kHashLength);
  if (!platform::SystemRandomBytes(salt.data(), salt.size()) ||
      !platform::Pbkdf2Sha256(password, salt.data(), salt.size(), iterations, hash.data(), hash.size())) {
    return {};
  }
  return std::string(kScheme) + "$" + std::to_string(iterations) + "$" + LowerHex(salt) + "$" + LowerHex(hash);
}

bool VerifyJobPassword(const JobLock& lock, std::string_view password) {
  if (lock.hash.size() != kHashLength || lock.iterations < kJobLockMinIterations ||
      lock.iterations > kJobLockMaxIterations) {
    return false;
  }
  uint8_t hash[kHashLength];
  if (!platform::Pbkdf2Sha256(password, lock.salt.data(), lock.salt.size(), lock.iterations, hash, kHashLength)) {
    return false;
  }
  uint8_t difference = 0;
  for (size_t i = 0; i < kHashLength; ++i) difference |= static_cast<uint8_t>(hash[i] ^ lock.hash[i]);
  return difference == 0;
}

}  // namespace torvane
