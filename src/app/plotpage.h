#pragma once
// The "Plot Data" page: one chart channel per measured column, the six option boxes,
// and the per-sample display of values in the channel titles and points.
#include <array>
#include <chrono>
#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "acquire/session.h"
#include "app/viewmodel.h"
#include "chart/plotchart.h"
#include "measure/deviceconfig.h"
#include "measure/engunits.h"
#include "measure/sample.h"
#include "measure/statistics.h"

namespace app {

/// `time` as the host's local time in seconds since the epoch (the local offset from UTC
/// at that moment added): modulo one day, the local time of day. Milliseconds kept.
double LocalSeconds(std::chrono::system_clock::time_point time);

/// The plot choices (shared state of the main form; the settings file saves them).
struct PlotChoices {
  int PlotType = 0;        ///< PlotTypeCB: 0 raw data, 1 engineering units
  int BBPlotChoice = 0;
  int StdDevWindow = 0;    ///< 0, 1, 15 or 60
  int ITempPlotChoice = 0, XTempPlotChoice = 0, PresPlotChoice = 0;
  int XAxisChoice = 0;     ///< XAxisCB: 0 the sample count, 1 the host's time of day
};

/// The plot page is the chart's sink of the session: each accepted sample is shown as
/// ShowSampleValues shows it, at its receive time on the time axis.
class PlotPage : public acquire::Sink {
 public:
  /// All references must outlive the page. `powerUser` and `choices` are read live.
  PlotPage(chart::PlotChart& chart, ViewModel& view, const measure::DeviceConfig& config,
           const measure::SampleState& sample, const measure::EngValues& eng,
           measure::Statistics& stats, PlotChoices& choices, const bool& powerUser);

  /// Removes all channels, then adds one per measured column (all 60 entries are walked)
  /// with its colour and initial title; fills ColumnChannel. Then describes the channels
  /// and axes as the choices stand (see describeChannels).
  void BuildPlotChannels(int columnCount);
  /// Chart title, per-load kind counters, and which option boxes are shown.
  void UpdatePlotOptions(int columnCount);
  /// The per-load kind counters start again from 0 with every device-file load.
  void ResetKindCounters() { m_kindCount.fill(0); }
  /// Per accepted sample: statistics, channel titles, and each channel's counts below
  /// 99990.0 as a point at X = the sample count, with the host time as the point's time.
  /// Every column's counts are kept, whatever the choices show: a switch of the choices
  /// redraws the whole deployment. A pause of more than kGapIntervals typical intervals
  /// (at least kMinGapSeconds) of the host time breaks the line.
  void ShowSampleValues(int columnCount, int plotType);
  /// ShowSampleValues for the record's sample, with the device file's columns and the
  /// plot type chosen.
  void sample(const acquire::SampleRecord& record) override;
  static constexpr double kGapIntervals = 5.0;
  static constexpr double kMinGapSeconds = 1.0;
  /// The next sample starts a line of its own (a new connection, a replay).
  void BreakLine();

  // Option-box handlers: each reads its box's item index from the view model and
  // describes the channels and axes again; the points stay and are drawn anew.
  void PlotTypeCBChange();
  void BBPlotCBChange();
  void StdDevCBChange();
  void iTempCBChange();
  void xTempCBChange();
  void PresCBChange();
  /// XAxisCB: the X axis shows the sample count or the host's time of day, of every point
  /// kept.
  void XAxisCBChange();

  /// The host's local time of the sample being shown, in seconds (since the epoch, local
  /// offset added, so that seconds modulo a day are the time of day). The points' time,
  /// drawn while XAxisCB chooses the time. Without a source, the receive time of the
  /// sample taken by sample(); without either, the sample count.
  void setHostSeconds(std::function<double()> source) { m_hostSeconds = std::move(source); }

  /// The first-tick preparation: no channels, Y axis 0 expand/collapse, X axis scrolling
  /// smoothly, toolbar 0 without its edit button, title = MeterTitle.
  void PrepareChart();

  const std::array<int, measure::kMaxColumns>& ColumnChannel() const { return m_columnChannel; }
  /// Marks on the chart the point drawn for data field `field` by the latest sample
  /// (`samplesBack` 0) or the one before (1) as quality control flagged it (3 suspect,
  /// 4 failed). Nothing when that sample drew no point there.
  /// `tests` names the tests that fired (the mark's tooltip).
  void MarkFlagged(int field, int samplesBack, int flag, const std::string& tests = {});
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
  std::function<double()> m_hostSeconds;
  std::optional<std::chrono::system_clock::time_point> m_sampleHost;
  /// The channels BuildPlotChannels added, with the column and kind each shows.
  struct ChannelOf {
    int channel = 0, column = 0, kind = 0;
  };
  std::vector<ChannelOf> m_channels;
  int m_builtColumns = 0;  ///< the column count the channels were built for
  double m_lastTime = std::nan("");  ///< the latest sample's time
  double m_interval = 0;             ///< the typical time between samples (0: not known yet)

  /// Tells the chart, for the current choices, what each channel plots and the axes show:
  /// - units per channel: "counts" in raw data, and in engineering units for the kinds
  ///   that plot their counts (pigments and dyes, a backscatter choice without a column);
  ///   otherwise the plotted column's units ("1/(m sr)", "1/m", "ug/l", "NTU", "C",
  ///   "dbar", or the device file's IEngrUnits), drawn from the counts through the
  ///   column's linear conversion (the channel's transform);
  /// - a legend entry for every channel but a temperature or pressure whose box says not
  ///   to plot it; such a channel, one whose quantity the plot type does not draw and one
  ///   beyond the columns is not shown (its points stay);
  /// - Y axes: one per unit, titled by the chart (the Y title is left empty);
  /// - X axis title: "Sample", or "Time (host, local)" while XAxisCB chooses the time.
  void describeChannels();
  /// Per field, the point its channel got from the latest two samples (y NaN: none).
  struct Drawn {
    int channel = -1;
    double x = 0, y = 0;
  };
  std::array<std::array<Drawn, 2>, measure::kMaxColumns> m_drawn{};
};

}  // namespace app
