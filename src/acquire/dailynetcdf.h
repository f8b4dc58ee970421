#pragma once
// The logger's daily archive: DIR/YYYYMMDD.nc for each UTC day, written record by record
// under a temporary name beside it and renamed into place when the day is over (at UTC
// midnight, or when the logger stops), so the day's archive needs no later step. The time
// coordinate is the host's receive time, the meter's reading beside it; with quality
// control every flag of every record, the spike test's included.
#include <chrono>
#include <string>

#include "acquire/session.h"
#include "files/netcdfwriter.h"
#include "measure/devicefile.h"

namespace acquire {

class DailyNetcdf : public Sink {
 public:
  using TimePoint = std::chrono::system_clock::time_point;
  /// `config` must outlive the files; `provenance` is each day's file's.
  DailyNetcdf(std::string folder, const measure::DeviceConfig& config, files::NetcdfProvenance provenance,
              measure::WarningSink warn);
  ~DailyNetcdf() override;  ///< completes the day's file
  DailyNetcdf(const DailyNetcdf&) = delete;
  DailyNetcdf& operator=(const DailyNetcdf&) = delete;

  /// The files opened from now on carry the flags of `qc` (null: none); `qc` must outlive
  /// the files.
  void setQc(const files::QcRun* qc) { m_qc = qc; }
  /// Writes one sample into the file of its receive day (completing the day before).
  void sample(const SampleRecord& record) override;
  /// Once a second or so: completes the day's file at UTC midnight.
  void tick(TimePoint now);
  /// Completes the file of the day (renamed into place); nothing when none is open.
  void close();

  /// Where the day's file goes when complete ("" while none is open). A day that already
  /// has its file (the logger was restarted) gets YYYYMMDD_2.nc, _3, …
  const std::string& path() const { return m_path; }

 private:
  bool openDay(const std::string& day);

  std::string m_folder;
  const measure::DeviceConfig& m_config;
  files::NetcdfProvenance m_provenance;
  measure::WarningSink m_warn;
  const files::QcRun* m_qc = nullptr;
  files::NetcdfWriter m_writer;
  std::string m_day, m_path;
  bool m_failed = false;  ///< this day's file failed and was reported
};

}  // namespace acquire
