// The simulated bus as a HID backend: listing, opening, hidraw-style report
// movement, hot-plug events, unplug and shutdown with handles still open.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sim/report_descriptor_builder.h"
#include "sim/sim_bus.h"
#include "tests/sim/sim_test_support.h"

namespace torvane::sim {
namespace {

using test::decode_reply;
using test::EventRecorder;

SimKnobs knobs(std::string_view text) {
  SimKnobs k;
  std::string error;
  EXPECT_TRUE(parse_sim_knobs(text, &k, &error)) << error;
  return k;
}

SimInertInterface keyboard_interface(int32_t number) {
  SimInertInterface iface;
  iface.record.vendor_id = 0x046D;
  iface.record.product_id = 0xC31C;
  iface.record.usage_page = 0x0001;
  iface.record.usage = 0x0006;
  iface.record.interface_number = number;
  iface.record.product_string = L"USB Keyboard";
  iface.report_descriptor = keyboard_report_descriptor();
  return iface;
}

std::unique_ptr<HidBackendDevice> open(SimBus& bus, SimDeviceId id, size_t interface_index = 0) {
  const auto paths = bus.interface_paths(id);
  EXPECT_LT(interface_index, paths.size());
  if (interface_index >= paths.size()) return nullptr;
  std::string error;
  auto handle = bus.open_path(paths[interface_index], &error);
  EXPECT_TRUE(handle) << error;
  return handle;
}

std::vector<uint8_t> info_write(uint8_t report_id = 0) {
  return test::command_write(report_id, 65, BOOT_CMD_INFO);
}

int write(HidBackendDevice& h, const std::vector<uint8_t>& w) { return h.write(w.data(), w.size()); }

TEST(SimBusList, InterfacesInArrivalOrderWithTheirRecords) {
  SimBus bus;
  const SimDeviceId keyboard = bus.attach_interfaces({keyboard_interface(0), keyboard_interface(1)});
  const SimDeviceId boot = bus.attach_model(knobs("boot"));
  const std::vector<HidInterfaceRecord> list = bus.enumerate();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].path, "sim:hidraw0");
  EXPECT_EQ(list[1].path, "sim:hidraw1");
  EXPECT_EQ(list[1].interface_number, 1);
  EXPECT_EQ(list[0].product_string, L"USB Keyboard");
  EXPECT_EQ(list[2].path, "sim:hidraw2");
  EXPECT_EQ(list[2].vendor_id, 0x484F);
  EXPECT_EQ(list[2].product_id, 0x5048);
  EXPECT_EQ(list[2].usage_page, 0xFF00);
  EXPECT_EQ(list[2].usage, 0x0001);
  EXPECT_EQ(list[2].interface_number, -1) << "no USB interface, as hidapi lists uhid";
  EXPECT_TRUE(list[2].serial_number.has_value());
  EXPECT_EQ(bus.interface_paths(keyboard), (std::vector<std::string>{"sim:hidraw0", "sim:hidraw1"}));
  EXPECT_TRUE(bus.is_present(boot));
  EXPECT_TRUE(bus.model(boot));
  EXPECT_FALSE(bus.model(keyboard));
  EXPECT_FALSE(bus.model(99));
  EXPECT_EQ(bus.attach_interfaces({}), 0u);
}

TEST(SimBusList, ApplicationShowsTheUsageTheToolLooksFor) {
  SimBus bus;
  bus.attach_model(knobs("app"));
  const auto list = bus.enumerate();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].vendor_id, 0x0534);
  EXPECT_EQ(list[0].product_id, 0x0002);
  EXPECT_EQ(list[0].usage_page, 0x0001);
  EXPECT_EQ(list[0].usage, 0x0000);
}

// hidapi on hidraw lists a uhid device (no USB device above it) with
// release 0, interface -1 and a manufacturer that is present but empty.
TEST(SimBusList, DevicesAreListedAsHidapiListsAUhidDevice) {
  SimBus bus;
  bus.attach_model(knobs("boot"));
  bus.attach_model(knobs("oldboot"));
  bus.attach_model(knobs("app"));
  for (const HidInterfaceRecord& r : bus.enumerate()) {
    EXPECT_EQ(r.release_number, 0) << r.path;
    EXPECT_EQ(r.interface_number, -1) << r.path;
    ASSERT_TRUE(r.manufacturer_string.has_value()) << r.path;
    EXPECT_EQ(*r.manufacturer_string, L"") << r.path;
    EXPECT_TRUE(r.product_string.has_value() && !r.product_string->empty()) << r.path;
    EXPECT_TRUE(r.serial_number.has_value() && !r.serial_number->empty()) << r.path;
  }
}

