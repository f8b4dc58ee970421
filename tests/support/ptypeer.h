#pragma once
// A test plays the meter on the master side of a real pseudo-terminal; the program
// opens the slave path exactly as it would open a USB serial adapter. Waiting turns the Qt
// event loop, so these helpers need a QCoreApplication (tests/support/coretestmain.cpp).
#include <string>

#include "support/testfiles.h"

namespace testsupport {

class PtyPeer {
 public:
  /// Opens a new pseudo-terminal in raw mode. Aborts the test run if none can be had.
  PtyPeer();
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  /// Path of the slave side, e.g. /dev/pts/7.
  const std::string& slavePath() const { return m_slavePath; }
  int masterFd() const { return m_master; }
  /// The slave side this peer keeps open; its terminal settings are the ones the program set.
  int slaveFd() const { return m_slaveKeep; }

  /// Writes all bytes to the master side (what the meter sends).
  void send(const std::string& bytes);
  /// Reads what the program wrote, waiting up to timeoutMs for the first byte and
  /// then collecting whatever follows within quietMs.
  std::string receive(int timeoutMs = 1000, int quietMs = 50);
  /// Reads until `expected` bytes arrived or timeoutMs passed.
  std::string receiveBytes(size_t expected, int timeoutMs = 2000);
  /// Closes the master side, as when the adapter is pulled.
  void hangUp();
  bool isOpen() const { return m_master >= 0; }

 private:
  int m_master = -1;
  int m_slaveKeep = -1;  // held open so the pty survives until the program opens it
  std::string m_slavePath;
};

/// Pumps the Qt event loop for about ms milliseconds (lets serial notifiers run).
void pumpEvents(int ms);

}  // namespace testsupport
