#include "ui/mainwindow.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <set>
#include <vector>

#include "app/viewmodel.h"
#include "ui/qtoperatorui.h"

namespace ui {

namespace {

using app::ControlSpec;
using app::Widget;

// Grid rows of each page: a cell is a control name, "name*N" spans N columns, "" is empty.
// Controls of a page that no row names are appended below, one per row.
using Grid = std::vector<std::vector<const char*>>;

const std::map<std::string, Grid>& pageGrids() {
  static const std::map<std::string, Grid> grids = {
      {"TSSetup",
       {{"", "Label2", "Label3"},
        {"", "Label1", "Label5"},
        {"BTAverage", "MEAverage", "LBAVE"},
        {"BTPacket", "MEPacket", "LBNS"},
        {"BTSample", "MESample", "LBNC"},
        {"BTInterval", "TimeInterval", "LBCI"},
        {"BTLogging", "Label6", "LBLog"},
        {"BTErase", "LBStorageUsed", "LBStorageFree"},
        {"BTGetDandT", "BTSetDandTPC", "BTGetSetup1"},
        {"BTOpen", "BTClose", "LBHz2"},
        {"BTStoreToFlash1", "BTReloadSetup1", "LBUR"}}},
      {"TSAdvanced",
       {{"", "Label14", "Label15"},
        {"", "Label13", "Label16"},
        {"BTph1onTime", "MEph1onTime", "LBph1onTime"},
        {"BTph1offTime", "MEph1offTime", "LBph1offTime"},
        {"BTph11onTime", "MEph11onTime", "LBph11onTime"},
        {"BTph11offTime", "MEph11offTime", "LBph11offTime"},
        {"BTHexDump", "MEHexDump", ""},
        {"BTGetTiming", "BTOne", "BTTimingSwap"},
        {"PowerUserPanel", "BTStoreSetup", "BTReload"}}},
      {"TSFLSetup",
       {{"", "Label32", "Label34", "Label47"},
        {"", "Label33", "Label35", "Label48"},
        {"BTAnalogRange2", "CBAnalogRange", ""},
        {"HRArrow", "LBHiRes*3"},
        {"SRArrow", "LBStdRes*3"},
        {"WRArrow", "LBWideRange*3"},
        {"BTflscale", "MEflscale", "LBuglscale", "LBDFuglscale"},
        {"BTfloffset", "MEfloffset", "LBugloffset", "LBDFugloffset"},
        {"BTCal", "", "LBCal"},
        {"BTGetSetup2", "BTStoreToFlash2", "Button22"}}},
      {"TabSheet1",
       {{"BTGetData", "BitBtnCancel", "BTErase2"},
        {"LBReceiveFile*3"},
        {"LBReceiveStatus*3"},
        {"LBReceiveFileSize*3"},
        {"PBTransfer*2", "LBTransferElapsed"}}},
      // Below the page control.
      {"main",
       {{"LBRecording*3"},
        {"LBTotalIn", "LBMARUDandT", "LBHostDandT"},
        {"LBHz1", "LBDeviceFile", "LBRecordStatus"},
        {"LBRawFileName*2", "LBRawFileSize"},
        {"LBEngrFileName*2", "LBEngrFileSize"},
        {"LBCsvFileName*2", "LBCsvFileSize"},
        {"LBNoData", "EDNoDataSeconds", "BTNoDataSeconds"},
        {"LBExportStatus", "PBExport", "BTExportCancel"},
        {"PQcValues*3"},
        {"LBQcCounts*3"}}},
  };
  return grids;
}

// Main-window controls in the column beside the page control, top to bottom; "" is a gap.
const std::vector<const char*>& sideColumn() {
  static const std::vector<const char*> names = {
      "BTStartData", "BTStopData",   "",           "BTRecordRaw", "BTRecordEngr", "BTRecordCsv", "BTStopRecord", "",
      "CBHostPort",  "CBBaudRate",   "LBPortDevice", "PCOMPort",  "PMeterType",   "PStore"};
  return names;
}

QString qs(const std::string& s) { return QString::fromStdString(s); }

// Keys for what an operator does most, on the buttons (and their tooltips) of the same names.
struct Shortcut {
  const char* name;
  QKeySequence keys;
};
const std::vector<Shortcut>& shortcuts() {
  static const std::vector<Shortcut> keys = {
      {"BTStartData", QKeySequence(Qt::Key_F5)},
      {"BTStopData", QKeySequence(Qt::Key_F6)},
      {"BTRecordRaw", QKeySequence(Qt::CTRL | Qt::Key_R)},
      {"BTRecordEngr", QKeySequence(Qt::CTRL | Qt::Key_E)},
      {"BTRecordCsv", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)},
      {"BTStopRecord", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
  };
  return keys;
}

// Labels an operator must not miss: bold and larger.
bool isProminent(const std::string& name) { return name == "LBRecording" || name == "LBNoData"; }

/// Item data role of a combo item's hint (the host port's adapter).
constexpr int kHintRole = Qt::UserRole + 1;

// Draws each item's hint after its text, in the muted colour: the items keep their own
// text, and the hint is there to read as well (also as tooltip and accessible description).
class HintDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    const QString hint = index.data(kHintRole).toString();
    if (hint.isEmpty()) return;
    const int textWidth = option.fontMetrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
    QRect area = option.rect.adjusted(textWidth + 3 * option.fontMetrics.averageCharWidth(), 0, -4, 0);
    painter->save();
    painter->setPen(option.palette.color(QPalette::Disabled, QPalette::Text));
    painter->drawText(area, Qt::AlignVCenter | Qt::AlignLeft, option.fontMetrics.elidedText(hint, Qt::ElideRight, area.width()));
    painter->restore();
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QString hint = index.data(kHintRole).toString();
    if (!hint.isEmpty()) size.rwidth() += option.fontMetrics.horizontalAdvance(hint) + 4 * option.fontMetrics.averageCharWidth();
    return size;
  }
};

