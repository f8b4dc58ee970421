#include "support/ptypeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

PtyPeer::PtyPeer() {
  int slave = -1;
  char name[256] = {};
  if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    std::abort();
  }
  termios t{};
  tcgetattr(slave, &t);
  cfmakeraw(&t);
  tcsetattr(slave, TCSANOW, &t);
  tcgetattr(m_master, &t);
  cfmakeraw(&t);
  tcsetattr(m_master, TCSANOW, &t);
  // A child the test starts (a broker, a meter) must not inherit the master: a hang-up
  // closes the last copy of it.
  ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  m_slaveKeep = slave;
  m_slavePath = name;
}

PtyPeer::~PtyPeer() {
  hangUp();
  if (m_slaveKeep >= 0) ::close(m_slaveKeep);
}

void PtyPeer::send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size() && m_master >= 0) {
    ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;
    }
    done += static_cast<size_t>(n);
  }
}

static bool waitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0 && (p.revents & POLLIN);
}

std::string PtyPeer::receive(int timeoutMs, int quietMs) {
  std::string out;
  if (m_master < 0) return out;
  QElapsedTimer clock;
  clock.start();
  // Keep the program's event loop turning while we wait: its writes may be queued.
  while (clock.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (waitReadable(m_master, 5)) break;
  }
  for (;;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!waitReadable(m_master, quietMs)) break;
    char buf[4096];
    ssize_t n = ::read(m_master, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

std::string PtyPeer::receiveBytes(size_t expected, int timeoutMs) {
  std::string out;
  QElapsedTimer clock;
  clock.start();
  while (out.size() < expected && clock.elapsed() < timeoutMs && m_master >= 0) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!waitReadable(m_master, 5)) continue;
    char buf[4096];
    ssize_t n = ::read(m_master, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

void PtyPeer::hangUp() {
  if (m_master >= 0) ::close(m_master);
  m_master = -1;
}

void pumpEvents(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
}

}  // namespace testsupport
