#!/usr/bin/python3
"""Reads a NetCDF file and a CSV file written by `maru convert` with Python's own readers
(netCDF4, cftime, csv, xarray) and checks them against the engineering-units file of the same
recording and the meter dates and times in the raw file, and the NetCDF file against the
CF and ACDD rules archives apply: no fill value and strictly increasing values in any
coordinate variable, every name in `coordinates` a variable, wavelength and angle as scalar
coordinates, the discovery attributes present.

usage: archive_readback.py NC CSV ENG RAW OFFSET_MINUTES
Exit status 0 when everything agrees, 1 with one line per disagreement otherwise.
"""
import calendar
import csv
import re
import sys
import time as time_module

import cftime
import netCDF4
import numpy
import xarray

failures = []


def fail(text):
    failures.append(text)


def eng_table(path):
    with open(path, newline="") as f:
        lines = f.read().split("\r\n")
    assert lines[-1] == "", "the .eng file ends with CR LF"
    rows = [line.split("\t") for line in lines[:-1]]
    return rows[0], rows[1:]


def raw_stamp(line, offset_minutes):
    """UTC epoch seconds and the CSV's UTC text from a raw line's MM/DD/YY and HH:MM:SS
    fields, read in a zone offset_minutes east of UTC."""
    fields = line.rstrip("\r\n").split("\t")
    date = re.fullmatch(r"(\d\d)/(\d\d)/(\d\d)", fields[0]) if fields else None
    time = re.fullmatch(r"(\d\d):(\d\d):(\d\d)", fields[1]) if len(fields) > 1 else None
    if not date or not time:
        return None, ""
    month, day, year = (int(x) for x in date.groups())
    hour, minute, second = (int(x) for x in time.groups())
    utc = calendar.timegm((2000 + year, month, day, hour, minute, second)) - 60 * offset_minutes
    return utc, time_module.strftime("%Y-%m-%dT%H:%M:%S.000Z", time_module.gmtime(utc))


