#include "job/serial_journal.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

// SN001000 .. SN001009.
SerialPlan TenSerials(const std::string& journal) {
  SerialPlan plan;
  plan.format = SerialFormat::kAsciiDecimal;
  plan.width = 8;
  plan.prefix = "SN";
  plan.start = 1000;
  plan.last = 1009;
  plan.journal_path = journal;
  return plan;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(platform::PathFromUtf8(path), std::ios::binary) << text;
}

class SerialJournalTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  SerialPlan plan_ = TenSerials(dir_.path() + "/line.serials");
  std::string head_ = SerialJournalPlanLine(plan_) + "\n";

  std::unique_ptr<SerialJournal> Open() {
    std::string error;
    auto journal = SerialJournal::Open(plan_, &error);
    EXPECT_NE(journal, nullptr) << error;
    return journal;
  }
  SerialLease Reserve(SerialJournal& journal, uint64_t unit) {
    SerialLease lease;
    std::string error;
    EXPECT_TRUE(journal.Reserve(unit, &lease, &error)) << error;
    return lease;
  }
};

// What a journal left by an earlier run gives next.
TEST_F(SerialJournalTest, HistoryDecidesTheNextSerial) {
  struct Case {
    const char* name;
    std::string history;   // after the plan line; nullptr-free text
    const char* next;      // the next reservation's text
    uint64_t left, used, burned;
  };
  const Case cases[] = {
      {"new journal", "", "SN001000", 10, 0, 0},
      {"committed", "reserve 0 unit 1 SN001000\ncommit 0 SN001000\n", "SN001001", 9, 1, 0},
      {"released goes again", "reserve 0 unit 1 SN001000\nrelease 0 SN001000\n", "SN001000", 10, 0, 0},
      {"lowest released first",
       "reserve 0 unit 1 SN001000\nreserve 1 unit 2 SN001001\nreserve 2 unit 3 SN001002\n"
       "release 2 SN001002\nrelease 1 SN001001\ncommit 0 SN001000\n",
       "SN001001", 9, 1, 0},
      {"crash burns the reservation", "reserve 0 unit 1 SN001000\n", "SN001001", 9, 0, 1},
      {"crash after a re-reservation",
       "reserve 0 unit 1 SN001000\nrelease 0 SN001000\nreserve 0 unit 2 SN001000\n"
       "reserve 1 unit 3 SN001001\ncommit 1 SN001001\n",
       "SN001002", 8, 1, 1},
      {"burned stays burned", "reserve 0 unit 1 SN001000\nburn 0 SN001000\n", "SN001001", 9, 0, 0},
      {"torn reservation cut off", "reserve 0 unit 1 SN001000\ncommit 0 SN001000\nreserve 1 un", "SN001001", 9, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText(plan_.journal_path, head_ + c.history);
    uint64_t counted = 0;
    std::string error;
    ASSERT_TRUE(SerialJournal::CountLeft(plan_, &counted, &error)) << error;
    EXPECT_EQ(counted, c.left) << "counted without writing, as the next run will find it";
    auto journal = Open();
    ASSERT_NE(journal, nullptr);
    EXPECT_EQ(journal->BurnedOnOpen(), c.burned);
    EXPECT_EQ(journal->Used(), c.used);
    EXPECT_EQ(journal->Left(), c.left);
    const SerialLease lease = Reserve(*journal, 9);
    EXPECT_EQ(lease.text, c.next);
    EXPECT_EQ(lease.bytes, std::vector<uint8_t>(lease.text.begin(), lease.text.end()));
    EXPECT_EQ(journal->Left(), c.left - 1);
  }
}

TEST_F(SerialJournalTest, TornPlanLineIsWrittenAgain) {
  WriteText(plan_.journal_path, head_.substr(0, 10));
  auto journal = Open();
  ASSERT_NE(journal, nullptr);
  EXPECT_EQ(Reserve(*journal, 1).text, "SN001000");
  journal.reset();  // Windows locks keep other handles from reading
  EXPECT_EQ(ReadText(plan_.journal_path), head_ + "reserve 0 unit 1 SN001000\n");
}

// A run that stops without finishing its units (the object dropped, as by a
// crash): what it reserved is never given again.
TEST_F(SerialJournalTest, UnfinishedReservationIsBurnedOnReopen) {
  {
    auto journal = Open();
    const SerialLease passed = Reserve(*journal, 1);
    const SerialLease failed = Reserve(*journal, 2);
    Reserve(*journal, 3);  // in flight when the run stops
    std::string error;
    ASSERT_TRUE(journal->Commit(passed, &error)) << error;
    ASSERT_TRUE(journal->Release(failed, &error)) << error;
    EXPECT_EQ(Reserve(*journal, 4).text, failed.text);  // also in flight
    EXPECT_FALSE(journal->Commit(passed, &error));      // not reserved any more
  }
  auto journal = Open();
  ASSERT_NE(journal, nullptr);
  EXPECT_EQ(journal->BurnedOnOpen(), 2u);
  EXPECT_EQ(journal->Used(), 1u);
  EXPECT_EQ(Reserve(*journal, 5).text, "SN001003");
  journal.reset();
  const std::string text = ReadText(plan_.journal_path);
  EXPECT_NE(text.find("burn 1 SN001001\nburn 2 SN001002\n"), std::string::npos) << text;
}

TEST_F(SerialJournalTest, OneRunAtATime) {
  auto first = Open();
  std::string error;
  EXPECT_EQ(SerialJournal::Open(plan_, &error), nullptr);
  EXPECT_NE(error.find("in use by another station"), std::string::npos) << error;
  first.reset();
  EXPECT_NE(Open(), nullptr);
}

TEST_F(SerialJournalTest, RunsOutAndRefillsOnRelease) {
  plan_.last = 1001;
  auto journal = Open();
  const SerialLease a = Reserve(*journal, 1);
  Reserve(*journal, 2);
  SerialLease none;
  std::string error;
  EXPECT_FALSE(journal->Reserve(3, &none, &error));
  EXPECT_NE(error.find("no serial left"), std::string::npos) << error;
  ASSERT_TRUE(journal->Release(a, &error)) << error;
  EXPECT_EQ(Reserve(*journal, 3).text, a.text);
  EXPECT_EQ(journal->Left(), 0u);
}

TEST_F(SerialJournalTest, RefusesMalformedOrForeignJournal) {
  SerialPlan other = plan_;
  other.start = 2000;
  struct Case {
    const char* name;
    std::string contents;
    const char* reason;  // the message holds "<path>:<reason>"
  };
  const Case cases[] = {
      {"not a journal", "hello\n", ":1: not a serial journal"},
      {"another plan", SerialJournalPlanLine(other) + "\n", ":1: the journal was written for another serial plan"},
      {"unknown event", head_ + "reserve 0 unit 1 SN001000\nforget 0 SN001000\n", ":3: unknown event \"forget\""},
      {"commit unreserved", head_ + "commit 0 SN001000\n", ":2: serial 0 (SN001000) commit without a reservation"},
      {"reserved twice", head_ + "reserve 0 unit 1 SN001000\nreserve 0 unit 2 SN001000\n", ":3: serial 0 (SN001000) reserved while it was not free"},
      {"text differs", head_ + "reserve 0 unit 1 SN002000\n", ":2: serial 0 reads \"SN002000\" but the plan gives \"SN001000\""},
      {"beyond the plan", head_ + "reserve 10 unit 1 SN001010\n", ":2: serial index 10 is beyond the plan's 10 serials"},
      {"no unit", head_ + "reserve 0 SN001000\n", ":2: no unit in the reservation"},
      {"blank line", head_ + "\n", ":2: no serial index"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText(plan_.journal_path, c.contents);
    std::string error;
    EXPECT_EQ(SerialJournal::Open(plan_, &error), nullptr);
    EXPECT_NE(error.find(plan_.journal_path + c.reason), std::string::npos) << error;
    EXPECT_EQ(ReadText(plan_.journal_path), c.contents);  // a refused journal is left as it was
  }
}

TEST_F(SerialJournalTest, ListPlanRecordsItsDigest) {
  plan_.list_path = dir_.path() + "/serials.txt";
  plan_.list_values = {"SN000007", "SN000003"};
  Open().reset();
  plan_.list_values[1] = "SN000004";
  std::string error;
  EXPECT_EQ(SerialJournal::Open(plan_, &error), nullptr);
  EXPECT_NE(error.find(":1: the journal was written for another serial plan"), std::string::npos) << error;
}

// Unit workers reserve and finish at once (their lines share flushes): no
// serial is given twice.
TEST_F(SerialJournalTest, ConcurrentUnitsGetDistinctSerials) {
  plan_.last = 1000 + 999;
  auto journal = Open();
  std::vector<std::vector<std::string>> committed(4);
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < 20; ++i) {
        SerialLease lease;
        std::string error;
        ASSERT_TRUE(journal->Reserve(w * 100 + i, &lease, &error)) << error;
        if (i % 3 == 0) {
          ASSERT_TRUE(journal->Release(lease, &error)) << error;
        } else {
          ASSERT_TRUE(journal->Commit(lease, &error)) << error;
          committed[w].push_back(lease.text);
        }
      }
    });
  }
  for (auto& worker : workers) worker.join();
  std::set<std::string> distinct;
  size_t total = 0;
  for (const auto& texts : committed) {
    distinct.insert(texts.begin(), texts.end());
    total += texts.size();
  }
  EXPECT_EQ(distinct.size(), total);
  EXPECT_EQ(journal->Used(), total);
  // The lines reached the file in an order that reads back to the same state.
  journal.reset();
  journal = Open();
  ASSERT_NE(journal, nullptr);
  EXPECT_EQ(journal->Used(), total);
  EXPECT_EQ(journal->BurnedOnOpen(), 0u);
}

}  // namespace
}  // namespace torvane