// A combo box that asks for its items to be brought up to date each time its list opens.
class RefreshingComboBox : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> beforePopup;
  void showPopup() override {
    if (beforePopup) beforePopup();
    // The list is as wide as its widest item, adapter and all (the box itself may be
    // narrower): an item is never cut, and its extents stay inside the list.
    QAbstractItemView* list = view();
    int widest = 0;
    for (int row = 0; row < count(); ++row) {
      QStyleOptionViewItem option;
      option.initFrom(list);
      widest = std::max(widest, list->itemDelegate()->sizeHint(option, model()->index(row, modelColumn())).width());
    }
    const int frame = 2 * list->frameWidth() + list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    list->setMinimumWidth(widest + frame);
    QComboBox::showPopup();
  }
};

// The widget's objectName: the part after the form's name for the small windows' controls.
QString objectNameOf(const ControlSpec& def) {
  const auto dot = def.name.find('.');
  return qs(dot == std::string::npos ? def.name : def.name.substr(dot + 1));
}

bool isDialogPage(const std::string& page) {
  return page == "Form2" || page == "SelectHPForm" || page == "PasswordForm";
}

}  // namespace

MainWindow::MainWindow(app::MainForm& form, QWidget* chart, QtOperatorUi* ops, QWidget* parent)
    : QMainWindow(parent), m_form(form) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(qs(m_form.view().windowCaption));

  m_pages = new QTabWidget;
  m_pages->setObjectName(QStringLiteral("PageControl1"));
  for (const auto& [name, caption] : app::PageTable()) m_pages->addTab(buildPage(name, chart), qs(caption));
  setCentralWidget(buildMainArea(m_pages, chart));
  buildMenu();
  for (const ControlSpec& def : app::ControlTable())
    if (def.page == "dialogs") buildDialog(def);

  // Anything of the table not placed yet still gets its widget, on its page's end.
  for (const ControlSpec& def : app::ControlTable()) {
    if (def.name.empty() || m_entries.count(def.name) || def.page == "dialogs" || def.page == "menu" ||
        def.page == "menubar")
      continue;
    QWidget* host = centralWidget();
    if (auto d = m_dialogs.find(def.page); d != m_dialogs.end()) host = d->second;
    else if (QWidget* page = m_pages->findChild<QWidget*>(qs(def.page))) host = page;
    QWidget* w = makeControl(def, host, chart);
    if (host->layout()) host->layout()->addWidget(w);
  }
  for (auto& [name, entry] : m_entries) wire(name, entry);
  addShortcuts();

  connect(m_pages, &QTabWidget::currentChanged, this, [this](int index) {
    if (index >= 0) m_form.view().activePage = index;
  });

  m_timer55.setInterval(std::max(1, m_form.view().timer55IntervalMs));
  m_timer500.setInterval(500);
  m_timer1s.setInterval(1000);
  connect(&m_timer55, &QTimer::timeout, this, [this] {
    m_form.Timer55msTimer();
    sync();
  });
  connect(&m_timer500, &QTimer::timeout, this, [this] {
    m_form.Timer500msTimer();
    sync();
  });
  connect(&m_timer1s, &QTimer::timeout, this, [this] {
    m_form.Timer1SecondTimer();
    sync();
  });

  if (ops) {
    ops->attach(this, dialog("Form2"), dialog("SelectHPForm"), dialog("PasswordForm"));
  }

  resize(772, 591);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  }
  applyAll();
  sync();
}

