#include "link/portslots.h"

#include <gtest/gtest.h>

namespace {

TEST(PortSlots, BindSpecTakesSlotOneToEight) {
  meterlink::PortSlots slots_;
  EXPECT_TRUE(slots_.bindSpec("1=/dev/ttyUSB0"));
  EXPECT_TRUE(slots_.bindSpec("8=/dev/pts/7"));
  EXPECT_EQ(slots_.device(1), "/dev/ttyUSB0");
  EXPECT_EQ(slots_.device(8), "/dev/pts/7");
  EXPECT_TRUE(slots_.explicitlyBound(1));
  EXPECT_FALSE(slots_.explicitlyBound(2));
  for (const char* bad : {"0=/dev/x", "9=/dev/x", "1=", "=/dev/x", "x=/dev/x", "1/dev/x", "99999999999=/dev/x"})
    EXPECT_FALSE(slots_.bindSpec(bad)) << bad;
  EXPECT_EQ(slots_.device(0), "");
  EXPECT_EQ(slots_.device(9), "");
}

TEST(PortSlots, AdaptersFillTheFreeSlotsInOrderWithoutRepeatingABoundOne) {
  meterlink::PortSlots slots_;
  slots_.bind(2, "/dev/ttyUSB1");
  slots_.autoBind({"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0"});
  EXPECT_EQ(slots_.device(1), "/dev/ttyUSB0");  // a single adapter lands on "COM 1"
  EXPECT_EQ(slots_.device(2), "/dev/ttyUSB1");
  EXPECT_EQ(slots_.device(3), "/dev/ttyACM0");
  EXPECT_EQ(slots_.device(4), "");
  EXPECT_FALSE(slots_.explicitlyBound(3));
}

meterlink::SerialAdapter usb(const std::string& path, const std::string& serial, const std::string& byId = "") {
  meterlink::SerialAdapter a;
  a.path = path;
  a.serialNumber = serial;
  a.byIdLink = byId;
  a.description = "USB UART";
  a.vendorId = 0x0403;
  a.productId = 0x6001;
  return a;
}

TEST(PortSlots, AKnownAdapterFollowsItsSlotAcrossReplugsAndRestarts) {
  meterlink::PortSlots slots_;
  slots_.bind(2, "/dev/pts/9");  // --port wins whatever is plugged in
  slots_.refresh({usb("/dev/ttyUSB0", "A1", "/dev/serial/by-id/usb-A1-port0"), usb("/dev/ttyUSB1", "B2")});
  EXPECT_EQ(slots_.device(1), "/dev/ttyUSB0");
  EXPECT_EQ(slots_.device(2), "/dev/pts/9");
  EXPECT_EQ(slots_.device(3), "/dev/ttyUSB1");
  EXPECT_EQ(slots_.describe(1), "USB UART, S/N A1, by-id usb-A1-port0");

  // Unplugged: the slot waits for its adapter; a newcomer takes a free slot, not its.
  slots_.refresh({usb("/dev/ttyUSB1", "B2"), usb("/dev/ttyACM0", "C3")});
  EXPECT_EQ(slots_.device(1), "/dev/serial/by-id/usb-A1-port0");
  EXPECT_EQ(slots_.describe(1), "USB UART, S/N A1, by-id usb-A1-port0, not plugged in");
  EXPECT_EQ(slots_.device(3), "/dev/ttyUSB1");
  EXPECT_EQ(slots_.device(4), "/dev/ttyACM0");

  // Back under another name: found by serial number.
  slots_.refresh({usb("/dev/ttyUSB2", "A1", "/dev/serial/by-id/usb-A1-port0"), usb("/dev/ttyUSB1", "B2")});
  EXPECT_EQ(slots_.device(1), "/dev/ttyUSB2");
  EXPECT_EQ(slots_.device(3), "/dev/ttyUSB1");

  // The next start: what the slots knew comes back from the saved text, explicit slots
  // excepted, before anything is plugged in.
  meterlink::PortSlots next;
  next.bind(2, "/dev/pts/4");
  next.refresh({usb("/dev/ttyUSB7", "B2")});  // what start-up found first
  next.loadText(slots_.saveText() + "9\tX\t\t/dev/x\nnonsense\n");
  next.refresh({usb("/dev/ttyUSB5", "B2"), usb("/dev/ttyUSB6", "A1")});
  EXPECT_EQ(next.device(1), "/dev/ttyUSB6");
  EXPECT_EQ(next.device(2), "/dev/pts/4");
  EXPECT_EQ(next.device(3), "/dev/ttyUSB5");
  EXPECT_EQ(next.device(4), "/dev/ttyACM0");  // C3, away, known without a by-id link
}

TEST(PortSlots, ABarePathSlotLetsGoWhenItsDeviceIsGoneAndTheOpenSlotIsKept) {
  meterlink::PortSlots slots_;
  slots_.refresh({usb("/dev/ttyS4", ""), usb("/dev/ttyS5", "")});
  ASSERT_EQ(slots_.device(2), "/dev/ttyS5");
  slots_.refresh({usb("/dev/ttyS5", "")}, 1);  // slot 1's port is open: left alone
  EXPECT_EQ(slots_.device(1), "/dev/ttyS4");
  EXPECT_EQ(slots_.device(2), "/dev/ttyS5");
  slots_.refresh({});
  EXPECT_EQ(slots_.device(1), "");
  EXPECT_EQ(slots_.describe(1), "");
}

}  // namespace
