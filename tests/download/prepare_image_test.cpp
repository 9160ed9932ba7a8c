#include "download/prepare_image.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/sanitized_build.h"

namespace torvane {
namespace {

using Bytes = std::vector<uint8_t>;

// Bitwise CRC-16/MODBUS with its two bytes exchanged: an independent
// reference for the table-driven boot_crc16.
uint32_t ReferenceCrc(const uint8_t* data, size_t count) {
  uint16_t reg = 0xFFFF;
  for (size_t i = 0; i < count; ++i) {
    reg ^= data[i];
    for (int bit = 0; bit < 8; ++bit) reg = (reg & 1) ? (reg >> 1) ^ 0xA001 : reg >> 1;
  }
  return static_cast<uint16_t>((reg << 8) | (reg >> 8));
}

Bytes Counting(size_t n, uint8_t first = 0) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
  return b;
}

size_t OpenDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

class PrepareImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "torvane-image-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fds_before_ = OpenDescriptors();
  }
  void TearDown() override {
    // Both files are closed on every path, refusals included.
    EXPECT_EQ(OpenDescriptors(), fds_before_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  std::string Sparse(const std::string& name, off_t size) {
    const std::string path = dir_ + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    return path;
  }

  // A refusal leaves no buffer behind and says why.
  void ExpectRefused(const DownloadJob& job, ChecksumScheme scheme, const std::string& reason_part) {
    PreparedImage out;
    out.buffer.assign(16, 0xAA);
    out.total_length = 16;
    out.start_checksum = 0x1234;
    std::string error;
    EXPECT_FALSE(PrepareImage(job, scheme, &out, &error)) << job.image_path;
    EXPECT_TRUE(out.buffer.empty());
    EXPECT_EQ(out.total_length, 0u);
    EXPECT_EQ(out.start_length, 0u);
    EXPECT_EQ(out.start_checksum, 0u);
    EXPECT_NE(error.find(reason_part), std::string::npos) << "error: " << error;
  }

  std::string dir_;
  size_t fds_before_ = 0;
};

TEST_F(PrepareImageTest, XorFiveByteImage) {
  PreparedImage out;
  ASSERT_TRUE(PrepareImage({Write("a.bin", {1, 2, 3, 4, 5}), ""}, CHECKSUM_XOR, &out));
  EXPECT_EQ(out.buffer, (Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(out.header_length, 0u);
  EXPECT_EQ(out.image_length, 8u);
  EXPECT_EQ(out.total_length, 8u);
  EXPECT_EQ(out.start_length, 8u);
  EXPECT_EQ(out.start_checksum, 0xFBFCFD04u);  // 0x04030201 ^ 0xFFFFFF05
}

TEST_F(PrepareImageTest, XorCoversTheWholeImage) {
  const Bytes image = Counting(1001, 7);
  PreparedImage out;
  ASSERT_TRUE(PrepareImage({Write("a.bin", image), ""}, CHECKSUM_XOR, &out));
  EXPECT_EQ(out.start_length, 1004u);
  uint32_t expected = 0;
  for (size_t i = 0; i < 1004; i += 4) {
    uint32_t word = 0;
    for (size_t b = 0; b < 4; ++b) word |= uint32_t{i + b < image.size() ? image[i + b] : uint8_t{0xFF}} << (8 * b);
    expected ^= word;
  }
  EXPECT_EQ(out.start_checksum, expected);
}

TEST_F(PrepareImageTest, CrcFiftyByteImage) {
  const Bytes image = Counting(50);
  PreparedImage out;
  ASSERT_TRUE(PrepareImage({Write("a.bin", image), ""}, CHECKSUM_CRC16, &out));
  EXPECT_EQ(out.total_length, 52u);
  EXPECT_EQ(out.image_length, 52u);
  ASSERT_EQ(out.buffer.size(), 52u);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), out.buffer.begin()));
  EXPECT_EQ(out.buffer[50], 0xFF);
  EXPECT_EQ(out.buffer[51], 0xFF);
  EXPECT_EQ(out.start_length, 4u);
  // Bytes 48..51: the last two image bytes and the two padding bytes.
  EXPECT_EQ(out.start_checksum, 0x5F5Bu);
  const uint8_t covered[] = {0x30, 0x31, 0xFF, 0xFF};
  EXPECT_EQ(out.start_checksum, ReferenceCrc(covered, 4));
}

