#pragma once
// The strip chart of the "Plot Data" page, over Qt Charts: one straight-line series per
// channel, a legend with the channel titles, a toolbar, a hidden data cursor, and its
// own display properties in a readable INI file.
#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <deque>
#include <limits>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "chart/history.h"
#include "chart/plotchart.h"

class QAction;
class QChart;
class QChartView;
class QGraphicsLineItem;
class QGraphicsSimpleTextItem;
class QLabel;
class QLineSeries;
class QScatterSeries;
class QToolBar;
class QValueAxis;

namespace chart {

/// A strip chart that keeps a whole deployment and keeps up with a live feed.
///
/// AddXY only appends to the history (a chart::History: every point at full rate, about
/// 20 bytes a sample for four channels); the drawing is done at most every
/// kRedrawIntervalMs (only when something changed, only while the chart is visible) or by
/// redrawNow(). A redraw takes, per channel, the points in the visible X range, or when
/// there are more than two per pixel column the lowest and highest point of each column
/// (found through the history's summaries, not by visiting every point), and replaces each
/// series at once: a redraw of a whole week costs about what a minute costs, and a spike
/// of one sample shows at every zoom.
///
/// History: the newest historyCap() samples are kept (kDefaultHistoryCap, eight days at
/// 10 samples a second); older ones are dropped first. Points with a non-finite X or Y are
/// ignored. Channel indexes outside 0..ChannelCount()-1 are ignored.
///
/// The legend shows each channel's title, followed by its units in brackets unless the
/// title already ends with them; a channel can be left out of the legend.
///
/// Tracking: while on, the X axis follows the newest X (by default ScrollSmooth over a
/// span of 100) and the Y axis follows the data in view (by default ScaleMinMax; the plot
/// page switches it to ExpandCollapse). Zooming or panning pauses tracking; the toolbar's
/// tracking button resumes it.
class StripChart : public QWidget, public PlotChart {
  Q_OBJECT

 public:
  static constexpr size_t kDefaultHistoryCap = History::kDefaultLimit;
  static constexpr int kRedrawIntervalMs = 200;
  static constexpr double kDefaultXSpan = 100.0;

  explicit StripChart(QWidget* parent = nullptr);
  ~StripChart() override;

  // ---- PlotChart ----
  void RemoveAllChannels() override;
  int AddChannel() override;
  int ChannelCount() const override;
  void SetChannelColor(int channel, uint32_t bgr) override;
  void SetChannelTitle(int channel, const std::string& title) override;
  std::string ChannelTitle(int channel) const override;
  void SetChannelUnits(int channel, const std::string& units) override;
  void SetChannelInLegend(int channel, bool shown) override;
  /// The text the legend shows for a channel (title and units).
  QString legendText(int channel) const;
  bool channelInLegend(int channel) const;
  void SetChannelShown(int channel, bool shown) override;
  bool channelShown(int channel) const;
  void SetChannelTransform(int channel, double scale, double offset) override;
  void AddXY(int channel, double x, double y) override;
  void SetPointTime(double seconds) override;
  void BreakLine() override;
  void ClearAllData() override;
  /// Suspect points get an orange ring, failed ones a red square, in two legend entries.
  /// (x, y) are in the channel's own points (before its transform).
  void MarkPoint(int channel, double x, double y, int flag, const std::string& tests = {}) override;
  /// The tooltip of the mark of `flag` drawn at `x` (in the X the axis shows): which
  /// tests fired; empty when the mark has no text.
  QString markText(int flag, double x) const;
  /// The marks kept for `flag` (3 or 4).
  size_t markCount(int flag) const;
  std::string TitleText() const override;
  void SetTitleText(const std::string& text) override;
  /// Only axis 0 exists; other indexes are ignored.
  void SetXAxisTrackingStyle(int axis, TrackingStyle style) override;
  void SetYAxisTrackingStyle(int axis, TrackingStyle style) override;
  void SetXAxisTitle(const std::string& text) override;
  void SetYAxisTitle(const std::string& text) override;
  /// Swaps the X axis for one that labels its ticks as times of day (at round steps of
  /// seconds, minutes or hours; with the date once the view spans more than a day) and
  /// draws the points at their times, or back to the numbered one and the points' X;
  /// tracking resumes.
  void SetXAxisTimeLabels(bool on) override;
  /// Only toolbar 0 exists; other indexes are ignored.
  void SetToolBarShowEditButton(int toolbar, bool show) override;
  /// Writes the display properties (titles, colours, axes, legend, toolbar, cursor; not
  /// the points) as an INI file; the right-hand axes by their units, with the titles and
  /// ranges they have or last had. False when the file cannot be written.
  bool SaveProperties(const std::string& path) override;
  /// Reads a file written by SaveProperties. Missing keys and values that make no sense
  /// keep the current setting; channel entries apply to the channels that exist, and a
  /// right-hand axis's title and range to its units' axis whenever it is made.
  /// False when the file is missing or not readable as INI.
  bool LoadProperties(const std::string& path) override;

