#pragma once
// Starts the virtual meter (`maru sim`) as a child process and learns its pty path.
#include <QProcess>
#include <QStringList>
#include <string>

namespace testsupport {

class SimProcess {
 public:
  /// Starts `maru sim` with the given arguments; path() is empty when it failed.
  explicit SimProcess(const QStringList& args);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const std::string& path() const { return m_path; }
  bool running() const { return m_process.state() == QProcess::Running; }

 private:
  QProcess m_process;
  std::string m_path;
};

}  // namespace testsupport
