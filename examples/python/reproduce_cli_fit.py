#!/usr/bin/env python3
"""Fits examples/fit_de.toml from Python and from kelvarin-cli, and shows they agree exactly.

A notebook in a script: each "# %%" cell can be pasted into a notebook. The project (differential
evolution with a fixed seed, then the least-squares polish) is copied with its measured curve into
a folder, fitted by `kelvarin-cli fit` (which writes its report beside it) and by
`kelvarin.Project.load(...).fit()`; every number of the command's JSON report is compared with
the Python result bit for bit. The exit status is 1 when anything differs.

    PYTHONPATH=build/python python3 examples/python/reproduce_cli_fit.py [--cli build/kelvarin-cli]
        [--out FOLDER] [--generations N]
"""
# %% Set-up: the example project and its measured curve in a folder of their own.
import argparse
import json
import pathlib
import shutil
import subprocess
import sys
import tempfile

import numpy as np

import kelvarin

ROOT = pathlib.Path(__file__).resolve().parents[2]


def copy_project(folder, generations):
    shutil.copy(ROOT / "examples" / "measured.dat", folder / "measured.dat")
    text = (ROOT / "examples" / "fit_de.toml").read_text()
    if generations:
        text = text.replace("generations = 300", f"generations = {generations}")
    path = folder / "fit_de.toml"
    path.write_text(text)
    return path


# %% The differences between the command's report and the Python result (empty: none).
def differences(report, result):
    found = []

    def same(what, cli_value, python_value):
        if not np.array_equal(np.asarray(cli_value), np.asarray(python_value)):
            found.append(f"{what}: kelvarin-cli {cli_value!r}, Python {python_value!r}")

    for p in report["parameters"]:
        same(p["name"], p["value"], result.parameters[p["name"]])
        if p["free"]:
            same(f"standard error of {p['name']}", p["standard_error"],
                 result.errors[p["name"]])
    same("free parameters", report["uncertainty"]["free_parameters"], result.free)
    same("correlations", report["uncertainty"]["correlation"], result.correlations)
    statistics = report["statistics"]
    same("logarithmic error", statistics["log_error_percent"], result.error)
    same("reduced chi2", statistics["reduced_chi2"], result.summary["reduced_chi2"])
    same("weighted R", statistics["weighted_r_percent"], result.summary["weighted_r"])
    same("evaluations", report["search"]["evaluations"], result.summary["evaluations"])
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default=str(ROOT / "build" / "kelvarin-cli"))
    parser.add_argument("--out", help="folder for the project and results (default: temporary)")
    parser.add_argument("--generations", type=int, default=0,
                        help="at most this many generations (default: the project's 300)")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as temp:
        folder = pathlib.Path(args.out or temp)
        folder.mkdir(parents=True, exist_ok=True)
        project = copy_project(folder, args.generations)

        # %% The fit by the command line: it writes fit_de.report.json beside the project.
        subprocess.run([args.cli, "fit", "--quiet", str(project)], check=True)
        report = json.loads(project.with_suffix(".report.json").read_text())

        # %% The same fit from Python, with a progress line every 25 generations.
        def progress(generation, best_error):
            if generation % 25 == 0:
                print(f"generation {generation}, best error {best_error:.4f} %")
            return True

        result = kelvarin.Project.load(str(project)).fit(progress=progress)
        print(result.report_text)

        # %% The comparison.
        found = differences(report, result)
        for line in found:
            print("differs:", line)
        print("kelvarin-cli fit and Python agree on every number" if not found else
              f"{len(found)} numbers differ")
        return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
