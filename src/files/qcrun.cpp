#include "files/qcrun.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "files/csvformat.h"
#include "files/netcdfwriter.h"
#include "measure/kindtable.h"

namespace files {

std::vector<std::string> QcRun::streamNames(const measure::DeviceConfig& config) {
  std::vector<std::string> names = CsvColumnNames(config);
  for (const NetcdfVariable& v : netcdfVariables(config))
    if (v.field >= 0) names.push_back(v.name);
  return names;
}

std::optional<QcRun> QcRun::bind(const qc::Config& qcConfig, const measure::DeviceConfig& config,
                                 std::string& error) {
  error = qc::checkStreamNames(qcConfig, streamNames(config));
  if (!error.empty()) return std::nullopt;
  const std::vector<std::string> columns = CsvColumnNames(config);
  const std::vector<NetcdfVariable> variables = netcdfVariables(config);
  // The field behind each engineering column, in the same walk as the column names.
  std::vector<int> columnField;
  const int fields = std::clamp(config.DataFieldCount, 0, measure::kMaxColumns);
  for (int c = 0; c < fields; ++c)
    columnField.insert(columnField.end(), measure::kindInfo(config.ColumnKind[static_cast<size_t>(c)]).engCount, c);
  std::vector<QcStream> streams;
  for (const qc::StreamConfig& s : qcConfig.streams) {
    QcStream stream;
    stream.name = s.name;
    for (size_t i = 0; i < columns.size(); ++i)
      if (columns[i] == s.name) stream.engColumn = static_cast<int>(i);
    if (stream.engColumn < 0)
      for (const NetcdfVariable& v : variables)
        if (v.field >= 0 && v.name == s.name) stream.field = v.field;
    stream.dataField = stream.engColumn >= 0 && static_cast<size_t>(stream.engColumn) < columnField.size()
                           ? columnField[static_cast<size_t>(stream.engColumn)]
                           : stream.field;
    streams.push_back(std::move(stream));
  }
  return QcRun(qcConfig, std::move(streams), config);
}

QcRun::QcRun(qc::Config config, std::vector<QcStream> streams, const measure::DeviceConfig& device)
    : m_config(std::move(config)), m_streams(std::move(streams)) {
  std::vector<std::pair<const measure::EngColumn*, int>> columns;
  measure::forEachEngColumn(device, [&](const measure::EngColumn& column, int kind) { columns.emplace_back(&column, kind); });
  for (size_t i = 0; i < m_streams.size(); ++i) {
    const int column = m_streams[i].engColumn;
    m_engColumns.push_back(column >= 0 ? columns[static_cast<size_t>(column)].first : nullptr);
    m_engKinds.push_back(column >= 0 ? columns[static_cast<size_t>(column)].second : 0);
    m_checkers.emplace_back(m_config.streams[i]);
  }
  m_now.resize(m_streams.size());
  m_previousSpike.resize(m_streams.size());
  m_csvLayout = csvQcLayout(*this, CsvColumnNames(device).size());
}

double QcRun::valueOf(size_t stream, const measure::SampleState& sample, const measure::EngValues& values) const {
  return m_engColumns[stream] ? measure::engValue(values, *m_engColumns[stream], m_engKinds[stream])
                              : sample.SampleValues[static_cast<size_t>(m_streams[stream].field)];
}

void QcRun::push(std::optional<double> seconds, const measure::SampleState& sample, const measure::EngValues& values) {
  const double t = seconds ? *seconds : std::numeric_limits<double>::quiet_NaN();
  for (size_t i = 0; i < m_streams.size(); ++i) m_checkers[i].push(t, valueOf(i, sample, values), m_now[i], m_previousSpike[i]);
}

const double* QcRun::source(size_t stream, const measure::SampleState& sample,
                           const measure::EngValues& values) const {
  const measure::EngColumn* column = m_engColumns[stream];
  if (!column) return &sample.SampleValues[static_cast<size_t>(m_streams[stream].field)];
  return column->value ? &(values.*column->value) : &(values.*column->perKind)[static_cast<size_t>(m_engKinds[stream])];
}

void QcRun::pushBlock(const double* seconds, const double* values, size_t n, size_t stride, uint8_t* flags) {
  if (n == 0) return;
  for (size_t i = 0; i < m_streams.size(); ++i) {
    const qc::FlagColumns columns = flagColumns(flags, i, stride);
    m_checkers[i].pushBlock(seconds, values + i * stride, n, columns, m_previousSpike[i]);
    m_now[i] = columns.flags(n - 1, m_checkers[i].run());
  }
}

void QcRun::finish() {
  for (size_t i = 0; i < m_streams.size(); ++i) m_previousSpike[i] = m_checkers[i].finish();
}

CsvQcLayout csvQcLayout(const QcRun& run, size_t valueColumns) {
  CsvQcLayout layout;
  layout.afterColumn.assign(valueColumns, -1);
  for (size_t i = 0; i < run.streams().size(); ++i) {
    const int column = run.streams()[i].engColumn;
    if (column >= 0 && static_cast<size_t>(column) < valueColumns)
      layout.afterColumn[static_cast<size_t>(column)] = static_cast<int>(i);
    else
      layout.atEnd.push_back(static_cast<int>(i));
  }
  return layout;
}

}  // namespace files
