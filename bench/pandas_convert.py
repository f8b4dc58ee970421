#!/usr/bin/python3
"""The raw-to-engineering-units conversion written the way an analyst would in pandas:
one vectorised pass per column instead of a line-by-line replay. It is the yardstick
for maru convert in bench/convert.sh, so it does the same work: read every line, take
the device file's scales, dark counts, wavelengths and water parameters, compute the
same values with the same formulas, and write the same tab-separated file (header,
Count/Date/Time, one group per column, the same number formats, CR LF line ends).

Not covered (the benchmark input never needs them): replies and mismatching lines
inside the recording, the reference and temperature corrections, a meter clock that
sends 99/99/99.

  pandas_convert.py DEV RAW OUT            convert
  pandas_convert.py --compare A.eng B.eng  largest difference between two such files
"""
import sys

import numpy as np
import pandas as pd

MEASURE = {  # keyword: (header, number format, dark counts subtracted before scaling)
    "chl=": ("CHL(ug/l)", "%6.4f", True), "cdom=": ("CDOM(raw)", "%6.4f", True),
    "uranine=": ("ur(raw)", "%6.4f", True), "phycocyanine=": ("pcyan(raw)", "%6.4f", True),
    "phycoerythrin=": ("peryth(raw)", "%6.4f", True), "rhodamine=": ("rhod(raw)", "%6.4f", True),
    "lss=": ("NTU", "%6.4f", True), "ntu=": ("NTU", "%6.4f", True),
    "itemp=": ("iTemp(C)", "%6.4f", False), "xtemp=": ("xTemp(C)", "%6.4f", False),
    "pres=": ("Pres(dbar)", "%5.1f", False),
}
# Keywords that name a column without a value of its own in the output.
SILENT = ("date=", "time=", "lambdaref=", "ref=", "n/u=", "chlref=", "cdomref=", "uranineref=",
          "phycocyanineref=", "phycoerythrinref=", "rhodamineref=", "lssref=", "nturef=")


def single(text):
    """Device-file numbers are read in single precision."""
    return float(np.float32(text))


def read_device(path):
    dev = {"salinity": 32.0, "theta": 2.042035, "xfactor": 1.1, "sea": True, "columns": 0,
           "fields": {}, "units": ""}
    with open(path, "rb") as f:
        lines = f.read().decode("latin-1").splitlines()
    for line in lines[1:]:
        key = line.split("=", 1)[0].lower() + "=" if "=" in line else ""
        values = line.rsplit("=", 1)[-1].split()
        if key == "water=":
            dev["sea"] = line.lower().startswith("water=sea")
        elif key == "salinity=":
            dev["salinity"] = single(values[0])
        elif key == "theta=":
            dev["theta"] = single(values[0]) * 3.1415 / 180
        elif key == "xfactor=":
            dev["xfactor"] = single(values[0])
        elif key == "columns=":
            dev["columns"] = int(values[0])
        elif key == "iengrunits=":
            dev["units"] = line.split("=", 1)[1].strip()
        elif key == "lambda=":
            dev["fields"][int(values[0]) - 1] = ("lambda", single(values[1]), single(values[2]),
                                                 int(single(values[3])))
        elif key in MEASURE:
            dev["fields"][int(values[0]) - 1] = (key, single(values[1]), single(values[2]))
        elif key == "iengr=":
            dev["fields"][int(values[0]) - 1] = ("iengr",)
        elif key in SILENT:
            dev["fields"][int(values[0]) - 1] = (key,)
    return dev


