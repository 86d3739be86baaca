"""Reports and extraction equal what cfdump gives for the same captures,
serially and on a Dask cluster of worker processes."""

import json
import os

import pytest

import capture_maker
import contentfile
from conftest import run_cfdump

dask = pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")
import contentfile.dask  # noqa: E402

CAPTURES = 2000


@pytest.fixture(scope="module")
def capture_set(tmp_path_factory):
    folder = str(tmp_path_factory.mktemp("set") / "captures")
    return folder, capture_maker.make_set(folder, CAPTURES)


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1,
                                       processes=True, dashboard_address=":0")
    with distributed.Client(cluster) as client:
        yield client
    cluster.close()


def tree(folder):
    """Every file under `folder` with its bytes, by relative path."""
    found = {}
    for root, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = f.read()
    return found


def cfdump_reports(cfdump, *args):
    result = run_cfdump(cfdump, "info", "--json", "-j", "1", *args)
    return [json.loads(line) for line in result.stdout.splitlines()]


def relative_to(reports, prefix):
    """Reports with their extraction paths relative to `prefix`."""
    for report in reports:
        if report.get("extract"):
            report["extract"]["dir"] = os.path.relpath(
                report["extract"]["dir"], prefix)
            for saved in report["extract"]["files"]:
                if saved["file"]:
                    saved["file"] = os.path.relpath(saved["file"], prefix)
    return reports


def test_report_is_cfdumps_json_for_every_sample(cfdump, sample, tmp_path):
    paths = [sample(name) for name in sorted(os.listdir(sample("")))]
    missing = str(tmp_path / "missing.cf")
    paths.append(missing)
    assert [contentfile.report(p) for p in paths] == cfdump_reports(cfdump,
                                                                     *paths)
    failed = contentfile.report(missing)
    assert failed["status"] == "failed" and failed["kind"] is None


def test_report_options_are_cfdumps(cfdump, sample):
    if b"--utf8" not in run_cfdump(cfdump, "--help").stdout:
        pytest.skip("this cfdump has no --utf8 and --hash")
    paths = [sample("smtp_multipart.cf"), sample("pop3.cf")]
    ours = [contentfile.report(p, utf8=True, hashes="md5,sha1,sha256")
            for p in paths]
    assert ours == cfdump_reports(cfdump, "--utf8", "--hash",
                                  "md5,sha1,sha256", *paths)
    with pytest.raises(ValueError):
        contentfile.report(paths[0], hashes="crc32")


def test_dask_reports_equal_serial_and_cfdump(client, capture_set, cfdump):
    folder, paths = capture_set
    serial = [contentfile.report(p) for p in paths]
    bag = contentfile.dask.reports([folder])
    assert bag.npartitions > 1
    assert bag.compute() == serial
    assert serial == cfdump_reports(cfdump, folder)
    statuses = {r["status"] for r in serial}
    assert statuses == {"ok", "partial"}, "the set covers failures too"


def test_inputs_expand_like_cfdumps(client, capture_set, tmp_path):
    folder, paths = capture_set
    listed = [os.fsdecode(p) for p, _ in contentfile.dask.expand_paths(folder)]
    assert listed == paths
    globbed = contentfile.dask.expand_paths(os.path.join(folder, "c00000*.cf"))
    assert [os.fsdecode(p) for p, _ in globbed] == paths[:10]
    deep = contentfile.dask.expand_paths(
        os.path.dirname(folder) + "/**/c00000*.cf")
    assert [os.fsdecode(p) for p, _ in deep] == paths[:10]
    missing = str(tmp_path / "gone.cf")
    assert contentfile.dask.reports(missing).compute()[0]["status"] == "failed"
    assert contentfile.dask.reports([]).compute() == []


def test_dask_extract_writes_what_cfdump_extract_writes(client, capture_set,
                                                        cfdump, tmp_path):
    folder, paths = capture_set
    # Two inputs of the same name in different folders get numbered folders.
    twin = tmp_path / "twin"
    twin.mkdir()
    (twin / "c000001.cf").write_bytes(open(paths[1], "rb").read())
    inputs = [folder, str(twin)]
    ours, theirs = str(tmp_path / "ours"), str(tmp_path / "theirs")
    reports = contentfile.dask.extract(inputs, ours)
    result = run_cfdump(cfdump, "extract", "--json", "-j", "1", "-d", theirs,
                        *inputs)
    expected = [json.loads(line) for line in result.stdout.splitlines()]
    assert relative_to(reports, ours) == relative_to(expected, theirs)
    assert tree(ours) == tree(theirs)
    assert len(tree(ours)) > CAPTURES
    # A second run never replaces what the first wrote; with force it does.
    again = contentfile.dask.extract([paths[2]], ours)
    assert again[0]["extract"]["dir"] == os.path.join(ours, "c000002-2.cf")
    forced = contentfile.dask.extract([paths[2]], ours, force=True)
    assert forced[0]["extract"]["dir"] == os.path.join(ours, "c000002.cf")


def test_extract_refuses_an_unusable_folder(client, tmp_path, sample):
    blocker = tmp_path / "file"
    blocker.write_bytes(b"")
    with pytest.raises(contentfile.ExtractError):
        contentfile.dask.extract([sample("pop3.cf")], str(blocker / "out"))
    bag = contentfile.dask.extract([sample("pop3.cf")], str(tmp_path / "o"),
                                   compute=False)
    assert [r["status"] for r in bag.compute()] == ["ok"]
