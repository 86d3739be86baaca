"""Opening captures of every kind, their log heads, head and body bytes,
saving the body, closing, and the errors of each."""

import errno
import fcntl
import io
import ipaddress
import os
import subprocess
import sys
import threading
import time

import pytest

import contentfile
from capture_maker import split_file
from conftest import needs_extension
from contentfile import Kind

SIMPLE_MAIL = b"Content-Type: text/plain\r\nSubject: x\r\n\r\nbody\r\n"




@pytest.mark.parametrize("name, cls, kind", [
    ("smtp_multipart.cf", contentfile.MailCapture, Kind.SMTP),
    ("pop3.cf", contentfile.MailCapture, Kind.POP3),
    ("http_post.cf", contentfile.HttpPostCapture, Kind.HTTP_POST),
])
def test_open_gives_the_class_of_the_kind_and_the_file_bytes(sample, name,
                                                             cls, kind):
    path = sample(name)
    head, body = split_file(path)
    with contentfile.open(path) as cap:
        assert type(cap) is cls and cap.kind == kind
        assert cap.path == path and not cap.closed
        assert (cap.head, cap.body) == (head, body)
        assert (cap.head_size, cap.body_size) == (len(head), len(body))
        assert cap.log.kind == kind
    assert cap.closed


def test_log_head_is_typed(sample, make_capture):
    with contentfile.open(sample("smtp_multipart.cf")) as cap:
        log = cap.log
    assert log.src == ipaddress.IPv4Address("192.0.2.23")
    assert (log.src_port, log.dst_port) == (52814, 25)
    assert log.dst == ipaddress.IPv4Address("198.51.100.25")
    assert (log.line3, log.line4_left, log.line4_right) == (
        "2024-03-14 09:12:05", "sensor-a", "eth0")
    assert log.line9 is None and log.line14 == "recipients 2"
    with contentfile.open(sample("http_post.cf")) as cap:
        assert cap.log.line9 == "http://portal.example.com/feedback/submit"
    # A head line that is no address gives the library's all-ones value.
    path = make_capture("Http Post", b"x=1", src=b"not-an-address")
    with contentfile.open(path) as cap:
        assert cap.log.src == ipaddress.IPv4Address("255.255.255.255")


def test_other_kinds_open_plain_and_kind_can_be_forced(make_capture, sample):
    path = make_capture("FTP", b"\x00\xffraw")
    with contentfile.open(path) as cap:
        assert type(cap) is contentfile.Capture and cap.kind == Kind.OTHER
        assert cap.log is None and cap.body == b"\x00\xffraw"
    # A mail capture whose message cannot be parsed is still readable raw.
    unparsable = make_capture("SMTP", b"Subject: no line end")
    with pytest.raises(contentfile.FormatError) as raised:
        contentfile.open(unparsable)
    assert raised.value.code == -15
    with contentfile.open(unparsable, Kind.OTHER) as cap:
        assert type(cap) is contentfile.Capture
        assert cap.body == b"Subject: no line end"
    with contentfile.open(sample("pop3.cf"), kind=Kind.HTTP_POST) as cap:
        assert type(cap) is contentfile.HttpPostCapture


def test_paths_of_every_type_are_accepted(sample):
    path = sample("pop3.cf")
    import pathlib
    for given in (path, os.fsencode(path), pathlib.Path(path)):
        with contentfile.open(given) as cap:
            assert cap.kind == Kind.POP3
    with pytest.raises(ValueError):
        contentfile.open(path + "\0.cf")


def test_files_that_cannot_be_opened_raise_os_errors(tmp_path, make_capture):
    fifo = str(tmp_path / "fifo")
    os.mkfifo(fifo)
    cases = [
        (str(tmp_path / "missing.cf"), contentfile.NotFoundError,
         FileNotFoundError, errno.ENOENT),
        (str(tmp_path / "missing" / "x.cf"), contentfile.NotFoundError,
         FileNotFoundError, errno.ENOENT),
        (str(tmp_path), contentfile.IsFolderError, IsADirectoryError,
         errno.EISDIR),
        (make_capture("FTP", b"x") + "/x.cf", contentfile.NotFolderError,
         NotADirectoryError, errno.ENOTDIR),
        (fifo, contentfile.FileError, OSError, errno.EINVAL),
        (str(tmp_path / ("x" * 250)), contentfile.FileError, OSError,
         errno.ENAMETOOLONG),
    ]
    for path, cls, os_cls, number in cases:
        with pytest.raises(cls) as raised:
            contentfile.open(path)
        error = raised.value
        assert isinstance(error, os_cls) and isinstance(error, contentfile.Error)
        assert (error.errno, error.filename, error.code) == (number, path, -2)


