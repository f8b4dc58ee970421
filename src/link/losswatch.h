#pragma once
// Notices data lines lost between the meter and the program while lines keep coming: the
// meter's clock jumping forward by more than its sample interval (the host fell behind
// and the driver's queue overflowed), or two lines run together because a line end was
// lost. Plain logic; the caller says what it saw and prints what this returns.
#include <optional>
#include <string>

namespace meterlink {

class LossWatch {
 public:
  /// An accepted data line read `meterSeconds` on the meter's clock (seconds since any
  /// fixed moment; nothing for a meter without a clock). Returns the text of one warning
  /// when lines were lost just before it, "" otherwise: the clock jumped, or the lines
  /// refused since the last accepted one ran together.
  std::string sample(std::optional<double> meterSeconds);
  /// A line the decoder refused: numeric data with `fields` fields that do not fit the
  /// device file's `expectedColumns` (0: not data). At most kRunTogether such lines with
  /// more fields than expected, between accepted ones, are lines whose line end was lost;
  /// a longer run is another meter's lines, not a loss.
  void refused(int fields, int expectedColumns);
  static constexpr int kRunTogether = 2;
  /// A new start (the port was opened again): no gap is measured across it.
  void restart();

 private:
  std::optional<double> m_first, m_last;
  long m_lines = 0;  // lines since m_first
  int m_unfit = 0;   // data lines refused since the last accepted one
  std::string m_ranTogether;  // about the first of them that was too long
};

}  // namespace meterlink
