#!/usr/bin/env bash
# Writes a simulated measured curve ("angle counts" lines, angles in seconds of arc from the
# substrate peak, as `kelvarin-cli simulate --counts` gives them) as a PANalytical .x00 ω/2θ
# scan, so that the instrument-file path can be tried without third-party data:
#   tools/curve-to-x00.sh THETA_B_DEGREES SAMPLE < curve.dat > scan.x00
# ω = THETA_B + angle/3600; the counts are written as counts per second over 1 s per step.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 THETA_B_DEGREES SAMPLE < curve.dat > scan.x00" >&2
  exit 2
fi
awk -v thetaB="$1" -v sample="$2" '
  BEGIN { n = 0 }
  NF >= 2 && $1 !~ /^#/ { a[n] = $1; y[n] = $2; n++ }
  END {
    if (n < 2) { print "curve-to-x00: fewer than two points" > "/dev/stderr"; exit 1 }
    step = (a[1] - a[0]) / 3600
    printf "HR-XRDScan\r\nFileName, %s.x00\r\nSample, %s\r\nReflection,   0  0  4 \r\n", sample, sample
    printf "Wavelength, 1.540562\r\nScanAxis, Omega/2Theta\r\n"
    printf "FirstAngle, %.5f\r\nScanRange, %.5f\r\nStepWidth, %.5f\r\n", thetaB + a[0] / 3600, step * (n - 1), step
    printf "TimePerStep, 1.00\r\nNrOfData, %d\r\nScanData\r\n", n
    for (i = 0; i < n; i++) printf "%.4f\r\n", y[i]
  }'
