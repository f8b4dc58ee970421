#include "sim/ptymeter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <util.h>
#else
#include <pty.h>
#endif

namespace sim {

namespace {

bool makeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

PtyMeter::~PtyMeter() { closeAll(); }

void PtyMeter::closeAll() {
  if (m_master >= 0) ::close(m_master);
  if (m_slave >= 0) ::close(m_slave);
  m_master = m_slave = -1;
}

bool PtyMeter::open(std::string& error) {
  closeAll();
  char name[256] = {};
  if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  if (!makeRaw(m_slave) || !makeRaw(m_master)) {
    error = std::string("cannot set raw mode: ") + std::strerror(errno);
    closeAll();
    return false;
  }
  ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
  ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
  ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
  m_slavePath = name;
  return true;
}

void PtyMeter::send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;  // full (nobody reads) or gone: the rest is lost, as on a real line
  }
  m_sent += done;
  m_lost += bytes.size() - done;
}

int PtyMeter::run(const volatile std::sig_atomic_t& stop, double hangupAfterSeconds) {
  if (m_master < 0) return 1;
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto elapsedNs = [&] {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
  };
  const MeterModel::Nanos hangupAt =
      hangupAfterSeconds > 0 ? static_cast<MeterModel::Nanos>(hangupAfterSeconds * 1e9) : MeterModel::kNever;

  char buf[512];
  while (!stop) {
    MeterModel::Nanos now = elapsedNs();
    if (now >= hangupAt) {
      // A pulled cable: the program on the slave side sees the line hang up, after
      // everything that was due before that moment, however late this process woke.
      // A hang-up flushes what the other side has not read yet, so give a late burst a
      // moment to be taken first.
      const std::string owed = m_model.advanceTo(hangupAt);
      send(owed);
      if (!owed.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(200));
      ::close(m_master);
      m_master = -1;
      return 0;
    }
    send(m_model.advanceTo(now));

    // Sleep until the next byte or data line is due (at least 2 ms, so bytes go out
    // a few at a time, at most 50 ms, so a stop request is seen soon).
    const MeterModel::Nanos next = std::min(m_model.nextActivity(), hangupAt);
    const MeterModel::Nanos waitNs = next == MeterModel::kNever ? 50'000'000 : next - now;
    const int timeoutMs = static_cast<int>(std::clamp<MeterModel::Nanos>(waitNs / 1'000'000, 2, 50));
    pollfd p{m_master, POLLIN, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    if (r > 0 && (p.revents & POLLIN)) {
      // Bring the line up to date first, so the reply follows what was already sent.
      now = elapsedNs();
      send(m_model.advanceTo(std::min(now, hangupAt)));
      const ssize_t n = ::read(m_master, buf, sizeof buf);
      if (n > 0) m_model.receive(std::string_view(buf, static_cast<size_t>(n)));
    } else if (r > 0 && (p.revents & (POLLERR | POLLNVAL))) {
      return 1;
    }
  }
  return 0;
}

}  // namespace sim
