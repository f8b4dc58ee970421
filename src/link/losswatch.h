#pragma once
// Notices data lines lost between the meter and the program while lines keep coming: the
// meter's clock jumping forward by more than its sample interval (the host fell behind
// and the driver's queue overflowed), or two lines run together because a line end was
// lost. Plain logic; the caller says what it saw and prints what this returns.
#include <optional>
#include <string>
#include <string_view>

namespace meterlink {

class LossWatch {
 public:
  /// An accepted data line read `meterSeconds` on the meter's clock (seconds since any
  /// fixed moment; nothing for a meter without a clock). Returns the text of one warning
  /// when lines were lost just before it, "" otherwise.
  std::string sample(std::optional<double> meterSeconds);
  /// A line the decoder refused. Returns a warning when it is numeric data with more
  /// fields than `expectedColumns`: lines that ran together.
  std::string refused(std::string_view line, int expectedColumns);
  /// A new start (the port was opened again): no gap is measured across it.
  void restart();

 private:
  std::optional<double> m_first, m_last;
  long m_lines = 0;  // lines since m_first
};

}  // namespace meterlink