TEST(SimBusList, KnobsListARealUsbInterfaceNumberAndRelease) {
  SimBus bus;
  EventRecorder events(bus);
  const SimDeviceId id = bus.attach_model(knobs("app,interface=2,release=0x0123,restart-ms=0"));
  auto list = bus.enumerate();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].interface_number, 2);
  EXPECT_EQ(list[0].release_number, 0x0123);
  auto h = open(bus, id);
  ASSERT_TRUE(h);
  EXPECT_EQ(test::exchange(*h, test::command_write(0, 65, BOOT_CMD_ENTER_BOOT), 0).status, 0);
  ASSERT_TRUE(events.wait_for_count(3));
  list = bus.enumerate();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].product_id, 0x5048);
  EXPECT_EQ(list[0].interface_number, 2) << "the interface is the device's, in every mode";
  EXPECT_EQ(list[0].release_number, 0) << "the release knob is the starting firmware's";
}

TEST(SimBusList, UnitsKeepTheirSerialAndPortAcrossRestartsAndReplugs) {
  SimBus bus;
  EventRecorder events(bus);
  const SimDeviceId plain = bus.attach_model(knobs("boot"));
  const SimDeviceId named = bus.attach_model(knobs("app,serial=UNIT-7,port=1-1.3,restart-ms=0"));
  auto list = bus.enumerate();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].serial_number, L"SIM-BOOT-0001");
  EXPECT_EQ(list[1].serial_number, L"UNIT-7");
  EXPECT_EQ(bus.port_path(list[0].path), "sim-" + std::to_string(plain));
  EXPECT_EQ(bus.port_path(list[1].path), "1-1.3");
  EXPECT_EQ(bus.port_path("sim:hidraw99"), "");
  {
    auto h = open(bus, named);
    ASSERT_TRUE(h);
    EXPECT_EQ(test::exchange(*h, test::command_write(0, 65, BOOT_CMD_ENTER_BOOT), 0).status, 0);
  }
  ASSERT_TRUE(events.wait_for_count(4));
  ASSERT_TRUE(bus.unplug(plain));
  ASSERT_TRUE(bus.replug(plain));
  list = bus.enumerate();
  ASSERT_EQ(list.size(), 2u);
  for (const auto& r : list) {
    const bool is_named = r.product_id == 0x5048 && r.serial_number == L"UNIT-7";
    EXPECT_EQ(bus.port_path(r.path), is_named ? "1-1.3" : "sim-" + std::to_string(plain));
  }
}

TEST(SimBusOpen, UnknownPathFailsWithAReason) {
  SimBus bus;
  std::string error;
  EXPECT_FALSE(bus.open_path("sim:hidraw42", &error));
  EXPECT_NE(error.find("sim:hidraw42"), std::string::npos);
  EXPECT_FALSE(bus.open_path("", nullptr));
}

TEST(SimBusOpen, InertInterfaceTakesWritesAndNeverAnswers) {
  SimBus bus;
  const SimDeviceId kb = bus.attach_interfaces({keyboard_interface(0)});
  auto h = open(bus, kb);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->report_descriptor(), keyboard_report_descriptor());
  const std::vector<uint8_t> led = {0, 1};
  EXPECT_EQ(write(*h, led), 2);
  uint8_t buffer[16];
  EXPECT_EQ(h->read(buffer, sizeof buffer, 0), 0);
}

TEST(SimBusReports, WithoutReportIdsTheZeroByteIsDroppedBothWays) {
  SimBus bus;
  auto h = open(bus, bus.attach_model(knobs("boot")));
  ASSERT_TRUE(h);
  EXPECT_EQ(write(*h, info_write()), 65);
  uint8_t in[128] = {};
  ASSERT_EQ(h->read(in, sizeof in, 5000), 64);
  EXPECT_EQ(in[0], 0xD7);
  EXPECT_EQ(in[1], 0x09);
  EXPECT_EQ(in[2], BOOT_CMD_INFO);
}

