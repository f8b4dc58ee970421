#include "chart/stripchart.h"

#include <QAction>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTime>
#include <QTimeZone>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGraphicsLineItem>
#include <QGraphicsSimpleTextItem>
#include <QCursor>
#include <QLabel>
#include <QToolTip>
#include <QLegend>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QPen>
#include <QPixmap>
#include <QScatterSeries>
#include <QSettings>
#include <QToolBar>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

namespace chart {
namespace {

struct Range {
  double lo, hi;
};

/// Data extent with a margin on each side; a flat line gets a band around its value.
Range padded(Range data, double fraction) {
  double extent = data.hi - data.lo;
  double pad = extent > 0 ? extent * fraction : std::max(std::fabs(data.hi) * 0.05, 0.5);
  return {data.lo - pad, data.hi + pad};
}

/// The axis range one tracking style gives for the current range and the data extent.
Range trackedRange(TrackingStyle style, double span, Range cur, Range data) {
  switch (style) {
    case TrackingStyle::ScrollSmooth: {
      double lo = cur.lo;
      if (data.hi < lo || data.hi > lo + span) lo = data.hi - span;
      return {lo, lo + span};
    }
    case TrackingStyle::ScrollPage: {
      double lo = cur.lo;
      if (data.hi < lo || data.hi > lo + span) lo = std::floor(data.hi / span) * span;
      return {lo, lo + span};
    }
    case TrackingStyle::ScaleMinMax:
      return data.hi > data.lo ? data : padded(data, 0.0);
    case TrackingStyle::ScaleMax: {
      double lo = std::min(cur.lo, data.lo);
      return {lo, data.hi > lo ? data.hi : lo + span};
    }
    case TrackingStyle::ScaleMin: {
      double hi = std::max(cur.hi, data.hi);
      return {data.lo < hi ? data.lo : hi - span, hi};
    }
    case TrackingStyle::ExpandCollapse: {
      bool inside = data.lo >= cur.lo && data.hi <= cur.hi;
      bool tooWide = (data.hi - data.lo) < 0.5 * (cur.hi - cur.lo);
      if (inside && !tooWide) return cur;
      return padded(data, 0.05);
    }
  }
  return cur;
}

const char* const kStyleNames[] = {"ScaleMinMax",  "ScaleMax",   "ScaleMin",
                                   "ScrollSmooth", "ScrollPage", "ExpandCollapse"};

const char* alignmentName(Qt::Alignment a) {
  if (a & Qt::AlignLeft) return "Left";
  if (a & Qt::AlignTop) return "Top";
  if (a & Qt::AlignBottom) return "Bottom";
  return "Right";
}

bool alignmentFromName(const QString& name, Qt::Alignment& a) {
  if (name == "Right") a = Qt::AlignRight;
  else if (name == "Left") a = Qt::AlignLeft;
  else if (name == "Top") a = Qt::AlignTop;
  else if (name == "Bottom") a = Qt::AlignBottom;
  else return false;
  return true;
}

/// Colours for channels that were never given one (visible on the dark plot).
const QColor kDefaultColours[] = {QColor(0xff, 0xff, 0x00), QColor(0x00, 0xff, 0xff),
                                  QColor(0xff, 0x80, 0x00), QColor(0x80, 0xff, 0x80),
                                  QColor(0xff, 0x80, 0xff), QColor(0xc0, 0xc0, 0xff)};

/// Marks range changes as the chart's own while it lives.
class OwnRangeChange {
 public:
  explicit OwnRangeChange(bool& flag) : m_flag(flag), m_previous(flag) { m_flag = true; }
  ~OwnRangeChange() { m_flag = m_previous; }
  OwnRangeChange(const OwnRangeChange&) = delete;
  OwnRangeChange& operator=(const OwnRangeChange&) = delete;