  // ---- Drawing ----
  /// Draws the current data at once, whatever the redraw timer says.
  void redrawNow();
  /// True when points or settings changed since the last redraw.
  bool redrawPending() const { return m_dirty; }

  // ---- The cursor ----
  /// A shown channel's value at the point nearest to an X (within 2 % of the X axis's
  /// span, in the X the axis shows).
  struct Reading {
    int channel = -1;
    std::string name, units;  ///< the title up to its ':' (without the live value)
    bool found = false;
    double x = 0, y = 0;      ///< the point found, y after the channel's transform
  };
  struct Readout {
    double x = 0;
    std::vector<Reading> values;  ///< every shown channel, in channel order
  };
  Readout readoutAt(double x) const;
  /// The readings at x2 less those at x1 (x and y); `found` where both have a point.
  Readout differenceBetween(double x1, double x2) const;
  /// One line of text: "Sample 120 | CHL 3.46 ug/l | ..." ("-" where nothing is near),
  /// and for a difference "d 12 | CHL +0.5 ug/l | ...".
  QString readoutText(const Readout& readout, bool difference = false) const;
  /// Shows the readout at `x` in the readout label, or, while a point is pinned, the
  /// pinned point's readout and the difference from it to `x` (what pointing does).
  void pointAt(double x);
  /// Pins the cursor at `x` (what a click does); pinning again unpins.
  void pinAt(double x);
  bool pinned() const { return m_pinned; }
  /// The label under the plot that shows the readout (accessible name "Cursor readout").
  QLabel* readoutLabel() const { return m_readoutLabel; }

  // ---- Inspection and settings beyond the plot page's needs ----
  size_t pointCount(int channel) const;
  /// Samples kept (entries of the shared X base).
  size_t historyCap() const { return m_history.limit(); }
  /// At least 2; drops the oldest samples beyond it.
  void setHistoryCap(size_t cap);
  const History& history() const { return m_history; }
  /// Shows the whole history (pauses tracking), as the toolbar's "Show All" does.
  void showAll();
  QColor channelColor(int channel) const;
  bool xAxisTimeLabels() const { return m_timeLabels; }
  /// The X axis labels shown in time-of-day mode, left to right (empty otherwise).
  QStringList xAxisTimeLabelTexts() const;
  /// "HH:MM:SS" of `seconds` modulo one day.
  static QString timeOfDayText(double seconds);
  /// The label of a time `seconds` (counted from 1970-01-01 00:00, local offset included)
  /// on an axis whose labels are `step` seconds apart and which spans `span` seconds:
  /// "HH:MM:SS" up to a day, "MM-DD HH:MM" beyond, "YYYY-MM-DD" at steps of whole days.
  static QString timeLabelText(double seconds, double step, double span);
  TrackingStyle xTrackingStyle() const { return m_xAxisState.style; }
  TrackingStyle yTrackingStyle() const { return m_yAxisState.style; }
  double xSpan() const { return m_xAxisState.span; }
  /// The width of the X window that tracking shows (> 0).
  void setXSpan(double span);
  bool isTracking() const { return m_tracking; }
  void setTracking(bool on);
  bool editButtonVisible() const;
  bool dataCursorVisible() const { return m_cursorVisible; }
  void setDataCursorVisible(bool visible);
  QColor backgroundColor() const { return m_background; }
  void setBackgroundColor(const QColor& colour);
  QColor plotBackgroundColor() const { return m_plotBackground; }
  void setPlotBackgroundColor(const QColor& colour);
  /// Renders the chart (without the toolbar) into a PNG file.
  bool saveImage(const QString& path);
  /// Opens the small property editor (title, X span, legend, data cursor) without blocking.
  void openPropertyEditor();

  QChart* chart() const { return m_chart; }
  QChartView* chartView() const { return m_view; }
  QToolBar* toolBar() const { return m_toolBar; }
  QLineSeries* series(int channel) const;
  /// A QCategoryAxis (a QValueAxis) while the labels show times of day.
  QValueAxis* xAxis() const { return m_xAxis; }
  QValueAxis* yAxis() const { return m_yAxis; }
  /// The Y axis a shown channel is drawn on (its units' axis); null for a hidden channel
  /// or before the first redraw.
  QValueAxis* yAxisOf(int channel) const;
  /// Y axes in use: the left one and one on the right per further unit.
  int yAxisCount() const;