TEST(SimBusReports, WithReportIdsTheIdByteLeadsBothWays) {
  SimBus bus;
  const SimDeviceId id = bus.attach_model(knobs("boot,report-id=5"));
  auto h = open(bus, id);
  ASSERT_TRUE(h);
  EXPECT_EQ(write(*h, info_write(5)), 65);
  uint8_t in[128] = {};
  ASSERT_EQ(h->read(in, sizeof in, 5000), 65);
  EXPECT_EQ(in[0], 5);
  EXPECT_EQ(in[1], 0xD7);
  EXPECT_EQ(bus.model(id)->verdict().protocol_violations, 0u);
}

// The kernel's USB HID driver drops a leading 0 whether or not the device
// uses report IDs: a report-ID device gets such a frame one byte short.
TEST(SimBusReports, LeadingZeroIsDroppedEvenForAReportIdDevice) {
  SimBus bus;
  const SimDeviceId id = bus.attach_model(knobs("boot,report-id=5"));
  auto h = open(bus, id);
  ASSERT_TRUE(h);
  EXPECT_EQ(write(*h, info_write(0)), 65);
  uint8_t in[128];
  EXPECT_EQ(h->read(in, sizeof in, 0), 0) << "a 64-byte frame gets no answer";
  const SimVerdict v = bus.model(id)->verdict();
  EXPECT_EQ(v.protocol_violations, 1u);
  EXPECT_NE(v.last_violation.find("frame of 64 bytes"), std::string::npos) << v.last_violation;

  // A 0 put in front of a whole report with its ID is dropped too, and the
  // report arrives intact.
  std::vector<uint8_t> padded = info_write(5);
  padded.insert(padded.begin(), 0);
  EXPECT_EQ(write(*h, padded), 66);
  ASSERT_EQ(h->read(in, sizeof in, 5000), 65);
  EXPECT_EQ(in[0], 5);
  EXPECT_EQ(test::decode_reply(in, 65, 5).status, 0);
  EXPECT_EQ(bus.model(id)->verdict().protocol_violations, 1u);
}

TEST(SimBusReports, NonZeroFirstByteOnADeviceWithoutIdsTravelsAndIsIgnored) {
  SimBus bus;
  const SimDeviceId id = bus.attach_model(knobs("boot"));
  auto h = open(bus, id);
  EXPECT_EQ(write(*h, info_write(3)), 65);
  uint8_t in[128];
  EXPECT_EQ(h->read(in, sizeof in, 0), 0);
  EXPECT_EQ(bus.model(id)->verdict().protocol_violations, 1u);
}

TEST(SimBusReports, EveryOpenHandleGetsItsOwnCopy) {
  SimBus bus;
  const SimDeviceId id = bus.attach_model(knobs("boot"));
  auto a = open(bus, id);
  auto b = open(bus, id);
  ASSERT_TRUE(a && b);
  write(*a, info_write());
  uint8_t in[128];
  EXPECT_EQ(a->read(in, sizeof in, 5000), 64);
  EXPECT_EQ(b->read(in, sizeof in, 5000), 64);
  EXPECT_EQ(in[0], 0xD7);
  EXPECT_EQ(a->read(in, sizeof in, 0), 0);
  // A handle opened afterwards sees only later reports.
  auto c = open(bus, id);
  EXPECT_EQ(c->read(in, sizeof in, 0), 0);
}

TEST(SimBusReports, ReportArrivingAfterATimeOutStaysQueued) {
  SimBus bus;
  auto h = open(bus, bus.attach_model(knobs("boot,latency-us=300000")));
  write(*h, info_write());
  uint8_t in[128];
  EXPECT_EQ(h->read(in, sizeof in, 0), 0);  // not there yet
  ASSERT_EQ(h->read(in, sizeof in, 10000), 64);
  EXPECT_EQ(in[0], 0xD7);
}

TEST(SimBusReports, QueueKeepsAtMostSixtyFourReports) {
  SimBus bus;
  auto h = open(bus, bus.attach_model(knobs("boot")));
  for (int i = 0; i < 70; ++i) write(*h, info_write());
  uint8_t in[128];
  int count = 0;
  while (h->read(in, sizeof in, 0) > 0) ++count;
  EXPECT_EQ(count, static_cast<int>(kSimHandleQueueLimit));
}

TEST(SimBusReports, SmallReadBufferGetsTheFrontOfTheReport) {
  SimBus bus;
  auto h = open(bus, bus.attach_model(knobs("boot")));
  write(*h, info_write());
  uint8_t in[6] = {};
  EXPECT_EQ(h->read(in, sizeof in, 5000), 6);
  EXPECT_EQ(in[0], 0xD7);
  EXPECT_EQ(h->read(in, sizeof in, 0), 0);  // the rest is gone
}

