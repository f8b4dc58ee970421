#pragma once
// The sample rate as the window shows it: the receive ticks (55 ms each) that a window of
// samples took, the window growing with the rate (5 samples, up to 10 seconds' worth).

namespace acquire {

class RateMeter {
 public:
  static constexpr float kTickSeconds = 0.055f;

  /// Starts measuring again with the next sample ("Start Data").
  void restart() { m_count = -1; }
  /// One receive tick passed.
  void tick() { ++m_ticks; }
  /// One sample arrived; true when it completed a window and hz() is new.
  bool sample();
  /// The latest rate measured (0 before the first window).
  float hz() const { return m_hz; }
  /// Samples counted in the current window; -1 until the next sample restarts it.
  int pending() const { return m_count; }
  /// Windows completed so far.
  long measurements() const { return m_measurements; }

 private:
  int m_ticks = 0;
  int m_count = -1;
  int m_window = 5;
  int m_previous = 1;
  float m_hz = 0.0f;
  long m_measurements = 0;
};

}  // namespace acquire
