"""The Python module against kelvarin-cli: the same curves and fits to the last printed digit,
the program's errors as Python exceptions, and a fit stopped from its progress callback."""

import json
import os
import pathlib
import re
import shutil
import subprocess
import sys

import numpy as np
import pytest

import kelvarin

SOURCE = pathlib.Path(os.environ.get("KELVARIN_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
CLI = os.environ.get("KELVARIN_CLI", str(SOURCE / "build" / "kelvarin-cli"))


def cli(*args, cwd=None):
    return subprocess.run([CLI, *map(str, args)], check=True, capture_output=True, text=True,
                          cwd=cwd).stdout


def project_copy(tmp_path, name="fit.toml", edits=(("generations = 100", "generations = 4"),)):
    """An example project with `edits` made to its text, beside its own copy of the measured
    curve."""
    shutil.copy(SOURCE / "examples" / "measured.dat", tmp_path / "measured.dat")
    text = (SOURCE / "examples" / name).read_text()
    for old, new in edits:
        assert old in text
        text = text.replace(old, new)
    path = tmp_path / name
    path.write_text(text)
    return path


def short_project(tmp_path, generations=4):
    """examples/fit.toml with fewer generations."""
    return project_copy(tmp_path, edits=(("generations = 100", f"generations = {generations}"),))


def untimed(report_text):
    """The report's lines but those that give a time (they differ from run to run)."""
    return [line for line in report_text.splitlines() if not re.search(r"[0-9] s\b", line)]


# (lamellae as thickness Å / strain %, hkl, radiation, scan, width, keywords of simulate; the
# command line reads profile files in single precision, so the values are exact in float); the
# older spelling physics="kinematical" still chooses the kinematical recursion.
SIMULATIONS = [
    ([], (0, 0, 4), "Cua1", (-300, 200, 2), None, {}),
    ([(200, 0.5), (300, 0.25), (400, 0.125)], (0, 0, 4), "Cua1", (-2000, 500, 1), None,
     {"physics": "classic", "theory": "dynamical"}),
    ([(200, 0.5), (300, 0.25)], (0, 0, 4), "Cua1", (-1500, 500, 0.5), 8.5, {}),
    ([(500, 1.0), (100, -0.25)], (0, 0, 4), "Moa1", (-800, 300, 1), None,
     {"theory": "kinematical"}),
    ([(400, 0.5)], (0, 0, 4), "Cua1", (-800, 300, 2), None, {"physics": "kinematical"}),
    ([(300, 0.75)], (1, 1, 3), "Cua1", (-1000, 400, 2), 12, {}),
    ([(1500, 1.0), (500, 0.375)], (0, 0, 4), "Cua1", (-1500, 300, 1), 8.5, {"physics": "full"}),
    ([(2000, 1.0)], (2, 2, -4), "Cua1", (-1500, 400, 2), None,
     {"physics": "full", "polarisation": "sigma"}),
]


@pytest.mark.parametrize("layers,hkl,radiation,scan,width,keywords", SIMULATIONS)
def test_simulate_prints_what_the_command_line_prints(tmp_path, layers, hkl, radiation, scan,
                                                      width, keywords):
    theory = "kinematical" if "kinematical" in keywords.values() else "dynamical"
    args = ["simulate", "--crystal", "GaAs", "--hkl", *hkl, "--radiation", radiation,
            "--scan", *scan, "--theory", theory]
    if keywords.get("physics") == "full":
        args += ["--physics", "full"]
    if "polarisation" in keywords:
        args += ["--polarisation", keywords["polarisation"]]
    if layers:
        (tmp_path / "profile.dat").write_text("".join(f"{t} {s}\n" for t, s in layers))
        args += ["--profile", tmp_path / "profile.dat"]
    if width is not None:
        args += ["--width", width]
    rows = [line.split() for line in cli(*args).splitlines()]
    angles = np.array([float(r[0]) for r in rows])
    np.testing.assert_array_equal(angles, scan[0] + np.arange(len(rows)) * scan[2])

    sample = kelvarin.Sample("GaAs", [kelvarin.Lamella(t, s) for t, s in layers])
    curve = kelvarin.simulate(sample, kelvarin.Reflection(hkl, radiation=radiation), angles,
                              width=width, **keywords)
    assert isinstance(curve, np.ndarray) and curve.dtype == np.float64
    column = 2 if width is not None else 1
    assert ["%.10g" % v for v in curve] == [r[column] for r in rows]


# The windows' evolutionary search alone, and differential evolution with the least-squares
# polish: parameters, standard errors, correlations and statistics as kelvarin-cli fit writes them
# (its JSON report keeps every bit), the curve, the profile with its band, the report's text.
FITS = [
    ("fit.toml", (("generations = 100", "generations = 4"),)),
    ("fit_de.toml", (("generations = 300", "generations = 30"),)),
]


@pytest.mark.parametrize("name,edits", FITS)
def test_fit_reproduces_the_command_line_fit(tmp_path, name, edits):
    project = project_copy(tmp_path, name, edits)
    cli("fit", "--quiet", "-j", "2", project)
    stem = project.with_suffix("")
    report = json.loads(stem.with_suffix(".report.json").read_text())
    result = kelvarin.Project.load(str(project)).fit(threads=1)

    table = report["parameters"]
    assert result.parameters == {p["name"]: p["value"] for p in table}
    assert result.errors == {p["name"]: p["standard_error"] for p in table if p["free"]}
    assert result.free == report["uncertainty"]["free_parameters"]
    assert result.correlations.tolist() == report["uncertainty"]["correlation"]
    statistics = report["statistics"]
    assert (result.error, result.summary["reduced_chi2"], result.summary["weighted_r"]) == (
        statistics["log_error_percent"], statistics["reduced_chi2"],
        statistics["weighted_r_percent"])
    search = report["search"]
    assert (result.summary["termination"], result.summary["evaluations"],
            result.summary["search_error"]) == (search["rule"], search["evaluations"],
                                                search["error_percent"])
    assert (result.summary["polish"] is None) == (report["polish"] is None)
    assert not result.stopped and result.summary["generations"] > 0

    fitted = [line.split() for line in stem.with_suffix(".fit").read_text().splitlines()]
    assert ["%.6f" % v for v in result.curve["computed"]] == [r[2] for r in fitted]
    assert ["%.6f" % v for v in result.curves[0]["measured"]] == [r[1] for r in fitted]
    rows = [r.split(",") for r in stem.with_suffix(".profile.csv").read_text().splitlines()[1:]]
    profile = result.profile
    for column, key in enumerate(("depth", "strain", "damage", "strain_lower", "strain_upper")):
        assert ["%.10g" % v for v in profile[key]] == [r[column] for r in rows], key
    assert (profile["strain_lower"] <= profile["strain"]).all()
    assert (profile["strain"] <= profile["strain_upper"]).all()
    assert untimed(result.report_text) == untimed(stem.with_suffix(".report.txt").read_text())


def test_a_fit_stops_from_its_progress_callback(tmp_path):
    """Stopped, the search keeps its best candidate and the project's polish is left out."""
    project = kelvarin.Project.load(str(project_copy(tmp_path, "fit_de.toml", ())))
    seen = []

    def progress(generation, best_error):
        seen.append((generation, best_error))
        return generation < 2

    result = project.fit(progress=progress)
    assert [g for g, _ in seen] == [1, 2]
    assert result.stopped and result.summary["termination"] == "stopped"
    assert result.summary["generations"] == 2 and result.summary["polish"] is None
    assert result.summary["search_error"] == pytest.approx(seen[-1][1], rel=1e-6)
    assert "stopped" in result.report_text

    def fails(generation, best_error):
        raise KeyError("from the callback")

    with pytest.raises(KeyError, match="from the callback"):
        project.fit(progress=fails)


@pytest.mark.parametrize("target", ["copy.toml", "deeper/copy.toml", "../elsewhere/copy.toml"])
def test_project_saves_and_loads_back(tmp_path, monkeypatch, target):
    """Saved anywhere, the copy reads the measured file the project reads (the project loaded
    by a bare file name, from the working folder)."""
    (tmp_path / "a").mkdir()
    short_project(tmp_path / "a")
    monkeypatch.chdir(tmp_path / "a")
    project = kelvarin.Project.load("fit.toml")
    project.seed, project.optimizer, project.polish = 7, "de", True
    pathlib.Path(target).parent.mkdir(parents=True, exist_ok=True)
    project.save(target)
    again = kelvarin.Project.load(target)
    assert (again.seed, again.generations, again.optimizer, again.polish) == (7, 4, "de", True)
    measured = re.search(r'^file = "(.*)"$', again.text, re.MULTILINE).group(1)
    assert (pathlib.Path(target).parent / measured).samefile(tmp_path / "a" / "measured.dat")
    assert again.text.replace(measured, "measured.dat") == project.text


def bad_population(tmp_path):
    kelvarin.Project.load(str(short_project(tmp_path))).population = 1


def all_fixed(tmp_path):
    edits = [(f"{name} = {{ value = {value}, min", f"{name} = {value}\n# {{ min")
             for name, value in (("tau", "0.004"), ("ro", "300"), ("sigma1", "150"),
                                 ("sigma2", "250"), ("width", "8.5"))]
    kelvarin.Project.load(str(project_copy(tmp_path, "fit_de.toml", edits))).fit()


def missing_measured(tmp_path):
    project = kelvarin.Project.load(str(short_project(tmp_path)))
    (tmp_path / "measured.dat").unlink()
    project.fit()


ERRORS = [
    (lambda p: kelvarin.Crystal("Unobtainium"), ValueError, "Unknown crystal 'Unobtainium'"),
    (lambda p: kelvarin.Reflection((0, 0, 4), radiation="Xxa1"), ValueError, "Unknown radiation"),
    (lambda p: kelvarin.Lamella(100, -100), ValueError, "collapses the cell"),
    (lambda p: kelvarin.Lamella(100, 0.1, damage=1.5), ValueError, "damage factor"),
    (lambda p: kelvarin.simulate(kelvarin.Sample(), kelvarin.Reflection((0, 0, 4)),
                                 np.array([0.0, 1.0, 3.0]), width=5), ValueError,
     "equally spaced"),
    (lambda p: kelvarin.simulate(kelvarin.Sample(), kelvarin.Reflection((0, 0, 4)),
                                 np.array([0.0, np.nan])), ValueError, "finite"),
    (lambda p: kelvarin.simulate(kelvarin.Sample(), kelvarin.Reflection((0, 0, 4)), [0.0],
                                 physics="quantum"), ValueError, "physics must be"),
    (lambda p: kelvarin.simulate(kelvarin.Sample(), kelvarin.Reflection((0, 0, 4)), [0.0],
                                 polarisation="pi"), ValueError, "setting of physics=\"full\""),
    (lambda p: kelvarin.simulate(kelvarin.Sample(), kelvarin.Reflection((0, 0, 4)), [0.0],
                                 physics="full", polarisation="circular"), ValueError,
     "polarisation must be"),
    (lambda p: kelvarin.simulate(kelvarin.Sample(), kelvarin.Reflection((0, 0, 4)), [0.0],
                                 theory="quantum"), ValueError, "theory must be"),
    (lambda p: kelvarin.Project.load(str(p / "none.toml")), OSError, "does not exist"),
    (lambda p: (p / "bad.toml").write_text("[sample]\nsubstrate = 3\n") and
     kelvarin.Project.load(str(p / "bad.toml")), ValueError, "substrate"),
    (bad_population, ValueError, "population"),
    (lambda p: setattr(kelvarin.Project.load(str(short_project(p))), "optimizer", "anneal"),
     ValueError, "optimizer"),
    (missing_measured, OSError, "measured.dat"),
    (all_fixed, ValueError, "every parameter is fixed"),
    (lambda p: kelvarin.Project.load(str(short_project(p))).save(str(p / "no" / "x.toml")),
     OSError, "cannot be written"),
    (lambda p: kelvarin.Project.load(str(short_project(p))).save(str(p)), OSError,
     "cannot be written"),
    (lambda p: kelvarin.read_scan(str(p / "scan.xrdml")), OSError, "Cannot open scan file"),
    (lambda p: kelvarin.read_scan(str(SOURCE / "examples" / "fit.toml")), ValueError,
     "is not a number"),
    (lambda p: kelvarin.read_scan(str(SOURCE / "examples" / "measured.x00"), zero="middle"),
     ValueError, "zero must be"),
]


# Any crystal of the catalogue file names the substrate, as for kelvarin-cli scan.
@pytest.mark.parametrize("crystal", ["GaAs", "MgO"])
def test_read_scan_gives_what_the_scan_command_prints(tmp_path, crystal):
    path = str(SOURCE / "examples" / "measured.x00")
    offsets, counts, meta = kelvarin.read_scan(path, crystal=crystal, hkl=(0, 0, 4),
                                               radiation="Cua1")
    printed = cli("scan", path, "--crystal", crystal, "--hkl", "0", "0", "4", "--radiation",
                  "Cua1")
    rows = [line.split() for line in printed.splitlines() if not line.startswith("#")]
    assert meta["format"] == "PANalytical .x00" and meta["points"] == len(rows)
    assert np.allclose(offsets, [float(r[0]) for r in rows], rtol=1e-9, atol=1e-6)
    assert np.allclose(counts, [float(r[1]) for r in rows], rtol=1e-9)
    assert offsets[np.argmax(counts)] == 0


@pytest.mark.parametrize("call,kind,message", ERRORS)
def test_errors_arrive_as_exceptions_with_the_programs_message(tmp_path, call, kind, message):
    with pytest.raises(kind, match=message):
        call(tmp_path)


def simulate_16_lamellae(tmp_path):
    sample = kelvarin.Sample("GaAs", [kelvarin.Lamella(100, 0.5 - 0.03 * i) for i in range(16)])
    angles = np.arange(-2000.0, 2000.0, 0.2)
    reflection = kelvarin.Reflection((0, 0, 4))
    return lambda: kelvarin.simulate(sample, reflection, angles)


def fit_short_project(tmp_path):
    project = kelvarin.Project.load(str(short_project(tmp_path)))
    return lambda: project.fit(threads=1)


@pytest.mark.parametrize("prepare", [simulate_16_lamellae, fit_short_project])
def test_the_engine_releases_the_interpreter_while_it_computes(tmp_path, prepare):
    """The main thread runs Python code while another thread simulates or fits: with the
    interpreter lock held no main-thread time stamp could fall between its entry and return
    (a long switch interval keeps the lock with the worker unless the call lets it go)."""
    import threading
    import time
    call = prepare(tmp_path)
    inside = []

    def work():
        inside.append(time.perf_counter())
        call()
        inside.append(time.perf_counter())

    interval = sys.getswitchinterval()
    sys.setswitchinterval(0.2)
    try:
        worker = threading.Thread(target=work)
        worker.start()
        ticks = []
        while worker.is_alive():
            ticks.append(time.perf_counter())
        worker.join()
    finally:
        sys.setswitchinterval(interval)
    assert any(inside[0] < t < inside[1] for t in ticks)


def test_the_notebook_example_reproduces_the_command_line_fit(tmp_path):
    script = SOURCE / "examples" / "python" / "reproduce_cli_fit.py"
    done = subprocess.run([sys.executable, script, "--cli", CLI, "--out", tmp_path,
                           "--generations", "20"], capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "agree on every number" in done.stdout
