// Port names from Windows location paths, shaped as Linux names USB devices.
#include <gtest/gtest.h>

#include "device/usb_location_path.h"

namespace torvane {
namespace {

TEST(UsbLocationPath, NamesTheBusByRootHubRankAndJoinsThePorts) {
  const std::vector<std::string> hubs = {
      "PCIROOT(0)#PCI(1400)#USBROOT(0)",
      "PCIROOT(0)#PCI(0D00)#USBROOT(0)",
      "PCIROOT(0)#PCI(0D00)#USBROOT(0)",        // listed twice: one bus
      "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)", // a hub below a root: no bus
      "ACPI(_SB_)#ACPI(PCI0)",                  // no root hub at all
  };
  const struct {
    const char* location;
    const char* name;
  } cases[] = {
      {"PCIROOT(0)#PCI(0D00)#USBROOT(0)#USB(4)", "1-4"},
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(2)", "2-1.2"},
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(12)#USBMI(0)", "2-1.12"},  // an interface of it
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)", ""},                    // the root hub itself
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USBMI(1)", ""},           // no port
      {"PCIROOT(0)#PCI(0800)#USBROOT(0)#USB(1)", ""},             // an unknown root hub
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(x)", ""},             // malformed ports
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB()", ""},
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(123456)", ""},
      {"PCIROOT(0)#PCI(1400)#USBROOT(0", ""},
      {"PCIROOT(0)#PCI(1400)#USBROOT(0)X#USB(1)", ""},
      {"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS01)", ""},  // the ACPI form
      {"PCIROOT(0)#PCI(1400)#XUSBROOT(0)#USB(1)", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(usb_port_name_from_location(c.location, hubs), c.name) << c.location;
  }
  EXPECT_EQ(usb_port_name_from_location("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)", {}), "");
}

}  // namespace
}  // namespace torvane
