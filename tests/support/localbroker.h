#pragma once
// A mosquitto broker on a free localhost port, started by the test (a feed keeps trying
// until it is up), and what it holds retained or is sent next.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "support/testfiles.h"

namespace testsupport {

/// Polls `done` every 50 ms until it holds or `timeoutMs` passed; calls `between` (to let
/// events run) before each look.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 10000,
                    const std::function<void()>& between = nullptr) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (between) between();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

struct LocalBroker {
  LocalBroker() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port = ntohs(address.sin_port);
    ::close(s);
    process.start("mosquitto", {"-p", QString::number(port)});
  }
  ~LocalBroker() {
    process.terminate();
    process.waitForFinished(5000);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port); }
  /// Topic -> payload of each retained message.
  std::map<std::string, std::string> retained() const {
    QProcess sub;
    sub.start("mosquitto_sub", {"-p", QString::number(port), "-t", "#", "--retained-only", "-F", "%t %p", "-W", "1"});
    sub.waitForFinished(10000);
    std::map<std::string, std::string> found;
    for (const std::string& line : splitLines(sub.readAllStandardOutput().toStdString()))
      if (const size_t space = line.find(' '); space != std::string::npos)
        found[line.substr(0, space)] = line.substr(space + 1);
    return found;
  }
  /// Starts a subscriber that takes the next message on `topic` ("%t %p" once it ends).
  void awaitOne(QProcess& sub, const std::string& topic) const {
    sub.start("mosquitto_sub", {"-p", QString::number(port), "-t", QString::fromStdString(topic), "-C", "1", "-F",
                                "%t %p", "-W", "20"});
    sub.waitForStarted(5000);
  }
  int port = 0;
  QProcess process;
};

}  // namespace testsupport