def test_a_capture_held_by_a_writer_raises_locked(make_capture):
    path = make_capture("SMTP", SIMPLE_MAIL)
    with open(path, "rb") as writer:
        fcntl.flock(writer, fcntl.LOCK_EX)
        with pytest.raises(contentfile.LockedError) as raised:
            contentfile.open(path)
        assert isinstance(raised.value, BlockingIOError)
    contentfile.open(path).close()


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
def test_an_unreadable_capture_raises_permission_error(make_capture):
    path = make_capture("SMTP", SIMPLE_MAIL)
    os.chmod(path, 0)
    with pytest.raises(contentfile.PermissionDeniedError) as raised:
        contentfile.open(path)
    assert isinstance(raised.value, PermissionError)


def test_files_that_are_no_captures_raise_format_errors(tmp_path,
                                                        make_capture):
    empty = str(tmp_path / "empty.cf")
    open(empty, "wb").close()
    cut = make_capture(b"14\r\nSMTP\r\nonly three lines\r\n")
    short_head = make_capture("SMTP", SIMPLE_MAIL, lines=6)
    no_body = make_capture("SMTP", b"")
    for path, code in ((empty, -3), (cut, -4), (short_head, None),
                       (no_body, -11)):
        with pytest.raises(contentfile.FormatError) as raised:
            contentfile.open(path)
        assert raised.value.code == code, path
    # The same files open as plain content files where their head allows.
    with contentfile.open(short_head, Kind.OTHER) as cap:
        assert cap.body == SIMPLE_MAIL


def test_closed_captures_raise_closed_error(sample):
    cap = contentfile.open(sample("smtp_multipart.cf"))
    cap.close()
    cap.close()
    for call in (lambda: cap.head, lambda: cap.body, lambda: cap.head_size,
                 lambda: cap.log, lambda: cap.save_body(io.BytesIO())):
        with pytest.raises(contentfile.ClosedError) as raised:
            call()
        assert isinstance(raised.value, ValueError)
        assert raised.value.code == -1
    assert "closed" in repr(cap)


def test_save_body_to_paths_and_memory(sample, tmp_path):
    path = sample("pop3.cf")
    body = split_file(path)[1]
    with contentfile.open(path) as cap:
        target = tmp_path / "body"
        target.write_bytes(b"older and longer content " * 100)
        cap.save_body(str(target))
        assert target.read_bytes() == body
        memory = io.BytesIO(b"<")
        memory.seek(1)
        cap.save_body(memory)
        assert memory.getvalue() == b"<" + body


@needs_extension
def test_save_body_to_descriptors_and_files(sample, tmp_path):
    path = sample("pop3.cf")
    body = split_file(path)[1]
    with contentfile.open(path) as cap:
        # Written at the position of the descriptor or file object.
        with open(tmp_path / "fd", "wb") as f:
            f.write(b"<")
            f.flush()
            cap.save_body(f.fileno())
        buffered = tmp_path / "buffered"
        with open(buffered, "wb") as f:
            f.write(b"<")
            cap.save_body(f)
            assert f.tell() == 1 + len(body)
            f.write(b">")
        assert buffered.read_bytes() == b"<" + body + b">"
        assert (tmp_path / "fd").read_bytes() == b"<" + body


def test_save_body_failures(sample, tmp_path, make_capture):
    path = sample("pop3.cf")
    original = open(path, "rb").read()
    with contentfile.open(path) as cap:
        with pytest.raises(contentfile.IsFolderError):
            cap.save_body(str(tmp_path))
        with pytest.raises(contentfile.NotFoundError) as raised:
            cap.save_body(str(tmp_path / "no" / "body"))
        assert raised.value.filename == str(tmp_path / "no" / "body")
        # The capture itself and any content file held open are refused.
        with pytest.raises(contentfile.SaveError) as raised:
            cap.save_body(path)
        assert raised.value.code == -2
        other = make_capture("SMTP", SIMPLE_MAIL)
        with contentfile.open(other):
            with pytest.raises(contentfile.SaveError):
                cap.save_body(other)
    assert open(path, "rb").read() == original


@needs_extension
def test_save_body_to_descriptor_failures(sample):
    path = sample("pop3.cf")
    original = open(path, "rb").read()
    with contentfile.open(path) as cap:
        with open(path, "ab") as itself:
            with pytest.raises(contentfile.SaveError) as raised:
                cap.save_body(itself)
            assert raised.value.code == -2
        with open("/dev/null", "rb") as read_only:
            with pytest.raises(contentfile.SaveError) as raised:
                cap.save_body(read_only.fileno())
        with open("/dev/full", "wb") as full:
            with pytest.raises(contentfile.SaveError) as raised:
                cap.save_body(full)
            assert raised.value.code == -6
    assert open(path, "rb").read() == original