def convert(dev_path, raw_path, out_path):
    dev = read_device(dev_path)
    ncol = dev["columns"]
    kinds = {i: dev["fields"].get(i, ("none",))[0] for i in range(ncol)}
    dtypes = {i: (str if kinds[i] in ("date=", "time=") else np.float64) for i in range(ncol)}
    raw = pd.read_csv(raw_path, sep="\t", header=None, names=range(ncol), dtype=dtypes,
                      engine="c", na_filter=False)
    n = len(raw)

    # Water terms: the same for every line of one device file.
    cos2 = np.cos(dev["theta"]) ** 2.0
    t = 1 + cos2 * (1.0 - 0.09) / (1.0 + 0.09)
    salt = 1 + 0.3 * dev["salinity"] * (1 / 37)

    header = ["Count", "Date", "Time"]
    columns = {}
    date = next((i for i in range(ncol) if kinds[i] == "date="), None)
    time = next((i for i in range(ncol) if kinds[i] == "time="), None)
    # Count: lines since the first, or from 1 for a meter without a clock.
    columns["Count"] = pd.Series(np.arange(n) if date is not None else np.arange(1, n + 1)).astype(str)
    columns["Date"] = raw[date].str.replace("/", "", regex=False) if date is not None else "990000"
    columns["Time"] = raw[time].str.replace(":", "", regex=False) if time is not None else "000000"
    for i in range(ncol):
        field = dev["fields"].get(i, ("none",))
        counts = raw[i].to_numpy() if dtypes[i] is np.float64 else None
        if field[0] == "lambda":
            _, scale, dark, wl = field
            x = wl * (1 / 500)
            betaw = 1.38 * x ** -4.32 * salt * 0.0001 * t
            bw = x ** -4.24 * 0.0029308 if dev["sea"] else x ** -4.23 * 0.0022533
            beta = (counts - dark) * scale
            betap = beta - betaw
            bbp = 2.0 * 3.1415 * dev["xfactor"] * betap
            bb = bbp + bw * 0.5
            for name, v in (("Beta", beta), ("Betap", betap), ("bbp", bbp), ("bb", bb)):
                title = "%s(%3d)%s" % (name, wl, ")" if name == "bb" else "")
                header.append(title)
                columns["%d %s" % (i, title)] = np.char.mod("%8.6f", v)
        elif field[0] in MEASURE:
            title, fmt, dark_first = MEASURE[field[0]]
            _, scale, offset = field
            v = (counts - offset) * scale if dark_first else counts * scale + offset
            header.append(title)
            columns["%d %s" % (i, title)] = np.char.mod(fmt, v)
        elif field[0] == "iengr":
            header.append("iEngr(%s)" % dev["units"])
            columns["%d iengr" % i] = np.char.mod("%6.4f", counts)
    table = pd.DataFrame(columns)
    with open(out_path, "w", newline="") as out:
        out.write("\t".join(header) + "\r\n")
        table.to_csv(out, sep="\t", header=False, index=False, lineterminator="\r\n")


def compare(a_path, b_path):
    """Prints the largest absolute difference over all fields; fails unless both files have
    the same header and line count and every value agrees to one unit of its last place."""
    a = pd.read_csv(a_path, sep="\t", dtype=str, na_filter=False)
    b = pd.read_csv(b_path, sep="\t", dtype=str, na_filter=False)
    if list(a.columns) != list(b.columns) or len(a) != len(b):
        print("compare: different shape: %s x %d against %s x %d"
              % (list(a.columns), len(a), list(b.columns), len(b)))
        return 1
    worst, worst_units, differing = 0.0, 0.0, 0
    for name in a.columns:
        sa, sb = a[name].str.strip(), b[name].str.strip()
        differing += int((sa != sb).sum())
        va, vb = sa.astype(np.float64).to_numpy(), sb.astype(np.float64).to_numpy()
        decimals = sa.str.partition(".")[2].str.len().max()
        diff = np.abs(va - vb).max() if len(va) else 0.0
        worst = max(worst, diff)
        worst_units = max(worst_units, diff * 10.0 ** decimals)
    print("compare: %d lines, %d fields differ in text, max abs difference %.3g (%.2f units of the last place)"
          % (len(a), differing, worst, worst_units))
    return 0 if worst_units <= 1.0 + 1e-6 else 1


def main(argv):
    if len(argv) == 4 and argv[1] == "--compare":
        return compare(argv[2], argv[3])
    if len(argv) == 4:
        convert(argv[1], argv[2], argv[3])
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
