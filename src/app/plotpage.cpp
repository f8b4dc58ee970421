#include "app/plotpage.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

#include "measure/cformat.h"
#include "measure/kinds.h"
#include "measure/kindtable.h"

namespace app {
namespace {

using measure::cformat;

/// A y value that marks "nothing to plot"; a point is added only below kPlotLimit.
constexpr double kNoPlot = 99999.0;
constexpr double kPlotLimit = 99990.0;

/// Whether the option box that `gate` names lets its kind be drawn.
bool gateOpen(measure::PlotGate gate, const PlotChoices& choices) {
  switch (gate) {
    case measure::PlotGate::None: return true;
    case measure::PlotGate::ITemp: return choices.ITempPlotChoice != 0;
    case measure::PlotGate::XTemp: return choices.XTempPlotChoice != 0;
    case measure::PlotGate::Pres: return choices.PresPlotChoice != 0;
  }
  return true;
}

/// A column's units; the device file names those of the meter's own value.
const char* unitsOf(const measure::EngColumn& column, const measure::DeviceConfig& config) {
  return *column.units != '\0' ? column.units : config.IEngrUnits.c_str();
}

int clampColumns(int columnCount) { return std::clamp(columnCount, 0, measure::kMaxColumns); }

/// What a kind's channel draws under a plot type and backscatter choice: nothing, its
/// counts, or the value of one engineering-units column (before its option box is asked).
struct Plotted {
  bool drawn = false;
  const measure::EngColumn* column = nullptr;  ///< null: the counts
};

Plotted plottedOf(const measure::KindInfo& row, int plotType, int bbChoice) {
  if (plotType == 0) return {row.plot.rawName != nullptr, nullptr};
  if (plotType != 1) return {};
  if (row.conversion == measure::Conversion::Backscatter) {
    // A choice the kind has no column for is titled "Invalid" and plots the counts.
    if (bbChoice >= 0 && bbChoice < row.engCount) return {true, &row.eng[size_t(bbChoice)]};
    return {true, nullptr};
  }
  if (row.engCount == 0 || row.eng[0].plotTitle == nullptr) return {};
  // The pigments and dyes show their value but plot their counts.
  return {true, row.plot.plotsValue ? &row.eng[0] : nullptr};
}

/// The units of what `plotted` draws ("" for nothing).
std::string plottedUnits(const Plotted& plotted, const measure::DeviceConfig& config) {
  if (!plotted.drawn) return {};
  return plotted.column ? unitsOf(*plotted.column, config) : "counts";
}

/// The engineering value of `column` as scale x counts + offset. Every conversion form
/// (dark counts then scale, scale then offset, passed through, the backscatter chain with
/// its fixed water terms) is linear in the counts, so the chart keeps the counts alone and
/// draws any of the kind's columns from them. False when the device file gives no finite
/// line.
bool linearOf(const measure::DeviceConfig& config, int kind, const measure::EngColumn& column, double& scale,
              double& offset) {
  measure::SampleState sample;
  measure::EngValues at0, at1;
  sample.KindCounts[size_t(kind)] = 0;
  measure::ConvertToEngineering(config, sample, at0);
  sample.KindCounts[size_t(kind)] = 1;
  measure::ConvertToEngineering(config, sample, at1);
  offset = measure::engValue(at0, column, kind);
  scale = measure::engValue(at1, column, kind) - offset;
  return std::isfinite(scale) && std::isfinite(offset);
}

/// `pattern` with its value written so that small values keep their digits.
std::string readout(const char* pattern, const char* name, double value) {
  return cformat(measure::readoutPattern(pattern, value).c_str(), name, value);
}
std::string readout(const char* pattern, const char* name, double value, const char* units) {
  return cformat(measure::readoutPattern(pattern, value).c_str(), name, value, units);
}

}  // namespace

double LocalSeconds(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const double utc = duration<double>(time.time_since_epoch()).count();
  const std::time_t whole = static_cast<std::time_t>(std::floor(utc));
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &whole);
  const double offset = static_cast<double>(_mkgmtime(&local) - whole);
#else
  localtime_r(&whole, &local);
  const double offset = static_cast<double>(local.tm_gmtoff);
#endif
  return utc + offset;
}

PlotPage::PlotPage(chart::PlotChart& chart, ViewModel& view, const measure::DeviceConfig& config,
                   const measure::SampleState& sample, const measure::EngValues& eng,
                   measure::Statistics& stats, PlotChoices& choices, const bool& powerUser)
    : m_chart(chart),
      m_view(view),
      m_config(config),
      m_sample(sample),
      m_eng(eng),
      m_stats(stats),
      m_choices(choices),
      m_powerUser(powerUser) {}

