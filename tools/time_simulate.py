#!/usr/bin/env python3
"""Time of one kelvarin.simulate call from Python: GaAs 004 with Cu K-alpha1, 16 lamellae,
2000 whole-second angles, broadened by 8.5 arcsec; the same curve as bench_sample_curve.
Run with PYTHONPATH=build/python."""
import time

import numpy as np

import kelvarin

sample = kelvarin.Sample("GaAs", [kelvarin.Lamella(100.0, 0.5 - 0.03 * i, 0.9) for i in range(16)])
reflection = kelvarin.Reflection((0, 0, 4), radiation="Cua1")
angles = -1000.0 + np.arange(2000.0)
times = []
cpu = time.process_time()
for _ in range(200):
    start = time.perf_counter()
    kelvarin.simulate(sample, reflection, angles, width=8.5)
    times.append(time.perf_counter() - start)
cpu = (time.process_time() - cpu) / len(times)
print(f"kelvarin.simulate, 2000 points, 16 lamellae: wall median {1e3 * np.median(times):.3f} ms, "
      f"best {1e3 * min(times):.3f} ms, CPU {1e3 * cpu:.3f} ms a call")