 private:
  bool& m_flag;
  bool m_previous;
};

}  // namespace

StripChart::StripChart(QWidget* parent) : QWidget(parent) {
  OwnRangeChange own(m_settingRange);
  m_chart = new QChart();
  m_chart->setBackgroundRoundness(0);
  m_chart->legend()->setAlignment(Qt::AlignRight);
  m_chart->legend()->setShowToolTips(true);
  m_xAxis = new QValueAxis(m_chart);
  m_yAxis = new QValueAxis(m_chart);
  m_xAxis->setLabelFormat("%.0f");
  m_yAxis->setLabelFormat("%.6g");
  m_chart->addAxis(m_xAxis, Qt::AlignBottom);
  m_chart->addAxis(m_yAxis, Qt::AlignLeft);
  m_xAxis->setRange(0, m_xAxisState.span);
  m_yAxis->setRange(0, 100);

  m_view = new QChartView(m_chart, this);  // the view owns the chart
  m_view->setObjectName("StripChartView");
  m_view->setRenderHint(QPainter::Antialiasing, false);
  m_view->setRubberBand(QChartView::RectangleRubberBand);
  m_view->viewport()->setMouseTracking(true);
  m_view->viewport()->installEventFilter(this);

  m_cursorLine = new QGraphicsLineItem(m_chart);
  m_cursorLine->setPen(QPen(QColor(0xff, 0xff, 0xff, 0xa0), 1, Qt::DashLine));
  m_cursorLine->setZValue(100);
  m_cursorLine->hide();
  m_cursorText = new QGraphicsSimpleTextItem(m_chart);
  m_cursorText->setBrush(Qt::white);
  m_cursorText->setZValue(100);
  m_cursorText->hide();

  buildToolBar();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(m_toolBar);
  layout->addWidget(m_view, 1);
  m_readoutLabel = new QLabel(tr("Point at the plot to read its values; click to pin a point."), this);
  m_readoutLabel->setObjectName("ChartCursorReadout");
  m_readoutLabel->setAccessibleName(tr("Cursor readout"));
  m_readoutLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(m_readoutLabel);
  applyLook();

  m_marks.setChannelCount(2 * kMarkChannels);
  m_redrawTimer.setSingleShot(true);
  m_redrawTimer.setInterval(kRedrawIntervalMs);
  connect(&m_redrawTimer, &QTimer::timeout, this, &StripChart::onRedrawTimer);
  connect(m_xAxis, &QValueAxis::rangeChanged, this, &StripChart::onAxisRangeChanged);
  connect(m_yAxis, &QValueAxis::rangeChanged, this, &StripChart::onAxisRangeChanged);
}

StripChart::~StripChart() = default;

void StripChart::buildToolBar() {
  m_toolBar = new QToolBar(this);
  m_toolBar->setObjectName("StripChartToolBar");
  m_toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  m_zoomInAction = m_toolBar->addAction(tr("Zoom In"), this, [this] { zoomBy(0.5); });
  m_zoomInAction->setObjectName("ChartZoomIn");
  m_zoomOutAction = m_toolBar->addAction(tr("Zoom Out"), this, [this] { zoomBy(2.0); });
  m_zoomOutAction->setObjectName("ChartZoomOut");
  m_panAction = m_toolBar->addAction(tr("Pan"));
  m_panAction->setObjectName("ChartPan");
  m_panAction->setCheckable(true);
  connect(m_panAction, &QAction::toggled, this, [this](bool on) {
    m_view->setRubberBand(on ? QChartView::NoRubberBand : QChartView::RectangleRubberBand);
    m_view->viewport()->setCursor(on ? Qt::OpenHandCursor : Qt::ArrowCursor);
  });
  m_showAllAction = m_toolBar->addAction(tr("Show All"), this, &StripChart::showAll);
  m_showAllAction->setObjectName("ChartShowAll");
  m_showAllAction->setToolTip(tr("Show the whole session (pauses tracking)"));
  m_trackAction = m_toolBar->addAction(tr("Tracking"));
  m_trackAction->setObjectName("ChartTracking");
  m_trackAction->setCheckable(true);
  m_trackAction->setChecked(true);
  m_trackAction->setToolTip(tr("Follow the newest data (pause / resume)"));
  connect(m_trackAction, &QAction::toggled, this, [this](bool on) { setTracking(on); });
  m_saveAction = m_toolBar->addAction(tr("Save Image"), this, &StripChart::onSaveImageClicked);
  m_saveAction->setObjectName("ChartSaveImage");
  m_editAction = m_toolBar->addAction(tr("Edit"), this, &StripChart::openPropertyEditor);
  m_editAction->setObjectName("ChartEdit");
}

void StripChart::applyLook() {
  m_chart->setBackgroundBrush(m_background);
  m_chart->setPlotAreaBackgroundBrush(m_plotBackground);
  m_chart->setPlotAreaBackgroundVisible(true);
  QFont titleFont("Arial");
  titleFont.setBold(true);
  titleFont.setPointSize(12);
  m_chart->setTitleFont(titleFont);
  m_chart->setTitleBrush(Qt::white);
  m_chart->legend()->setLabelColor(Qt::white);
  for (QValueAxis* axis : {m_xAxis, m_yAxis}) styleAxis(axis);
}

void StripChart::styleAxis(QValueAxis* axis) {
  axis->setLabelsColor(QColor(0xd0, 0xd0, 0xd0));
  axis->setTitleBrush(QColor(0xd0, 0xd0, 0xd0));
  axis->setGridLineColor(QColor(0x50, 0x50, 0x50));
  axis->setLinePenColor(QColor(0x90, 0x90, 0x90));
}

QColor StripChart::colourFromBgr(uint32_t bgr) {
  return QColor(int(bgr & 0xff), int((bgr >> 8) & 0xff), int((bgr >> 16) & 0xff));
}

const char* StripChart::trackingStyleName(TrackingStyle style) {
  int i = static_cast<int>(style);
  return (i >= 0 && i < 6) ? kStyleNames[i] : kStyleNames[0];
}

bool StripChart::trackingStyleFromName(const QString& name, TrackingStyle& style) {
  for (int i = 0; i < 6; ++i) {
    if (name == QLatin1String(kStyleNames[i])) {
      style = static_cast<TrackingStyle>(i);
      return true;
    }
  }
  return false;
}

// ---- Channels and points ----

void StripChart::RemoveAllChannels() {
  OwnRangeChange own(m_settingRange);
  for (auto& ch : m_channels) {
    ch->pieces.push_back(ch->series);
    for (QLineSeries* series : ch->pieces) {
      m_chart->removeSeries(series);
      delete series;
    }
  }
  m_channels.clear();
  for (UnitAxis& unit : m_unitAxes) {
    m_chart->removeAxis(unit.axis);
    delete unit.axis;
  }
  m_unitAxes.clear();
  m_history.setChannelCount(0);
  m_marks.clear();
  m_markTexts.clear();
  m_axesDirty = true;
  markDirty();
}

void StripChart::MarkPoint(int channel, double x, double y, int flag, const std::string& tests) {
  if (!validChannel(channel) || (flag != 3 && flag != 4) || !std::isfinite(x) || !std::isfinite(y)) return;
  QScatterSeries*& markSeries = m_markSeries[flag - 3];
  if (!markSeries) {
    OwnRangeChange own(m_settingRange);
    auto* series = new QScatterSeries();
    series->setName(flag == 3 ? QStringLiteral("QC suspect") : QStringLiteral("QC failed"));
    series->setMarkerShape(flag == 3 ? QScatterSeries::MarkerShapeCircle : QScatterSeries::MarkerShapeRectangle);
    series->setMarkerSize(flag == 3 ? 11 : 9);
    m_chart->addSeries(series);
    series->attachAxis(m_xAxis);
    series->attachAxis(m_yAxis);
    const QColor colour = flag == 3 ? QColor(255, 140, 0) : QColor(220, 0, 0);
    // A suspect ring is filled faintly: the legend's swatch shows the fill, and a
    // transparent one left it invisible.
    series->setColor(flag == 3 ? QColor(255, 140, 0, 110) : colour);
    series->setBorderColor(colour);
    connect(series, &QScatterSeries::hovered, this, [this, flag](const QPointF& point, bool inside) {
      const QString text = inside ? markText(flag, point.x()) : QString();
      if (text.isEmpty()) QToolTip::hideText();
      else QToolTip::showText(QCursor::pos(), text, m_view);
    });
    markSeries = series;
  }
  if (channel >= kMarkChannels) return;
  // The mark's time: that of the sample at X (one of the latest two), else X.
  double time = x;
  for (const auto& [sx, st] : m_recentTimes)
    if (sx == x) time = st;
  m_marks.add((flag - 3) * kMarkChannels + channel, x, y, time);
  if (!tests.empty()) {
    m_markTexts.push_back({x, time, flag, tests});
    if (m_markTexts.size() > kMarkTexts) m_markTexts.pop_front();
  }
  markDirty();
}

QString StripChart::markText(int flag, double x) const {
  for (auto it = m_markTexts.rbegin(); it != m_markTexts.rend(); ++it)
    if (it->flag == flag && (m_timeLabels ? it->time : it->x) == x)
      return QString::fromStdString(it->tests);
  return {};
}

size_t StripChart::markCount(int flag) const {
  if (flag != 3 && flag != 4) return 0;
  size_t n = 0;
  for (int c = 0; c < kMarkChannels; ++c) n += m_marks.pointCount((flag - 3) * kMarkChannels + c);
  return n;
}

int StripChart::AddChannel() {
  OwnRangeChange own(m_settingRange);
  auto ch = std::make_unique<Channel>();
  int index = ChannelCount();
  ch->colour = kDefaultColours[size_t(index) % std::size(kDefaultColours)];
  ch->series = newSeries(*ch, m_yAxis);
  ch->axis = m_yAxis;
  m_channels.push_back(std::move(ch));
  m_history.setChannelCount(ChannelCount());
  m_axesDirty = true;
  markDirty();
  return index;
}

QLineSeries* StripChart::newSeries(const Channel& ch, QValueAxis* yAxis) {
  auto* series = new QLineSeries();
  m_chart->addSeries(series);
  series->attachAxis(m_xAxis);
  series->attachAxis(yAxis);
  // Set after addSeries: the chart's theme would otherwise pick from its few colours.
  QPen pen(ch.colour);
  pen.setWidth(ch.series ? ch.series->pen().width() : 2);
  series->setPen(pen);
  return series;
}

int StripChart::ChannelCount() const { return static_cast<int>(m_channels.size()); }

QLineSeries* StripChart::series(int channel) const {
  return validChannel(channel) ? m_channels[size_t(channel)]->series : nullptr;
}

void StripChart::SetChannelColor(int channel, uint32_t bgr) {
  if (!validChannel(channel)) return;
  Channel& ch = *m_channels[size_t(channel)];
  ch.colour = colourFromBgr(bgr);
  QPen pen = ch.series->pen();
  pen.setColor(ch.colour);
  ch.series->setPen(pen);
  for (QLineSeries* piece : ch.pieces) piece->setPen(pen);
}

QColor StripChart::channelColor(int channel) const {
  return validChannel(channel) ? m_channels[size_t(channel)]->colour : QColor();
}

void StripChart::SetChannelTitle(int channel, const std::string& title) {
  if (!validChannel(channel)) return;
  Channel& ch = *m_channels[size_t(channel)];
  if (ch.title == title) return;
  ch.title = title;
  ch.titleShown = false;  // the legend is relaid at the next redraw, not per sample
  markDirty();
}

std::string StripChart::ChannelTitle(int channel) const {
  return validChannel(channel) ? m_channels[size_t(channel)]->title : std::string();
}

void StripChart::SetChannelUnits(int channel, const std::string& units) {
  if (!validChannel(channel)) return;
  Channel& ch = *m_channels[size_t(channel)];
  if (ch.units == units) return;
  ch.units = units;
  ch.titleShown = false;
  m_axesDirty = true;
  markDirty();
}

QString StripChart::legendText(int channel) const {
  if (!validChannel(channel)) return {};
  const Channel& ch = *m_channels[size_t(channel)];
  const QString title = QString::fromStdString(ch.title);
  const QString units = QString::fromStdString(ch.units).trimmed();
  if (units.isEmpty() || title.trimmed().endsWith(units, Qt::CaseInsensitive)) return title;
  return title + QStringLiteral(" [") + units + QLatin1Char(']');
}

void StripChart::SetChannelInLegend(int channel, bool shown) {
  if (!validChannel(channel) || m_channels[size_t(channel)]->inLegend == shown) return;
  m_channels[size_t(channel)]->inLegend = shown;
  markDirty();
}

bool StripChart::channelInLegend(int channel) const {
  return validChannel(channel) && m_channels[size_t(channel)]->inLegend;
}

void StripChart::SetChannelShown(int channel, bool shown) {
  if (!validChannel(channel) || m_channels[size_t(channel)]->shown == shown) return;
  m_channels[size_t(channel)]->shown = shown;
  m_axesDirty = true;
  markDirty();
}

bool StripChart::channelShown(int channel) const { return validChannel(channel) && m_channels[size_t(channel)]->shown; }

void StripChart::SetChannelTransform(int channel, double scale, double offset) {
  if (!validChannel(channel) || !std::isfinite(scale) || !std::isfinite(offset)) return;
  Channel& ch = *m_channels[size_t(channel)];
  if (ch.scale == scale && ch.offset == offset) return;
  ch.scale = scale;
  ch.offset = offset;
  markDirty();
}

void StripChart::AddXY(int channel, double x, double y) {
  if (!validChannel(channel) || !m_history.add(channel, x, y, m_pointTime)) return;
  if (m_recentTimes[1].first != x) {
    m_recentTimes[0] = m_recentTimes[1];
    m_recentTimes[1] = {x, std::isfinite(m_pointTime) ? m_pointTime : x};
  }
  markDirty();
}

void StripChart::SetPointTime(double seconds) { m_pointTime = seconds; }

void StripChart::BreakLine() { m_history.breakRun(); }

void StripChart::ClearAllData() {
  m_history.clear();
  m_marks.clear();
  m_markTexts.clear();
  markDirty();
}

size_t StripChart::pointCount(int channel) const { return m_history.pointCount(channel); }

void StripChart::setHistoryCap(size_t cap) {
  m_history.setLimit(cap);
  m_marks.setLimit(cap);
  markDirty();
}

void StripChart::showAll() {
  setTracking(false);
  double lo = 0, hi = 0;
  if (!m_history.xExtent(lo, hi)) return;
  if (!(hi > lo)) hi = lo + 1.0;
  setAxisRange(m_xAxis, lo, hi);
  m_fitY = true;
  redrawNow();
}

// ---- Title, axes, toolbar ----

std::string StripChart::TitleText() const { return m_chart->title().toStdString(); }

void StripChart::SetTitleText(const std::string& text) {
  m_chart->setTitle(QString::fromStdString(text));
}

void StripChart::SetXAxisTrackingStyle(int axis, TrackingStyle style) {
  if (axis != 0) return;
  m_xAxisState.style = style;
  markDirty();
}

void StripChart::SetXAxisTimeLabels(bool on) {
  if (on == m_timeLabels) return;
  OwnRangeChange own(m_settingRange);
  m_timeLabels = on;
  m_history.setUseTime(on);
  m_marks.setUseTime(on);
  // Qt Charts labels a value axis only through a printf format: times of day need an
  // axis whose labels are its own (a category axis), put in the old one's place.
  QValueAxis* old = m_xAxis;
  QValueAxis* axis = nullptr;
  if (on) {
    auto* categories = new QCategoryAxis(m_chart);
    categories->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axis = categories;
  } else {
    axis = new QValueAxis(m_chart);
    axis->setLabelFormat("%.0f");
  }
  styleAxis(axis);
  m_chart->addAxis(axis, Qt::AlignBottom);
  for (auto& ch : m_channels)
    for (QLineSeries* series : ch->all()) {
      series->detachAxis(old);
      series->attachAxis(axis);
    }
  for (QScatterSeries* marks : m_markSeries)
    if (marks) {
      marks->detachAxis(old);
      marks->attachAxis(axis);
    }
  axis->setTitleText(old->titleText());
  axis->setTitleBrush(old->titleBrush());
  axis->setTitleFont(old->titleFont());
  m_chart->removeAxis(old);
  delete old;
  m_xAxis = axis;
  const double lo = 0.0, hi = m_xAxisState.span;
  m_xAxis->setRange(lo, hi);
  if (on) labelTimeAxis(lo, hi);
  connect(m_xAxis, &QValueAxis::rangeChanged, this, &StripChart::onAxisRangeChanged);
  setTracking(true);
}

QString StripChart::timeOfDayText(double seconds) {
  long long s = static_cast<long long>(std::floor(seconds)) % 86400;
  if (s < 0) s += 86400;
  return QStringLiteral("%1:%2:%3")
      .arg(s / 3600, 2, 10, QLatin1Char('0'))
      .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString StripChart::timeLabelText(double seconds, double step, double span) {
  if (span <= 86400.0) return timeOfDayText(seconds);
  const QDateTime t = QDateTime::fromSecsSinceEpoch(qint64(std::floor(seconds)), QTimeZone::utc());
  return t.toString(step >= 86400.0 ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("MM-dd HH:mm"));
}

void StripChart::labelTimeAxis(double lo, double hi) {
  auto* axis = qobject_cast<QCategoryAxis*>(m_xAxis);
  if (!axis) return;
  // About five labels at a round step: seconds, minutes, hours or days.
  static constexpr double kSteps[] = {1,    2,    5,     10,    15,    30,    60,     120,    300,    600,
                                      900,  1800, 3600,  7200,  10800, 21600, 43200,  86400,  172800, 345600,
                                      604800, 1209600, 2419200};
  const double wanted = (hi - lo) / 5.0;
  double step = kSteps[std::size(kSteps) - 1];
  for (const double candidate : kSteps) {
    if (candidate >= wanted) {
      step = candidate;
      break;
    }
  }
  for (const QString& label : axis->categoriesLabels()) axis->remove(label);
  axis->setStartValue(lo);
  // A category's label must be unique; over more than a day a time of day repeats.
  for (double t = std::ceil(lo / step) * step; t <= hi; t += step) {
    const QString text = timeLabelText(t, step, hi - lo);
    if (!axis->categoriesLabels().contains(text)) axis->append(text, t);
  }
}

QStringList StripChart::xAxisTimeLabelTexts() const {
  auto* axis = qobject_cast<QCategoryAxis*>(m_xAxis);
  return axis ? axis->categoriesLabels() : QStringList();
}

void StripChart::SetYAxisTrackingStyle(int axis, TrackingStyle style) {
  if (axis != 0) return;
  m_yAxisState.style = style;
  markDirty();
}

void StripChart::SetXAxisTitle(const std::string& text) { m_xAxis->setTitleText(QString::fromStdString(text)); }

void StripChart::SetYAxisTitle(const std::string& text) {
  m_yTitle = text;
  m_axesDirty = true;
  markDirty();
}

QValueAxis* StripChart::yAxisOf(int channel) const {
  return channelShown(channel) && !m_axesDirty ? m_channels[size_t(channel)]->axis : nullptr;
}

int StripChart::yAxisCount() const { return 1 + int(m_unitAxes.size()); }

std::vector<QValueAxis*> StripChart::yAxes() const {
  std::vector<QValueAxis*> axes{m_yAxis};
  for (const UnitAxis& unit : m_unitAxes) axes.push_back(unit.axis);
  return axes;
}

void StripChart::attachY(Channel& ch, QValueAxis* axis) {
  if (ch.axis == axis) return;
  for (QLineSeries* series : ch.all()) {
    if (ch.axis) series->detachAxis(ch.axis);
    series->attachAxis(axis);
  }
  ch.axis = axis;
}

void StripChart::assignAxes() {
  OwnRangeChange own(m_settingRange);
  m_axesDirty = false;
  std::vector<std::string> units;  // of the shown channels, in channel order, each once
  for (const auto& ch : m_channels)
    if (ch->shown && std::find(units.begin(), units.end(), ch->units) == units.end()) units.push_back(ch->units);
  auto axisOf = [&](const std::string& u) -> QValueAxis* {
    if (units.empty() || u == units.front()) return m_yAxis;
    for (const UnitAxis& unit : m_unitAxes)
      if (unit.units == u) return unit.axis;
    auto* axis = new QValueAxis(m_chart);
    axis->setLabelFormat("%.6g");
    styleAxis(axis);
    const AxisLook look = axisLook(u);
    axis->setTitleText(look.title.isEmpty() ? QString::fromStdString(u) : look.title);
    m_chart->addAxis(axis, Qt::AlignRight);
    axis->setRange(look.min, look.max);
    connect(axis, &QValueAxis::rangeChanged, this, &StripChart::onAxisRangeChanged);
    m_unitAxes.push_back({u, axis});
    return axis;
  };
  for (auto& ch : m_channels) attachY(*ch, ch->shown ? axisOf(ch->units) : m_yAxis);
  // Axes of units no shown channel has any more go; their range is kept for their return.
  std::erase_if(m_unitAxes, [&](const UnitAxis& unit) {
    if (std::find(units.begin() + (units.empty() ? 0 : 1), units.end(), unit.units) != units.end()) return false;
    rememberAxis(unit);
    m_chart->removeAxis(unit.axis);
    delete unit.axis;
    return true;
  });
  const std::string left = units.empty() || units.front().empty() ? m_yTitle : units.front();
  m_yAxis->setTitleText(QString::fromStdString(left));
}

StripChart::AxisLook StripChart::axisLook(const std::string& units) const {
  for (const auto& [u, look] : m_axisLooks)
    if (u == units) return look;
  return {};
}

void StripChart::rememberAxis(const UnitAxis& unit, const QString* title) {
  AxisLook look = axisLook(unit.units);
  if (title) look.title = *title == QString::fromStdString(unit.units) ? QString() : *title;
  look.min = unit.axis->min();
  look.max = unit.axis->max();
  std::erase_if(m_axisLooks, [&](const auto& kept) { return kept.first == unit.units; });
  m_axisLooks.emplace_back(unit.units, look);
}

void StripChart::SetToolBarShowEditButton(int toolbar, bool show) {
  if (toolbar != 0) return;
  m_editAction->setVisible(show);
}

bool StripChart::editButtonVisible() const { return m_editAction->isVisible(); }

void StripChart::setXSpan(double span) {
  if (!(span > 0) || !std::isfinite(span)) return;
  m_xAxisState.span = span;
  markDirty();
}

void StripChart::setTracking(bool on) {
  m_tracking = on;
  if (m_trackAction->isChecked() != on) m_trackAction->setChecked(on);
  markDirty();
}

void StripChart::setDataCursorVisible(bool visible) {
  m_cursorVisible = visible;
  if (!visible) {
    m_cursorLine->hide();
    m_cursorText->hide();
  }
}

void StripChart::setBackgroundColor(const QColor& colour) {
  if (!colour.isValid()) return;
  m_background = colour;
  m_chart->setBackgroundBrush(colour);
}

void StripChart::setPlotBackgroundColor(const QColor& colour) {
  if (!colour.isValid()) return;
  m_plotBackground = colour;
  m_chart->setPlotAreaBackgroundBrush(colour);
}

// ---- Drawing ----

void StripChart::markDirty() {
  m_dirty = true;
  if (!m_redrawTimer.isActive()) m_redrawTimer.start();
}

void StripChart::onRedrawTimer() {
  // A chart on a page that is not shown is drawn when it is shown again.
  if (m_dirty && isVisible()) redrawNow();
}

void StripChart::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (m_dirty) m_redrawTimer.start();
}

void StripChart::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  markDirty();  // the thinning depends on the plot's width
}