MainWindow::~MainWindow() {
  stopTimers();
  // An edit that loses the focus as the window goes (its entry finished) tells nobody.
  for (auto& [name, entry] : m_entries)
    if (auto* e = qobject_cast<QLineEdit*>(entry.widget)) e->disconnect(this);
}

// ---- Building ----

QWidget* MainWindow::makeControl(const ControlSpec& def, QWidget* parent, QWidget* chart) {
  QWidget* w = nullptr;
  Entry entry;
  entry.def = &def;
  switch (def.kind) {
    case Widget::Button:
    case Widget::Panel: {
      auto* b = new QPushButton(qs(def.caption), parent);
      b->setAutoDefault(false);
      if (def.kind == Widget::Panel) b->setMinimumHeight(32);
      w = b;
      break;
    }
    case Widget::Label: {
      auto* l = new QLabel(qs(def.caption), parent);
      l->setTextFormat(Qt::PlainText);
      if (isProminent(def.name)) {
        QFont f = l->font();
        f.setBold(true);
        f.setPointSizeF(f.pointSizeF() * 1.25);
        l->setFont(f);
        l->setMargin(2);
      }
      // Labels filled in later keep their line, so the rows below do not jump.
      l->setMinimumHeight(l->fontMetrics().height());
      w = l;
      break;
    }
    case Widget::Edit: {
      auto* e = new QLineEdit(qs(def.caption), parent);
      e->setMaximumWidth(160);
      w = e;
      break;
    }
    case Widget::Combo: {
      auto* c = new RefreshingComboBox(parent);
      c->setItemDelegate(new HintDelegate(c));
      for (const std::string& item : def.items) c->addItem(qs(item));
      c->setPlaceholderText(qs(def.caption));
      c->setCurrentIndex(def.itemIndex < static_cast<int>(def.items.size()) ? def.itemIndex : -1);
      c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
      w = c;
      break;
    }
    case Widget::RadioGroup: {
      auto* box = new QGroupBox(qs(def.caption), parent);
      auto* grid = new QGridLayout(box);
      auto* group = new QButtonGroup(box);
      const int count = static_cast<int>(def.items.size());
      const int columns = std::max(1, def.columns);
      const int perColumn = (count + columns - 1) / columns;
      for (int i = 0; i < count; ++i) {
        auto* r = new QRadioButton(qs(def.items[static_cast<size_t>(i)]), box);
        group->addButton(r, i);
        grid->addWidget(r, perColumn ? i % perColumn : 0, perColumn ? i / perColumn : 0);
      }
      if (QAbstractButton* b = group->button(def.itemIndex)) b->setChecked(true);
      entry.group = group;
      w = box;
      break;
    }
    case Widget::Memo: {
      auto* m = new QPlainTextEdit(parent);
      m->setReadOnly(true);
      m->setMaximumBlockCount(static_cast<int>(app::ViewModel::kMemoMax));
      m->setLineWrapMode(QPlainTextEdit::NoWrap);
      m->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
      m_memo = m;
      w = m;
      break;
    }
    case Widget::Chart:
      w = chart ? chart : new QWidget;
      w->setParent(parent);
      w->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
      break;
    case Widget::ProgressBar: {
      auto* p = new QProgressBar(parent);
      p->setRange(0, 100);
      if (def.itemIndex >= 0) p->setValue(std::clamp(def.itemIndex, 0, 100));
      w = p;
      break;
    }
    case Widget::MenuItem:
    case Widget::Page:
      return nullptr;
  }
  w->setObjectName(objectNameOf(def));
  if (!def.accessibleName.empty()) {
    w->setAccessibleName(qs(def.accessibleName));
    // Qt names a combo box by its current text on some platforms; say what it holds here too.
    if (def.kind == Widget::Combo) w->setAccessibleDescription(qs(def.accessibleName));
    // A label named for its role tells what it shows as its description.
    if (def.kind == Widget::Label) w->setAccessibleDescription(qs(def.caption));
  }
  if (!def.hint.empty()) w->setToolTip(qs(def.hint));
  if (!def.visible) w->setVisible(false);
  entry.widget = w;
  m_entries[def.name] = entry;
  if (def.colour != app::kColourDefault || def.kind == Widget::Panel) applyColour(entry, def.colour);
  return w;
}

