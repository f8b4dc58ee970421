#pragma once
// Starts the virtual meter (`maru sim`) as a child process and learns its pty path.
#include <QProcess>
#include <QProcessEnvironment>
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

/// What a finished `maru` run left: exit status (-1 when it crashed or did not finish in
/// time) and its two output streams.
struct ToolRun {
  int status = -1;
  std::string out, err;
};

/// Runs `maru` with `args` to the end (at most `timeoutMs`).
ToolRun runMaru(const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                int timeoutMs = 60000);

}  // namespace testsupport