void StripChart::setAxisRange(QValueAxis* axis, double lo, double hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) return;
  if (!(hi > lo)) hi = lo + 1.0;
  if (axis->min() == lo && axis->max() == hi) return;
  OwnRangeChange own(m_settingRange);
  if (axis == m_xAxis && m_timeLabels) {
    axis->setRange(lo, hi);
    labelTimeAxis(lo, hi);
    return;
  }
  // Ticks at round values (1, 2 or 5 times a power of ten), about five per axis,
  // whatever the range is. The axis lays out its ticks at each change: a wider step goes
  // in before a wider range, a narrower one after a narrower range, so that a jump from a
  // minute to a week never lays out a week of ticks a second apart.
  double raw = (hi - lo) / 5.0;
  double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double norm = raw / magnitude;
  double step = (norm < 1.5 ? 1.0 : norm < 3.0 ? 2.0 : norm < 7.0 ? 5.0 : 10.0) * magnitude;
  const bool stepOk = std::isfinite(step) && step > 0;
  auto setStep = [&] {
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0.0);
    axis->setTickInterval(step);
  };
  const bool wider = stepOk && step > axis->tickInterval();
  if (wider) setStep();
  axis->setRange(lo, hi);
  if (stepOk && !wider) setStep();
}

void StripChart::onAxisRangeChanged() {
  if (m_settingRange) return;
  // The operator zoomed or panned: stay where they are until tracking is resumed.
  if (m_tracking) setTracking(false);
  markDirty();
}

