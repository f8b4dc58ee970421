#include "log/logharness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <csignal>

#include "support/testfiles.h"

namespace logtest {

QString q(const std::string& text) { return QString::fromStdString(text); }


bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(20);
  }
  return true;
}

// ------------------------------------------------------------------------------ Child

Child::Child(const QString& program, const QStringList& args, const QProcessEnvironment& env) {
  m_process.setProcessEnvironment(env);
  m_process.start(program, args);
  m_started = m_process.waitForStarted(5000);
}

Child::~Child() {
  if (m_process.state() == QProcess::NotRunning) return;
  m_process.terminate();
  if (!m_process.waitForFinished(3000)) {
    m_process.kill();
    m_process.waitForFinished(1000);
  }
}

bool Child::running() {
  QCoreApplication::processEvents();
  return m_process.state() == QProcess::Running;
}

void Child::signal(int number) {
  if (m_process.state() == QProcess::Running) ::kill(static_cast<pid_t>(m_process.processId()), number);
}

bool Child::waitFinished(int timeoutMs) {
  if (m_process.state() == QProcess::NotRunning) return true;
  return m_process.waitForFinished(timeoutMs);
}

int Child::exitCode() const {
  return m_process.state() == QProcess::NotRunning && m_process.exitStatus() == QProcess::NormalExit
             ? m_process.exitCode()
             : -1;
}

const std::string& Child::out() {
  m_out += m_process.readAllStandardOutput().toStdString();
  return m_out;
}

const std::string& Child::err() {
  m_err += m_process.readAllStandardError().toStdString();
  return m_err;
}

bool Child::waitForOut(const std::string& text, int timeoutMs, int times) {
  return waitUntil([&] { return countOf(out(), text) >= times; }, timeoutMs);
}

bool Child::waitForErr(const std::string& text, int timeoutMs, int times) {
  return waitUntil([&] { return countOf(err(), text) >= times; }, timeoutMs);
}

std::unique_ptr<Child> startMaru(const QStringList& args, const QProcessEnvironment& env) {
  return std::make_unique<Child>(QString(MARU_TOOL), args, env);
}

QStringList meterArgs(int seed, double rate, const std::string& startTime) {
  return {"sim",    "--dev",  q(example("flcd.dev")), "--seed",       QString::number(seed), "--rate",
          QString::number(rate), "--baud", "57600",    "--start-time", q(startTime)};
}

// --------------------------------------------------------------------- ReferenceMeter

ReferenceMeter::ReferenceMeter(const QStringList& args) {
  m_sim = startMaru(args);
  if (!m_sim->waitForOut("\n", 5000)) return;
  const std::string path = m_sim->out().substr(0, m_sim->out().find('\n'));
  m_fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

ReferenceMeter::~ReferenceMeter() {
  if (m_fd >= 0) ::close(m_fd);
}

std::vector<std::string> ReferenceMeter::lines(size_t count) {
  QElapsedTimer timer;
  timer.start();
  while (m_fd >= 0 && testsupport::splitLines(m_bytes).size() < count && timer.elapsed() < 20000) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n > 0) m_bytes.append(buffer, static_cast<size_t>(n));
  }
  std::vector<std::string> all = testsupport::splitLines(m_bytes);
  if (all.size() > count) all.resize(count);
  return all;
}

// ---------------------------------------------------------------------------- helpers

int countOf(const std::string& in, const std::string& text) {
  int n = 0;
  for (size_t at = in.find(text); at != std::string::npos; at = in.find(text, at + text.size())) ++n;
  return n;
}

::testing::AssertionResult areTailsOf(std::vector<std::string> recorded,
                                      const std::vector<std::vector<std::string>>& meters) {
  for (auto meter = meters.rbegin(); meter != meters.rend(); ++meter) {
    size_t taken = 0;
    while (taken < meter->size() && taken < recorded.size() &&
           recorded[recorded.size() - 1 - taken] == (*meter)[meter->size() - 1 - taken])
      ++taken;
    if (taken == 0)
      return ::testing::AssertionFailure() << "meter " << (meters.rend() - meter) << ": its last line is not where "
                                           << "it belongs (" << recorded.size() << " lines left)";
    recorded.resize(recorded.size() - taken);
  }
  if (!recorded.empty()) return ::testing::AssertionFailure() << recorded.size() << " lines no meter sent, e.g. " << recorded.back();
  return ::testing::AssertionSuccess();
}