TEST(SimBusReports, BadArgumentsFailClearly) {
  SimBus bus;
  auto h = open(bus, bus.attach_model(knobs("boot")));
  const uint8_t one = 0;
  EXPECT_EQ(h->write(nullptr, 65), -1);
  EXPECT_EQ(h->write(&one, 1), -1);
  EXPECT_FALSE(h->error_text().empty());
  std::vector<uint8_t> huge(20000, 0);
  EXPECT_EQ(h->write(huge.data(), huge.size()), -1);
  uint8_t in[4];
  EXPECT_EQ(h->read(nullptr, 64, 0), -1);
  EXPECT_EQ(h->read(in, 0, 0), -1);
}

TEST(SimBusPlug, UnplugFailsHandlesAndAHandleKeptOpenHoldsItsPath) {
  SimBus bus;
  EventRecorder events(bus);
  const SimDeviceId id = bus.attach_model(knobs("boot"));
  auto h = open(bus, id);
  ASSERT_TRUE(h);
  const std::string first_path = bus.interface_paths(id).at(0);

  std::atomic<int> blocked_read{1};
  std::thread reader([&] {
    uint8_t in[128];
    blocked_read = h->read(in, sizeof in, -1);  // waits without limit
  });
  EXPECT_TRUE(bus.unplug(id));
  reader.join();
  EXPECT_EQ(blocked_read.load(), -1);
  EXPECT_FALSE(bus.is_present(id));
  EXPECT_TRUE(bus.enumerate().empty());
  EXPECT_EQ(write(*h, info_write()), -1);
  EXPECT_NE(h->error_text().find("removed"), std::string::npos);
  EXPECT_FALSE(h->report_descriptor());
  EXPECT_FALSE(bus.unplug(id));

  EXPECT_TRUE(bus.replug(id));
  EXPECT_FALSE(bus.replug(id));
  // The old handle is still open and holds the old number.
  const std::string second_path = bus.interface_paths(id).at(0);
  EXPECT_NE(second_path, first_path);
  EXPECT_EQ(write(*h, info_write()), -1) << "a handle belongs to one arrival";
  auto again = open(bus, id);
  ASSERT_TRUE(again);
  EXPECT_EQ(test::exchange(*again, info_write(), 0).status, 0);

  const auto e = events.events();
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].kind, SimBusEventKind::kArrival);
  EXPECT_EQ(e[1].kind, SimBusEventKind::kRemoval);
  EXPECT_EQ(e[1].record.path, first_path);
  EXPECT_EQ(e[2].kind, SimBusEventKind::kArrival);
  EXPECT_EQ(e[2].record.path, second_path);
  EXPECT_EQ(e[2].device, id);
}

// Paths are numbered as the kernel numbers hidraw nodes: the lowest number
// that neither an interface on the bus nor a handle still open holds.
TEST(SimBusPaths, ArrivalsTakeTheLowestFreeNumber) {
  SimBus bus;
  const SimDeviceId a = bus.attach_model(knobs("boot"));
  const SimDeviceId b = bus.attach_model(knobs("boot"));
  const SimDeviceId c = bus.attach_interfaces({keyboard_interface(0), keyboard_interface(1)});
  EXPECT_EQ(bus.interface_paths(a), std::vector<std::string>{"sim:hidraw0"});
  EXPECT_EQ(bus.interface_paths(b), std::vector<std::string>{"sim:hidraw1"});
  EXPECT_EQ(bus.interface_paths(c), (std::vector<std::string>{"sim:hidraw2", "sim:hidraw3"}));

  // A freed number goes to whoever arrives next, another device included.
  ASSERT_TRUE(bus.unplug(b));
  const SimDeviceId d = bus.attach_model(knobs("oldboot"));
  EXPECT_EQ(bus.interface_paths(d), std::vector<std::string>{"sim:hidraw1"});
  for (const HidInterfaceRecord& r : bus.enumerate()) {
    if (r.path == "sim:hidraw1") {
      EXPECT_EQ(r.product_id, 0x5045) << "same path, another device";
    }
  }

  // A handle left open keeps its number taken after the device has gone.
  auto held = open(bus, a);
  ASSERT_TRUE(held);
  ASSERT_TRUE(bus.unplug(a));
  ASSERT_TRUE(bus.replug(b));
  EXPECT_EQ(bus.interface_paths(b), std::vector<std::string>{"sim:hidraw4"});
  held.reset();
  ASSERT_TRUE(bus.replug(a));
  EXPECT_EQ(bus.interface_paths(a), std::vector<std::string>{"sim:hidraw0"});

  // An interface leaving in the middle frees its number alone.
  ASSERT_TRUE(bus.unplug(c));
  const SimDeviceId e = bus.attach_model(knobs("app"));
  EXPECT_EQ(bus.interface_paths(e), std::vector<std::string>{"sim:hidraw2"});
}