void StripChart::redrawNow() {
  OwnRangeChange own(m_settingRange);
  m_dirty = false;
  m_redrawTimer.stop();
  if (m_axesDirty) assignAxes();

  for (int c = 0; c < ChannelCount(); ++c) {
    Channel& ch = *m_channels[size_t(c)];
    if (!ch.titleShown) {
      ch.series->setName(legendText(c));
      ch.titleShown = true;
    }
  }

  Range x{m_xAxis->min(), m_xAxis->max()};
  Range data{0, 0};
  if (m_tracking && m_history.xExtent(data.lo, data.hi)) {
    x = trackedRange(m_xAxisState.style, m_xAxisState.span, x, data);
    if (!(x.hi > x.lo)) x.hi = x.lo + 1.0;
  }

  int columns = int(m_chart->plotArea().width());
  if (columns < 16) columns = std::max(16, m_view->width());
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::vector<QValueAxis*> axes = yAxes();
  std::vector<Range> yRanges(axes.size(), Range{kInf, -kInf});
  auto toSeries = [this](QXYSeries* series, size_t begin, size_t end) {
    if (begin == end && series->count() == 0) return;
    m_scratch.clear();
    m_scratch.reserve(qsizetype(end - begin));
    for (size_t i = begin; i < end; ++i) m_scratch.append(QPointF(m_visible[i].x, m_visible[i].y));
    series->replace(m_scratch);
  };
  const History::View view = m_history.view(x.lo, x.hi, columns);
  // Where every column holds many samples the lines are drawn as hairlines: the band of
  // lows and highs looks the same, and it is drawn several times faster.
  const bool dense = std::any_of(view.parts.begin(), view.parts.end(),
                                 [](const History::View::Part& part) { return !part.edges.empty(); });
  for (int c = 0; c < ChannelCount(); ++c) {
    Channel& ch = *m_channels[size_t(c)];
    m_visible.clear();
    m_runStarts.clear();
    if (ch.shown) {
      Range y{kInf, -kInf};
      m_history.visible(view, c, m_visible, y.lo, y.hi, &m_runStarts);
      if (ch.scale != 1.0 || ch.offset != 0.0) {
        for (Point& p : m_visible) p.y = ch.scale * p.y + ch.offset;
        y = {ch.scale * y.lo + ch.offset, ch.scale * y.hi + ch.offset};
        if (y.lo > y.hi) std::swap(y.lo, y.hi);
      }
      const size_t a = size_t(std::find(axes.begin(), axes.end(), ch.axis) - axes.begin());
      if (a < yRanges.size() && y.lo <= y.hi)
        yRanges[a] = {std::min(yRanges[a].lo, y.lo), std::max(yRanges[a].hi, y.hi)};
    }
    // Each run is a line of its own: the first in the channel's series, the others in
    // pieces without a legend entry (beyond kMaxPieces the last piece takes the rest).
    const size_t runs = std::min(m_runStarts.size(), kMaxPieces + 1);
    while (ch.pieces.size() + 1 < runs) ch.pieces.push_back(newSeries(ch, ch.axis));
    for (QLineSeries* series : ch.all())
      if (QPen pen = series->pen(); pen.width() != (dense ? 1 : 2)) {
        pen.setWidth(dense ? 1 : 2);
        series->setPen(pen);
      }
    const std::vector<QLineSeries*> all = ch.all();
    for (size_t r = 0; r < all.size(); ++r) {
      const size_t begin = r < runs ? m_runStarts[r] : m_visible.size();
      const size_t end = r + 1 < runs ? m_runStarts[r + 1] : r < runs ? m_visible.size() : begin;
      toSeries(all[r], begin, end);
    }
  }

  // Qt Charts makes the legend's markers anew when series come and go, and shows them
  // again when a series changes: checked after the series are filled, every time.
  for (const auto& ch : m_channels) {
    for (QLegendMarker* marker : m_chart->legend()->markers(ch->series)) marker->setVisible(ch->inLegend && ch->shown);
    for (QLineSeries* piece : ch->pieces)
      for (QLegendMarker* marker : m_chart->legend()->markers(piece)) marker->setVisible(false);
  }

  setAxisRange(m_xAxis, x.lo, x.hi);
  for (size_t a = 0; a < axes.size(); ++a) {
    const Range& y = yRanges[a];
    if (!(y.lo <= y.hi)) continue;
    if (m_fitY) {
      const Range fitted = padded(y, 0.05);
      setAxisRange(axes[a], fitted.lo, fitted.hi);
    } else if (m_tracking) {
      const Range next = trackedRange(m_yAxisState.style, m_yAxisState.span, {axes[a]->min(), axes[a]->max()}, y);
      setAxisRange(axes[a], next.lo, next.hi);
    }
  }
  m_fitY = false;

  // Marks of a channel on another axis are put where its axis would draw them, in the
  // left axis's values (the one the marks' series is attached to).
  const Range left{m_yAxis->min(), m_yAxis->max()};
  for (int flag = 0; flag < 2; ++flag) {
    if (!m_markSeries[flag]) continue;
    m_visible.clear();
    for (int c = 0; c < std::min(ChannelCount(), kMarkChannels); ++c) {
      const Channel& ch = *m_channels[size_t(c)];
      const int markChannel = flag * kMarkChannels + c;
      if (!ch.shown || m_marks.pointCount(markChannel) == 0 || !ch.axis) continue;
      const size_t first = m_visible.size();
      double ignoredLo = 0, ignoredHi = 0;
      m_marks.visible(markChannel, x.lo, x.hi, columns, m_visible, ignoredLo, ignoredHi);
      const Range own{ch.axis->min(), ch.axis->max()};
      for (size_t i = first; i < m_visible.size(); ++i) {
        double y = ch.scale * m_visible[i].y + ch.offset;
        if (ch.axis != m_yAxis) y = left.lo + (y - own.lo) / (own.hi - own.lo) * (left.hi - left.lo);
        m_visible[i].y = y;
      }
    }
    // Marks are not joined: the points beyond the edges are not wanted.
    std::erase_if(m_visible, [&](const Point& p) { return p.x < x.lo || p.x > x.hi; });
    toSeries(m_markSeries[flag], 0, m_visible.size());
  }
}

