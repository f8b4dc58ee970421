// The demo's start-up path: the device file it loads is in force as a load by hand
// leaves it, even though the first tick's defaults and the restored settings come first.
#include <gtest/gtest.h>

#include <cstdio>

#include "app/demo.h"
#include "formaccess.h"
#include "formfixture.h"
#include "measure/devicefile.h"
#include "support/testfiles.h"

namespace {

using testsupport::FormFixture;

using testsupport::example;

class DemoStartup : public FormFixture {
  void configure(app::MainFormOptions& o) override {
    o.onStarted = [](app::MainForm& form) { app::StartDemo(form, example("bb3.dev")); };
  }
};

TEST_F(DemoStartup, ConvertsWithTheDeviceFilesValuesNotTheStartupDefaults) {
  // The last run's settings name another meter; the demo's own comes after them.
  testsupport::writeFile(dir.file("flcd.dev"), testsupport::readFile(example("flcd.dev")));
  testsupport::writeFile(dir.file("last.rbs"), "1 2 0 0 0 0 0 0 0 0 0\nflcd.dev\n");
  form->Timer55msTimer();
  EXPECT_EQ(form->shared().OpenPortNumber, 0);  // nothing happens before start-up is over
  form->Timer1SecondTimer();
  ASSERT_EQ(form->shared().OpenPortNumber, 1);
  EXPECT_EQ(form->shared().DeviceFilePath, example("bb3.dev"));

  measure::DeviceConfig byHand;
  std::FILE* file = std::fopen(example("bb3.dev").c_str(), "r");
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(measure::ParseDeviceFile(file, byHand, [](const std::string&, const std::string&) {}));
  std::fclose(file);
  EXPECT_EQ(form->shared().Config.KindScale, byHand.KindScale);
  EXPECT_EQ(form->shared().Config.KindOffset, byHand.KindOffset);
  EXPECT_EQ(form->shared().Config.ThetaRadians, byHand.ThetaRadians);

  testsupport::editState(*form).SetupRequestTicks = 0;
  testsupport::letLineBeSeenQuiet(testsupport::formSession(*form));
  peer.send("05/14/24\t10:21:00\t4130\t1175\t4097\t1317\t4210\t979\t559\r\n");
  for (int i = 0; i < 20 && form->shared().Sample.SampleCounter < 1; ++i) tick();
  ASSERT_EQ(form->shared().Sample.SampleCounter, 1);
  // Dark counts and scale applied (single-precision scale).
  EXPECT_NEAR(form->shared().Eng.KindBeta[9], (1175 - 51) * 1.812e-06, 1e-9);
  EXPECT_NEAR(form->shared().Eng.ITempValue, 559 * 0.125 - 50.0, 1e-9);
}

}  // namespace