void PlotPage::BuildPlotChannels(int columnCount) {
  m_chart.RemoveAllChannels();
  m_columnChannel.fill(0);
  m_channels.clear();
  m_builtColumns = clampColumns(columnCount);
  if (columnCount <= 0) {
    describeChannels();
    return;
  }
  // Every one of the 60 positions is looked at, not only the used columns.
  for (int c = 0; c < measure::kMaxColumns; ++c) {
    const int k = m_config.ColumnKind[size_t(c)];
    const measure::PlotLook& look = measure::kindInfo(k).plot;
    if (look.channel == nullptr) continue;
    const uint32_t colour =
        look.colourRule == measure::ColourRule::Wavelength ? m_config.KindColour[size_t(k)] : look.colour;
    const std::string title = measure::kindLabel(look.channel, m_config, k);
    const int n = m_chart.AddChannel();
    m_chart.SetChannelColor(n, colour);
    m_chart.SetChannelTitle(n, title);
    m_columnChannel[size_t(c)] = n;
    m_channels.push_back({n, c, k});
  }
  describeChannels();
}

void PlotPage::describeChannels() {
  for (const ChannelOf& ch : m_channels) {
    const measure::KindInfo& row = measure::kindInfo(ch.kind);
    const Plotted plotted = plottedOf(row, m_choices.PlotType, m_choices.BBPlotChoice);
    const bool gateOpened = gateOpen(row.plot.gate, m_choices);
    double scale = 1, offset = 0;
    const bool linear = !plotted.column || linearOf(m_config, ch.kind, *plotted.column, scale, offset);
    m_chart.SetChannelUnits(ch.channel, plottedUnits(plotted, m_config));
    m_chart.SetChannelInLegend(ch.channel, gateOpened);
    m_chart.SetChannelTransform(ch.channel, scale, offset);
    // Channels beyond the columns a sample has never get points.
    m_chart.SetChannelShown(ch.channel, plotted.drawn && gateOpened && linear && ch.column < m_builtColumns);
  }
  // Each unit gets a Y axis of its own, titled by the chart.
  m_chart.SetYAxisTitle("");
  m_chart.SetXAxisTitle(m_choices.XAxisChoice == 1 ? "Time (host, local)" : "Sample");
}

void PlotPage::UpdatePlotOptions(int columnCount) {
  if (m_chart.TitleText() != m_config.MeterTitle) m_chart.SetTitleText(m_config.MeterTitle);

  const int columns = clampColumns(columnCount);
  for (int c = 0; c < columns; ++c) {
    const int k = m_config.ColumnKind[size_t(c)];
    if (measure::isValidKind(k)) ++m_kindCount[size_t(k)];
  }

  // Any kind seen that gets a channel shows the plot type box; a gated kind its own box.
  auto seen = [this](auto&& predicate) {
    for (int k = 0; k < measure::kMaxColumns; ++k)
      if (m_kindCount[size_t(k)] > 0 && predicate(measure::kindInfo(k))) return true;
    return false;
  };
  auto gatedBy = [&seen](measure::PlotGate gate) {
    return seen([gate](const measure::KindInfo& row) { return row.plot.gate == gate; });
  };
  m_view.setVisible("PlotTypeCB", seen([](const measure::KindInfo& row) { return row.plot.channel != nullptr; }));
  m_view.setVisible("iTempCB", gatedBy(measure::PlotGate::ITemp));
  m_view.setVisible("xTempCB", gatedBy(measure::PlotGate::XTemp));
  m_view.setVisible("PresCB", gatedBy(measure::PlotGate::Pres));
  m_view.setVisible("BBPlotCB", HasBackscatter() && m_view.itemIndex("PlotTypeCB") == 1);
  if (!(m_config.Asv2Range > 0.0f)) m_view.setVisible("TSFLSetup", false);
}

void PlotPage::sample(const acquire::SampleRecord& record) {
  m_sampleHost = record.times.host;
  ShowSampleValues(m_config.DataFieldCount, m_choices.PlotType);
}

