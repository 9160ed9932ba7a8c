// Knob texts: the documented notation, every knob, escapes, clear refusals
// and the canonical text that reads back to the same knobs.
#include <gtest/gtest.h>

#include "sim/sim_knobs.h"

namespace torvane::sim {
namespace {

SimKnobs parse_ok(std::string_view text) {
  SimKnobs k;
  std::string error;
  EXPECT_TRUE(parse_sim_knobs(text, &k, &error)) << text << ": " << error;
  return k;
}

std::string parse_error(std::string_view text) {
  SimKnobs k;
  k.latency_us = 4242;  // must survive a failed parse
  std::string error;
  EXPECT_FALSE(parse_sim_knobs(text, &k, &error)) << text;
  EXPECT_EQ(k.latency_us, 4242u) << "a failed parse must leave the knobs alone";
  EXPECT_FALSE(error.empty());
  return error;
}

TEST(SimKnobsParse, KindAloneGivesDefaults) {
  for (auto [text, kind] : {std::pair{"app", SimDeviceKind::kApp}, std::pair{"boot", SimDeviceKind::kBoot},
                            std::pair{"oldboot", SimDeviceKind::kOldBoot}}) {
    SimKnobs expected;
    expected.kind = kind;
    EXPECT_EQ(parse_ok(text), expected) << text;
  }
}

TEST(SimKnobsParse, ExampleFromTheDocumentation) {
  const SimKnobs k = parse_ok(
      "boot,info=ZAVRO:0.3.0.0 12:33:39 Sep 13 2016,report-id=5,report-length=65,busy-start=2,"
      "busy-block=3:4,silent-block=7,late-block=7,wrong-echo-block=2,unplug-block=9,latency-us=1000");
  EXPECT_EQ(k.kind, SimDeviceKind::kBoot);
  EXPECT_EQ(k.info, "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
  EXPECT_EQ(k.report_id, 5);
  EXPECT_EQ(k.report_length, 65u);
  EXPECT_EQ(k.busy_start, 2u);
  ASSERT_EQ(k.busy_blocks.size(), 1u);
  EXPECT_EQ(k.busy_blocks[0], (SimBusyBlock{3, 4, 0}));
  EXPECT_EQ(k.silent_blocks, std::vector<uint32_t>{7});
  EXPECT_EQ(k.late_blocks, std::vector<uint32_t>{7});
  EXPECT_EQ(k.wrong_echo_blocks, std::vector<uint32_t>{2});
  EXPECT_EQ(k.unplug_block, 9u);
  EXPECT_EQ(k.latency_us, 1000u);
}

TEST(SimKnobsParse, IdentityStatusAndTimingKnobs) {
  const SimKnobs k = parse_ok(
      "app,vid=0x1234,pid=abcd,usage-page=FF00,usage=1,info-status=3,enter-status=4,enter-silent,"
      "start-status=9,restart-ms=50,no-restart,no-app,no-serial,port-lost-ms=40,late-ms=300,busy-block-status=1,busy-block=0:2:2");
  EXPECT_EQ(k.vendor_id, 0x1234);
  EXPECT_EQ(k.product_id, 0xABCD);
  EXPECT_EQ(k.usage_page, 0xFF00);
  EXPECT_EQ(k.usage, 1);
  EXPECT_EQ(k.info_status, 3);
  EXPECT_EQ(k.enter_status, 4);
  EXPECT_TRUE(k.enter_silent);
  EXPECT_EQ(k.start_status, 9);
  EXPECT_EQ(k.restart_ms, 50u);
  EXPECT_TRUE(k.no_restart);
  EXPECT_EQ(k.late_ms, 300u);
  EXPECT_EQ(k.busy_block_status, 1);
  EXPECT_EQ(k.busy_blocks, (std::vector<SimBusyBlock>{{0, 2, 2}}));
}

TEST(SimKnobsParse, RepeatableBlockKnobsCollect) {
  const SimKnobs k = parse_ok("oldboot,silent-block=1,silent-block=4,busy-block=2:1,busy-block=5:3:1");
  EXPECT_EQ(k.silent_blocks, (std::vector<uint32_t>{1, 4}));
  EXPECT_EQ(k.busy_blocks, (std::vector<SimBusyBlock>{{2, 1, 0}, {5, 3, 1}}));
}

TEST(SimKnobsParse, EscapedCommasAndBackslashesInInfo) {
  EXPECT_EQ(parse_ok("boot,info=A\\, B\\\\C,latency-us=5").info, "A, B\\C");
  EXPECT_EQ(parse_ok("boot,info=").info, "");
  // Blanks around keys are tolerated; blanks inside the info text are kept.
  EXPECT_EQ(parse_ok(" boot , info= x y ").info, " x y ");
}

TEST(SimKnobsParse, InfoMayFillTheWholeRecord) {
  EXPECT_EQ(parse_ok("boot,info=" + std::string(48, 'x')).info->size(), 48u);
  EXPECT_NE(parse_error("boot,info=" + std::string(49, 'x')).find("48"), std::string::npos);
}

TEST(SimKnobsParse, RangesAtTheirLimits) {
  EXPECT_EQ(parse_ok("boot,report-id=255").report_id, 255);
  EXPECT_EQ(parse_ok("boot,report-length=8").report_length, 8u);
  EXPECT_EQ(parse_ok("boot,report-length=12289").report_length, 12289u);
  parse_error("boot,report-id=256");
  parse_error("boot,report-length=7");
  parse_error("boot,report-length=12290");
  parse_error("boot,vid=10000");
  parse_error("boot,latency-us=10000001");
  parse_error("boot,busy-start=4294967296");
  parse_error("boot,info-status=65536");
  EXPECT_EQ(parse_ok("boot,interface=0").interface_number, 0);
  EXPECT_EQ(parse_ok("boot,interface=255").interface_number, 255);
  EXPECT_NE(parse_error("boot,interface=256").find("0..255"), std::string::npos);
  EXPECT_NE(parse_error("boot,interface=-1").find("decimal"), std::string::npos);
  EXPECT_EQ(parse_ok("boot,release=FFFF").release_number, 0xFFFF);
  EXPECT_NE(parse_error("boot,release=10000").find("hexadecimal"), std::string::npos);
  EXPECT_NE(parse_error("boot,release=1,release=2").find("twice"), std::string::npos);
}

TEST(SimKnobsParse, RefusalsSayWhatIsWrong) {
  EXPECT_NE(parse_error("").find("kind"), std::string::npos);
  EXPECT_NE(parse_error("bootloader").find("bootloader"), std::string::npos);
  EXPECT_NE(parse_error("report-id=5").find("kind"), std::string::npos);
  EXPECT_NE(parse_error("boot,speed=9").find("unknown knob 'speed'"), std::string::npos);
  EXPECT_NE(parse_error("boot,frobnicate").find("unknown knob"), std::string::npos);
  EXPECT_NE(parse_error("boot,vid=xyz").find("hexadecimal"), std::string::npos);
  EXPECT_NE(parse_error("boot,vid=").find("hexadecimal"), std::string::npos);
  EXPECT_NE(parse_error("boot,latency-us=-1").find("decimal"), std::string::npos);
  EXPECT_NE(parse_error("boot,latency-us=1x").find("decimal"), std::string::npos);
  EXPECT_NE(parse_error("boot,report-id=1,report-id=2").find("twice"), std::string::npos);
  EXPECT_NE(parse_error("boot,silent-block=3,silent-block=3").find("twice"), std::string::npos);
  EXPECT_NE(parse_error("boot,busy-block=3:1,busy-block=3:2").find("twice"), std::string::npos);
  EXPECT_NE(parse_error("boot,no-restart,no-restart").find("twice"), std::string::npos);
  EXPECT_NE(parse_error("boot,no-restart=1").find("flag"), std::string::npos);
  EXPECT_NE(parse_error("boot,,latency-us=1").find("empty item"), std::string::npos);
  EXPECT_NE(parse_error("boot,latency-us=1,").find("empty item"), std::string::npos);
  EXPECT_NE(parse_error("boot,info=a\\b").find("backslash"), std::string::npos);
  for (const char* bad : {"boot,serial=", "boot,port=a b", "boot,serial=\xE4"}) {
    EXPECT_NE(parse_error(bad).find("printable ASCII"), std::string::npos) << bad;
  }
  // An unescaped comma in the info text ends it; the rest is refused.
  EXPECT_NE(parse_error("boot,info=Hello, world").find("\\,"), std::string::npos);
}

TEST(SimKnobsParse, BusyBlockForms) {
  for (const char* bad : {"busy-block=3", "busy-block=3:", "busy-block=:2", "busy-block=3:2:0",
                          "busy-block=3:2:3", "busy-block=3:2:1:1", "busy-block=a:2"}) {
    EXPECT_NE(parse_error(std::string("boot,") + bad).find("BLOCK:COUNT"), std::string::npos) << bad;
  }
  parse_error("boot,busy-block-status=0");
  parse_error("boot,busy-block-status=3");
}

TEST(SimKnobsParse, ReportShapeKnobsAndTheirCombinations) {
  const SimKnobs k = parse_ok("boot,report-id=5,reply-length=33,composite=1:9,composite-input=3");
  EXPECT_EQ(k.reply_length, 33u);
  EXPECT_EQ(k.composite_report_id, 1);
  EXPECT_EQ(k.composite_report_length, 9u);
  EXPECT_EQ(k.composite_input_every, 3u);
  EXPECT_EQ(parse_ok(format_sim_knobs(k)), k);
  const SimIdentity id = sim_identity_for(k, SimDeviceKind::kApp);  // every mode has the shape
  EXPECT_EQ(id.reply_length, 33u);
  EXPECT_EQ(id.composite_report_id, 1);
  struct Case {
    const char* text;
    const char* says;
  } const cases[] = {
      {"boot,reply-length=33", "needs report-id"},
      {"boot,report-id=5,reply-length=65", "shorter than report-length"},
      {"boot,report-id=5,reply-length=7", "8..12289"},
      {"boot,composite=1:9", "needs report-id"},
      {"boot,report-id=5,composite=5:9", "report ID of its own"},
      {"boot,report-id=5,reply-length=20,composite=6:9", "report ID of its own"},
      {"boot,report-id=5,composite=0:9", "ID:LENGTH"},
      {"boot,report-id=5,composite=1:1", "ID:LENGTH"},
      {"boot,report-id=5,composite=1", "ID:LENGTH"},
      {"boot,report-id=5,composite=1:1026", "ID:LENGTH"},
      {"boot,report-id=5,composite-input=2", "needs composite"},
      {"boot,report-id=5,composite=1:9,composite-input=0", "1..4294967295"},
  };
  for (const Case& c : cases) EXPECT_NE(parse_error(c.text).find(c.says), std::string::npos) << c.text;
}

TEST(SimKnobsParse, SerialAtForms) {
  using F = SimSerialFormat;
  struct Case {
    const char* value;
    SimSerialAt at;     // when says is empty
    const char* says;
  } const cases[] = {
      {"08007F00:4:le", {0x08007F00, 4, F::kLittle, ""}, ""},
      {"0x1000:8:be", {0x1000, 8, F::kBig, ""}, ""},
      {"1FF0:8:dec:SN", {0x1FF0, 8, F::kDecimal, "SN"}, ""},
      {"10:6:hex:A:B", {0x10, 6, F::kHex, "A:B"}, ""},  // the prefix is the rest
      {"10:9:le", {}, "1..8 bytes and no prefix"},
      {"10:4:be:SN", {}, "1..8 bytes and no prefix"},
      {"10:2:dec:SN", {}, "leave room for a digit"},
      {"10:8:dec:", {}, "leave room for a digit"},
      {"10:0:dec", {}, "bad width"},
      {"10:65:dec", {}, "bad width"},
      {"10:4:bcd", {}, "unknown format"},
      {"10:4", {}, "too few fields"},
      {"xyz:4:le", {}, "bad address"},
      {"100000000:4:le", {}, "bad address"},
  };
  for (const Case& c : cases) {
    const std::string text = std::string("boot,serial-at=") + c.value;
    if (*c.says == 0) {
      const SimKnobs k = parse_ok(text);
      ASSERT_TRUE(k.serial_at.has_value()) << text;
      EXPECT_EQ(*k.serial_at, c.at) << text;
      EXPECT_EQ(parse_ok(format_sim_knobs(k)), k) << format_sim_knobs(k);
    } else {
      EXPECT_NE(parse_error(text).find(c.says), std::string::npos) << text;
    }
  }
}

TEST(SimKnobsParse, NullOutputIsRefusedAndNullErrorTolerated) {
  EXPECT_FALSE(parse_sim_knobs("boot", nullptr, nullptr));
  SimKnobs k;
  EXPECT_FALSE(parse_sim_knobs("nope", &k, nullptr));
}

TEST(SimKnobsFormat, DefaultsGiveTheBareKind) {
  EXPECT_EQ(format_sim_knobs(SimKnobs{}), "boot");
  EXPECT_EQ(format_sim_knobs(parse_ok("oldboot")), "oldboot");
}

TEST(SimKnobsFormat, CanonicalTextReadsBackToTheSameKnobs) {
  for (const char* text :
       {"boot,info=ZAVRO:0.3.0.0 12:33:39 Sep 13 2016,report-id=5,busy-start=2,busy-block=3:4",
        "app,vid=1,pid=2,usage-page=3,usage=4,enter-status=4,enter-silent,no-restart,restart-ms=0",
        "oldboot,info=a\\,b\\\\c,busy-block=1:2:1,busy-block-status=1,silent-block=4,late-block=5,"
        "late-ms=20,wrong-echo-block=6,unplug-block=7,hang-block=8,latency-us=9,info-status=1,start-status=3,"
        "report-length=129",
        "boot,release=0x0102,interface=0", "app,interface=255,release=FFFF",
        "boot,serial=A\\,1,port=usb-0000:00:14.0-2/input0"}) {
    const SimKnobs k = parse_ok(text);
    const std::string canonical = format_sim_knobs(k);
    EXPECT_EQ(parse_ok(canonical), k) << canonical;
    EXPECT_EQ(format_sim_knobs(parse_ok(canonical)), canonical);
  }
}

TEST(SimKnobsIdentity, OverridesApplyToTheStartingKindOnly) {
  const SimKnobs k = parse_ok("app,vid=1111,pid=2222,usage-page=3,usage=4,report-id=7,report-length=33");
  const SimIdentity app = sim_identity_for(k, SimDeviceKind::kApp);
  EXPECT_EQ(app.vendor_id, 0x1111);
  EXPECT_EQ(app.product_id, 0x2222);
  EXPECT_EQ(app.usage_page, 3);
  EXPECT_EQ(app.usage, 4);
  const SimIdentity boot = sim_identity_for(k, SimDeviceKind::kBoot);
  EXPECT_EQ(boot.vendor_id, 0x484F);
  EXPECT_EQ(boot.product_id, 0x5048);
  EXPECT_EQ(boot.usage_page, 0xFF00);
  EXPECT_EQ(boot.usage, 1);
  // The report layout is the device's, whatever firmware runs.
  EXPECT_EQ(boot.report_id, 7);
  EXPECT_EQ(boot.report_length, 33u);
}

TEST(SimKnobsIdentity, ReleaseIsTheStartingFirmwaresInterfaceTheDevicesAll) {
  const SimKnobs k = parse_ok("app,release=0x0210,interface=1");
  EXPECT_EQ(sim_identity_for(k, SimDeviceKind::kApp).release_number, 0x0210);
  EXPECT_EQ(sim_identity_for(k, SimDeviceKind::kBoot).release_number, 0);
  EXPECT_EQ(sim_identity_for(k, SimDeviceKind::kApp).interface_number, 1);
  EXPECT_EQ(sim_identity_for(k, SimDeviceKind::kOldBoot).interface_number, 1);
  // Unset, every kind looks like a uhid device to hidapi.
  for (SimDeviceKind kind : {SimDeviceKind::kApp, SimDeviceKind::kBoot, SimDeviceKind::kOldBoot}) {
    const SimIdentity id = sim_identity_for(SimKnobs{}, kind);
    EXPECT_EQ(id.release_number, 0);
    EXPECT_EQ(id.interface_number, -1);
    EXPECT_EQ(id.manufacturer, L"");
  }
}

TEST(SimKnobsIdentity, FactoryIdentitiesAndInfoTexts) {
  const SimKnobs k;
  EXPECT_EQ(sim_identity_for(k, SimDeviceKind::kOldBoot).product_id, 0x5045);
  const SimIdentity app = sim_identity_for(k, SimDeviceKind::kApp);
  EXPECT_EQ(app.vendor_id, 0x0534);
  EXPECT_EQ(app.product_id, 0x0002);
  EXPECT_EQ(app.usage_page, 0x0001);
  EXPECT_EQ(app.usage, 0x0000);
  EXPECT_EQ(sim_info_text_for(k, SimDeviceKind::kBoot), "ZAVRO:0.3.0.0 12:33:39 Sep 13 2016");
  EXPECT_NE(sim_info_text_for(k, SimDeviceKind::kOldBoot), sim_info_text_for(k, SimDeviceKind::kBoot));
  EXPECT_EQ(sim_info_text_for(parse_ok("app,info=X"), SimDeviceKind::kApp), "X");
  EXPECT_NE(sim_info_text_for(parse_ok("app,info=X"), SimDeviceKind::kBoot), "X");
}

}  // namespace
}  // namespace torvane::sim
