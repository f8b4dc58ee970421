#pragma once
// A recording stand-in for the strip chart: what each channel was given (colour, title,
// points) and every chart-wide call, so tests of the app can check what was drawn.
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "chart/plotchart.h"

namespace apptest {

struct FakeChannel {
  uint32_t colour = 0;
  bool colourSet = false;
  std::string title;
  int titleSets = 0;
  std::string units;
  bool inLegend = true;
  bool shown = true;
  double scale = 1, offset = 0;  ///< what is drawn: scale x y + offset
  std::vector<std::pair<double, double>> points;
  std::vector<double> times;  ///< per point, the time in force when it was added
  /// The latest point as drawn.
  double drawnY() const { return points.empty() ? std::nan("") : scale * points.back().second + offset; }
};

class FakeChart : public chart::PlotChart {
 public:
  std::vector<FakeChannel> channels;
  std::string title;
  int titleSets = 0;
  int removeAllCalls = 0;
  int clearCalls = 0;
  int lineBreaks = 0;
  double pointTime = std::nan("");
  /// Calls that named a channel that does not exist (a real chart ignores them).
  int badChannelCalls = 0;
  int xAxis = -1, yAxis = -1;  ///< the axis index of the last tracking-style call
  chart::TrackingStyle xStyle = chart::TrackingStyle::ScaleMinMax;
  chart::TrackingStyle yStyle = chart::TrackingStyle::ScaleMinMax;
  bool timeLabels = false;  ///< the last SetXAxisTimeLabels
  std::string xTitle, yTitle;  ///< the last axis titles
  int toolBar = -1;
  bool editButton = true;
  std::vector<std::string> savedTo, loadedFrom;
  bool saveResult = true, loadResult = true;
  struct Mark {
    int channel;
    double x, y;
    int flag;
    bool operator==(const Mark&) const = default;
  };
  std::vector<Mark> marks;

  void RemoveAllChannels() override {
    ++removeAllCalls;
    channels.clear();
  }
  int AddChannel() override {
    channels.emplace_back();
    return static_cast<int>(channels.size()) - 1;
  }
  int ChannelCount() const override { return static_cast<int>(channels.size()); }
  void SetChannelColor(int channel, uint32_t bgr) override {
    if (FakeChannel* ch = at(channel)) {
      ch->colour = bgr;
      ch->colourSet = true;
    }
  }
  void SetChannelTitle(int channel, const std::string& text) override {
    if (FakeChannel* ch = at(channel)) {
      ch->title = text;
      ++ch->titleSets;
    }
  }
  void SetChannelUnits(int channel, const std::string& units) override {
    if (FakeChannel* ch = at(channel)) ch->units = units;
  }
  void SetChannelInLegend(int channel, bool shown) override {
    if (FakeChannel* ch = at(channel)) ch->inLegend = shown;
  }
  std::string ChannelTitle(int channel) const override {
    return channel >= 0 && channel < ChannelCount() ? channels[size_t(channel)].title : std::string();
  }
  void SetChannelShown(int channel, bool shown) override {
    if (FakeChannel* ch = at(channel)) ch->shown = shown;
  }
  void SetChannelTransform(int channel, double scale, double offset) override {
    if (FakeChannel* ch = at(channel)) ch->scale = scale, ch->offset = offset;
  }
  void AddXY(int channel, double x, double y) override {
    if (FakeChannel* ch = at(channel)) {
      ch->points.emplace_back(x, y);
      ch->times.push_back(std::isnan(pointTime) ? x : pointTime);
    }
  }
  void SetPointTime(double seconds) override { pointTime = seconds; }
  void BreakLine() override { ++lineBreaks; }
  void MarkPoint(int channel, double x, double y, int flag, const std::string& tests = {}) override {
    marks.push_back({channel, x, y, flag});
    markTests.push_back(tests);
  }
  std::vector<std::string> markTests;
  void ClearAllData() override {
    ++clearCalls;
    for (auto& ch : channels) ch.points.clear(), ch.times.clear();
  }
  std::string TitleText() const override { return title; }
  void SetTitleText(const std::string& text) override {
    title = text;
    ++titleSets;
  }
  void SetXAxisTrackingStyle(int axis, chart::TrackingStyle style) override {
    xAxis = axis;
    xStyle = style;
  }
  void SetYAxisTrackingStyle(int axis, chart::TrackingStyle style) override {
    yAxis = axis;
    yStyle = style;
  }
  void SetXAxisTimeLabels(bool on) override { timeLabels = on; }
  void SetXAxisTitle(const std::string& text) override { xTitle = text; }
  void SetYAxisTitle(const std::string& text) override { yTitle = text; }
  void SetToolBarShowEditButton(int toolbar, bool show) override {
    toolBar = toolbar;
    editButton = show;
  }
  bool SaveProperties(const std::string& path) override {
    savedTo.push_back(path);
    return saveResult;
  }
  bool LoadProperties(const std::string& path) override {
    loadedFrom.push_back(path);
    return loadResult;
  }

  size_t totalPoints() const {
    size_t n = 0;
    for (const auto& ch : channels) n += ch.points.size();
    return n;
  }

 private:
  FakeChannel* at(int channel) {
    if (channel >= 0 && channel < ChannelCount()) return &channels[size_t(channel)];
    ++badChannelCalls;
    return nullptr;
  }
};

}  // namespace apptest
