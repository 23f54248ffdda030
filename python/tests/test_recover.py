"""The Python module over the installed library: python3 -m pytest python/tests

MDWDLL_LIBRARY names the library to test (else the loader finds it);
MPPRECOVER_CLI, when set, is the CLI whose --json the module must agree with;
MPPRECOVER_EXPECT_MODULE, when set, is the folder the module must come from
(an installed copy, not the source tree). The damaged corpus file comes
from ../shared beside the checkout and is skipped when that is absent.
"""

import json
import os
import pathlib
import shutil
import subprocess
import sys
import threading
import xml.etree.ElementTree as ET

import pytest

import mpprecover

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "sample.mpp"
SHARED = ROOT.parent / "shared"
CORPUS_FILE = SHARED / "corpus" / "mpp" / "generated__assignment-assignments__assignment-assignments-project2010-mpp14.mpp"
NS = "{http://schemas.microsoft.com/project}"


@pytest.fixture
def sample(tmp_path):
    path = tmp_path / "in" / "sample.mpp"
    path.parent.mkdir()
    shutil.copy(SAMPLE, path)
    return path


def leftovers(folder):
    return sorted(p.name for p in pathlib.Path(folder).iterdir() if p.name.startswith(".mdw-"))


def test_module_and_library_are_the_ones_asked_for():
    expected = os.environ.get("MPPRECOVER_EXPECT_MODULE")
    if expected:
        assert pathlib.Path(mpprecover.__file__).resolve().is_relative_to(pathlib.Path(expected).resolve())
    assert mpprecover.library_path() == os.environ.get("MDWDLL_LIBRARY", mpprecover.LIBRARY_NAME)


def test_sample_recovered_whole(sample, tmp_path):
    seen = []
    out = tmp_path / "out"
    out.mkdir()
    r = mpprecover.recover(sample, out, progress=lambda percent, status: seen.append((percent, status)))
    assert (r.result, r.whole, r.level, r.error) == (0, True, 3, None)
    assert r.output == str(out / "sample.xml")
    tasks = {loss.kind: loss for loss in r.losses}["tasks"]
    assert (tasks.recovered, tasks.held, tasks.lost) == (21, 21, False)
    assert ("Tasks", "21") in r.counts
    document = ET.parse(r.output).getroot()
    names = [t.findtext(f"{NS}Name") for t in document.iter(f"{NS}Task")]
    assert len(names) >= 21
    # Progress reaches the caller, with the pass under way.
    assert seen and all(0 <= p <= 100 for p, _ in seen)
    assert any(s.startswith("Pass 1") for _, s in seen)

    # A second run into the folder takes the next free name; into the file
    # itself it refuses, unless asked to replace it.
    assert mpprecover.recover(sample, out).output == str(out / "sample(2).xml")
    with pytest.raises(mpprecover.GeneralError, match="File exists") as refused:
        mpprecover.recover(sample, out / "sample.xml")
    assert refused.value.code == mpprecover.ERR_GENERAL and refused.value.recovery.output is None
    assert mpprecover.recover(sample, out / "sample", replace=True).output == str(out / "sample.xml")
    # Without an output the document goes beside the input.
    assert mpprecover.recover(sample).output == str(sample.with_suffix(".xml"))
    assert leftovers(out) == []


@pytest.mark.parametrize("name, content, error, words", [
    ("missing.mpp", None, mpprecover.GeneralError, "No such file or directory"),
    ("empty.mpp", b"", mpprecover.NothingError, "empty"),
    ("garbage.mpp", b"not a compound file " * 200, mpprecover.NothingError, ""),
])
def test_failures_raise_the_exception_of_their_result(tmp_path, name, content, error, words):
    path = tmp_path / name
    if content is not None:
        path.write_bytes(content)
    with pytest.raises(error, match=words) as raised:
        mpprecover.recover(path, tmp_path)
    assert isinstance(raised.value, mpprecover.RecoveryError)
    assert raised.value.recovery.result == error.code
    assert sorted(p.name for p in tmp_path.iterdir()) == ([name] if content is not None else [])


