#pragma once
// A NetCDF attribute's text and a raw-counts channel, for tests that read files back
// through the C library.
#include <netcdf.h>

#include <string>
#include <vector>

namespace testsupport {

/// The text attribute `name` of `varid` ("<none>" when there is none).
inline std::string ncTextAttribute(int ncid, int varid, const char* name) {
  size_t length = 0;
  if (nc_inq_attlen(ncid, varid, name, &length) != NC_NOERR) return "<none>";
  std::string text(length, '\0');
  nc_get_att_text(ncid, varid, name, text.data());
  return text;
}

/// The records of one channel of the 2-D "counts" variable, found by its label in
/// "counts_channel" ("470", "chl"); empty when the file has no such channel.
inline std::vector<double> ncCountsChannel(int ncid, const std::string& label) {
  int counts = -1, labels = -1, dims[2] = {-1, -1};
  size_t records = 0, channels = 0;
  if (nc_inq_varid(ncid, "counts", &counts) != NC_NOERR || nc_inq_varid(ncid, "counts_channel", &labels) != NC_NOERR ||
      nc_inq_vardimid(ncid, counts, dims) != NC_NOERR || nc_inq_dimlen(ncid, dims[0], &records) != NC_NOERR ||
      nc_inq_dimlen(ncid, dims[1], &channels) != NC_NOERR)
    return {};
  std::vector<char*> names(channels);
  if (nc_get_var_string(ncid, labels, names.data()) != NC_NOERR) return {};
  size_t channel = channels;
  for (size_t c = 0; c < channels; ++c)
    if (label == names[c]) channel = c;
  nc_free_string(channels, names.data());
  if (channel == channels) return {};
  std::vector<double> values(records);
  const size_t start[2] = {0, channel}, count[2] = {records, 1};
  if (records > 0 && nc_get_vara_double(ncid, counts, start, count, values.data()) != NC_NOERR) return {};
  return values;
}

}  // namespace testsupport