TEST_F(PrepareImageTest, CrcExactly48Bytes) {
  PreparedImage out;
  ASSERT_TRUE(PrepareImage({Write("a.bin", Counting(48)), ""}, CHECKSUM_CRC16, &out));
  EXPECT_EQ(out.total_length, 48u);
  EXPECT_EQ(out.start_length, 0u);
  EXPECT_EQ(out.start_checksum, 0xFFFFu);  // CRC of no bytes
}

TEST_F(PrepareImageTest, CrcShortImagePaddedTo48IsAccepted) {
  PreparedImage out;
  ASSERT_TRUE(PrepareImage({Write("a.bin", Counting(45)), ""}, CHECKSUM_CRC16, &out));
  EXPECT_EQ(out.total_length, 48u);
  EXPECT_EQ(out.start_length, 0u);
}

TEST_F(PrepareImageTest, HeaderOf48AndImageOf1000) {
  const Bytes header = Counting(48, 0xA0);
  const Bytes image = Counting(1000, 3);
  PreparedImage out;
  ASSERT_TRUE(PrepareImage({Write("img.bin", image), Write("head.bin", header)}, CHECKSUM_CRC16, &out));
  EXPECT_EQ(out.header_length, 48u);
  EXPECT_EQ(out.image_length, 1000u);
  EXPECT_EQ(out.total_length, 1048u);
  ASSERT_EQ(out.buffer.size(), 1048u);
  EXPECT_TRUE(std::equal(header.begin(), header.end(), out.buffer.begin()));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), out.buffer.begin() + 48));
  EXPECT_EQ(out.start_length, 1000u);
  EXPECT_EQ(out.start_checksum, ReferenceCrc(image.data(), image.size()));
}

TEST_F(PrepareImageTest, TenByteHeaderIsPaddedAndImageFollowsAt12) {
  const Bytes header = Counting(10, 0xC0);
  const Bytes image = Counting(100, 1);
  PreparedImage out;
  ASSERT_TRUE(PrepareImage({Write("img.bin", image), Write("head.bin", header)}, CHECKSUM_CRC16, &out));
  EXPECT_EQ(out.header_length, 12u);
  EXPECT_EQ(out.image_length, 100u);
  EXPECT_EQ(out.total_length, 112u);
  EXPECT_EQ(out.buffer[10], 0xFF);
  EXPECT_EQ(out.buffer[11], 0xFF);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), out.buffer.begin() + 12));
  EXPECT_EQ(out.start_length, 64u);
  // Offset 48 onward is image byte 36 onward.
  EXPECT_EQ(out.start_checksum, ReferenceCrc(image.data() + 36, image.size() - 36));
}

TEST_F(PrepareImageTest, CrcMatchesTheBitwiseDefinitionForEveryTailLength) {
  for (size_t length = 49; length <= 49 + 40; ++length) {
    const Bytes image = Counting(length, static_cast<uint8_t>(length));
    PreparedImage out;
    ASSERT_TRUE(PrepareImage({Write("a.bin", image), ""}, CHECKSUM_CRC16, &out));
    EXPECT_EQ(out.start_checksum, ReferenceCrc(out.buffer.data() + 48, out.buffer.size() - 48)) << length;
  }
}

TEST_F(PrepareImageTest, MultipleOfFourGetsNoPadding) {
  const Bytes image = Counting(64);
  PreparedImage out;
  ASSERT_TRUE(PrepareImage({Write("a.bin", image), ""}, CHECKSUM_CRC16, &out));
  EXPECT_EQ(out.buffer, image);
  EXPECT_EQ(out.start_length, 16u);
  EXPECT_EQ(out.start_checksum, ReferenceCrc(image.data() + 48, 16));
}

