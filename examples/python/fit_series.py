#!/usr/bin/env python3
"""Fits a fluence series of rocking curves and plots the largest strain against the fluence.

The measured curves are made up by kelvarin-cli simulate (GaAs 004, Cu K-alpha1, a double
half-Gaussian strain profile whose peak strain grows with the fluence, Poisson counting noise);
each is then fitted from a project file written here, as a notebook would do it.

    PYTHONPATH=build/python python3 examples/python/fit_series.py [--cli build/kelvarin-cli]
        [--out FOLDER] [--generations N]

Without matplotlib the fits still run and the table is printed; the plot is left out.
"""
import argparse
import pathlib
import subprocess
import tempfile

import kelvarin

ROOT = pathlib.Path(__file__).resolve().parents[2]
# Fluence (ions/cm²) and the peak strain (fraction) of the profile the scan is made from.
SERIES = [(1e14, 0.0025), (2e14, 0.0033), (4e14, 0.0041), (8e14, 0.0049)]

PROJECT = """[sample]
substrate = "GaAs"

[profile]
model = "2gauss"
layers = 16
tau = {{ value = 0.004, min = 0.001, max = 0.007, max_mutation = 0.0005 }}
ro = {{ value = 300, min = 50, max = 800, max_mutation = 10 }}
sigma1 = {{ value = 150, min = 50, max = 800, max_mutation = 10 }}
sigma2 = {{ value = 250, min = 50, max = 800, max_mutation = 10 }}

[[dataset]]
file = "{file}"
hkl = [0, 0, 4]
radiation = "Cua1"
width = {{ value = 8.5, min = 7, max = 10, max_mutation = 1 }}
scaling = "lsm-fixed-background"
background = 30
theory = "dynamical"

[fit]
optimizer = "evolutionary"
population = 50
generations = {generations}
seed = 12345
mutation_probability = 0.5
"""


def make_scan(cli, folder, index, tau):
    """A measured curve of the double half-Gaussian profile with peak strain `tau`."""
    path = folder / f"scan{index}.dat"
    subprocess.run([cli, "simulate", "--crystal", "GaAs", "--hkl", "0", "0", "4",
                    "--radiation", "Cua1", "--scan", "-3000", "600", "2",
                    "--model", "2gauss", "--params", str(tau), "350", "200", "300",
                    "--width", "8.5", "--counts", "100000", "--background", "30",
                    "--noise", str(index + 1), "--out", str(path)], check=True)
    return path


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default=str(ROOT / "build" / "kelvarin-cli"))
    parser.add_argument("--out", help="folder for scans and projects (default: a temporary one)")
    parser.add_argument("--generations", type=int, default=40)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as temp:
        folder = pathlib.Path(args.out or temp)
        folder.mkdir(parents=True, exist_ok=True)
        rows = []
        for index, (fluence, tau) in enumerate(SERIES):
            scan = make_scan(args.cli, folder, index, tau)
            project_path = folder / f"scan{index}.toml"
            project_path.write_text(PROJECT.format(file=scan.name, generations=args.generations))
            result = kelvarin.Project.load(str(project_path)).fit()
            profile = result.profile
            top = int(profile["strain"].argmax())
            peak = float(profile["strain"][top])
            # The 16/84 % band of the profile at the peak's lamella (NaN without uncertainties).
            low, high = float(profile["strain_lower"][top]), float(profile["strain_upper"][top])
            rows.append((fluence, 100 * tau, peak, result.error, low, high))
            print(f"fluence {fluence:.1e} cm^-2: peak strain {peak:.4f} % "
                  f"[{low:.4f}, {high:.4f}] (made with {100 * tau:.4f} %), "
                  f"error {result.error:.3f} %, tau = {100 * result.parameters['tau']:.4f} "
                  f"± {100 * result.errors['tau']:.4f} %")

        try:
            import matplotlib
            matplotlib.use("Agg")
            import matplotlib.pyplot as plt
        except ImportError:
            print("matplotlib is not installed: the fits ran, the plot is left out")
            return
        figure, axes = plt.subplots()
        bars = [[max(r[2] - r[4], 0) for r in rows], [max(r[5] - r[2], 0) for r in rows]]
        axes.errorbar([r[0] for r in rows], [r[2] for r in rows], yerr=bars, fmt="o-",
                      capsize=3, label="fitted (16/84 % band)")
        axes.plot([r[0] for r in rows], [r[1] for r in rows], "x", label="simulated")
        axes.set_xscale("log")
        axes.set_xlabel("fluence (ions/cm²)")
        axes.set_ylabel("largest strain (%)")
        axes.legend()
        plot = pathlib.Path(args.out or ".") / "strain_vs_fluence.png"
        figure.savefig(plot, dpi=120)
        print(f"wrote {plot}")


if __name__ == "__main__":
    main()
