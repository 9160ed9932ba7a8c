#include "virtual/action_schedule.h"

#include <gtest/gtest.h>

namespace torvane::virt {
namespace {

DeviceAction input(uint8_t tag) {
  DeviceAction a;
  a.kind = DeviceAction::Kind::kInput;
  a.report = {tag};
  return a;
}

TEST(ActionSchedule, TakesActionsByDueTimeAndKeepsOrderOfEqualTimes) {
  ActionSchedule s;
  const Clock::time_point t0 = Clock::now();
  s.add(t0 + std::chrono::milliseconds(20), input(3));
  s.add(t0 + std::chrono::milliseconds(10), input(1));
  s.add(t0 + std::chrono::milliseconds(10), input(2));
  EXPECT_EQ(s.next_due(), t0 + std::chrono::milliseconds(10));

  EXPECT_FALSE(s.take_due(t0 + std::chrono::milliseconds(9)));
  auto a = s.take_due(t0 + std::chrono::milliseconds(30));
  auto b = s.take_due(t0 + std::chrono::milliseconds(30));
  auto c = s.take_due(t0 + std::chrono::milliseconds(30));
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(a->report[0], 1);
  EXPECT_EQ(b->report[0], 2);
  EXPECT_EQ(c->report[0], 3);
  EXPECT_FALSE(s.take_due(t0 + std::chrono::milliseconds(30)));
  EXPECT_FALSE(s.next_due());
}

TEST(ActionSchedule, OnlyTheDueActionIsTaken) {
  ActionSchedule s;
  const Clock::time_point t0 = Clock::now();
  s.add(t0, input(1));
  s.add(t0 + std::chrono::seconds(1), input(2));
  ASSERT_TRUE(s.take_due(t0));
  EXPECT_FALSE(s.take_due(t0));
  EXPECT_EQ(s.size(), 1u);
}

}  // namespace
}  // namespace torvane::virt
