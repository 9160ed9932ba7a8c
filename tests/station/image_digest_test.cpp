#include "station/image_digest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvane {
namespace {

// A copy that differs in a few bytes gets the digest of its own bytes,
// wherever those bytes lie against the hash's 64-byte blocks.
TEST(SharedImageDigest, EqualsTheWholeDigestOfEachCopy) {
  std::vector<uint8_t> base(5000);
  for (size_t i = 0; i < base.size(); ++i) base[i] = static_cast<uint8_t>(i * 13 + 5);
  struct Case {
    size_t offset, width;
  } const cases[] = {{0, 8}, {60, 8}, {64, 4}, {1001, 1}, {4992, 8}, {4999, 1}, {100, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE("offset " + std::to_string(c.offset) + " width " + std::to_string(c.width));
    const SharedImageDigest shared(base.data(), base.size(), c.offset, c.width);
    for (uint8_t unit = 1; unit <= 3; ++unit) {
      std::vector<uint8_t> copy = base;
      for (size_t i = 0; i < c.width; ++i) copy[c.offset + i] = static_cast<uint8_t>(unit * 31 + i);
      const ImageDigest expected = DigestBytes(copy.data(), copy.size());
      const ImageDigest got = shared.Of(copy.data(), copy.size());
      EXPECT_EQ(got.crc32, expected.crc32);
      EXPECT_EQ(got.sha256, expected.sha256);
      EXPECT_EQ(got.sha256.size(), 64u);
    }
  }
  // Another length, or a window outside the image: summed whole.
  const SharedImageDigest outside(base.data(), base.size(), 4998, 8);
  EXPECT_EQ(outside.Of(base.data(), base.size()).sha256, DigestBytes(base.data(), base.size()).sha256);
  const SharedImageDigest shared(base.data(), base.size(), 10, 4);
  EXPECT_EQ(shared.Of(base.data(), 100).crc32, DigestBytes(base.data(), 100).crc32);
}

}  // namespace
}  // namespace torvane