TEST_F(PrepareImageTest, RefusesMissingUnopenableAndEmptyFiles) {
  const std::string image = Write("img.bin", Counting(100));
  const std::string empty = Write("empty.bin", {});
  ExpectRefused({dir_ + "/missing.bin", ""}, CHECKSUM_CRC16, "missing.bin");
  ExpectRefused({"", ""}, CHECKSUM_CRC16, "镜像文件");
  ExpectRefused({empty, ""}, CHECKSUM_CRC16, "文件为空");
  ExpectRefused({empty, ""}, CHECKSUM_XOR, "文件为空");
  ExpectRefused({image + "/below", ""}, CHECKSUM_CRC16, "无法打开");  // not a directory
  ExpectRefused({image, dir_ + "/missing-head.bin"}, CHECKSUM_CRC16, "missing-head.bin");
  ExpectRefused({image, empty}, CHECKSUM_CRC16, "头文件");
  ExpectRefused({empty, image}, CHECKSUM_CRC16, "镜像文件");
}

TEST_F(PrepareImageTest, RefusesUnreadableFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files without read permission";
  const std::string image = Write("img.bin", Counting(100));
  ASSERT_EQ(::chmod(image.c_str(), 0), 0);
  ExpectRefused({image, ""}, CHECKSUM_CRC16, "无法打开");
}

TEST_F(PrepareImageTest, RefusesWhatIsNotARegularFile) {
  ExpectRefused({dir_, ""}, CHECKSUM_CRC16, "不是普通文件");
  ExpectRefused({"/dev/zero", ""}, CHECKSUM_CRC16, "不是普通文件");
  // A FIFO with no writer must not block the preparation.
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  ExpectRefused({fifo, ""}, CHECKSUM_CRC16, "不是普通文件");
  ExpectRefused({Write("img.bin", Counting(100)), fifo}, CHECKSUM_CRC16, "头文件");
}

TEST_F(PrepareImageTest, RefusesCrcBelow48Bytes) {
  ExpectRefused({Write("a.bin", Counting(44)), ""}, CHECKSUM_CRC16, "48");
  ExpectRefused({Write("b.bin", Counting(1)), ""}, CHECKSUM_CRC16, "48");
  // With a header the total counts.
  ExpectRefused({Write("c.bin", Counting(20)), Write("h.bin", Counting(20))}, CHECKSUM_CRC16, "48");
  PreparedImage out;
  EXPECT_TRUE(PrepareImage({Write("d.bin", Counting(24)), Write("h2.bin", Counting(24))}, CHECKSUM_CRC16, &out));
  // The XOR scheme has no such floor.
  EXPECT_TRUE(PrepareImage({Write("e.bin", Counting(1)), ""}, CHECKSUM_XOR, &out));
  EXPECT_EQ(out.start_length, 4u);
}

TEST_F(PrepareImageTest, RefusesXorWithHeader) {
  ExpectRefused({Write("a.bin", Counting(100)), Write("h.bin", Counting(48))}, CHECKSUM_XOR, "XOR");
}

TEST_F(PrepareImageTest, RefusesLengthsBeyond32Bits) {
  // Sparse files: the size is refused before any allocation or read.
  ExpectRefused({Sparse("huge.bin", 0xFFFFFFFDLL), ""}, CHECKSUM_CRC16, "文件过大");
  ExpectRefused({Sparse("huger.bin", 0x100000000LL), ""}, CHECKSUM_CRC16, "文件过大");
  ExpectRefused({Write("small.bin", Counting(8)), Sparse("huge-head.bin", 0x1FFFFFFFFLL)}, CHECKSUM_CRC16,
                "文件过大");
  // Each fits alone, the two together do not.
  ExpectRefused({Sparse("half1.bin", 0x80000000LL), Sparse("half2.bin", 0x80000000LL)}, CHECKSUM_CRC16,
                "32-bit");
}

