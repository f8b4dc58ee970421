#include "acquire/dailynetcdf.h"

#include <filesystem>

#include "acquire/logclock.h"

namespace acquire {

DailyNetcdf::DailyNetcdf(std::string folder, const measure::DeviceConfig& config,
                         files::NetcdfProvenance provenance, measure::WarningSink warn)
    : m_folder(std::move(folder)), m_config(config), m_provenance(std::move(provenance)), m_warn(std::move(warn)) {
  if (!m_folder.empty() && m_folder.back() != '/') m_folder += '/';
  m_provenance.hostTimes = true;
  m_provenance.timeSource = "host receive time; meter clock in meter_time";
}

DailyNetcdf::~DailyNetcdf() { close(); }

bool DailyNetcdf::openDay(const std::string& day) {
  m_day = day;
  m_failed = false;
  std::error_code ec;
  m_path = m_folder + day + ".nc";
  for (int n = 2; std::filesystem::exists(m_path, ec); ++n) m_path = m_folder + day + "_" + std::to_string(n) + ".nc";
  const bool ok = m_qc ? m_writer.open(m_path, m_config, m_provenance, *m_qc)
                       : m_writer.open(m_path, m_config, m_provenance);
  if (!ok) {
    m_failed = true;
    if (m_warn) m_warn("NetCDF Stopped", m_writer.error());
  }
  return ok;
}

void DailyNetcdf::sample(const SampleRecord& record) {
  const TimePoint received = record.times.host.value_or(TimePoint{});
  const std::string day = utcDayStamp(received);
  if (day != m_day) {
    close();
    openDay(day);
  }
  if (m_failed) return;
  if (m_qc && record.qc == m_qc) m_writer.setLastSpike(m_qc->previousSpike());
  const bool ok = m_qc && record.qc == m_qc ? m_writer.write(record.times, record.state.sample, record.state.eng,
                                                              &m_qc->now())
                                            : m_writer.write(record.times, record.state.sample, record.state.eng);
  if (!ok) {
    m_failed = true;
    if (m_warn) m_warn("NetCDF Stopped", m_writer.error());
  }
}

void DailyNetcdf::tick(TimePoint now) {
  if (!m_day.empty() && utcDayStamp(now) != m_day) close();
}

void DailyNetcdf::close() {
  if (m_day.empty()) return;
  if (!m_failed && m_writer.isOpen() && !m_writer.finish() && m_warn) m_warn("NetCDF Stopped", m_writer.error());
  m_writer.abandon();
  m_day.clear();
  m_path.clear();
}

}  // namespace acquire
