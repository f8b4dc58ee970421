// appendEngrLine: the line EngrLine gives, appended after what the buffer already holds,
// so that a converter can write every line through one reused buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/engrformat.h"
#include "support/testfiles.h"

using namespace measure;

namespace {

struct AppendCase {
  const char* what;
  std::vector<int> kinds;
};

class AppendEngrLine : public ::testing::TestWithParam<AppendCase> {};

TEST_P(AppendEngrLine, AppendsExactlyTheLine) {
  DeviceConfig config;
  const std::vector<int>& kinds = GetParam().kinds;
  for (size_t i = 0; i < kinds.size(); ++i) config.ColumnKind[i] = kinds[i];
  config.DataFieldCount = static_cast<int>(kinds.size());
  config.KindWavelength[8] = 532;
  config.IEngrUnits = "ug/l";

  SampleState sample;
  MeterClock clock;
  clock.MeterMonth = 5;
  clock.MeterDay = 14;
  clock.MeterYear = 24;
  EngValues values;
  values.KindBeta[8] = 0.0021;
  values.KindBb[8] = 0.0145;
  values.ChlValue = 7.25;
  values.PresValue = 10.25;
  values.IEngrValue = 3.5;

  std::string buffer = "kept\r\n";
  for (int n = 0; n < 3; ++n) {
    sample.ElapsedSample = n;
    values.NtuValue = 1.5 * n;
    const std::string line = files::EngrLine(config, sample, clock, values);
    const std::string before = buffer;
    files::appendEngrLine(buffer, config, sample, clock, values);
    EXPECT_EQ(buffer, before + line) << GetParam().what << ", line " << n;
  }
  // A buffer emptied between lines is reused as it is: nothing new to allocate.
  buffer.clear();
  const size_t capacity = buffer.capacity();
  files::appendEngrLine(buffer, config, sample, clock, values);
  EXPECT_EQ(buffer.capacity(), capacity);
}

INSTANTIATE_TEST_SUITE_P(
    Columns, AppendEngrLine,
    ::testing::Values(AppendCase{"no configured field", {}},
                      AppendCase{"every value kind", {KindDate, KindTime, 17, 8, KindChl, KindNtu, KindNtuRef,
                                                      KindPres, KindIEngr, KindRefOrUnused}}),
    [](const auto& info) { return testsupport::testNameOf(info.param.what); });

}  // namespace
