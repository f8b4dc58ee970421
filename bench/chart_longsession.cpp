// A day-long session through the plot page and the real strip chart, offscreen.
//
// Eight channels receive 10 samples a second for a simulated 24 hours (864,000 samples)
// through app::PlotPage::ShowSampleValues; every 100 samples one frame is drawn
// (redrawNow, pending events, render into an image). Reported: the cost per sample and
// per frame over a window at the start and the same window at the end of the run, their
// ratio (target below 1.5), and the peak resident memory (target below 200 MB).
// Costs are the thread's CPU time and each window reports medians (per frame, and per
// sample over the 100 samples between two frames), so that other work on a shared
// machine disturbs the comparison as little as possible. What remains of that is shown
// by a reference chart whose content never changes, drawn every tenth frame: its own
// end/start ratio is the machine's drift, and the ratios divided by it are reported too.
//
//   bench_chart_longsession [--samples N] [--frame-every N] [--check]
//
// --check makes the exit status 1 when a target is missed.
#include <QApplication>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "benchutil.h"
#include "plotrig.h"
#include "chart/stripchart.h"
#include "measure/engunits.h"
#include "measure/kinds.h"

namespace {

using WallClock = std::chrono::steady_clock;
using benchutil::argValue;
using benchutil::cpuSeconds;
using benchutil::hasFlag;
using benchutil::median;
using benchutil::peakRssMb;

/// Costs inside one stretch of the run: per frame, and per sample over each block of
/// samples between two frames.
struct Window {
  long fromSample = 0, toSample = 0;  // [from, to)
  std::vector<double> blockSeconds, blockSamples, frameSeconds, referenceSeconds;
  bool contains(long i) const { return i >= fromSample && i < toSample; }
  long samples() const {
    double n = 0;
    for (double b : blockSamples) n += b;
    return long(n);
  }
  double usPerSample() const {
    std::vector<double> perSample;
    for (size_t b = 0; b < blockSeconds.size(); ++b)
      if (blockSamples[b] > 0) perSample.push_back(blockSeconds[b] / blockSamples[b]);
    return median(perSample) * 1e6;
  }
  double msPerFrame() const { return median(frameSeconds) * 1e3; }
  double msPerReference() const { return median(referenceSeconds) * 1e3; }
};

}  // namespace

