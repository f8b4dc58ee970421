#pragma once
// A chart that draws nothing, for the form's tests without a window. It keeps the
// channel titles and point counts so that what would be shown can be read back.
#include <string>
#include <vector>

#include "chart/plotchart.h"

namespace app {

class NullChart : public chart::PlotChart {
 public:
  void RemoveAllChannels() override { m_channels.clear(); }
  int AddChannel() override {
    m_channels.emplace_back();
    return static_cast<int>(m_channels.size()) - 1;
  }
  int ChannelCount() const override { return static_cast<int>(m_channels.size()); }
  void SetChannelColor(int, uint32_t) override {}
  void SetChannelTitle(int channel, const std::string& title) override {
    if (valid(channel)) m_channels[channel].title = title;
  }
  std::string ChannelTitle(int channel) const override { return valid(channel) ? m_channels[channel].title : ""; }
  void SetChannelShown(int channel, bool shown) override {
    if (valid(channel)) m_channels[channel].shown = shown;
  }
  bool Shown(int channel) const { return valid(channel) && m_channels[channel].shown; }
  void AddXY(int channel, double, double) override {
    if (valid(channel)) ++m_channels[channel].points;
  }
  void ClearAllData() override {
    for (auto& c : m_channels) c.points = 0;
  }
  std::string TitleText() const override { return m_title; }
  void SetTitleText(const std::string& text) override { m_title = text; }
  void SetXAxisTrackingStyle(int, chart::TrackingStyle) override {}
  void SetYAxisTrackingStyle(int, chart::TrackingStyle) override {}
  void SetXAxisTimeLabels(bool on) override { m_timeLabels = on; }
  bool XAxisTimeLabels() const { return m_timeLabels; }
  void SetToolBarShowEditButton(int, bool) override {}
  bool SaveProperties(const std::string&) override { return true; }
  bool LoadProperties(const std::string&) override { return true; }
  long Points(int channel) const { return valid(channel) ? m_channels[channel].points : 0; }

 private:
  struct Channel {
    std::string title;
    long points = 0;
    bool shown = true;
  };
  bool valid(int channel) const { return channel >= 0 && channel < static_cast<int>(m_channels.size()); }
  std::vector<Channel> m_channels;
  std::string m_title;
  bool m_timeLabels = false;
};

}  // namespace app