void MainWindow::fillGrid(QGridLayout* grid, const std::string& page, QWidget* parent, QWidget* chart) {
  std::map<std::string, const ControlSpec*> specs;
  for (const ControlSpec& def : app::ControlTable())
    if (def.page == page && !def.name.empty()) specs[def.name] = &def;

  int row = 0;
  int columns = 1;
  if (auto it = pageGrids().find(page); it != pageGrids().end()) {
    for (const auto& cells : it->second) {
      int column = 0;
      for (const char* cell : cells) {
        std::string name = cell;
        int span = 1;
        if (auto star = name.find('*'); star != std::string::npos) {
          span = std::stoi(name.substr(star + 1));
          name.resize(star);
        }
        if (auto s = specs.find(name); s != specs.end() && !m_entries.count(name)) {
          if (QWidget* w = makeControl(*s->second, parent, chart)) grid->addWidget(w, row, column, 1, span);
        }
        column += span;
      }
      columns = std::max(columns, column);
      ++row;
    }
  }
  for (const ControlSpec& def : app::ControlTable()) {
    if (def.page != page || def.name.empty() || m_entries.count(def.name)) continue;
    if (QWidget* w = makeControl(def, parent, chart)) grid->addWidget(w, row++, 0, 1, columns);
  }
  grid->setRowStretch(row, 1);
  grid->setColumnStretch(columns, 1);
}

QWidget* MainWindow::buildPage(const std::string& page, QWidget* chart) {
  auto* w = new QWidget;
  w->setObjectName(qs(page));
  if (page == "TSRaw" || page == "TSPlot") {
    auto* box = new QVBoxLayout(w);
    auto* options = new QHBoxLayout;
    box->addLayout(options);
    for (const ControlSpec& def : app::ControlTable()) {
      if (def.page != page || def.name.empty()) continue;
      QWidget* c = makeControl(def, w, chart);
      if (!c) continue;
      if (def.kind == Widget::Combo) {
        options->addWidget(c);
      } else {
        box->addWidget(c, 1);
      }
    }
    options->addStretch(1);
    return w;
  }
  fillGrid(new QGridLayout(w), page, w, chart);
  return w;
}

QWidget* MainWindow::buildMainArea(QWidget* tabs, QWidget* chart) {
  auto* area = new QWidget;
  auto* outer = new QVBoxLayout(area);
  auto* top = new QHBoxLayout;
  outer->addLayout(top, 1);
  top->addWidget(tabs, 1);

  auto* side = new QVBoxLayout;
  top->addLayout(side);
  std::map<std::string, const ControlSpec*> specs;
  for (const ControlSpec& def : app::ControlTable())
    if (def.page == "main") specs[def.name] = &def;
  for (const char* name : sideColumn()) {
    if (!*name) {
      side->addSpacing(12);
      continue;
    }
    if (auto s = specs.find(name); s != specs.end()) {
      QWidget* w = makeControl(*s->second, area, chart);
      w->setMinimumWidth(150);
      w->setMaximumWidth(190);
      if (auto* l = qobject_cast<QLabel*>(w)) l->setWordWrap(true);
      side->addWidget(w);
    }
  }
  side->addStretch(1);

  auto* status = new QGridLayout;
  outer->addLayout(status);
  fillGrid(status, "main", area, chart);
  status->setRowStretch(status->rowCount(), 0);
  status->setHorizontalSpacing(24);
  for (int column = 0; column < status->columnCount(); ++column) status->setColumnStretch(column, 1);
  return area;
}