int main(int argc, char** argv) {
  const long samples = std::max(1L, argValue(argc, argv, "--samples", 864000L));
  const long frameEvery = std::max(1L, argValue(argc, argv, "--frame-every", 100L));
  const bool check = hasFlag(argc, argv, "--check");
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);

  // A meter with three backscatter wavelengths, CHL, CDOM, NTU, temperature and pressure:
  // eight plotted channels after the date and time columns.
  benchutil::PlotRig rig({measure::KindDate, measure::KindTime, 7, 8, 9, measure::KindChl, measure::KindCdom,
                          measure::KindNtu, measure::KindITemp, measure::KindPres},
                         "Long session");
  measure::DeviceConfig& config = rig.config;
  for (int k = 7; k <= 9; ++k) config.KindScale[size_t(k)] = 1.0e-5;
  config.KindScale[measure::KindChl] = 0.012;
  config.KindScale[measure::KindNtu] = 0.005;
  config.KindScale[measure::KindITemp] = 0.01;
  config.KindScale[measure::KindPres] = 0.1;
  rig.choices.ITempPlotChoice = 1;
  rig.choices.PresPlotChoice = 1;
  rig.start();
  chart::StripChart& chart = rig.chart;
  measure::SampleState& sample = rig.sample;
  // The reference: the same size and channels, 100 points each, never changing.
  chart::StripChart reference;
  reference.resize(chart.size());
  reference.show();
  for (int c = 0; c < chart.ChannelCount(); ++c) {
    reference.AddChannel();
    reference.SetChannelTitle(c, chart.ChannelTitle(c) + ": 0.0000");
    for (int x = 1; x <= 100; ++x) reference.AddXY(c, x, 100.0 * c + 30 * std::sin(x / 7.0 + c));
  }
  reference.SetYAxisTrackingStyle(0, chart::TrackingStyle::ExpandCollapse);
  QApplication::processEvents();

  QImage frame(chart.size(), QImage::Format_ARGB32_Premultiplied);
  for (int warm = 0; warm < 3; ++warm) {  // first drawings fill font and glyph caches
    reference.redrawNow();
    QApplication::processEvents();
    reference.render(&frame);
  }
  const long totalFrames = samples / frameEvery;
  // Windows of a tenth of the run (at most 1000 frames), long enough that a burst of
  // other work on the machine does not decide the comparison; the first ten frames are
  // left out of the start window as warm-up (fonts, caches).
  const long windowFrames = std::max(1L, std::min(1000L, totalFrames / 10));
  const long warmFrames = std::min(10L, std::max(0L, totalFrames / 10));
  Window start{warmFrames * frameEvery, (warmFrames + windowFrames) * frameEvery, {}, {}, {}, {}};
  Window end{samples - windowFrames * frameEvery, samples, {}, {}, {}, {}};
  std::vector<double> tenthFrames;  // frame costs of the current tenth of the run

  std::printf("chart_longsession: %ld samples, %d plotted channels, one frame every %ld samples\n",
              samples, chart.ChannelCount(), frameEvery);
  benchutil::Signal signal;
  const auto runStart = WallClock::now();
  double allSampleSeconds = 0, allFrameSeconds = 0;
  double blockSeconds = 0, blockSamples = 0;
  for (long i = 0; i < samples; ++i) {
    const double t = double(i) / 10.0;  // seconds of the simulated day
    for (int k : {7, 8, 9}) sample.KindCounts[size_t(k)] = 2000 + 800 * std::sin(t / (60.0 + k)) + 40 * signal.noise();
    sample.KindCounts[measure::KindChl] = 900 + 300 * std::sin(t / 600.0) + 25 * signal.noise();
    sample.KindCounts[measure::KindCdom] = 400 + 50 * std::cos(t / 900.0) + 10 * signal.noise();
    sample.KindCounts[measure::KindNtu] = 150 + 120 * std::fabs(std::sin(t / 300.0)) + 5 * signal.noise();
    sample.KindCounts[measure::KindITemp] = 2000 + 100 * std::sin(t / 3600.0);
    sample.KindCounts[measure::KindPres] = 100 + 90 * std::sin(t / 120.0);
    sample.ElapsedSample = double(i + 1);
    measure::ConvertToEngineering(config, sample, rig.eng);

    const double s0 = cpuSeconds();
    rig.page.ShowSampleValues(rig.columns, rig.choices.PlotType);
    const double sampleSeconds = cpuSeconds() - s0;
    allSampleSeconds += sampleSeconds;
    blockSeconds += sampleSeconds;
    ++blockSamples;

    if ((i + 1) % frameEvery == 0) {
      const double f0 = cpuSeconds();
      chart.redrawNow();
      QApplication::processEvents();
      chart.render(&frame);
      const double frameSeconds = cpuSeconds() - f0;
      allFrameSeconds += frameSeconds;
      tenthFrames.push_back(frameSeconds);
      for (Window* w : {&start, &end}) {
        if (w->contains(i)) {
          w->frameSeconds.push_back(frameSeconds);
          w->blockSeconds.push_back(blockSeconds);
          w->blockSamples.push_back(blockSamples);
        }
      }
      blockSeconds = blockSamples = 0;
      if (((i + 1) / frameEvery) % 10 == 0) {
        const double r0 = cpuSeconds();
        reference.redrawNow();
        QApplication::processEvents();
        reference.render(&frame);
        const double referenceSeconds = cpuSeconds() - r0;
        for (Window* w : {&start, &end})
          if (w->contains(i)) w->referenceSeconds.push_back(referenceSeconds);
      }
    }
    if (samples >= 10 && (i + 1) % (samples / 10) == 0) {
      std::printf("  %3ld%%  wall %6.1f s  points/channel %6zu  median frame %5.2f ms  peak RSS %.1f MB\n",
                  (i + 1) * 100 / samples,
                  std::chrono::duration<double>(WallClock::now() - runStart).count(), chart.pointCount(0),
                  median(tenthFrames) * 1e3, peakRssMb());
      tenthFrames.clear();
      std::fflush(stdout);
    }
  }

  const double sampleRatio = start.usPerSample() > 0 ? end.usPerSample() / start.usPerSample() : 0;
  const double frameRatio = start.msPerFrame() > 0 ? end.msPerFrame() / start.msPerFrame() : 0;
  const bool haveDrift = start.msPerReference() > 0 && end.msPerReference() > 0;
  const double drift = haveDrift ? end.msPerReference() / start.msPerReference() : 1.0;
  const double rss = peakRssMb();
  std::printf("window (CPU, medians)    samples  us/sample   frames   ms/frame  reference ms\n");
  std::printf("start %9ld..%-9ld %7ld  %9.2f  %7zu  %9.2f  %9.2f\n", start.fromSample, start.toSample,
              start.samples(), start.usPerSample(), start.frameSeconds.size(), start.msPerFrame(),
              start.msPerReference());
  std::printf("end   %9ld..%-9ld %7ld  %9.2f  %7zu  %9.2f  %9.2f\n", end.fromSample, end.toSample,
              end.samples(), end.usPerSample(), end.frameSeconds.size(), end.msPerFrame(),
              end.msPerReference());
  std::printf("whole run (CPU, means): %.2f us/sample, %.2f ms/frame; wall %.1f s\n",
              allSampleSeconds / double(samples) * 1e6,
              totalFrames ? allFrameSeconds / double(totalFrames) * 1e3 : 0.0,
              std::chrono::duration<double>(WallClock::now() - runStart).count());
  std::printf("end/start as measured: per sample %.2f, per frame %.2f\n", sampleRatio, frameRatio);
  const double sampleCorrected = sampleRatio / drift, frameCorrected = frameRatio / drift;
  if (haveDrift)
    std::printf("machine drift (reference chart end/start) %.2f; corrected: per sample %.2f, per frame %.2f\n",
                drift, sampleCorrected, frameCorrected);
  const bool costOk = sampleCorrected < 1.5 && frameCorrected < 1.5;
  const bool memoryOk = rss < 200.0;
  std::printf("cost ratio target < 1.5 (%s): %s\n", haveDrift ? "corrected" : "as measured",
              costOk ? "met" : "MISSED");
  std::printf("peak RSS %.1f MB (target < 200 MB): %s\n", rss, memoryOk ? "met" : "MISSED");
  return check && !(costOk && memoryOk) ? 1 : 0;
}