def test_output_folder_missing(sample, tmp_path):
    with pytest.raises(mpprecover.GeneralError, match="No such file or directory"):
        mpprecover.recover(sample, tmp_path / "no" / "plan.xml")


def test_cancel_from_another_thread_leaves_nothing(sample, tmp_path):
    cancel, started = threading.Event(), threading.Event()

    def progress(percent, status):
        started.set()
        cancel.wait(10)  # hold the run until the other thread has cancelled

    threading.Thread(target=lambda: started.wait(10) and cancel.set()).start()
    with pytest.raises(mpprecover.CancelledError) as raised:
        mpprecover.recover(sample, tmp_path, progress=progress, cancel=cancel)
    assert raised.value.code == mpprecover.ERR_CANCELLED
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in"]
    # Set before the run: nothing runs.
    with pytest.raises(mpprecover.CancelledError):
        mpprecover.recover(sample, tmp_path, cancel=cancel)


def test_an_exception_in_the_callback_stops_the_run(sample, tmp_path):
    def progress(percent, status):
        if percent > 0:
            raise ValueError("enough")

    with pytest.raises(ValueError, match="enough"):
        mpprecover.recover(sample, tmp_path, progress=progress)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in"]


def test_names_that_are_not_utf8(sample, tmp_path):
    folder = os.fsencode(tmp_path) + b"/out\xff"
    os.mkdir(folder)
    source = os.fsencode(tmp_path) + b"/plan\xe9.mpp"
    shutil.copy(sample, source)
    r = mpprecover.recover(source, folder)
    assert os.fsencode(r.output) == folder + b"/plan\xe9.xml"
    assert os.path.exists(r.output)


def test_log_and_kept_container(sample, tmp_path):
    log, kept = tmp_path / "run.log", tmp_path / "repaired.mpp"
    r = mpprecover.recover(sample, tmp_path, log=log, keep_repaired=kept)
    assert r.repaired == str(kept) and kept.read_bytes()[:8] == bytes.fromhex("D0CF11E0A1B11AE1")
    assert "FileRecover" in log.read_text(encoding="cp1252")
    with pytest.raises(FileExistsError):
        mpprecover.recover(sample, tmp_path, keep_repaired=kept)
    size = log.stat().st_size
    mpprecover.recover(sample, tmp_path)  # no log asked: none written
    assert log.stat().st_size == size


@pytest.mark.skipif(not CORPUS_FILE.exists(), reason=f"the sample corpus is absent ({CORPUS_FILE})")
def test_damaged_corpus_file(tmp_path):
    damaged = tmp_path / "damaged.mpp"
    subprocess.run([sys.executable, str(SHARED / "tools" / "mpp_damage.py"), str(CORPUS_FILE), str(damaged),
                    "--kind", "header_zero", "--seed", "1"], check=True, capture_output=True)
    r = mpprecover.recover(damaged, tmp_path)
    assert r.result == 0 and pathlib.Path(r.output).exists()
    by_kind = {loss.kind: loss for loss in r.losses}
    assert by_kind["tasks"].recovered > 0
    assert r.whole == (r.level == 3)
    assert all(loss.held is None or loss.recovered <= loss.held for loss in r.losses)
    ET.parse(r.output)

    cli = os.environ.get("MPPRECOVER_CLI")
    if cli:  # the CLI says the same of the same file
        run = subprocess.run([cli, "--json", "-q", str(damaged), "-o", str(tmp_path / "cli.xml")],
                             capture_output=True, text=True)
        reported = json.loads(run.stdout)
        assert reported["report"]["level"] == r.level
        assert [(x["kind"], x["recovered"], x["held"], x["lost"]) for x in reported["losses"]] == \
               [(x.kind, x.recovered, x.held, x.lost) for x in r.losses]