void MainWindow::buildMenu() {
  QMenu* menu = nullptr;
  for (const ControlSpec& def : app::ControlTable()) {
    if (def.page == "menubar") {
      menu = menuBar()->addMenu(qs(def.caption));
      menu->setObjectName(qs(def.name));
      Entry entry;
      entry.def = &def;
      entry.action = menu->menuAction();
      entry.widget = menu;
      m_entries[def.name] = entry;
      continue;
    }
    if (def.page != "menu") continue;
    if (!menu) {
      menu = menuBar()->addMenu(QStringLiteral("&File"));
      menu->setObjectName(QStringLiteral("File1"));
    }
    if (def.name.empty()) {
      menu->addSeparator();
      continue;
    }
    QAction* a = menu->addAction(qs(def.caption));
    a->setObjectName(qs(def.name));
    a->setCheckable(def.checkable);
    a->setChecked(def.checked);
    a->setVisible(def.visible);
    Entry entry;
    entry.def = &def;
    entry.action = a;
    m_entries[def.name] = entry;
  }
}

void MainWindow::addShortcuts() {
  for (const Shortcut& s : shortcuts()) {
    QWidget* button = widget(s.name);
    if (!button) continue;
    auto* action = new QAction(this);
    action->setObjectName(qs(std::string(s.name) + "Shortcut"));
    action->setShortcut(s.keys);
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action);
    const std::string name = s.name;
    connect(action, &QAction::triggered, this, [this, name] {
      if (QWidget* b = widget(name); b && b->isEnabled()) onClick(name);
    });
    const QString keys = s.keys.toString(QKeySequence::NativeText);
    const QString tip = button->toolTip();
    button->setToolTip(tip.isEmpty() ? keys : tip + " (" + keys + ")");
    button->setAccessibleDescription(QStringLiteral("Shortcut: ") + keys);
  }
}

void MainWindow::syncRecentFiles() {
  const std::vector<app::MainForm::RecentFile> files = m_form.recentDeviceFiles();
  std::vector<std::string> paths;
  for (const auto& file : files) paths.push_back(file.path);
  if (paths == m_recentShown) return;
  m_recentShown = paths;
  auto load = m_entries.find("LoadDeviceFile1");
  if (load == m_entries.end() || !load->second.action) return;
  QAction* loadAction = load->second.action;
  QMenu* menu = qobject_cast<QMenu*>(loadAction->parent());
  if (!menu) return;
  for (QAction* old : m_recentActions) {
    menu->removeAction(old);
    old->deleteLater();
  }
  m_recentActions.clear();
  // Below "Load Device File", newest first.
  const QList<QAction*> actions = menu->actions();
  const qsizetype at = actions.indexOf(loadAction);
  QAction* before = at >= 0 && at + 1 < actions.size() ? actions[at + 1] : nullptr;
  menu->setToolTipsVisible(true);
  for (const auto& file : files) {
    QString caption = qs(file.caption);
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    auto* action = new QAction(caption, menu);
    action->setObjectName(qs(file.click));
    action->setToolTip(qs(file.path));
    action->setStatusTip(qs(file.path));
    const std::string click = file.click;
    connect(action, &QAction::triggered, this, [this, click] { onClick(click); });
    menu->insertAction(before, action);
    m_recentActions.push_back(action);
  }
}

void MainWindow::buildDialog(const ControlSpec& form) {
  auto* d = new QDialog(this);
  d->setObjectName(qs(form.name));
  d->setWindowTitle(qs(form.caption));
  d->setModal(false);
  auto* box = new QVBoxLayout(d);
  m_dialogs[form.name] = d;
  Entry self;
  self.def = &form;
  self.widget = d;
  m_entries[form.name] = self;
  for (const ControlSpec& def : app::ControlTable()) {
    if (def.page != form.name) continue;
    QWidget* w = makeControl(def, d, nullptr);
    if (!w) continue;
    if (def.kind == Widget::Button) {
      box->addWidget(w, 0, Qt::AlignHCenter);
      static_cast<QPushButton*>(w)->setMinimumWidth(80);
    } else {
      box->addWidget(w);
    }
    if (auto* l = qobject_cast<QLabel*>(w)) l->setWordWrap(form.name == "PasswordForm");
  }
  if (form.name == "Form2") {
    QFont f = d->font();
    f.setBold(true);
    if (QWidget* label = widget("Form2.Label1")) label->setFont(f);
  }
  if (form.name == "PasswordForm") {
    if (auto* e = qobject_cast<QLineEdit*>(widget("PasswordForm.MEPassword"))) {
      e->setEchoMode(QLineEdit::Password);
      // The password shows as '*' on every platform, not the style's own bullet.
      e->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    }
  }
  if (form.colour != app::kColourDefault) applyColour(self, form.colour);
}

