#pragma once
// The plot page over a real strip chart, offscreen, set up as the window sets it up: how
// the chart benches feed samples through what the program does with them.
#include <cstdint>
#include <initializer_list>

#include "app/plotpage.h"
#include "app/viewmodel.h"
#include "chart/stripchart.h"
#include "measure/deviceconfig.h"
#include "measure/engunits.h"
#include "measure/kinds.h"
#include "measure/sample.h"
#include "measure/statistics.h"

namespace benchutil {

/// A deterministic, slightly noisy signal: noise() is uniform in [-0.5, 0.5).
struct Signal {
  uint32_t state = 12345;
  double noise() {
    state = state * 1664525u + 1013904223u;
    return double(state >> 8) / double(1u << 24) - 0.5;
  }
};

/// A meter with the given column kinds (backscatter kinds 7, 8, 9 at 470, 532, 650 nm),
/// plotted in engineering units (bbp for the backscatter).
struct PlotRig {
  measure::DeviceConfig config;
  measure::SampleState sample;
  measure::EngValues eng;
  measure::Statistics stats;
  app::PlotChoices choices;
  app::ViewModel view;
  bool powerUser = false;
  chart::StripChart chart;
  app::PlotPage page{chart, view, config, sample, eng, stats, choices, powerUser};
  int columns = 0;

  PlotRig(std::initializer_list<int> kinds, const char* title) {
    for (const int k : kinds) config.ColumnKind[size_t(columns++)] = k;
    config.DataFieldCount = columns;
    config.MeterTitle = title;
    const int waves[] = {470, 532, 650};
    for (int i = 0; i < 3; ++i) {
      config.KindWavelength[size_t(7 + i)] = waves[i];
      config.KindColour[size_t(7 + i)] = measure::WavelengthColour(waves[i]);
    }
    choices.PlotType = 1;
    choices.BBPlotChoice = 2;
  }

  /// Shows the chart and builds its channels, as the window's first ticks do.
  void start() {
    chart.resize(1000, 560);
    chart.show();
    page.PrepareChart();
    page.ResetKindCounters();
    page.UpdatePlotOptions(columns);
    page.BuildPlotChannels(columns);
  }
};

}  // namespace benchutil
