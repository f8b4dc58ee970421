// The format File > Export Recording… writes follows the name chosen.
#include <gtest/gtest.h>

#include "acquire/conversion.h"

namespace {

TEST(ExportFormat, NetcdfForItsExtensionsInAnyCaseElseCsv) {
  using acquire::ConversionFormat;
  for (const char* name : {"a.nc", "a.NC4", "dir.x/b.cdf"})
    EXPECT_EQ(acquire::exportFormatFor(name), ConversionFormat::Netcdf) << name;
  for (const char* name : {"a.csv", "a.nc.csv", "noext", "nc"})
    EXPECT_EQ(acquire::exportFormatFor(name), ConversionFormat::Csv) << name;
}

}  // namespace