def zone_text(offset_minutes):
    if offset_minutes == 0:
        return "UTC"
    sign = "-" if offset_minutes < 0 else "+"
    return "%s%02d:%02d" % (sign, abs(offset_minutes) // 60, abs(offset_minutes) % 60)


def half_last_digit(text):
    text = text.strip()
    decimals = len(text) - text.index(".") - 1 if "." in text else 0
    return 0.5 * 10.0 ** (-decimals)


ACDD_REQUIRED = ["title", "summary", "id", "date_created", "instrument", "history"]
ACDD_WITH_TIME = ["time_coverage_start", "time_coverage_end", "time_coverage_duration"]


def check_cf_and_acdd(ds, any_time):
    # A coordinate variable (1-D, named as its dimension): no fill value, strictly increasing.
    for name, var in ds.variables.items():
        if var.dimensions != (name,):
            continue
        data = var[:]
        if "_FillValue" in var.ncattrs() and numpy.any(data == var.getncattr("_FillValue")):
            fail("coordinate variable %s holds its fill value" % name)
        if len(data) > 1 and not numpy.all(numpy.diff(data) > 0):
            fail("coordinate variable %s is not strictly increasing" % name)
    for name, var in ds.variables.items():
        if "coordinates" not in var.ncattrs():
            continue
        for coordinate in var.getncattr("coordinates").split():
            if coordinate not in ds.variables:
                fail("%s names a coordinate %s that is not there" % (name, coordinate))
        wavelength = re.search(r"_(\d{3,4})(_|$)", name)
        if wavelength and ("radiation_wavelength_" + wavelength.group(1)) not in var.getncattr("coordinates").split():
            fail("%s has no radiation_wavelength coordinate" % name)
        if name.startswith("beta") and "scattering_angle" not in var.getncattr("coordinates").split():
            fail("%s has no scattering_angle coordinate" % name)
    for name, var in ds.variables.items():
        if name.startswith("radiation_wavelength_"):
            if var.dimensions != () or var.getncattr("units") != "nm" or float(var[...]) != float(name.split("_")[-1]):
                fail("%s is not a scalar wavelength in nm of its name" % name)
        if name == "scattering_angle" and (var.dimensions != () or var.getncattr("units") != "degree"):
            fail("scattering_angle is not a scalar in degree")
    for key in ACDD_REQUIRED + (ACDD_WITH_TIME if any_time else []):
        if key not in ds.ncattrs() or str(ds.getncattr(key)).strip() == "":
            fail("no global attribute %s" % key)
    if re.search(r"(^|[ '=])/", ds.getncattr("history")):
        fail("history names an absolute path: %r" % ds.getncattr("history"))


def check_with_xarray(nc_path, any_time):
    # What a data manager's first look does: open, decode times, select by the coordinate.
    with xarray.open_dataset(nc_path) as x:
        times = x["time"].values
        known = numpy.count_nonzero(~numpy.isnat(times))
        if any_time and known == 0:
            fail("xarray decodes no time at all")
        if any_time and "time" not in x.indexes:
            fail("xarray does not index the records by time")
        if not any_time and known != 0:
            fail("xarray decodes %d times for a file without any" % known)


def main(nc_path, csv_path, eng_path, raw_path, offset_minutes):
    eng_header, eng_rows = eng_table(eng_path)
    with open(raw_path, newline="") as f:
        raw_lines = [line for line in f.read().split("\n")[:-1]]
    with open(csv_path, newline="") as f:
        csv_rows = list(csv.reader(f))
    csv_header, csv_rows = csv_rows[0], csv_rows[1:]

    # CSV: the same rows, every row as wide as the header, names in .eng order.
    if csv_header[:3] != ["host_time_utc", "meter_time_utc", "count"]:
        fail("csv header starts %r" % csv_header[:3])
    if len(csv_header) != len(eng_header):
        fail("csv has %d columns, .eng %d" % (len(csv_header), len(eng_header)))
    if len(csv_rows) != len(eng_rows):
        fail("csv has %d rows, .eng %d" % (len(csv_rows), len(eng_rows)))
    for k, (row, eng) in enumerate(zip(csv_rows, eng_rows)):
        if len(row) != len(csv_header):
            fail("csv row %d has %d fields" % (k + 1, len(row)))
            continue
        _, iso = raw_stamp(raw_lines[k], offset_minutes)
        if row[0] != "":
            fail("csv row %d has a host time %r; a conversion has none" % (k + 1, row[0]))
        if row[1] != iso:
            fail("csv row %d meter time %r, raw line says %r" % (k + 1, row[1], iso))
        if row[2] != eng[0]:
            fail("csv row %d count %r, .eng %r" % (k + 1, row[2], eng[0]))
        for j in range(3, len(row)):
            if row[j] != eng[j].strip():
                fail("csv row %d %s %r, .eng %r" % (k + 1, csv_header[j], row[j], eng[j]))

    # NetCDF: values per column, times from the raw dates and the offset.
    ds = netCDF4.Dataset(nc_path)
    ds.set_auto_mask(False)
    time = ds.variables["time"]
    values = time[:]
    # A coordinate variable has no fill value (its records all have a time).
    fill = time.getncattr("_FillValue") if "_FillValue" in time.ncattrs() else netCDF4.default_fillvals["f8"]
    if len(values) != len(eng_rows):
        fail("netcdf has %d records, .eng %d" % (len(values), len(eng_rows)))
    for k in range(min(len(values), len(raw_lines))):
        expected, _ = raw_stamp(raw_lines[k], offset_minutes)
        if expected is None:
            if values[k] != fill:
                fail("time[%d] = %r, the raw line has no date and time" % (k, values[k]))
            continue
        if values[k] != expected:
            fail("time[%d] = %r, raw line says %r" % (k, values[k], expected))
        # Decoded by the units and calendar attributes, as analysis tools do.
        when = cftime.num2date(values[k], time.units, time.calendar)
        utc = time_module.gmtime(expected)
        if (when.year, when.month, when.day, when.hour, when.minute, when.second) != tuple(utc[:6]):
            fail("time[%d] decodes to %s, raw line says %s" % (k, when, time_module.strftime("%F %T", utc)))
    if ds.getncattr("Conventions") != "CF-1.10, CF-1.8, ACDD-1.3":
        fail("Conventions %r" % ds.getncattr("Conventions"))
    check_cf_and_acdd(ds, len(values) > 0 and any(v != fill for v in values))
    zone = zone_text(offset_minutes)
    if ds.getncattr("meter_time_zone") != zone:
        fail("meter_time_zone %r, expected %r" % (ds.getncattr("meter_time_zone"), zone))
    for j, name in enumerate(csv_header[3:]):
        if name not in ds.variables:
            fail("no variable %s" % name)
            continue
        data = ds.variables[name][:]
        for k, eng in enumerate(eng_rows[: len(data)]):
            text = eng[j + 3]
            if abs(data[k] - float(text)) > half_last_digit(text) * (1 + 1e-9):
                fail("%s[%d] = %r, .eng prints %r" % (name, k, data[k], text))
    any_time = len(values) > 0 and any(v != fill for v in values)
    ds.close()
    check_with_xarray(nc_path, any_time)

    if failures:
        for text in failures[:40]:
            print(text)
        print("%d disagreements" % len(failures))
        return 1
    print("agree: %d records, %d columns" % (len(eng_rows), len(csv_header) - 3))
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.stderr.write(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])))
