// Random and mutated device files, data lines and byte strings (fixed seed): nothing may
// crash or overrun, and simple invariants hold. Runs under the sanitizer build too.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "measure/datalinedecoder.h"
#include "measure/devicefile.h"
#include "measure/engunits.h"
#include "measure/statistics.h"

using namespace measure;

namespace {

const char* const kDeviceLines[] = {
    "Columns=9",          "Date=1",           "Time=2",
    "Lambdaref=3 1 0",    "Lambda=4 1.8e-6 50 470 470", "Lambdaref=5 1 0",
    "Lambda=6 2e-6 48 532 532", "CHL=7 0.0121 48", "iTemp=8 0.125 -50",
    "NTU=9 0.0242 47",    "NTUREF=3",         "Salinity=35",
    "Theta=117",          "XFACTOR=1.1",      "Water=PURE",
    "maxvoltage=5",       "ASV1=0.2",         "iengrunits=ug/l",
    "IENGR=5",            "REF=6",            "N/U=7",
    "Lambda=1 1 0 0 0",   "Lambda=12 1 0 -5 9000", "CHLREF=2",
    "xTemp=1 1e30 -1e30", "PRES=60 1 0",      "Columns=60",
};

std::string mutate(std::string s, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  const int edits = std::uniform_int_distribution<int>(0, 4)(rng);
  for (int e = 0; e < edits; ++e) {
    const size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (rng() % 4) {
      case 0: s.insert(at, 1, static_cast<char>(byte(rng))); break;
      case 1: if (at < s.size()) s.erase(at, 1); break;
      case 2: if (at < s.size()) s[at] = static_cast<char>(byte(rng)); break;
      default: s.insert(at, std::to_string(static_cast<int>(rng() % 200) - 60)); break;
    }
  }
  return s;
}

std::string randomDeviceFile(std::mt19937& rng) {
  std::string text = (rng() % 20 == 0) ? "" : "Fuzz meter\r\n";
  const int lines = static_cast<int>(rng() % 14);
  for (int i = 0; i < lines; ++i) {
    std::string line = kDeviceLines[rng() % std::size(kDeviceLines)];
    if (rng() % 3 == 0) line = mutate(line, rng);
    if (rng() % 10 == 0) line += std::string(rng() % 200, 'x');
    text += line + (rng() % 2 ? "\r\n" : "\n");
  }
  return text;
}

std::string randomDataLine(std::mt19937& rng) {
  static const char kAlphabet[] = "0123456789-./:\t\t\t  +eE\r";
  std::string line;
  if (rng() % 2) {
    // Mostly well-formed: a date, a time and numbers.
    const int fields = 1 + static_cast<int>(rng() % 12);
    for (int f = 0; f < fields; ++f) {
      if (f) line += '\t';
      switch (rng() % 6) {
        case 0: line += "07/15/24"; break;
        case 1: line += "12:30:05"; break;
        default: line += std::to_string(static_cast<int>(rng() % 20000) - 100); break;
      }
    }
    if (rng() % 4 == 0) line = mutate(line, rng);
  } else {
    const size_t length = rng() % 300;
    for (size_t i = 0; i < length; ++i) line += kAlphabet[rng() % (sizeof kAlphabet - 1)];
  }
  return line;
}

TEST(Fuzz, DeviceFilesAndDataLines) {
  std::mt19937 rng(20240917u);
  DeviceConfig config;
  SampleState sample;
  MeterClock clock;
  EngValues values;
  Statistics stats;
  int boxes = 0;
  DataLineDecoder decoder(config, sample, clock, [&](const std::string&, const std::string&) {
    ++boxes;
  }, [] { return HostTime{}; });

  for (int round = 0; round < 300; ++round) {
    const std::string text = randomDeviceFile(rng);
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    const bool ok = ParseDeviceFile(f, config, [](const std::string&, const std::string&) {});
    std::fclose(f);
    ASSERT_GE(config.DataFieldCount, 0);
    ASSERT_LE(config.DataFieldCount, kMaxColumns);
    if (!ok) {
      ASSERT_EQ(config.DataFieldCount, 0);
    }
    for (int k : config.ColumnKind) ASSERT_TRUE(isValidKind(k));

    for (int n = 0; n < 20; ++n) {
      const std::string line = randomDataLine(rng);
      const int fields = decoder.SplitFields(line);
      ASSERT_GE(fields, 0);
      ASSERT_LE(fields, kMaxColumns);
      const int taken = decoder.ParseDataLine(line, rng() % 4 != 0);
      ASSERT_TRUE(taken == 0 || taken == 1);
      if (!taken) continue;
      CorrectCounts(config, sample, rng() % 2, rng() % 2);
      ConvertToEngineering(config, sample, values);
      for (int i = 0; i < config.DataFieldCount; ++i) {
        const int k = config.ColumnKind[i];
        const int count = stats.Push(k, sample.KindCounts[k]);
        ASSERT_LE(stats.Count(k), Statistics::kHistory);
        stats.Statistic(k, count % 70);
      }
      // Split values are finite numbers or markers; so are the temperatures and
      // pressure that no correction touches.
      for (int i = 0; i < fields; ++i) ASSERT_TRUE(std::isfinite(sample.SampleValues[i]));
      ASSERT_TRUE(std::isfinite(sample.ITempCounts));
      // A kind with a finite scale and offset gets a finite value, whatever the others hold.
      for (int i = 0; i < config.DataFieldCount; ++i) {
        const int k = config.ColumnKind[i];
        if (!std::isfinite(config.KindScale[k]) || !std::isfinite(config.KindOffset[k])) continue;
        double v = 0.0;
        switch (k) {
          case KindChl: v = values.ChlValue; break;
          case KindNtu: v = values.NtuValue; break;
          case KindITemp: v = values.ITempValue; break;
          case 7: v = values.KindBb[7]; break;  // kind 7 is never corrected
          default: continue;
        }
        ASSERT_TRUE(std::isfinite(v)) << "kind " << k;
      }
    }
  }
  EXPECT_GT(boxes, 0);  // the mismatch path was exercised
}

TEST(Fuzz, ArbitraryBytes) {
  std::mt19937 rng(7u);
  DeviceConfig config;
  SampleState sample;
  MeterClock clock;
  DataLineDecoder decoder(config, sample, clock, nullptr, nullptr);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < 2000; ++i) {
    std::string bytes(rng() % 400, '\0');
    for (char& c : bytes) c = static_cast<char>(byte(rng));
    const int fields = decoder.SplitFields(bytes);
    ASSERT_GE(fields, 0);
    ASSERT_LE(fields, kMaxColumns);
    decoder.ParseDataLine(bytes, i % 2 == 0);

    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    ParseDeviceFile(f, config, nullptr);
    std::fclose(f);
    ASSERT_LE(config.DataFieldCount, kMaxColumns);
    ASSERT_LE(config.MeterTitle.size(), 98u);
  }
}

}  // namespace
