#include "app/plotpage.h"

#include <algorithm>

#include "measure/cformat.h"
#include "measure/kinds.h"

namespace app {
namespace {

using measure::cformat;

/// A y value that marks "nothing to plot"; a point is added only below kPlotLimit.
constexpr double kNoPlot = 99999.0;
constexpr double kPlotLimit = 99990.0;

constexpr uint32_t kWhite = 0xFFFFFF, kFuchsia = 0xFF00FF, kRed = 0x0000FF, kGreen = 0x008000,
                   kPurple = 0x800080, kGrey = 0x808080, kSilver = 0xC0C0C0;

struct ChannelLook {
  int kind;
  uint32_t colour;
  const char* title;
};

/// Colour and first title of the kinds that get a channel (backscatter kinds apart).
constexpr ChannelLook kChannelLooks[] = {
    {measure::KindIEngr, kWhite, "iEngr:"},         {measure::KindChl, kFuchsia, "CHL:"},
    {measure::KindPhycocyanin, kRed, "pcyanine:"},  {measure::KindPhycoerythrin, kGreen, "perythrin:"},
    {measure::KindUranine, kPurple, "ur:"},         {measure::KindRhodamine, kPurple, "rhodamine:"},
    {measure::KindCdom, kPurple, "CDOM:"},          {measure::KindLss, kWhite, "LSS:"},
    {measure::KindNtu, kWhite, "NTU:"},             {measure::KindITemp, kGrey, "iTemp:"},
    {measure::KindXTemp, kSilver, "xTemp:"},        {measure::KindPres, kWhite, "Pres:"},
};

const ChannelLook* lookOf(int kind) {
  for (const ChannelLook& look : kChannelLooks)
    if (look.kind == kind) return &look;
  return nullptr;
}

/// The name raw-data titles give a kind; null for kinds that get no title.
const char* rawName(int kind) {
  switch (kind) {
    case measure::KindChl: return "CHL";
    case measure::KindCdom: return "CDOM";
    case measure::KindUranine: return "ur";
    case measure::KindPhycocyanin: return "pcyan";
    case measure::KindPhycoerythrin: return "peryth";
    case measure::KindRhodamine: return "rhd";
    case measure::KindLss: return "LSS";
    case measure::KindNtu: return "NTU";
    case measure::KindITemp: return "iTemp";
    case measure::KindXTemp: return "xTemp";
    case measure::KindPres: return "Pres";
    case measure::KindIEngr: return "iEngr";
    default: return nullptr;
  }
}

int clampColumns(int columnCount) { return std::clamp(columnCount, 0, measure::kMaxColumns); }

}  // namespace

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
  if (columnCount <= 0) return;
  // Every one of the 60 positions is looked at, not only the used columns.
  for (int c = 0; c < measure::kMaxColumns; ++c) {
    const int k = m_config.ColumnKind[size_t(c)];
    uint32_t colour = 0;
    std::string title;
    if (measure::isLambda(k)) {
      colour = m_config.KindColour[size_t(k)];
      title = cformat("%3d nm", m_config.KindWavelength[size_t(k)]);
    } else if (const ChannelLook* look = lookOf(k)) {
      colour = look->colour;
      title = look->title;
    } else {
      continue;
    }
    const int n = m_chart.AddChannel();
    m_chart.SetChannelColor(n, colour);
    m_chart.SetChannelTitle(n, title);
    m_columnChannel[size_t(c)] = n;
  }
}

