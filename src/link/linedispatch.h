#pragma once
// Framing, then the data-line decoder or the reply parser: every received line becomes
// one plain value that the front ends (the window, the converter, the logger) consume.
#include <functional>
#include <string>
#include <string_view>

#include "link/lineassembler.h"
#include "link/meterprotocol.h"
#include "measure/datalinedecoder.h"
#include "measure/deviceconfig.h"
#include "measure/engunits.h"
#include "measure/sample.h"

namespace meterlink {

/// What the meter's lines tell: the device-file configuration they are read with, the
/// latest accepted sample with its clock and engineering values, and the meter's setup.
struct MeterState {
  measure::DeviceConfig config;
  measure::SampleState sample;
  measure::MeterClock clock;
  measure::EngValues eng;
  MeterSetup meter;
};

/// One received line, as the dispatch took it.
struct Line {
  enum class Kind { Sample, Reply };
  Kind kind = Kind::Reply;
  std::string_view text;        ///< as framed (no CR or LF); valid during the call only
  int correctionsSkipped = 0;   ///< Sample: measure::CorrectionSkipped bits
  /// Reply: the fields of a numeric data line that does not fit the device file in force
  /// (another meter's, or lines run together); 0 for any other line.
  int unfitFields = 0;
  ReplyEffects reply;           ///< Reply: what the reply parser found and set
};

/// Frames bytes into lines and decides each: a data line (decoded, corrected and
/// converted into the state's sample, clock and engineering values) or a reply (parsed
/// into the state's meter setup and clock). The handler then sees the line as a value.
class LineDispatch {
 public:
  using LineHandler = std::function<void(const Line&)>;

  /// `state` must outlive the dispatch. `warn` receives the mismatch warning; `hostClock`
  /// stamps the host time when the meter time is learned.
  LineDispatch(MeterState& state, measure::WarningSink warn, measure::HostClock hostClock);

  void setLineHandler(LineHandler handler) { m_onLine = std::move(handler); }
  /// Called once per over-long line (see LineAssembler).
  void setOverflowHandler(std::function<void()> handler);

  /// While a device file is in force, only lines that fit it are data; without one,
  /// every line is (and no reply is parsed).
  bool deviceFileInForce = false;
  bool refCorrection = false;
  bool tempCorrection = false;

  /// Feeds received bytes; complete lines are dispatched at once, in order.
  void feed(const char* bytes, size_t count) { m_framer.feed(bytes, count); }
  /// Dispatches one complete line as if it had been framed.
  void dispatch(std::string_view line);
  const std::string& pending() const { return m_framer.pending(); }
  /// Forgets the line being assembled: after a port is (re)opened its rest never comes.
  void dropPending() { m_framer.dropPending(); }

 private:
  MeterState& m_state;
  measure::HostClock m_hostClock;
  measure::DataLineDecoder m_decoder;
  LineAssembler m_framer;
  LineHandler m_onLine;
};

}  // namespace meterlink