void StripChart::zoomBy(double factor) {
  setTracking(false);
  std::vector<QValueAxis*> axes = yAxes();
  axes.push_back(m_xAxis);
  for (QValueAxis* axis : axes) {
    double mid = (axis->min() + axis->max()) / 2, half = (axis->max() - axis->min()) / 2 * factor;
    setAxisRange(axis, mid - half, mid + half);
  }
  markDirty();
}

// ---- Mouse: pan mode and the data cursor ----

bool StripChart::eventFilter(QObject* watched, QEvent* event) {
  if (watched != m_view->viewport()) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* me = static_cast<QMouseEvent*>(event);
      if (m_panAction->isChecked() && me->button() == Qt::LeftButton) {
        m_panning = true;
        m_panLast = me->position();
        return true;
      }
      m_pressAt = me->position();
      break;
    }
    case QEvent::MouseMove: {
      auto* me = static_cast<QMouseEvent*>(event);
      if (m_panning) {
        QPointF delta = me->position() - m_panLast;
        m_panLast = me->position();
        QRectF area = m_chart->plotArea();
        if (area.width() > 0 && area.height() > 0) {
          setTracking(false);
          double dx = -delta.x() / area.width() * (m_xAxis->max() - m_xAxis->min());
          setAxisRange(m_xAxis, m_xAxis->min() + dx, m_xAxis->max() + dx);
          for (QValueAxis* axis : yAxes()) {
            const double dy = delta.y() / area.height() * (axis->max() - axis->min());
            setAxisRange(axis, axis->min() + dy, axis->max() + dy);
          }
          markDirty();
        }
        return true;
      }
      updateCursor(me->position());
      break;
    }
    case QEvent::MouseButtonRelease: {
      if (m_panning) {
        m_panning = false;
        return true;
      }
      // A click (no drag) pins the point under the mouse, or lets it go.
      auto* me = static_cast<QMouseEvent*>(event);
      const QPointF scenePos = m_view->mapToScene(me->position().toPoint());
      if (me->button() == Qt::LeftButton && (me->position() - m_pressAt).manhattanLength() < 4 &&
          m_chart->plotArea().contains(scenePos))
        pinAt(m_chart->mapToValue(scenePos).x());
      break;
    }
    case QEvent::Wheel: {
      // The wheel zooms the time axis about the point under the mouse.
      auto* we = static_cast<QWheelEvent*>(event);
      const int notches = we->angleDelta().y() / 120;
      const QRectF area = m_chart->plotArea();
      if (notches == 0 || area.width() <= 0) break;
      const QPointF at = m_view->mapToScene(we->position().toPoint());
      const double lo = m_xAxis->min(), hi = m_xAxis->max();
      const double pivot = lo + std::clamp((at.x() - area.left()) / area.width(), 0.0, 1.0) * (hi - lo);
      const double factor = std::pow(0.8, notches);
      setTracking(false);
      setAxisRange(m_xAxis, pivot - (pivot - lo) * factor, pivot + (hi - pivot) * factor);
      markDirty();
      return true;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void StripChart::updateCursor(const QPointF& viewportPos) {
  QPointF scenePos = m_view->mapToScene(viewportPos.toPoint());
  QRectF area = m_chart->plotArea();
  if (!area.contains(scenePos)) {
    m_cursorLine->hide();
    m_cursorText->hide();
    return;
  }
  QPointF value = m_chart->mapToValue(scenePos);
  pointAt(value.x());
  if (!m_cursorVisible) return;
  m_cursorLine->setLine(scenePos.x(), area.top(), scenePos.x(), area.bottom());
  const double span = m_xAxis->max() - m_xAxis->min();
  const QString x = m_timeLabels ? timeLabelText(value.x(), 1.0, span) : QString::number(value.x(), 'f', 1);
  m_cursorText->setText(QStringLiteral("X %1  Y %2").arg(x, QString::number(value.y(), 'g', 6)));
  m_cursorText->setPos(scenePos.x() + 4, area.top() + 2);
  m_cursorLine->show();
  m_cursorText->show();
}

// ---- The cursor's readout ----

StripChart::Readout StripChart::readoutAt(double x) const {
  Readout out;
  out.x = x;
  const double reach = 0.02 * (m_xAxis->max() - m_xAxis->min());
  for (int c = 0; c < ChannelCount(); ++c) {
    const Channel& ch = *m_channels[size_t(c)];
    if (!ch.shown) continue;
    Reading reading;
    reading.channel = c;
    reading.name = ch.title.substr(0, ch.title.find(':'));
    while (!reading.name.empty() && reading.name.back() == ' ') reading.name.pop_back();
    reading.units = ch.units;
    Point p;
    if (m_history.nearest(c, x, reach, p)) {
      reading.found = true;
      reading.x = p.x;
      reading.y = ch.scale * p.y + ch.offset;
    }
    out.values.push_back(std::move(reading));
  }
  return out;
}

StripChart::Readout StripChart::differenceBetween(double x1, double x2) const {
  const Readout first = readoutAt(x1);
  Readout out = readoutAt(x2);
  out.x = x2 - x1;
  for (size_t i = 0; i < out.values.size(); ++i) {
    Reading& r = out.values[i];
    r.found = r.found && first.values[i].found;
    r.x -= first.values[i].x;
    r.y -= first.values[i].y;
  }
  return out;
}

QString StripChart::readoutText(const Readout& readout, bool difference) const {
  QString text;
  if (difference)
    text = m_timeLabels ? tr("d %1 s").arg(QString::number(readout.x, 'f', 1))
                        : tr("d %1 samples").arg(QString::number(readout.x, 'f', 0));
  else
    text = m_timeLabels ? timeOfDayText(readout.x) : tr("Sample %1").arg(QString::number(readout.x, 'f', 0));
  for (const Reading& r : readout.values) {
    QString value = QStringLiteral("-");
    if (r.found) {
      value = QString::number(r.y, 'g', 6);
      if (difference && r.y >= 0) value.prepend(QLatin1Char('+'));
      if (!r.units.empty()) value += QLatin1Char(' ') + QString::fromStdString(r.units);
    }
    text += QStringLiteral(" | ") + QString::fromStdString(r.name) + QLatin1Char(' ') + value;
  }
  return text;
}

void StripChart::pointAt(double x) {
  if (!m_pinned) {
    m_readoutLabel->setText(readoutText(readoutAt(x)));
    return;
  }
  m_readoutLabel->setText(tr("Pinned: %1\nHere: %2\nDifference: %3")
                              .arg(readoutText(readoutAt(m_pinX)), readoutText(readoutAt(x)),
                                   readoutText(differenceBetween(m_pinX, x), true)));
}

void StripChart::pinAt(double x) {
  m_pinned = !m_pinned;
  m_pinX = x;
  pointAt(x);
}

// ---- Image, property editor ----

bool StripChart::saveImage(const QString& path) {
  redrawNow();
  return m_view->grab().save(path, "PNG");
}

void StripChart::onSaveImageClicked() {
  QString path = QFileDialog::getSaveFileName(this, tr("Save Chart Image"), QString(),
                                              tr("PNG image (*.png)"), nullptr,
                                              QFileDialog::DontUseNativeDialog);
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += ".png";
  saveImage(path);
}

void StripChart::openPropertyEditor() {
  auto* dialog = new QDialog(this);
  dialog->setObjectName("StripChartProperties");
  dialog->setWindowTitle(tr("Chart Properties"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  auto* form = new QFormLayout(dialog);
  auto* title = new QLineEdit(m_chart->title(), dialog);
  title->setObjectName("title");
  auto* span = new QDoubleSpinBox(dialog);
  span->setObjectName("xSpan");
  span->setRange(1, 1e9);
  span->setDecimals(0);
  span->setValue(m_xAxisState.span);
  auto* legend = new QCheckBox(dialog);
  legend->setObjectName("legendVisible");
  legend->setChecked(m_chart->legend()->isVisible());
  auto* align = new QComboBox(dialog);
  align->setObjectName("legendAlignment");
  align->addItems({"Right", "Left", "Top", "Bottom"});
  align->setCurrentText(alignmentName(m_chart->legend()->alignment()));
  auto* cursor = new QCheckBox(dialog);
  cursor->setObjectName("dataCursor");
  cursor->setChecked(m_cursorVisible);
  // The right-hand axes, one per unit of the shown channels: their titles.
  std::vector<std::pair<std::string, QLineEdit*>> axisTitles;
  for (const UnitAxis& unit : m_unitAxes) {
    auto* edit = new QLineEdit(unit.axis->titleText(), dialog);
    edit->setObjectName(QStringLiteral("axisTitle:") + QString::fromStdString(unit.units));
    axisTitles.emplace_back(unit.units, edit);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  form->addRow(tr("Title"), title);
  form->addRow(tr("X span"), span);
  form->addRow(tr("Legend"), legend);
  form->addRow(tr("Legend position"), align);
  form->addRow(tr("Data cursor"), cursor);
  for (const auto& [units, edit] : axisTitles)
    form->addRow(tr("Axis (%1) title").arg(QString::fromStdString(units)), edit);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  connect(dialog, &QDialog::accepted, this, [=, this] {
    m_chart->setTitle(title->text());
    setXSpan(span->value());
    m_chart->legend()->setVisible(legend->isChecked());
    Qt::Alignment a = Qt::AlignRight;
    alignmentFromName(align->currentText(), a);
    m_chart->legend()->setAlignment(a);
    setDataCursorVisible(cursor->isChecked());
    for (const auto& [units, edit] : axisTitles)
      for (const UnitAxis& unit : m_unitAxes)
        if (unit.units == units) {
          const QString text = edit->text().trimmed().isEmpty() ? QString::fromStdString(units) : edit->text();
          unit.axis->setTitleText(text);
          rememberAxis(unit, &text);
        }
  });
  dialog->open();
}

// ---- Properties file ----

bool StripChart::SaveProperties(const std::string& path) {
  QSettings s(QString::fromStdString(path), QSettings::IniFormat);
  s.clear();
  s.beginGroup("Chart");
  s.setValue("Title", m_chart->title());
  s.setValue("TitleColor", m_chart->titleBrush().color().name());
  s.setValue("BackgroundColor", m_background.name());
  s.setValue("PlotBackgroundColor", m_plotBackground.name());
  s.setValue("HistorySamples", qulonglong(m_history.limit()));
  s.endGroup();
  s.beginGroup("Legend");
  s.setValue("Visible", m_chart->legend()->isVisible());
  s.setValue("Alignment", alignmentName(m_chart->legend()->alignment()));
  s.setValue("LabelColor", m_chart->legend()->labelColor().name());
  s.endGroup();
  s.beginGroup("XAxis0");
  s.setValue("TrackingStyle", trackingStyleName(m_xAxisState.style));
  s.setValue("Span", m_xAxisState.span);
  s.endGroup();
  s.beginGroup("YAxis0");
  s.setValue("TrackingStyle", trackingStyleName(m_yAxisState.style));
  s.setValue("Min", m_yAxis->min());
  s.setValue("Max", m_yAxis->max());
  s.endGroup();
  // The right-hand axes: those drawn now, and those last drawn before.
  for (const UnitAxis& unit : m_unitAxes) rememberAxis(unit);
  s.setValue("RightAxes/Count", qulonglong(m_axisLooks.size()));
  for (size_t i = 0; i < m_axisLooks.size(); ++i) {
    const auto& [units, look] = m_axisLooks[i];
    s.beginGroup(QStringLiteral("RightAxis%1").arg(i));
    s.setValue("Units", QString::fromStdString(units));
    s.setValue("Title", look.title);
    s.setValue("Min", look.min);
    s.setValue("Max", look.max);
    s.endGroup();
  }
  s.beginGroup("ToolBar0");
  s.setValue("Visible", !m_toolBar->isHidden());
  s.setValue("ShowEditButton", m_editAction->isVisible());
  s.endGroup();
  s.beginGroup("DataCursor");
  s.setValue("Visible", m_cursorVisible);
  s.endGroup();
  s.setValue("Channels/Count", ChannelCount());
  for (int i = 0; i < ChannelCount(); ++i) {
    s.beginGroup(QStringLiteral("Channel%1").arg(i));
    s.setValue("Title", QString::fromStdString(m_channels[size_t(i)]->title));
    s.setValue("Color", m_channels[size_t(i)]->colour.name());
    s.endGroup();
  }
  s.sync();
  return s.status() == QSettings::NoError;
}

bool StripChart::LoadProperties(const std::string& path) {
  QString file = QString::fromStdString(path);
  QFileInfo info(file);
  if (!info.isFile() || !info.isReadable()) return false;
  QSettings s(file, QSettings::IniFormat);
  if (s.status() != QSettings::NoError) return false;

  auto colour = [&](const char* key, const QColor& fallback) {
    QColor c(s.value(key).toString());
    return c.isValid() ? c : fallback;
  };
  auto style = [&](const char* key, TrackingStyle fallback) {
    TrackingStyle st = fallback;
    trackingStyleFromName(s.value(key).toString(), st);
    return st;
  };
  bool ok = false;

  s.beginGroup("Chart");
  if (s.contains("Title")) m_chart->setTitle(s.value("Title").toString());
  m_chart->setTitleBrush(colour("TitleColor", m_chart->titleBrush().color()));
  setBackgroundColor(colour("BackgroundColor", m_background));
  setPlotBackgroundColor(colour("PlotBackgroundColor", m_plotBackground));
  // Files of earlier versions hold "HistoryCap", the small limit of a history that was
  // then a few hours long; it is not taken over.
  qulonglong cap = s.value("HistorySamples").toULongLong(&ok);
  if (ok && cap >= 2) setHistoryCap(size_t(cap));
  s.endGroup();

  s.beginGroup("Legend");
  if (s.contains("Visible")) m_chart->legend()->setVisible(s.value("Visible").toBool());
  Qt::Alignment a;
  if (alignmentFromName(s.value("Alignment").toString(), a)) m_chart->legend()->setAlignment(a);
  m_chart->legend()->setLabelColor(colour("LabelColor", m_chart->legend()->labelColor()));
  s.endGroup();

  s.beginGroup("XAxis0");
  m_xAxisState.style = style("TrackingStyle", m_xAxisState.style);
  double span = s.value("Span").toDouble(&ok);
  if (ok) setXSpan(span);
  s.endGroup();

  s.beginGroup("YAxis0");
  m_yAxisState.style = style("TrackingStyle", m_yAxisState.style);
  bool okMin = false, okMax = false;
  double yMin = s.value("Min").toDouble(&okMin), yMax = s.value("Max").toDouble(&okMax);
  if (okMin && okMax && yMax > yMin) setAxisRange(m_yAxis, yMin, yMax);
  s.endGroup();

  const qulonglong rightAxes = std::min(s.value("RightAxes/Count").toULongLong(), qulonglong(64));
  for (qulonglong i = 0; i < rightAxes; ++i) {
    s.beginGroup(QStringLiteral("RightAxis%1").arg(i));
    const std::string units = s.value("Units").toString().toStdString();
    AxisLook look = axisLook(units);
    look.title = s.value("Title").toString();
    bool okLo = false, okHi = false;
    const double lo = s.value("Min").toDouble(&okLo), hi = s.value("Max").toDouble(&okHi);
    if (okLo && okHi && hi > lo && std::isfinite(lo) && std::isfinite(hi)) look.min = lo, look.max = hi;
    std::erase_if(m_axisLooks, [&](const auto& kept) { return kept.first == units; });
    m_axisLooks.emplace_back(units, look);
    for (const UnitAxis& unit : m_unitAxes)
      if (unit.units == units) {
        unit.axis->setTitleText(look.title.isEmpty() ? QString::fromStdString(units) : look.title);
        setAxisRange(unit.axis, look.min, look.max);
      }
    s.endGroup();
  }

  s.beginGroup("ToolBar0");
  if (s.contains("Visible")) m_toolBar->setVisible(s.value("Visible").toBool());
  if (s.contains("ShowEditButton")) m_editAction->setVisible(s.value("ShowEditButton").toBool());
  s.endGroup();

  if (s.contains("DataCursor/Visible")) setDataCursorVisible(s.value("DataCursor/Visible").toBool());

  int count = std::min(s.value("Channels/Count").toInt(), ChannelCount());
  for (int i = 0; i < count; ++i) {
    s.beginGroup(QStringLiteral("Channel%1").arg(i));
    Channel& ch = *m_channels[size_t(i)];
    if (s.contains("Title")) SetChannelTitle(i, s.value("Title").toString().toStdString());
    QColor c = colour("Color", ch.colour);
    ch.colour = c;
    QPen pen = ch.series->pen();
    pen.setColor(c);
    ch.series->setPen(pen);
    s.endGroup();
  }
  markDirty();
  return true;
}

}  // namespace chart