void PlotPage::UpdatePlotOptions(int columnCount) {
  if (m_chart.TitleText() != m_config.MeterTitle) m_chart.SetTitleText(m_config.MeterTitle);

  const int columns = clampColumns(columnCount);
  for (int c = 0; c < columns; ++c) {
    const int k = m_config.ColumnKind[size_t(c)];
    if (measure::isLambda(k)) ++m_counts.backscatter;
    switch (k) {
      case measure::KindIEngr: ++m_counts.iEngr; break;
      case measure::KindChl: ++m_counts.chl; break;
      case measure::KindCdom: ++m_counts.cdom; break;
      case measure::KindUranine: ++m_counts.uranine; break;
      case measure::KindPhycocyanin: ++m_counts.phycocyanin; break;
      case measure::KindPhycoerythrin: ++m_counts.phycoerythrin; break;
      case measure::KindRhodamine: ++m_counts.rhodamine; break;
      case measure::KindLss: ++m_counts.lss; break;
      case measure::KindNtu: ++m_counts.ntu; break;
      case measure::KindITemp: ++m_counts.iTemp; break;
      case measure::KindXTemp: ++m_counts.xTemp; break;
      case measure::KindPres: ++m_counts.pres; break;
      default: break;
    }
  }

  const KindCounters& n = m_counts;
  const bool anyMeasured = n.backscatter || n.iEngr || n.chl || n.cdom || n.uranine ||
                           n.phycocyanin || n.phycoerythrin || n.rhodamine || n.lss || n.ntu ||
                           n.iTemp || n.xTemp || n.pres;
  m_view.setVisible("PlotTypeCB", anyMeasured);
  m_view.setVisible("iTempCB", n.iTemp > 0);
  m_view.setVisible("xTempCB", n.xTemp > 0);
  m_view.setVisible("PresCB", n.pres > 0);
  m_view.setVisible("BBPlotCB", HasBackscatter() && m_view.itemIndex("PlotTypeCB") == 1);
  if (!(m_config.Asv2Range > 0.0f)) m_view.setVisible("TSFLSetup", false);
}

void PlotPage::ShowSampleValues(int columnCount, int plotType) {
  const int columns = clampColumns(columnCount);
  const bool power = m_powerUser;
  const int window = m_choices.StdDevWindow;
  const char* units = m_config.IEngrUnits.c_str();

  for (int c = 0; c < columns; ++c) {
    const int k = m_config.ColumnKind[size_t(c)];
    if (!measure::isValidKind(k)) continue;
    const size_t kk = size_t(k);
    const double counts = m_sample.KindCounts[kk];
    m_stats.Push(k, counts);
    const double stat = m_stats.Statistic(k, window);

    std::string title;
    double y = kNoPlot;

    if (plotType == 0) {
      y = counts;
      std::string name;
      if (measure::isLambda(k)) {
        name = cformat("%3d nm", m_config.KindWavelength[kk]);
      } else if (const char* n = rawName(k)) {
        name = n;
      } else {
        y = kNoPlot;
      }
      if (!name.empty()) {
        const bool unitsForm = k == measure::KindIEngr;
        if (!power || window == 0) {
          title = unitsForm ? cformat("%s: %4.2lf %s", name.c_str(), counts, units)
                            : cformat("%s: %1.0lf Counts", name.c_str(), counts);
        } else if (window == 1) {
          title = cformat("%s: %4.2lf Mean", name.c_str(), stat);
        } else if (window == 15 || window == 60) {
          title = cformat("%s: %4.2lf stddev", name.c_str(), stat);
        }
        if ((k == measure::KindITemp && !m_choices.ITempPlotChoice) ||
            (k == measure::KindXTemp && !m_choices.XTempPlotChoice) ||
            (k == measure::KindPres && !m_choices.PresPlotChoice))
          y = kNoPlot;
      }
    } else if (plotType == 1) {
      y = counts;
      const int nm = m_config.KindWavelength[kk];
      if (measure::isLambda(k)) {
        switch (m_choices.BBPlotChoice) {
          case 0: title = cformat("Beta %3d : %6.4lf", nm, m_eng.KindBeta[kk]); y = m_eng.KindBeta[kk]; break;
          case 1: title = cformat("Betap %3d: %6.4lf", nm, m_eng.KindBetap[kk]); y = m_eng.KindBetap[kk]; break;
          case 2: title = cformat("bbp %3d: %6.4lf", nm, m_eng.KindBbp[kk]); y = m_eng.KindBbp[kk]; break;
          case 3: title = cformat("bb %3d: %6.4lf", nm, m_eng.KindBb[kk]); y = m_eng.KindBb[kk]; break;
          default: title = cformat("Invalid %3d: %1lf ", nm, counts); break;
        }
      } else {
        switch (k) {
          case measure::KindChl: title = cformat("CHL: %4.2lf ug/l", m_eng.ChlValue); y = m_eng.ChlValue; break;
          // The pigments and dyes show ppb but plot their counts.
          case measure::KindCdom: title = cformat("CDOM: %4.0lf ppb", m_eng.CdomValue); break;
          case measure::KindUranine: title = cformat("UR: %4.0lf ppb", m_eng.UranineValue); break;
          case measure::KindPhycocyanin: title = cformat("PC: %4.0lf ppb", m_eng.PhycocyaninValue); break;
          case measure::KindPhycoerythrin: title = cformat("PE: %4.0lf ppb", m_eng.PhycoerythrinValue); break;
          case measure::KindRhodamine: title = cformat("RHD: %4.0lf ppb", m_eng.RhodamineValue); break;
          case measure::KindLss: title = cformat("LSS: %4.2lf NTU", m_eng.LssValue); y = m_eng.LssValue; break;
          case measure::KindNtu: title = cformat("NTU: %4.2lf", m_eng.NtuValue); y = m_eng.NtuValue; break;
          case measure::KindITemp:
            title = cformat("iTemp: %3.1lf C", m_eng.ITempValue);
            y = m_choices.ITempPlotChoice ? m_eng.ITempValue : kNoPlot;
            break;
          case measure::KindXTemp:
            title = cformat("xTemp: %3.1lf C", m_eng.XTempValue);
            y = m_choices.XTempPlotChoice ? m_eng.XTempValue : kNoPlot;
            break;
          case measure::KindPres:
            title = cformat("Pres: %3.1lf dbar", m_eng.PresValue);
            y = m_choices.PresPlotChoice ? m_eng.PresValue : kNoPlot;
            break;
          case measure::KindIEngr: title = cformat("iENGR: %4.2lf %s", m_eng.IEngrValue, units); y = m_eng.IEngrValue; break;
          default: y = kNoPlot; break;
        }
      }
    }

    const int channel = m_columnChannel[size_t(c)];
    if (!title.empty()) m_chart.SetChannelTitle(channel, title);
    if (y < kPlotLimit) m_chart.AddXY(channel, m_sample.ElapsedSample, y);
  }
}

