import os
import shutil
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

import capture_maker  # noqa: E402
import contentfile  # noqa: E402

SAMPLES = os.environ.get("CONTENTFILE_SAMPLES") or os.path.join(
    os.path.dirname(__file__), "..", "..", "samples")


@pytest.fixture
def sample():
    """The path of a bundled sample capture by its name."""
    return lambda name: os.path.join(SAMPLES, name)


@pytest.fixture
def make_capture(tmp_path):
    """Writes a capture from a protocol name (or head bytes) and a body."""
    counter = iter(range(1 << 30))

    def make(protocol_or_head="SMTP", body=b"", **head_options):
        head = protocol_or_head
        if isinstance(head, str):
            head = capture_maker.log_head(head, **head_options)
        path = str(tmp_path / ("capture%d.cf" % next(counter)))
        return capture_maker.write_capture(path, head, body)

    return make


@pytest.fixture(scope="session")
def cfdump():
    """The built cfdump, to compare with; tests that need it skip without
    it."""
    path = os.environ.get("CONTENTFILE_CFDUMP") or shutil.which("cfdump")
    if not path or not os.access(path, os.X_OK):
        pytest.skip("cfdump not found (set CONTENTFILE_CFDUMP)")
    return path


def run_cfdump(cfdump, *args):
    return subprocess.run([cfdump, *args], capture_output=True, check=False)


def _extension_built():
    with contentfile.open(os.path.join(SAMPLES, "smtp_multipart.cf")) as cap:
        try:
            cap.parts
        except contentfile.ClosedError:
            return False
    return True


EXTENSION = _extension_built()
needs_extension = pytest.mark.skipif(
    not EXTENSION,
    reason="the library's part list, header and descriptor calls are still "
           "placeholders in this build")