TEST(SimBusPaths, RestartedDeviceComesBackOnItsOldPathOnceTheHandleIsClosed) {
  SimBus bus;
  EventRecorder events(bus);
  const SimDeviceId id = bus.attach_model(knobs("app,restart-ms=20"));
  const std::string first_path = bus.interface_paths(id).at(0);
  {
    auto h = open(bus, id);
    ASSERT_TRUE(h);
    EXPECT_EQ(test::exchange(*h, test::command_write(0, 65, BOOT_CMD_ENTER_BOOT), 0).status, 0);
  }
  ASSERT_TRUE(events.wait_for_count(3));
  const auto e = events.events();
  EXPECT_EQ(e[1].kind, SimBusEventKind::kRemoval);
  EXPECT_EQ(e[2].kind, SimBusEventKind::kArrival);
  EXPECT_EQ(e[2].record.path, first_path);
  EXPECT_EQ(e[2].record.product_id, 0x5048) << "the same path now leads to the bootloader";
}

TEST(SimBusPaths, WithPortLostTheRestartingDeviceIsListedWithoutItsPortBeforeItLeaves) {
  SimBus bus;
  EventRecorder events(bus);
  const SimDeviceId id = bus.attach_model(knobs("app,port=1-2,restart-ms=20,port-lost-ms=300"));
  const std::string path = bus.interface_paths(id).at(0);
  EXPECT_EQ(bus.port_path(path), "1-2");
  {
    auto h = open(bus, id);
    ASSERT_TRUE(h);
    EXPECT_EQ(test::exchange(*h, test::command_write(0, 65, BOOT_CMD_ENTER_BOOT), 0).status, 0);
  }
  EXPECT_EQ(bus.enumerate().size(), 1u) << "still listed";
  EXPECT_EQ(bus.port_path(path), "") << "but its port is gone";
  ASSERT_TRUE(events.wait_for_count(3));
  EXPECT_EQ(bus.port_path(bus.interface_paths(id).at(0)), "1-2") << "back with its port";
}

TEST(SimBusPaths, RestartedDeviceGetsAnotherPathWhileTheOldHandleIsOpen) {
  SimBus bus;
  EventRecorder events(bus);
  const SimDeviceId id = bus.attach_model(knobs("app,restart-ms=20"));
  const std::string first_path = bus.interface_paths(id).at(0);
  auto h = open(bus, id);
  ASSERT_TRUE(h);
  EXPECT_EQ(test::exchange(*h, test::command_write(0, 65, BOOT_CMD_ENTER_BOOT), 0).status, 0);
  ASSERT_TRUE(events.wait_for_count(3));
  EXPECT_NE(bus.interface_paths(id).at(0), first_path);
  EXPECT_EQ(write(*h, info_write()), -1) << "the old handle stays with the old arrival";
}

TEST(SimBusPlug, ReportsQueuedBeforeTheUnplugCanStillBeRead) {
  SimBus bus;
  const SimDeviceId id = bus.attach_model(knobs("boot"));
  auto h = open(bus, id);
  write(*h, info_write());
  bus.unplug(id);
  uint8_t in[128];
  EXPECT_EQ(h->read(in, sizeof in, 0), 64);
  EXPECT_EQ(h->read(in, sizeof in, 0), -1);
}

