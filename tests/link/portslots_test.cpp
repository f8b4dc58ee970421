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

}  // namespace
