#pragma once
// The operations the plot page needs of a strip chart. The Qt Charts component in this
// folder implements it; tests use a recording fake; the command-line tools a null chart.
#include <cstdint>
#include <string>

namespace chart {

/// Axis tracking styles, in the order the plot page knows them.
enum class TrackingStyle { ScaleMinMax, ScaleMax, ScaleMin, ScrollSmooth, ScrollPage, ExpandCollapse };

class PlotChart {
 public:
  virtual ~PlotChart() = default;
  virtual void RemoveAllChannels() = 0;
  /// Adds a channel at the end; returns its index (0-based, in order of adding).
  virtual int AddChannel() = 0;
  virtual int ChannelCount() const = 0;
  /// Colour as 0x00BBGGRR. Out-of-range channel indexes are ignored.
  virtual void SetChannelColor(int channel, uint32_t bgr) = 0;
  virtual void SetChannelTitle(int channel, const std::string& title) = 0;
  virtual std::string ChannelTitle(int channel) const = 0;
  /// The units of what the channel plots ("counts", "1/m", "ug/l" ...). The legend shows
  /// them after the title unless the title already ends with them; the title itself is
  /// not changed. Empty: none shown.
  virtual void SetChannelUnits(int channel, const std::string& units) { (void)channel, (void)units; }
  /// Whether the channel has an entry in the legend; a channel left out keeps its title
  /// and its points.
  virtual void SetChannelInLegend(int channel, bool shown) { (void)channel, (void)shown; }
  /// Whether the channel is drawn (line, legend entry, Y axis). A channel not drawn keeps
  /// its points and is drawn again, all of them, once shown. New channels are shown.
  virtual void SetChannelShown(int channel, bool shown) { (void)channel, (void)shown; }
  /// The channel is drawn (and read by the cursor) as scale x y + offset of its points:
  /// one stored series in counts, shown in counts or in any unit that is a linear
  /// conversion of them. New channels: 1 and 0.
  virtual void SetChannelTransform(int channel, double scale, double offset) {
    (void)channel, (void)scale, (void)offset;
  }
  /// Appends one point to a channel.
  virtual void AddXY(int channel, double x, double y) = 0;
  /// The time (seconds, the time-of-day axis's X) of the points added from now on; until
  /// it is first set, a point's time is its X.
  virtual void SetPointTime(double seconds) { (void)seconds; }
  /// The next point starts a new line: the line is not drawn across a gap, a new
  /// connection or a replay.
  virtual void BreakLine() {}
  /// Marks the point (x, y) of `channel` as flagged by quality control: `flag` 3 suspect,
  /// 4 failed (others are ignored). `tests` names the tests that fired, as the mark's
  /// tooltip shows it ("FAIL: gross_range_test; SUSPECT: spike_test"). Marks go with the
  /// points: ClearAllData and RemoveAllChannels drop them too.
  virtual void MarkPoint(int channel, double x, double y, int flag, const std::string& tests = {}) {
    (void)channel, (void)x, (void)y, (void)flag, (void)tests;
  }
  /// Drops the points of every channel; channels and titles stay.
  virtual void ClearAllData() = 0;
  virtual std::string TitleText() const = 0;
  virtual void SetTitleText(const std::string& text) = 0;
  virtual void SetXAxisTrackingStyle(int axis, TrackingStyle style) = 0;
  /// What the X axis shows: false, the points' X as numbers (the sample count); true, the
  /// points' times (SetPointTime) labelled as times of day, HH:MM:SS of the seconds modulo
  /// one day. The points are not touched: a switch redraws the same points.
  virtual void SetXAxisTimeLabels(bool on) = 0;
  virtual void SetYAxisTrackingStyle(int axis, TrackingStyle style) = 0;
  /// The titles of X axis 0 and Y axis 0 (empty: no title). Channels of different units
  /// are drawn on Y axes of their own, each titled with its units; the Y title names the
  /// axis of channels without units.
  virtual void SetXAxisTitle(const std::string& text) { (void)text; }
  virtual void SetYAxisTitle(const std::string& text) { (void)text; }
  virtual void SetToolBarShowEditButton(int toolbar, bool show) = 0;
  /// Saves / loads the chart's own display properties to a named file; false on failure.
  virtual bool SaveProperties(const std::string& path) = 0;
  virtual bool LoadProperties(const std::string& path) = 0;
};

}  // namespace chart