  /// 0x00BBGGRR as a colour.
  static QColor colourFromBgr(uint32_t bgr);
  static const char* trackingStyleName(TrackingStyle style);
  /// False when `name` is not one of the six style names.
  static bool trackingStyleFromName(const QString& name, TrackingStyle& style);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  struct Channel {
    QLineSeries* series = nullptr;  ///< owned by the chart
    std::vector<QLineSeries*> pieces;  ///< further runs of the line in view; owned by the chart
    std::string title, units;
    bool titleShown = false;         ///< the legend already shows `title` and `units`
    bool inLegend = true;
    bool shown = true;
    double scale = 1, offset = 0;
    QValueAxis* axis = nullptr;      ///< the Y axis attached
    QColor colour;
    /// The series and its pieces.
    std::vector<QLineSeries*> all() const {
      std::vector<QLineSeries*> out{series};
      out.insert(out.end(), pieces.begin(), pieces.end());
      return out;
    }
  };
  /// A Y axis beyond the left one, for one unit.
  struct UnitAxis {
    std::string units;
    QValueAxis* axis = nullptr;  ///< owned by the chart
  };
  /// What the operator chose for the right-hand axis of some units, kept while it is gone.
  struct AxisLook {
    QString title;  ///< empty: the units
    double min = 0, max = 100;
  };
  struct AxisState {
    TrackingStyle style = TrackingStyle::ScaleMinMax;
    double span = kDefaultXSpan;
  };

  void buildToolBar();
  void applyLook();
  /// What is kept for the right-hand axis of `units` (defaults when nothing is).
  AxisLook axisLook(const std::string& units) const;
  /// Keeps the axis's range, and `title` when given, for its units.
  void rememberAxis(const UnitAxis& unit, const QString* title = nullptr);
  void markDirty();
  void onRedrawTimer();
  void onAxisRangeChanged();
  void zoomBy(double factor);
  void onSaveImageClicked();
  void updateCursor(const QPointF& viewportPos);
  bool validChannel(int channel) const { return channel >= 0 && channel < ChannelCount(); }
  void setAxisRange(QValueAxis* axis, double lo, double hi);
  void labelTimeAxis(double lo, double hi);
  void styleAxis(QValueAxis* axis);
  /// Gives each shown channel the Y axis of its units (the first units on the left).
  void assignAxes();
  void attachY(Channel& ch, QValueAxis* axis);
  QLineSeries* newSeries(const Channel& ch, QValueAxis* yAxis);
  std::vector<QValueAxis*> yAxes() const;

  /// The quality-control marks: channel 0 suspect, 1 failed (as points of a history of
  /// their own, so a week of marks is drawn as quickly as a week of data).
  History m_marks;
  static constexpr int kMarkChannels = 64;  ///< marks: channel flag x 64 + chart channel (the first 64)
  static constexpr size_t kMaxPieces = 64;   ///< runs drawn apart per channel; further ones are joined
  QScatterSeries* m_markSeries[2] = {nullptr, nullptr};  ///< owned by the chart; made with the first mark
  QAction* m_showAllAction = nullptr;
  QChart* m_chart = nullptr;
  QChartView* m_view = nullptr;
  QToolBar* m_toolBar = nullptr;
  QValueAxis* m_xAxis = nullptr;
  QValueAxis* m_yAxis = nullptr;
  QAction* m_zoomInAction = nullptr;
  QAction* m_zoomOutAction = nullptr;
  QAction* m_panAction = nullptr;
  QAction* m_trackAction = nullptr;
  QAction* m_saveAction = nullptr;
  QAction* m_editAction = nullptr;
  QGraphicsLineItem* m_cursorLine = nullptr;
  QGraphicsSimpleTextItem* m_cursorText = nullptr;

  std::vector<std::unique_ptr<Channel>> m_channels;
  std::vector<UnitAxis> m_unitAxes;
  std::vector<std::pair<std::string, AxisLook>> m_axisLooks;  ///< by units
  std::string m_yTitle;
  bool m_axesDirty = true;
  bool m_fitY = false;  ///< the next redraw fits every Y axis to the data in view (Show All)
  std::pair<double, double> m_recentTimes[2] = {{NAN, NAN}, {NAN, NAN}};  ///< (X, time) of the latest two samples
  double m_pointTime = std::numeric_limits<double>::quiet_NaN();
  QLabel* m_readoutLabel = nullptr;
  bool m_pinned = false;
  double m_pinX = 0;
  QPointF m_pressAt;
  std::vector<size_t> m_runStarts;
  /// The texts of the latest marks (at most kMarkTexts), oldest first.
  struct MarkText {
    double x, time;
    int flag;
    std::string tests;
  };
  static constexpr size_t kMarkTexts = 100000;
  std::deque<MarkText> m_markTexts;
  History m_history;
  std::vector<Point> m_visible;
  QList<QPointF> m_scratch;
  QTimer m_redrawTimer;
  AxisState m_xAxisState{TrackingStyle::ScrollSmooth, kDefaultXSpan};
  AxisState m_yAxisState{TrackingStyle::ScaleMinMax, 100.0};
  bool m_tracking = true;
  bool m_timeLabels = false;
  bool m_dirty = false;
  bool m_settingRange = false;
  bool m_cursorVisible = false;
  bool m_panning = false;
  QPointF m_panLast;
  QColor m_background{0x20, 0x20, 0x20};
  QColor m_plotBackground{0x00, 0x00, 0x00};
};

}  // namespace chart
