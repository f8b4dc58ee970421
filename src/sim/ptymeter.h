#pragma once
// Plays a MeterModel on the master side of a new pseudo-terminal: a program opens the
// slave path exactly as it would open a serial adapter.
#include <csignal>
#include <string>

#include "sim/metermodel.h"

namespace sim {

/// Owns the pseudo-terminal. The slave side is held open too, so the device stays while
/// no program has it open and a program may close and reopen it. Output is paced by a
/// monotonic clock: each turn sends what the line owes for the time elapsed since the
/// start, so the pace never drifts. Bytes the pseudo-terminal cannot take (nobody reads)
/// are lost, as on a real line; the meter never waits for its listener.
class PtyMeter {
 public:
  explicit PtyMeter(MeterModel& model) : m_model(model) {}
  ~PtyMeter();
  PtyMeter(const PtyMeter&) = delete;
  PtyMeter& operator=(const PtyMeter&) = delete;

  /// Creates the pseudo-terminal (raw mode on both sides). False with `error` set on failure.
  bool open(std::string& error);
  /// Path of the slave side, e.g. /dev/pts/7.
  const std::string& slavePath() const { return m_slavePath; }

  /// Plays the meter until `stop` becomes non-zero (set it from a signal handler), or
  /// until `hangupAfterSeconds` (when > 0) have passed: then the master side is closed,
  /// which a program on the slave side sees as a hang-up. Returns 0, or 1 on an I/O error.
  int run(const volatile std::sig_atomic_t& stop, double hangupAfterSeconds = 0.0);

  /// Bytes written to the master side so far, and bytes lost because it was full.
  unsigned long long bytesSent() const { return m_sent; }
  unsigned long long bytesLost() const { return m_lost; }

 private:
  void send(const std::string& bytes);
  void closeAll();

  MeterModel& m_model;
  int m_master = -1;
  int m_slave = -1;
  std::string m_slavePath;
  unsigned long long m_sent = 0;
  unsigned long long m_lost = 0;
};

}  // namespace sim