void PlotPage::PlotTypeCBChange() {
  m_choices.PlotType = m_view.itemIndex("PlotTypeCB");
  m_view.setVisible("BBPlotCB", HasBackscatter() && m_choices.PlotType == 1);
  m_chart.ClearAllData();
}

void PlotPage::BBPlotCBChange() {
  m_choices.BBPlotChoice = m_view.itemIndex("BBPlotCB");
  m_chart.ClearAllData();
}

void PlotPage::StdDevCBChange() {
  if (!m_powerUser) return;
  static constexpr int kWindows[] = {0, 1, 15, 60};
  const int index = m_view.itemIndex("StdDevCB");
  if (index >= 0 && index < 4) m_choices.StdDevWindow = kWindows[index];
  m_chart.ClearAllData();
}

void PlotPage::iTempCBChange() {
  m_choices.ITempPlotChoice = m_view.itemIndex("iTempCB");
  m_chart.ClearAllData();
}

void PlotPage::xTempCBChange() {
  m_choices.XTempPlotChoice = m_view.itemIndex("xTempCB");
  m_chart.ClearAllData();
}

void PlotPage::PresCBChange() {
  m_choices.PresPlotChoice = m_view.itemIndex("PresCB");
  m_chart.ClearAllData();
}

void PlotPage::PrepareChart() {
  m_chart.RemoveAllChannels();
  m_chart.SetYAxisTrackingStyle(0, chart::TrackingStyle::ExpandCollapse);
  m_chart.SetXAxisTrackingStyle(0, chart::TrackingStyle::ScrollSmooth);
  m_chart.SetToolBarShowEditButton(0, false);
  m_chart.SetTitleText(m_config.MeterTitle);
}

}  // namespace app