void MainWindow::wire(const std::string& name, Entry& entry) {
  const ControlSpec& def = *entry.def;
  if (entry.action && def.page == "menu") {
    connect(entry.action, &QAction::triggered, this, [this, name] { onClick(name); });
    return;
  }
  if (!entry.widget) return;
  switch (def.kind) {
    case Widget::Button:
    case Widget::Panel:
      if (auto* b = qobject_cast<QPushButton*>(entry.widget)) {
        const std::string form = isDialogPage(def.page) ? def.page : std::string();
        connect(b, &QPushButton::clicked, this, [this, name, form] {
          if (!form.empty()) storeDialogState(form);
          onClick(name);
        });
      }
      break;
    case Widget::Edit:
      if (auto* e = qobject_cast<QLineEdit*>(entry.widget)) {
        // Every change counts, however it came: typed, pasted, or set through assistive
        // technology. Text the core wrote comes back equal and changes nothing.
        connect(e, &QLineEdit::textChanged, this, [this, name, e](const QString& text) {
          m_form.view().setText(name, text.toStdString());
          // Text set whole without the keyboard (assistive technology) is a finished entry.
          if (!e->hasFocus() && !text.isEmpty()) QTimer::singleShot(0, this, [this, name] { onEdited(name); });
        });
        // Typing is finished by Return or by leaving the field.
        connect(e, &QLineEdit::editingFinished, this, [this, name] { onEdited(name); });
      }
      break;
    case Widget::Combo:
      if (auto* c = qobject_cast<QComboBox*>(entry.widget)) {
        connect(c, &QComboBox::activated, this, [this, name](int index) { onChoice(name, index); });
        // Adapters plugged in after start show up (and take free slots) when the list opens.
        if (auto* refreshing = dynamic_cast<RefreshingComboBox*>(c); refreshing && name == "CBHostPort") {
          refreshing->beforePopup = [this] {
            m_form.RefreshHostPorts();
            sync();
          };
        }
      }
      break;
    case Widget::RadioGroup:
      if (entry.group) {
        connect(entry.group, &QButtonGroup::idClicked, this,
                [this, name](int id) { m_form.view().setItemIndex(name, id); });
      }
      break;
    default:
      break;
  }
}

// ---- Operator input ----

void MainWindow::onClick(const std::string& name) {
  // A button uses what its edits show at the moment it is pressed.
  storeEditTexts();
  m_form.click(name);
  sync();
}

void MainWindow::onEdited(const std::string& name) {
  // An edit whose entry the form takes as a whole (the meter clock zone) hears it here.
  if (m_form.changed(name)) sync();
}

void MainWindow::storeEditTexts() {
  app::ViewModel& view = m_form.view();
  for (const auto& [name, entry] : m_entries)
    if (auto* e = qobject_cast<QLineEdit*>(entry.widget)) view.setText(name, e->text().toStdString());
}

void MainWindow::onChoice(const std::string& name, int index) {
  m_form.view().setItemIndex(name, index);
  m_form.changed(name);
  sync();
}

