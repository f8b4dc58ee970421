#pragma once
// The "Plot Data" page: one chart channel per measured column, the six option boxes,
// and the per-sample display of values in the channel titles and points.
#include <array>
#include <string>

#include "app/viewmodel.h"
#include "chart/plotchart.h"
#include "measure/deviceconfig.h"
#include "measure/engunits.h"
#include "measure/sample.h"
#include "measure/statistics.h"

namespace app {

/// The plot choices (shared state of the main form; the settings file saves them).
struct PlotChoices {
  int PlotType = 0;        ///< PlotTypeCB: 0 raw data, 1 engineering units
  int BBPlotChoice = 0;
  int StdDevWindow = 0;    ///< 0, 1, 15 or 60
  int ITempPlotChoice = 0, XTempPlotChoice = 0, PresPlotChoice = 0;
};

class PlotPage {
 public:
  /// All references must outlive the page. `powerUser` and `choices` are read live.
  PlotPage(chart::PlotChart& chart, ViewModel& view, const measure::DeviceConfig& config,
           const measure::SampleState& sample, const measure::EngValues& eng,
           measure::Statistics& stats, PlotChoices& choices, const bool& powerUser);

  /// Removes all channels, then adds one per measured column (all 60 entries are walked)
  /// with its colour and initial title; fills ColumnChannel.
  void BuildPlotChannels(int columnCount);
  /// Chart title, per-load kind counters, and which option boxes are shown.
  void UpdatePlotOptions(int columnCount);
  /// The per-load kind counters start again from 0 with every device-file load.
  void ResetKindCounters() { m_kindCount.fill(0); }
  /// Per accepted sample: statistics, channel titles, and points below 99990.0.
  void ShowSampleValues(int columnCount, int plotType);

  // Option-box handlers: each reads its box's item index from the view model.
  void PlotTypeCBChange();
  void BBPlotCBChange();
  void StdDevCBChange();
  void iTempCBChange();
  void xTempCBChange();
  void PresCBChange();

  /// The first-tick preparation: no channels, Y axis 0 expand/collapse, X axis scrolling
  /// smoothly, toolbar 0 without its edit button, title = MeterTitle.
  void PrepareChart();

  const std::array<int, measure::kMaxColumns>& ColumnChannel() const { return m_columnChannel; }
  bool HasBackscatter() const;

 private:
  chart::PlotChart& m_chart;
  ViewModel& m_view;
  const measure::DeviceConfig& m_config;
  const measure::SampleState& m_sample;
  const measure::EngValues& m_eng;
  measure::Statistics& m_stats;
  PlotChoices& m_choices;
  const bool& m_powerUser;
  std::array<int, measure::kMaxColumns> m_columnChannel{};
  std::array<int, measure::kMaxColumns> m_kindCount{};  ///< per kind, columns seen since the last reset
};

}  // namespace app
