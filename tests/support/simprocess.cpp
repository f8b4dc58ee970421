#include "support/simprocess.h"

#ifndef MARU_TOOL_PATH
#define MARU_TOOL_PATH ""
#endif

namespace testsupport {

SimProcess::SimProcess(const QStringList& args) {
  m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  m_process.start(QStringLiteral(MARU_TOOL_PATH), QStringList{"sim"} + args);
  if (!m_process.waitForStarted(5000)) return;
  QByteArray out;
  while (!out.contains('\n') && m_process.waitForReadyRead(5000)) out += m_process.readAllStandardOutput();
  const int end = out.indexOf('\n');
  if (end > 0) m_path = out.left(end).trimmed().toStdString();
}

SimProcess::~SimProcess() {
  if (m_process.state() == QProcess::NotRunning) return;
  m_process.terminate();
  if (!m_process.waitForFinished(3000)) {
    m_process.kill();
    m_process.waitForFinished(1000);
  }
}

ToolRun runMaru(const QStringList& args, const QProcessEnvironment& env, int timeoutMs) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(MARU_TOOL_PATH), args);
  ToolRun r;
  if (!p.waitForFinished(timeoutMs)) return r;
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

}  // namespace testsupport
