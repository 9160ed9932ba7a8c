// A job's admin password, stored salted and hashed with PBKDF2-HMAC-SHA256:
//   pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "job/production_job.h"

namespace torvane {

// Rounds for a new lock: a tenth of a second or so on a line's PC.
inline constexpr uint32_t kJobLockIterations = 200000;
// Stored round counts outside these are refused: fewer make guessing cheap,
// more would keep a check busy for minutes.
inline constexpr uint32_t kJobLockMinIterations = 1000;
inline constexpr uint32_t kJobLockMaxIterations = 10000000;

// Reads a stored lock value. False with the reason in *why.
bool ParseJobLockValue(std::string_view text, JobLock* lock, std::string* why);

// The stored value for `password` with a fresh random salt; empty when the
// system cannot hash or give random bytes.
std::string MakeJobLockValue(std::string_view password, uint32_t iterations = kJobLockIterations);

// Whether `password` is the lock's; the comparison takes the same time
// wherever the hashes differ.
bool VerifyJobPassword(const JobLock& lock, std::string_view password);

}  // namespace torvane