TEST_F(PrepareImageTest, RefusesAFileThatEndsBeforeItsLength) {
  // sysfs attributes report 4096 bytes but hold a few.
  const char* attribute = "/sys/devices/system/cpu/online";
  struct stat info {};
  if (::stat(attribute, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 64) {
    GTEST_SKIP() << "no sysfs attribute to read";
  }
  ExpectRefused({attribute, ""}, CHECKSUM_CRC16, "提前结束");
  // procfs files report length 0: refused as empty.
  ExpectRefused({"/proc/self/status", ""}, CHECKSUM_CRC16, "文件为空");
}

// A mapped image (as large files are) gives the same bytes and start
// parameters as a read one, with and without a header, at every padding.
TEST_F(PrepareImageTest, MappedImageEqualsReadImage) {
  const std::string header = Write("head.bin", Counting(48, 9));
  const PrepareControl mapped{nullptr, nullptr, 1};
  for (const size_t length : {size_t{49}, size_t{4096}, size_t{4097}, size_t{10003}, size_t{3 * 4096 + 2}}) {
    const std::string image = Write("img" + std::to_string(length) + ".bin", Counting(length, 3));
    for (const auto& [job, scheme] : {std::pair{DownloadJob{image, ""}, CHECKSUM_CRC16},
                                      std::pair{DownloadJob{image, header}, CHECKSUM_CRC16},
                                      std::pair{DownloadJob{image, ""}, CHECKSUM_XOR}}) {
      PreparedImage read, map;
      ASSERT_TRUE(PrepareImage(job, scheme, &read));
      ASSERT_TRUE(PrepareImage(job, scheme, &map, nullptr, mapped));
      EXPECT_FALSE(read.buffer.mapped());
      EXPECT_TRUE(map.buffer.mapped());
      EXPECT_EQ(map.buffer, Bytes(read.buffer.begin(), read.buffer.end())) << length;
      EXPECT_EQ(map.start_checksum, read.start_checksum) << length;
      EXPECT_EQ(map.start_length, read.start_length) << length;
    }
  }
}

// A raised cancel or stop ends preparation, read, mapped or from records,
// with nothing left.
TEST_F(PrepareImageTest, CancelStopsPreparation) {
  const std::string hex = ":0100000001FE\n:00000001FF\n";
  std::atomic<int32_t> raised{1};
  for (const std::string& image : {Write("a.bin", Counting(100000)), Write("a.hex", Bytes(hex.begin(), hex.end()))}) {
    for (const PrepareControl control : {PrepareControl{&raised, nullptr, kMapImagesFrom},
                                         PrepareControl{nullptr, &raised, 1}}) {
      PreparedImage out;
      std::string error;
      EXPECT_FALSE(PrepareImage({image, ""}, CHECKSUM_CRC16, &out, &error, control));
      EXPECT_TRUE(out.buffer.empty());
      EXPECT_EQ(error, "已取消") << image;
    }
  }
}

TEST_F(PrepareImageTest, RefusesWithoutAnOutput) {
  std::string error;
  EXPECT_FALSE(PrepareImage({Write("a.bin", Counting(100)), ""}, CHECKSUM_CRC16, nullptr, &error));
  EXPECT_FALSE(error.empty());
  // The error text is optional.
  PreparedImage out;
  EXPECT_FALSE(PrepareImage({dir_ + "/missing.bin", ""}, CHECKSUM_CRC16, &out));
}

// Memory for the buffer runs out: the preparation fails, the process goes on.
TEST_F(PrepareImageTest, AllocationFailureIsARefusal) {
#ifdef TORVANE_TEST_SANITIZED
  GTEST_SKIP() << "sanitizers reserve address space and abort on failed allocations";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string image = Sparse("big.bin", 1LL << 30);
  EXPECT_EXIT(
      {
        // Address space for what is mapped now plus 64 MiB: the 1 GiB
        // buffer cannot be had.
        size_t mapped_kib = 0;
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
          if (line.rfind("VmSize:", 0) == 0) mapped_kib = std::stoul(line.substr(7));
        }
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = (mapped_kib + 64 * 1024) * 1024;
        if (mapped_kib == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(2);
        PreparedImage out;
        std::string error;
        const bool ok = PrepareImage({image, ""}, CHECKSUM_CRC16, &out, &error);
        std::_Exit(!ok && error.find("allocate") != std::string::npos && out.buffer.empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace torvane
