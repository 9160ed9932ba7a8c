#include "job/job_lock.h"

#include <gtest/gtest.h>

#include "job/job_lock_text.h"
#include "platform/pbkdf2.h"

namespace torvane {
namespace {

// RFC 7914, section 11: PBKDF2-HMAC-SHA256 ("passwd", "salt", 1 round).
TEST(JobLock, Pbkdf2MatchesThePublishedVector) {
  const uint8_t salt[] = {'s', 'a', 'l', 't'};
  uint8_t out[64];
  ASSERT_TRUE(platform::Pbkdf2Sha256("passwd", salt, sizeof salt, 1, out, sizeof out));
  const uint8_t expected[64] = {
      0x55, 0xac, 0x04, 0x6e, 0x56, 0xe3, 0x08, 0x9f, 0xec, 0x16, 0x91, 0xc2, 0x25, 0x44, 0xb6, 0x05,
      0xf9, 0x41, 0x85, 0x21, 0x6d, 0xde, 0x04, 0x65, 0xe6, 0x8b, 0x9d, 0x57, 0xc2, 0x0d, 0xac, 0xbc,
      0x49, 0xca, 0x9c, 0xcc, 0xf1, 0x79, 0xb6, 0x45, 0x99, 0x16, 0x64, 0xb3, 0x9d, 0x77, 0xef, 0x31,
      0x7c, 0x71, 0xb8, 0x45, 0xb1, 0xe3, 0x0b, 0xd5, 0x09, 0x11, 0x20, 0x41, 0xd3, 0xa1, 0x97, 0x83};
  EXPECT_EQ(0, memcmp(out, expected, sizeof out));
}

TEST(JobLock, MadeValueVerifiesOnlyItsPassword) {
  const std::string value = MakeJobLockValue("班长 2026", kJobLockMinIterations);
  JobLock lock;
  std::string why;
  ASSERT_TRUE(ParseJobLockValue(value, &lock, &why)) << value << ": " << why;
  EXPECT_EQ(lock.salt.size(), 16u);
  EXPECT_TRUE(VerifyJobPassword(lock, "班长 2026"));
  EXPECT_FALSE(VerifyJobPassword(lock, "班长 2027"));
  EXPECT_FALSE(VerifyJobPassword(lock, ""));
  EXPECT_NE(MakeJobLockValue("班长 2026", kJobLockMinIterations), value);  // a fresh salt each time
}

TEST(JobLock, RefusesMalformedValues) {
  const std::string salt = "00112233445566778899aabbccddeeff";
  const std::string hash(64, 'a');
  const char* bad[] = {"", "pbkdf2-sha1$1000$", "pbkdf2-sha256$999$", "pbkdf2-sha256$+1000$",
                       "pbkdf2-sha256$10000001$", "pbkdf2-sha256$99999999999999999999999$"};
  for (const char* front : bad) {
    JobLock lock;
    std::string why;
    EXPECT_FALSE(ParseJobLockValue(std::string(front) + salt + "$" + hash, &lock, &why)) << front;
  }
  for (const std::string& tail : {salt.substr(18) + "$" + hash, salt + "0$" + hash, salt + "$" + hash + "aa",
                                  salt + "$" + hash.substr(1) + "g", salt + "$" + hash + "$"}) {
    JobLock lock;
    std::string why;
    EXPECT_FALSE(ParseJobLockValue("pbkdf2-sha256$1000$" + tail, &lock, &why)) << tail;
  }
}

// Set, then removed again: the lines around stay as they were.
TEST(JobLock, TextEditKeepsTheRest) {
  const struct {
    const char* text;
    const char* locked;
    const char* unlocked;
  } cases[] = {
      {"[job]\r\nimage = a", "[job]\r\nimage = a\r\n[lock]\r\npassword = V\r\n", "[job]\r\nimage = a\r\n"},
      {"[job]\n[lock] ; admin\n# x\n", "[job]\n[lock] ; admin\npassword = V\n# x\n", "[job]\n# x\n"},
      {"[job]\n[LOCK]\nPassword = old ; was\r\n[slots]\n", "[job]\n[LOCK]\npassword = V\r\n[slots]\n",
       "[job]\n[slots]\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EditJobLockText(c.text, "V"), c.locked) << c.text;
    EXPECT_EQ(EditJobLockText(c.locked, ""), c.unlocked) << c.text;
  }
  std::optional<JobLock> lock;
  JobProblem problem;
  EXPECT_FALSE(ReadJobLockText("[lock]\npassword = x\n", &lock, &problem));  // no [job]
  EXPECT_FALSE(ReadJobLockText("[job]\n[lock]\npassword = x\n", &lock, &problem));
  EXPECT_EQ(problem.line, 3);
}

}  // namespace
}  // namespace torvane