def test_an_empty_body_saves_an_empty_file(make_capture, tmp_path):
    path = make_capture("FTP", b"")
    with contentfile.open(path) as cap:
        cap.save_body(str(tmp_path / "new"))
        assert (tmp_path / "new").read_bytes() == b""
        memory = io.BytesIO()
        cap.save_body(memory)
        assert memory.getvalue() == b""
        # An existing file is left as it was: that is reported, not hidden.
        (tmp_path / "old").write_bytes(b"old")
        with pytest.raises(contentfile.SaveError) as raised:
            cap.save_body(str(tmp_path / "old"))
        assert raised.value.code == -3


def test_threads_share_one_capture(sample):
    path = sample("smtp_multipart.cf")
    head, body = split_file(path)
    results = []
    with contentfile.open(path) as cap:
        def work():
            for _ in range(200):
                results.append((cap.head, cap.body, cap.log.src_port))
        threads = [threading.Thread(target=work) for _ in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    assert len(results) == 800
    assert set(results) == {(head, body, 52814)}


def test_closing_while_other_threads_read_never_crashes(sample):
    # Reads racing a close either finish or raise ClosedError.
    for _ in range(20):
        cap = contentfile.open(sample("smtp_multipart.cf"))
        outcomes = []

        def read():
            try:
                for _ in range(50):
                    cap.body
                outcomes.append("read")
            except contentfile.ClosedError:
                outcomes.append("closed")
        threads = [threading.Thread(target=read) for _ in range(3)]
        for thread in threads:
            thread.start()
        cap.close()
        for thread in threads:
            thread.join()
        assert len(outcomes) == 3


def test_a_capture_that_shrinks_after_opening_raises_read_error(make_capture):
    path = make_capture("FTP", b"x" * 4096)
    with contentfile.open(path) as cap:
        os.truncate(path, cap.head_size + 10)
        with pytest.raises(contentfile.ReadError) as raised:
            cap.body
        assert raised.value.code == -3
        assert cap.head.startswith(b"14\r\n")


BIG_MAIL = (b"Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
            b"Content-Type: text/plain\r\n\r\n" + b"line of text\r\n" *
            (5 << 20) + b"--b--\r\n")


def test_the_gil_is_released_while_the_library_works(make_capture):
    path = make_capture("SMTP", BIG_MAIL)
    counter = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counter[0] += 1

    def progress_during(call):
        # Repeated until it has run long enough to judge: an open of the
        # capture takes only milliseconds.
        before, began = counter[0], time.perf_counter()
        call()
        while time.perf_counter() - began < 0.1:
            call()
        return counter[0] - before, time.perf_counter() - began

    interval = sys.getswitchinterval()
    sys.setswitchinterval(0.001)
    thread = threading.Thread(target=count)
    thread.start()
    try:
        done, took = progress_during(lambda: time.sleep(0.2))
        rate = done / took
        for call in (lambda: contentfile.open(path).close(),
                     lambda: contentfile.open(path, Kind.OTHER).body):
            done, took = progress_during(call)
            # Holding the GIL, a call lets the counter move for a switch
            # interval or two at most; released, for most of the call.
            assert done > 0.05 * rate * took, (done, took)
    finally:
        stop.set()
        thread.join()
        sys.setswitchinterval(interval)


# A million empty-headed parts: the open reads the capture through a small
# window, so only the part table outgrows a 16 MB allowance.
MANY_PARTS_MAIL = (b"Content-Type: multipart/mixed; boundary=b\r\n\r\n" +
                   b"--b\r\n\r\nx\r\n" * 1000000 + b"--b--\r\n")


def test_running_out_of_memory_raises_out_of_memory(make_capture):
    path = make_capture("SMTP", MANY_PARTS_MAIL)
    script = (
        "import resource, sys, contentfile\n"
        "with open('/proc/self/statm') as f:\n"
        "    pages = int(f.read().split()[0])\n"
        "limit = pages * resource.getpagesize() + (16 << 20)\n"
        "resource.setrlimit(resource.RLIMIT_AS, (limit, limit))\n"
        "try:\n"
        "    contentfile.open(sys.argv[1])\n"
        "except contentfile.OutOfMemoryError as e:\n"
        "    print(e.code, isinstance(e, MemoryError))\n")
    result = subprocess.run([sys.executable, "-c", script, path],
                            capture_output=True, text=True)
    assert result.stdout.split() in (["-12", "True"], ["-14", "True"]), \
        result.stderr
