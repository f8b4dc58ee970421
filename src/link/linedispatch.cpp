#include "link/linedispatch.h"

#include <algorithm>

namespace meterlink {

LineDispatch::LineDispatch(MeterState& state, measure::WarningSink warn, measure::HostClock hostClock)
    : m_state(state),
      m_hostClock(hostClock),
      m_decoder(state.config, state.sample, state.clock, std::move(warn), std::move(hostClock)) {
  m_framer.setSinks([this](std::string_view line) { dispatch(line); }, nullptr);
}

void LineDispatch::setOverflowHandler(std::function<void()> handler) {
  m_framer.setSinks([this](std::string_view line) { dispatch(line); }, std::move(handler));
}

void LineDispatch::dispatch(std::string_view line) {
  Line result;
  result.text = line;
  const int mismatches = m_state.sample.MismatchCount;
  if (m_decoder.ParseDataLine(line, deviceFileInForce)) {
    // A data line: its counts corrected, then converted, before anyone sees it.
    result.kind = Line::Kind::Sample;
    result.correctionsSkipped = measure::CorrectCounts(m_state.config, m_state.sample, refCorrection, tempCorrection);
    measure::ConvertToEngineering(m_state.config, m_state.sample, m_state.eng);
  } else {
    result.kind = Line::Kind::Reply;
    // The decoder counts each numeric line whose fields are not the device file's.
    if (m_state.sample.MismatchCount != mismatches)
      result.unfitFields = 1 + static_cast<int>(std::count(line.begin(), line.end(), '\t'));
    result.reply = ParseMeterReply(line, m_state.meter, m_state.clock,
                                   m_hostClock ? m_hostClock() : measure::HostTime{});
  }
  if (m_onLine) m_onLine(result);
}

}  // namespace meterlink
