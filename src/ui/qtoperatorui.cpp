#include "ui/qtoperatorui.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStringList>

namespace ui {

void QtOperatorUi::beep() { QApplication::beep(); }

void QtOperatorUi::messageBox(const std::string& caption, const std::string& text, std::function<void()> closed) {
  if (messageBoxHook) {
    messageBoxHook(caption, text);
    if (closed) closed();
    return;
  }
  // open() instead of exec(): the box is window-modal, but no event loop runs inside the
  // caller, so a tick that raised it returns and the next ticks read and record as usual.
  auto* box = new QMessageBox(QMessageBox::Warning, QString::fromStdString(caption), QString::fromStdString(text),
                              QMessageBox::Ok, m_main);
  box->setObjectName(QStringLiteral("WarningBox"));
  box->setTextFormat(Qt::PlainText);
  box->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(box, &QDialog::finished, box, [closed = std::move(closed)] {
    if (closed) closed();
  });
  box->open();
}

void QtOperatorUi::question(const std::string& caption, const std::string& text,
                            std::function<void(bool ok)> answered) {
  if (questionHook) {
    const bool ok = questionHook(caption, text);
    if (answered) answered(ok);
    return;
  }
  auto* box = new QMessageBox(QMessageBox::Question, QString::fromStdString(caption), QString::fromStdString(text),
                              QMessageBox::Ok | QMessageBox::Cancel, m_main);
  box->setObjectName(QStringLiteral("QuestionBox"));
  box->setTextFormat(Qt::PlainText);
  box->setDefaultButton(QMessageBox::Cancel);
  box->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(box, &QDialog::finished, box, [box, answered = std::move(answered)](int) {
    if (answered) answered(box->clickedButton() == box->button(QMessageBox::Ok));
  });
  box->open();
}

std::optional<std::string> QtOperatorUi::openFile(const app::FileDialogSpec& def) {
  return runFileDialog(def, false);
}

std::optional<std::string> QtOperatorUi::saveFile(const app::FileDialogSpec& def) {
  return runFileDialog(def, true);
}

std::optional<std::string> QtOperatorUi::runFileDialog(const app::FileDialogSpec& def, bool save) {
  if (fileDialogHook) return fileDialogHook(def, save);
  QFileDialog dialog(m_main, QString::fromStdString(def.title),
                     m_lastDir.isEmpty() ? QDir::currentPath() : m_lastDir, qtFilter(def.filter));
  // Qt's own dialog stays in this process, where assistive technology reaches it.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(suffixOf(def.defaultSuffix));
  // A name typed without a suffix takes that of the filter chosen ("*.nc" gives ".nc");
  // a filter for all files leaves the default as it is.
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(filter);
    if (m.hasMatch()) dialog.setDefaultSuffix(m.captured(1));
  });
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !def.confirmOverwrite);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  m_lastDir = QFileInfo(files.first()).absolutePath();
  return files.first().toStdString();
}

void QtOperatorUi::showDialog(app::Dialog which, bool show) {
  QWidget* w = dialog(which);
  if (!w) return;
  if (!show) {
    w->hide();
    return;
  }
  if (which == app::Dialog::MemoryFull && m_main) {
    w->adjustSize();
    const QRect frame = m_main->frameGeometry();
    w->move(frame.center() - QPoint(w->width() / 2, w->height() / 2));
  }
  w->show();
  w->raise();
  w->activateWindow();
}

void QtOperatorUi::attach(QWidget* mainWindow, QWidget* form2, QWidget* selectHostPort,
                          QWidget* password) {
  m_main = mainWindow;
  m_form2 = form2;
  m_selectHostPort = selectHostPort;
  m_password = password;
}

QWidget* QtOperatorUi::dialog(app::Dialog which) const {
  switch (which) {
    case app::Dialog::MemoryFull: return m_form2;
    case app::Dialog::SelectHostPort: return m_selectHostPort;
    case app::Dialog::Password: return m_password;
  }
  return nullptr;
}

QString QtOperatorUi::qtFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList out;
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    const QString given = i + 1 < parts.size() ? parts[i + 1].trimmed() : QString();
    if (description.isEmpty() && given.isEmpty()) continue;
    QString pattern = given;
    pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
    pattern = pattern.simplified();
    if (pattern.isEmpty()) pattern = QStringLiteral("*");
    // A description that already names its pattern keeps its words, in Qt's list form.
    const QString givenTail = QLatin1Char('(') + given + QLatin1Char(')');
    if (!given.isEmpty() && description.endsWith(givenTail)) {
      description.chop(givenTail.size());
      description = description.trimmed();
    }
    const QString tail = QLatin1Char('(') + pattern + QLatin1Char(')');
    out << (description.isEmpty() ? tail : description + QLatin1Char(' ') + tail);
  }
  return out.join(QStringLiteral(";;"));
}

QString QtOperatorUi::suffixOf(const std::string& defaultExtension) {
  QString s = QString::fromStdString(defaultExtension).trimmed();
  if (s.startsWith(QLatin1Char('*'))) s.remove(0, 1);
  if (s.startsWith(QLatin1Char('.'))) s.remove(0, 1);
  return s;
}

}  // namespace ui
