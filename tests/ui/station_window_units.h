// The devices both station windows (Qt and Win32) are tried with, and what
// each must end as: one table, so the two windows answer the same line.
#pragma once

namespace torvane::testing {

struct StationWindowUnit {
  const char* knobs;
  const char* port;
  bool passes;
  const char* state;  // the state column's beginning
};

inline constexpr StationWindowUnit kStationWindowUnits[] = {
    {"boot,port=p1", "p1", true, "成功"},
    {"oldboot,port=p2", "p2", true, "成功"},  // the boot update files
    {"boot,port=p3,start-status=9", "p3", false, "失败: 通信错误"},
    {"boot,port=p4,unplug-block=5", "p4", false, "失败: 通信错误"},
};

}  // namespace torvane::testing