std::vector<std::string> fileLines(const std::string& path) { return testsupport::splitLines(testsupport::readFile(path)); }

std::vector<std::string> split(const std::string& line, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end; (end = line.find(separator, start)) != std::string::npos; start = end + 1)
    parts.push_back(line.substr(start, end - start));
  parts.push_back(line.substr(start));
  return parts;
}

int freePort(bool udp) {
  const int s = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(s);
  return port;
}

// ----------------------------------------------------------------------------- Broker

namespace {

bool acceptsConnections(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(s);
  return ok;
}

}  // namespace

Broker::Broker() : m_port(freePort()) { m_up = start(); }

Broker::Broker(const BrokerSecurity& security, const std::string& folder, const std::string& more)
    : m_port(freePort()), m_security(security), m_config(folder + "/mosquitto.conf") {
  std::string config = "listener " + std::to_string(m_port) + " 127.0.0.1\n";
  // As whoever runs the tests: as root it would become "mosquitto" and not read our files.
  if (const passwd* me = ::getpwuid(::geteuid())) config += std::string("user ") + me->pw_name + "\n";
  if (security.user.empty()) {
    config += "allow_anonymous true\n";
  } else {
    const std::string passwords = folder + "/mosquitto.passwd";
    QProcess make;
    make.start("mosquitto_passwd", {"-b", "-c", q(passwords), q(security.user), q(security.password)});
    if (!make.waitForFinished(10000) || make.exitCode() != 0) return;
    config += "allow_anonymous false\npassword_file " + passwords + "\n";
  }
  if (!security.cafile.empty())
    config += "cafile " + security.cafile + "\ncertfile " + security.certfile + "\nkeyfile " + security.keyfile + "\n";
  if (!security.clientCert.empty()) config += "require_certificate true\n";
  config += more;
  testsupport::writeFile(m_config, config);
  m_up = start();
}

Broker::~Broker() { stop(); }

bool Broker::start() {
  const QStringList args = m_config.empty() ? QStringList{"-p", QString::number(m_port)} : QStringList{"-c", q(m_config)};
  m_process = std::make_unique<Child>("mosquitto", args);
  if (!m_process->started()) return false;
  return waitUntil([this] { return acceptsConnections(m_port); }, 10000);
}

void Broker::stop() {
  if (!m_process) return;
  m_process->signal(SIGTERM);
  m_process->waitFinished(5000);
  m_log += m_process->err();
  m_process.reset();
  m_up = false;
}

std::string Broker::log() { return m_log + (m_process ? m_process->err() : std::string()); }

QStringList Broker::clientArgs() const {
  QStringList args{"-h", "127.0.0.1", "-p", QString::number(m_port)};
  if (!m_security.user.empty()) args << "-u" << q(m_security.user) << "-P" << q(m_security.password);
  if (!m_security.cafile.empty()) args << "--cafile" << q(m_security.cafile);
  if (!m_security.clientCert.empty()) args << "--cert" << q(m_security.clientCert) << "--key" << q(m_security.clientKey);
  return args;
}

bool Broker::restart() {
  stop();
  m_up = start();
  return m_up;
}

// ------------------------------------------------------------------------- Subscriber

Subscriber::Subscriber(const Broker& broker, const std::string& topic, const QStringList& extra)
    : m_process("mosquitto_sub", broker.clientArgs() + extra + QStringList{"-v", "-F", "%r %t %p", "-t", q(topic)}) {}

std::vector<MqttMessage> Subscriber::messages() {
  std::vector<MqttMessage> all;
  for (const std::string& line : testsupport::splitLines(m_process.out())) {
    const size_t first = line.find(' ');
    const size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second == std::string::npos) continue;
    all.push_back({line.substr(0, first) == "1", line.substr(first + 1, second - first - 1), line.substr(second + 1)});
  }
  return all;
}

std::vector<MqttMessage> Subscriber::on(const std::string& topic) {
  std::vector<MqttMessage> found;
  for (MqttMessage& m : messages())
    if (m.topic == topic) found.push_back(std::move(m));
  return found;
}

bool Subscriber::waitFor(const std::string& topic, size_t count, int timeoutMs) {
  return waitUntil([&] { return on(topic).size() >= count; }, timeoutMs);
}

}  // namespace logtest
