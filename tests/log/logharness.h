#pragma once
// What the logger's tests run: `maru log`, virtual meters, a mosquitto broker and its
// subscribers as child processes, and the files the logger writes, read back.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/testfiles.h"

namespace logtest {

QString q(const std::string& text);
using testsupport::example;

/// Turns the event loop until `done()` holds or `timeoutMs` passed; the last `done()`.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

/// A child process whose output is collected as it comes. Ended (SIGTERM, then SIGKILL)
/// when the object goes away.
class Child {
 public:
  Child(const QString& program, const QStringList& args,
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return m_started; }
  qint64 pid() const { return m_process.processId(); }
  bool running();
  void signal(int number);
  /// Waits for the end; false when it did not end within `timeoutMs`.
  bool waitFinished(int timeoutMs = 10000);
  /// The exit status after a normal end; -1 after a crash or a signal.
  int exitCode() const;
  const std::string& out();
  const std::string& err();
  /// Waits until stdout (stderr) holds `text` `times` times.
  bool waitForOut(const std::string& text, int timeoutMs, int times = 1);
  bool waitForErr(const std::string& text, int timeoutMs, int times = 1);

 private:
  QProcess m_process;
  bool m_started = false;
  std::string m_out, m_err;
};

/// `maru <args>` as a child.
std::unique_ptr<Child> startMaru(const QStringList& args,
                                 const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

/// The arguments of a deterministic virtual meter with the FLCD device file: the same
/// seed, rate and start time always give the same lines.
QStringList meterArgs(int seed, double rate, const std::string& startTime = "12/08/26 04:44:00");

/// The first lines a meter with `args` sends, read straight from its pty (no logger in
/// between). Start it early: the meter's lines wait in its pty until read.
class ReferenceMeter {
 public:
  explicit ReferenceMeter(const QStringList& args);
  ~ReferenceMeter();
  /// The first `count` lines, each without CR LF; fewer when they did not come in 20 s.
  std::vector<std::string> lines(size_t count);

 private:
  std::unique_ptr<Child> m_sim;
  int m_fd = -1;
  std::string m_bytes;
};

/// Occurrences of `text` in `in`.
int countOf(const std::string& in, const std::string& text);
/// The lines of a file, each without CR LF.
std::vector<std::string> fileLines(const std::string& path);
/// Whether `recorded` is, in order, a run of each meter's last lines, at least one of
/// each: what a logger takes from meters it meets in mid-stream (what a meter sent before
/// the port was opened is gone, as on a real line).
::testing::AssertionResult areTailsOf(std::vector<std::string> recorded,
                                      const std::vector<std::vector<std::string>>& meters);
/// `line` cut at `separator`.
std::vector<std::string> split(const std::string& line, char separator);
/// A free TCP (or UDP) port on 127.0.0.1.
int freePort(bool udp = false);

/// What a broker asks of its clients: a login and TLS ("" for none).
struct BrokerSecurity {
  std::string user, password;  ///< the one account of its password file; user "": anonymous
  std::string cafile, certfile, keyfile;  ///< its CA and its own certificate; "": plain TCP
  std::string clientCert, clientKey;      ///< with these, it wants a client certificate (the
                                          ///< subscribers show these)
};

/// A mosquitto broker on a free localhost port.
class Broker {
 public:
  Broker();
  /// With a login and/or TLS; its configuration goes into `folder`, with `more` lines
  /// (persistence in `folder`, a bridge) at its end.
  Broker(const BrokerSecurity& security, const std::string& folder, const std::string& more = {});
  ~Broker();
  /// Started and taking connections.
  bool up() const { return m_up; }
  int port() const { return m_port; }
  /// The running broker's process id; 0 when it is not running.
  qint64 pid() const { return m_process ? m_process->pid() : 0; }
  void stop();
  /// Stops and starts it again on the same port (it forgets retained messages).
  bool restart();
  /// What it logged so far (connections, refusals, TLS errors).
  std::string log();
  /// The mosquitto_sub arguments that log in to it: host, port, and its login and CA.
  QStringList clientArgs() const;

 private:
  bool start();
  int m_port = 0;
  bool m_up = false;
  BrokerSecurity m_security;
  std::string m_config;  // "": the defaults and -p
  std::string m_log;     // of the processes before the one running
  std::unique_ptr<Child> m_process;
};

/// One message as `mosquitto_sub -F "%r %t %p"` prints it.
struct MqttMessage {
  bool retained = false;
  std::string topic, payload;
};

/// A mosquitto_sub on `topic` of the broker.
class Subscriber {
 public:
  /// `extra`: more mosquitto_sub arguments (QoS, a lasting session).
  Subscriber(const Broker& broker, const std::string& topic, const QStringList& extra = {});
  std::vector<MqttMessage> messages();
  /// Waits until `count` messages on `topic` came.
  bool waitFor(const std::string& topic, size_t count, int timeoutMs);
  std::vector<MqttMessage> on(const std::string& topic);

 private:
  Child m_process;
};

}  // namespace logtest