void MainWindow::storeDialogState(const std::string& form) {
  app::ViewModel& view = m_form.view();
  for (const auto& [name, entry] : m_entries) {
    if (entry.def->page != form) continue;
    if (entry.group) view.setItemIndex(name, entry.group->checkedId());
    if (auto* e = qobject_cast<QLineEdit*>(entry.widget)) view.setText(name, e->text().toStdString());
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  stopTimers();
  m_form.CloseByFrame();
  for (auto& [name, d] : m_dialogs) d->hide();
  event->accept();
}

// ---- Timers ----

void MainWindow::startTimers() {
  m_timer55.start();
  m_timer500.start();
  m_timer1s.start();
}

void MainWindow::stopTimers() {
  m_timer55.stop();
  m_timer500.stop();
  m_timer1s.stop();
}

// ---- View model to widgets ----

QObject* MainWindow::control(const std::string& name) const {
  auto it = m_entries.find(name);
  if (it == m_entries.end()) return nullptr;
  if (it->second.widget) return it->second.widget;
  return it->second.action;
}

QWidget* MainWindow::widget(const std::string& name) const {
  auto it = m_entries.find(name);
  return it == m_entries.end() ? nullptr : it->second.widget;
}

QDialog* MainWindow::dialog(const std::string& formName) const {
  auto it = m_dialogs.find(formName);
  return it == m_dialogs.end() ? nullptr : it->second;
}

void MainWindow::sync() {
  app::ViewModel& view = m_form.view();
  for (const std::string& name : view.takeDirty()) apply(name);

  const QString caption = qs(view.windowCaption);
  if (windowTitle() != caption) setWindowTitle(caption);

  // Qt toggles a checkable action by itself when it is triggered; the view decides.
  for (const auto& [name, entry] : m_entries) {
    if (entry.action && entry.def->checkable && view.has(name)) {
      const bool checked = view.get(name).checked;
      if (entry.action->isChecked() != checked) entry.action->setChecked(checked);
    }
  }
  syncPages();
  syncMemo();
  syncRecentFiles();
  const int interval = std::max(1, view.timer55IntervalMs);
  if (m_timer55.interval() != interval) m_timer55.setInterval(interval);
}

void MainWindow::syncPages() {
  const app::ViewModel& view = m_form.view();
  const auto& pages = app::PageTable();
  for (size_t i = 0; i < pages.size(); ++i) {
    if (!view.has(pages[i].first)) continue;
    const bool visible = view.visible(pages[i].first);
    if (m_pages->isTabVisible(static_cast<int>(i)) != visible) m_pages->setTabVisible(static_cast<int>(i), visible);
  }
  if (view.pageGeneration != m_pageGeneration) {
    m_pageGeneration = view.pageGeneration;
    if (view.activePage >= 0 && view.activePage < m_pages->count()) m_pages->setCurrentIndex(view.activePage);
  }
}

void MainWindow::syncMemo() {
  const app::ViewModel& view = m_form.view();
  if (!m_memo || view.memoTotal() == m_memoShown) return;
  const auto& lines = view.memoLines();
  uint64_t missing = view.memoTotal() - m_memoShown;
  if (view.memoTotal() < m_memoShown || missing >= lines.size()) {
    // More arrived than the memo keeps (or the count went back): show what the view holds.
    m_memo->clear();
    missing = lines.size();
  }
  m_memoShown = view.memoTotal();
  if (missing == 0) return;
  QStringList text;
  for (size_t i = lines.size() - static_cast<size_t>(missing); i < lines.size(); ++i) {
    // Received bytes are shown one character each, whatever they are.
    text << QString::fromLatin1(lines[i].data(), static_cast<qsizetype>(lines[i].size()));
  }
  m_memo->appendPlainText(text.join(QLatin1Char('\n')));
}

void MainWindow::applyAll() {
  const app::ViewModel& view = m_form.view();
  for (const auto& [name, entry] : m_entries)
    if (view.has(name)) apply(name);
}

void MainWindow::apply(const std::string& name) {
  auto it = m_entries.find(name);
  if (it == m_entries.end()) return;
  const Entry& entry = it->second;
  const app::Control& c = m_form.view().get(name);
  const ControlSpec& def = *entry.def;

  if (entry.action) {
    if (entry.action->text() != qs(c.text)) entry.action->setText(qs(c.text));
    entry.action->setVisible(c.visible);
    entry.action->setEnabled(c.enabled);
    if (def.checkable) entry.action->setChecked(c.checked);
    return;
  }
  QWidget* w = entry.widget;
  if (!w) return;
  if (def.kind == Widget::Page) {
    // A small window: its caption and colour; showing it is the operator interface's work.
    if (w->windowTitle() != qs(c.text)) w->setWindowTitle(qs(c.text));
    applyColour(entry, c.colour);
    return;
  }
  if (w->isHidden() == c.visible) w->setVisible(c.visible);
  if (w->isEnabled() != c.enabled) w->setEnabled(c.enabled);
  const QString text = qs(c.text);
  switch (def.kind) {
    case Widget::Button:
    case Widget::Panel:
      if (auto* b = qobject_cast<QPushButton*>(w); b && b->text() != text) b->setText(text);
      break;
    case Widget::Label:
      if (auto* l = qobject_cast<QLabel*>(w); l && l->text() != text) {
        l->setText(text);
        if (!def.accessibleName.empty()) l->setAccessibleDescription(text);
      }
      break;
    case Widget::Edit:
      // Equal text is left alone, so the cursor of an operator typing stays where it is.
      if (auto* e = qobject_cast<QLineEdit*>(w); e && e->text() != text) e->setText(text);
      break;
    case Widget::Combo:
      if (auto* cb = qobject_cast<QComboBox*>(w)) {
        const QSignalBlocker block(cb);
        if (cb->placeholderText() != text) cb->setPlaceholderText(text);
        const int index = c.itemIndex >= 0 && c.itemIndex < cb->count() ? c.itemIndex : -1;
        if (cb->currentIndex() != index) cb->setCurrentIndex(index);
        for (int i = 0; i < cb->count(); ++i) {
          const QString hint = static_cast<size_t>(i) < c.itemHints.size() ? qs(c.itemHints[static_cast<size_t>(i)]) : QString();
          if (cb->itemData(i, kHintRole).toString() == hint) continue;
          cb->setItemData(i, hint, kHintRole);
          cb->setItemData(i, hint, Qt::ToolTipRole);
          cb->setItemData(i, hint, Qt::AccessibleDescriptionRole);
        }
      }
      break;
    case Widget::RadioGroup:
      if (entry.group) {
        if (auto* box = qobject_cast<QGroupBox*>(w); box && box->title() != text) box->setTitle(text);
        if (QAbstractButton* b = entry.group->button(c.itemIndex)) {
          b->setChecked(true);
        } else if (QAbstractButton* checked = entry.group->checkedButton()) {
          entry.group->setExclusive(false);
          checked->setChecked(false);
          entry.group->setExclusive(true);
        }
      }
      break;
    case Widget::ProgressBar:
      if (auto* p = qobject_cast<QProgressBar*>(w)) {
        // A range of 0..0 is Qt's busy bar.
        const int top = c.itemIndex == app::kProgressBusy ? 0 : 100;
        if (p->maximum() != top) p->setRange(0, top);
        if (c.itemIndex == app::kProgressBusy) break;
        if (c.itemIndex < 0) {
          p->reset();
        } else {
          p->setValue(std::clamp(c.itemIndex, p->minimum(), p->maximum()));
        }
      }
      break;
    default:
      break;
  }
  applyColour(entry, c.colour);
}

void MainWindow::applyColour(const Entry& entry, int64_t colour) {
  QWidget* w = entry.widget;
  if (!w) return;
  const ControlSpec& def = *entry.def;
  if (colour == app::kColourDefault) colour = def.colour;
  QColor c;
  const QPalette palette = QApplication::palette();
  if (colour == app::kColourButtonFace) {
    c = palette.color(QPalette::Button);
  } else if (colour == app::kColourMenu) {
    c = palette.color(QPalette::Window);
  } else if (colour >= 0) {
    c = QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
               static_cast<int>((colour >> 16) & 0xFF));
  }

  if (def.kind == Widget::Button || def.kind == Widget::Panel) {
    if (!c.isValid()) {
      if (def.kind == Widget::Button) {
        w->setStyleSheet(QString());
        return;
      }
      c = palette.color(QPalette::Button);
    }
    // A panel is a flat coloured face with a thin frame; it still acts as a button.
    const bool light = 299 * c.red() + 587 * c.green() + 114 * c.blue() > 140000;
    const QColor ink = light ? QColor(Qt::black) : QColor(Qt::white);
    w->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: %2; border: 1px solid #808080;"
                                    " padding: 4px 8px; }")
                         .arg(c.name(), ink.name()));
    return;
  }
  if (!c.isValid()) {
    w->setAutoFillBackground(false);
    w->setPalette(QPalette());
    return;
  }
  QPalette p = w->palette();
  p.setColor(QPalette::Window, c);
  // Text stays readable on any colour.
  const bool lightFace = 299 * c.red() + 587 * c.green() + 114 * c.blue() > 140000;
  p.setColor(QPalette::WindowText, lightFace ? QColor(Qt::black) : QColor(Qt::white));
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

}  // namespace ui
