// TORVANE_TEST_SANITIZED is defined when this test is built under the address
// or thread sanitizer, whose runtime does things of its own (opens files,
// takes memory) that some tests must not count.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TORVANE_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TORVANE_TEST_SANITIZED 1
#endif
#endif
