#pragma once
// A NetCDF attribute's text, for tests that read files back through the C library.
#include <netcdf.h>

#include <string>

namespace testsupport {

/// The text attribute `name` of `varid` ("<none>" when there is none).
inline std::string ncTextAttribute(int ncid, int varid, const char* name) {
  size_t length = 0;
  if (nc_inq_attlen(ncid, varid, name, &length) != NC_NOERR) return "<none>";
  std::string text(length, '\0');
  nc_get_att_text(ncid, varid, name, text.data());
  return text;
}

}  // namespace testsupport