void PlotPage::ShowSampleValues(int columnCount, int plotType) {
  const int columns = clampColumns(columnCount);
  const bool power = m_powerUser;
  const int window = m_choices.StdDevWindow;
  // Every sample keeps both its count and its host time, so the X axis can show either.
  const double x = m_sample.ElapsedSample;
  const double time = m_hostSeconds ? m_hostSeconds() : m_sampleHost ? LocalSeconds(*m_sampleHost) : x;
  if (columns > 0) {
    // A pause of more than a few sample intervals breaks the line.
    if (std::isfinite(m_lastTime)) {
      const double step = time - m_lastTime;
      if (m_interval > 0 && step > std::max(kGapIntervals * m_interval, kMinGapSeconds))
        m_chart.BreakLine();
      else if (step > 0)
        m_interval = m_interval > 0 ? 0.9 * m_interval + 0.1 * step : step;
    }
    m_lastTime = time;
    m_chart.SetPointTime(time);
  }

  for (int c = 0; c < columns; ++c) {
    const int k = m_config.ColumnKind[size_t(c)];
    if (!measure::isValidKind(k)) continue;
    const size_t kk = size_t(k);
    const double counts = m_sample.KindCounts[kk];
    m_stats.Push(k, counts);
    const double stat = m_stats.Statistic(k, window);

    std::string title;
    const measure::KindInfo& row = measure::kindInfo(k);
    const Plotted plotted = plottedOf(row, plotType, m_choices.BBPlotChoice);
    // The counts are kept whatever is shown; the chart draws the chosen quantity from them.
    const double y = std::isfinite(counts) ? counts : kNoPlot;

    if (plotType == 0) {
      if (row.plot.rawName != nullptr) {
        const std::string name = measure::kindLabel(row.plot.rawName, m_config, k);
        // A field the meter sends in engineering units shows them with its counts.
        const bool unitsForm = row.conversion == measure::Conversion::Passthrough;
        if (!power || window == 0) {
          title = unitsForm ? readout("%s: %4.2lf %s", name.c_str(), counts, unitsOf(row.eng[0], m_config))
                            : cformat("%s: %1.0lf Counts", name.c_str(), counts);
        } else if (window == 1) {
          title = readout("%s: %4.2lf Mean", name.c_str(), stat);
        } else if (window == 15 || window == 60) {
          title = readout("%s: %4.2lf stddev", name.c_str(), stat);
        }
      }
    } else if (plotType == 1) {
      if (row.conversion == measure::Conversion::Backscatter) {
        // The backscatter box chooses which of the kind's columns to show.
        if (plotted.column != nullptr)
          title = measure::kindReadout(plotted.column->plotTitle, m_config, k,
                                       measure::engValue(m_eng, *plotted.column, k));
        else
          title = cformat("Invalid %3d: %1lf ", m_config.KindWavelength[kk], counts);
      } else if (row.engCount > 0 && row.eng[0].plotTitle != nullptr) {
        const double value = measure::engValue(m_eng, row.eng[0], k);
        title = measure::kindReadout(row.eng[0].plotTitle, m_config, k, value);
      }
    }

    const int channel = m_columnChannel[size_t(c)];
    if (row.plot.channel == nullptr) continue;  // a kind without a channel
    if (!title.empty()) m_chart.SetChannelTitle(channel, title);
    auto& drawn = m_drawn[size_t(c)];
    drawn[1] = drawn[0];
    drawn[0] = {channel, x, y < kPlotLimit ? y : std::nan("")};
    if (y < kPlotLimit) m_chart.AddXY(channel, x, y);
  }
}

void PlotPage::BreakLine() {
  m_chart.BreakLine();
  m_lastTime = std::nan("");
}

void PlotPage::MarkFlagged(int field, int samplesBack, int flag, const std::string& tests) {
  if (field < 0 || field >= measure::kMaxColumns || samplesBack < 0 || samplesBack > 1) return;
  const Drawn& point = m_drawn[size_t(field)][size_t(samplesBack)];
  if (point.channel >= 0 && std::isfinite(point.y)) m_chart.MarkPoint(point.channel, point.x, point.y, flag, tests);
}

bool PlotPage::HasBackscatter() const {
  for (int k = 0; k < measure::kMaxColumns; ++k)
    if (m_kindCount[size_t(k)] > 0 && measure::kindInfo(k).conversion == measure::Conversion::Backscatter)
      return true;
  return false;
}

void PlotPage::PlotTypeCBChange() {
  m_choices.PlotType = m_view.itemIndex("PlotTypeCB");
  m_view.setVisible("BBPlotCB", HasBackscatter() && m_choices.PlotType == 1);
  describeChannels();
}

void PlotPage::BBPlotCBChange() {
  m_choices.BBPlotChoice = m_view.itemIndex("BBPlotCB");
  describeChannels();
}

void PlotPage::StdDevCBChange() {
  if (!m_powerUser) return;
  static constexpr int kWindows[] = {0, 1, 15, 60};
  const int index = m_view.itemIndex("StdDevCB");
  if (index >= 0 && index < 4) m_choices.StdDevWindow = kWindows[index];
  describeChannels();
}

void PlotPage::iTempCBChange() {
  m_choices.ITempPlotChoice = m_view.itemIndex("iTempCB");
  describeChannels();
}

void PlotPage::xTempCBChange() {
  m_choices.XTempPlotChoice = m_view.itemIndex("xTempCB");
  describeChannels();
}

void PlotPage::PresCBChange() {
  m_choices.PresPlotChoice = m_view.itemIndex("PresCB");
  describeChannels();
}

void PlotPage::XAxisCBChange() {
  const int index = m_view.itemIndex("XAxisCB");
  if (index < 0 || index > 1) return;
  m_choices.XAxisChoice = index;
  m_chart.SetXAxisTimeLabels(index == 1);
  describeChannels();
}

void PlotPage::PrepareChart() {
  m_chart.RemoveAllChannels();
  m_channels.clear();
  describeChannels();
  m_chart.SetYAxisTrackingStyle(0, chart::TrackingStyle::ExpandCollapse);
  m_chart.SetXAxisTrackingStyle(0, chart::TrackingStyle::ScrollSmooth);
  m_chart.SetToolBarShowEditButton(0, false);
  m_chart.SetTitleText(m_config.MeterTitle);
}

}  // namespace app
