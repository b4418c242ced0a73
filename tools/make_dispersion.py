#!/usr/bin/env python3
"""Writes the synchrotron dispersion tables data/dispersion/<SYMBOL>lambda.dat.

One file per element of the crystal catalogue. Each row holds a wavelength in ångström, f' and
f'' in electrons, in ascending order of wavelength from 0.3 to 3.0 Å: every 0.005 Å, and more
densely (every 0.0005 Å) within 0.02 Å of each absorption edge in that range, plus one row on
either side of the edge itself, so that linear interpolation follows the source closely there.
xraylib's tabulation is itself smooth across an edge over a few hundredths of an ångström: for
work right at an edge, replace the file by values measured on the sample.

Source: xraylib (Schoonjans et al., Spectrochimica Acta B 66 (2011) 776-784; Debian package
python3-xraylib), whose anomalous scattering factors Fi and Fii are Kissel's tabulation. xraylib
writes the scattering factor as f0 + Fi - i Fii; here f'' is the absorptive part taken positive,
so f' = Fi and f'' = -Fii. Energy in keV = 12.398419843320026 / wavelength in ångström.

Usage: python3 tools/make_dispersion.py [output folder]   (default: data/dispersion beside tools/)
"""
import os
import struct
import sys

import xraylib

HC_KEV_ANGSTROM = 12.398419843320026
LAMBDA_MIN, LAMBDA_MAX, STEP = 0.3, 3.0, 0.005
EDGE_HALF_WIDTH, EDGE_STEP, EDGE_GAP = 0.02, 0.0005, 2e-5

# Symbols of the element buttons and their atomic numbers.
ELEMENTS = [("Zn", 30), ("Cd", 48), ("Al", 13), ("Ga", 31), ("In", 49), ("Si", 14), ("C", 6),
            ("N", 7), ("P", 15), ("As", 33), ("Sb", 51), ("S", 16), ("Se", 34), ("Te", 52),
            ("Ge", 32), ("Sn", 50)]
SHELLS = [xraylib.K_SHELL, xraylib.L1_SHELL, xraylib.L2_SHELL, xraylib.L3_SHELL,
          xraylib.M1_SHELL, xraylib.M2_SHELL, xraylib.M3_SHELL, xraylib.M4_SHELL,
          xraylib.M5_SHELL]


def as_float32(x):
    """The value the program reads: numbers in these files are single precision."""
    return struct.unpack("f", struct.pack("f", x))[0]


def edges(z):
    out = []
    for shell in SHELLS:
        try:
            e = xraylib.EdgeEnergy(z, shell)
        except ValueError:
            continue
        if e > 0:
            lam = HC_KEV_ANGSTROM / e
            if LAMBDA_MIN < lam < LAMBDA_MAX:
                out.append(lam)
    return out


def grid(z):
    n = round((LAMBDA_MAX - LAMBDA_MIN) / STEP)
    points = {round(LAMBDA_MIN + i * STEP, 6) for i in range(n + 1)}
    for lam in edges(z):
        # Keep the regular points off the edge's immediate neighbourhood.
        points = {p for p in points if abs(p - lam) > EDGE_GAP * 2}
        k = round(EDGE_HALF_WIDTH / EDGE_STEP)
        for i in range(-k, k + 1):
            p = round(lam + i * EDGE_STEP, 6)
            if abs(p - lam) > EDGE_GAP * 2 and LAMBDA_MIN <= p <= LAMBDA_MAX:
                points.add(p)
        points.add(round(lam - EDGE_GAP, 6))
        points.add(round(lam + EDGE_GAP, 6))
    return sorted(points)


def write_table(folder, symbol, z):
    rows = []
    for lam in grid(z):
        e = HC_KEV_ANGSTROM / lam
        rows.append((lam, xraylib.Fi(z, e), -xraylib.Fii(z, e)))
    previous = None
    for lam, _, _ in rows:
        value = as_float32(float("%.6f" % lam))
        if previous is not None and not value > previous:
            raise SystemExit("%s: wavelengths not ascending in single precision at %.6f"
                             % (symbol, lam))
        previous = value
    path = os.path.join(folder, symbol.upper() + "lambda.dat")
    with open(path, "w", newline="\n") as f:
        for lam, fr, fi in rows:
            f.write("%.6f %.5f %.5f\n" % (lam, fr, fi))
    return path, len(rows)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "data", "dispersion")
    os.makedirs(folder, exist_ok=True)
    for symbol, z in ELEMENTS:
        path, count = write_table(folder, symbol, z)
        print("%s: %d rows" % (os.path.normpath(path), count))


if __name__ == "__main__":
    main()
