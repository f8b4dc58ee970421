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
  /// Appends one point to a channel.
  virtual void AddXY(int channel, double x, double y) = 0;
  /// Marks the point (x, y) of `channel` as flagged by quality control: `flag` 3 suspect,
  /// 4 failed (others are ignored). Marks go with the points: ClearAllData and
  /// RemoveAllChannels drop them too.
  virtual void MarkPoint(int channel, double x, double y, int flag) {
    (void)channel, (void)x, (void)y, (void)flag;
  }
  /// Drops the points of every channel; channels and titles stay.
  virtual void ClearAllData() = 0;
  virtual std::string TitleText() const = 0;
  virtual void SetTitleText(const std::string& text) = 0;
  virtual void SetXAxisTrackingStyle(int axis, TrackingStyle style) = 0;
  /// How the X axis is labelled: false, as numbers (the sample count); true, as a time of
  /// day: X is read as seconds and each label shows X modulo one day as HH:MM:SS. The
  /// points are not touched; tracking works on X as before.
  virtual void SetXAxisTimeLabels(bool on) = 0;
  virtual void SetYAxisTrackingStyle(int axis, TrackingStyle style) = 0;
  /// The titles of X axis 0 and Y axis 0 (empty: no title).
  virtual void SetXAxisTitle(const std::string& text) { (void)text; }
  virtual void SetYAxisTitle(const std::string& text) { (void)text; }
  virtual void SetToolBarShowEditButton(int toolbar, bool show) = 0;
  /// Saves / loads the chart's own display properties to a named file; false on failure.
  virtual bool SaveProperties(const std::string& path) = 0;
  virtual bool LoadProperties(const std::string& path) = 0;
};

}  // namespace chart