TEST(SimBusPlug, UnplugDuringARestartCancelsTheReturn) {
  SimBus bus;
  const SimDeviceId id = bus.attach_model(knobs("app,restart-ms=100"));
  EventRecorder events(bus);
  auto h = open(bus, id);
  EXPECT_EQ(test::exchange(*h, test::command_write(0, 65, BOOT_CMD_ENTER_BOOT), 0).status, 0);
  ASSERT_TRUE(events.wait_for_count(1));  // it left
  EXPECT_FALSE(bus.unplug(id));           // already off the bus; its return is cancelled
  // The cancelled return would have come 100 ms later; a replug is the only way back.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_FALSE(bus.is_present(id));
  EXPECT_EQ(events.events().size(), 1u);
  EXPECT_TRUE(bus.replug(id));
  EXPECT_EQ(bus.enumerate().at(0).product_id, 0x5048) << "it comes back in the mode it ran in";
}

TEST(SimBusListeners, ListenerMaySeeTheBusAndUnsubscribeItself) {
  SimBus bus;
  std::vector<size_t> sizes;
  uint64_t self = 0;
  self = bus.subscribe([&](const SimBusEvent& e) {
    sizes.push_back(bus.enumerate().size());
    if (e.kind == SimBusEventKind::kRemoval) bus.unsubscribe(self);
  });
  const SimDeviceId id = bus.attach_model(knobs("boot"));
  bus.unplug(id);
  bus.replug(id);
  EXPECT_EQ(sizes, (std::vector<size_t>{1, 0}));
  EXPECT_EQ(bus.subscribe(nullptr), 0u);
}

TEST(SimBusListeners, ChangesMadeByAListenerAreReportedInOrder) {
  SimBus bus;
  const SimDeviceId kb = bus.attach_interfaces({keyboard_interface(0)});
  std::vector<std::pair<int, SimDeviceId>> seen;
  bool replugged = false;
  bus.subscribe([&](const SimBusEvent& e) {
    if (e.kind == SimBusEventKind::kRemoval && !replugged) {
      replugged = true;
      bus.replug(kb);
    }
  });
  bus.subscribe([&](const SimBusEvent& e) { seen.emplace_back(static_cast<int>(e.kind), e.device); });
  bus.unplug(kb);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, static_cast<int>(SimBusEventKind::kRemoval));
  EXPECT_EQ(seen[1].first, static_cast<int>(SimBusEventKind::kArrival));
}

TEST(SimBusLifetime, HandlesOutliveTheBus) {
  std::unique_ptr<HidBackendDevice> h;
  std::atomic<int> result{1};
  std::thread reader;
  {
    SimBus bus;
    h = open(bus, bus.attach_model(knobs("boot")));
    reader = std::thread([&] {
      uint8_t in[128];
      result = h->read(in, sizeof in, -1);
    });
  }
  reader.join();
  EXPECT_EQ(result.load(), -1);
  EXPECT_EQ(write(*h, info_write()), -1);
  h.reset();
}

TEST(SimBusLifetime, LastReferenceDroppedByAListenerOnTheTimerThread) {
  auto bus = std::make_shared<SimBus>();
  const SimDeviceId id = bus->attach_model(knobs("app"));
  auto h = open(*bus, id);
  std::mutex m;
  std::condition_variable cv;
  bool released = false;
  auto keeper = std::make_shared<std::shared_ptr<SimBus>>(bus);
  bus->subscribe([keeper_weak = std::weak_ptr(keeper), &m, &cv, &released](const SimBusEvent&) {
    if (auto k = keeper_weak.lock()) {
      k->reset();  // drops the last reference to the bus on the timer thread
      std::lock_guard<std::mutex> lock(m);
      released = true;
      cv.notify_all();
    }
  });
  bus.reset();
  // The restart after ENTER_BOOT makes the timer thread report the removal.
  write(*h, test::command_write(0, 65, BOOT_CMD_ENTER_BOOT));
  std::unique_lock<std::mutex> lock(m);
  EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return released; }));
  lock.unlock();
  keeper.reset();
  h.reset();
}

TEST(SimBusFactory, FromKnobText) {
  std::string error;
  EXPECT_FALSE(make_sim_bus_from_knobs("boot,nonsense=1", &error));
  EXPECT_NE(error.find("nonsense"), std::string::npos);
  auto bus = make_sim_bus_from_knobs("oldboot,report-id=2", &error);
  ASSERT_TRUE(bus);
  const auto list = bus->enumerate();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].product_id, 0x5045);
  auto h = bus->open_path(list[0].path, nullptr);
  ASSERT_TRUE(h);
  const auto d = h->report_descriptor();
  ASSERT_TRUE(d);
  EXPECT_EQ(*d, build_vendor_report_descriptor(0xFF00, 1, 2, 65));
}

}  // namespace
}  // namespace torvane::sim
