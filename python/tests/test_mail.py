"""Mail captures: record fields, header fields, texts, parts and
attachments, and saving them safely."""

import base64
import binascii
import io
import os
import threading

import pytest

import capture_maker
import contentfile
from conftest import needs_extension
from contentfile import PartKind

pytestmark = needs_extension

CSV = base64.b64decode(
    b"cmVnaW9uLHF1YXJ0ZXIsb3JkZXJzLHJldmVudWUNCm5vcnRoLFEzLDEyMDQsODg0MTAu"
    b"NTANCnNvdXRoLFEzLDk3OCw3MDEyMi4wMA0KZWFzdCxRMywxNTMwLDExMjkwNC4yNQ0K"
    b"d2VzdCxRMyw4NjUsNjE4NzcuNzUNCg==")


@pytest.fixture
def multipart(sample):
    with contentfile.open(sample("smtp_multipart.cf")) as cap:
        yield cap


@pytest.fixture
def generated(make_capture):
    """A mail capture made by capture_maker.message(index)."""
    def make(index, size=600):
        return contentfile.open(make_capture("SMTP", capture_maker.message(
            index, size)))
    return make


def test_record_fields_and_subject(multipart, make_capture):
    record = contentfile.report(multipart.path)["mail"]
    assert (multipart.from_, multipart.to, multipart.cc) == (
        record["from"], record["to"], record["cc"])
    assert multipart.to.startswith("bob@example.net")
    assert multipart.subject == "Résumé of the third quarter"
    assert multipart.subject_bytes == "Résumé of the third quarter".encode()
    assert multipart.from_bytes == b"alice@example.org"
    # Full length, where the log record cuts the list at 255 bytes.
    many = ", ".join("<user%03d@example.com>" % i for i in range(40))
    path = make_capture("SMTP", b"To: " + many.encode() +
                        b"\r\nContent-Type: text/plain\r\n\r\nx\r\n")
    with contentfile.open(path) as cap:
        assert len(cap.to_bytes) > 255
        assert cap.to.count("@example.com") == 40
        assert contentfile.report(path)["mail"]["to"] == cap.to[:255]


def test_subject_words_decode_by_their_own_charsets(make_capture):
    subject = (b"=?ISO-8859-1?Q?caf=E9?= =?UTF-8?B?w7xiZXI=?= "
               b"=?GB2312?B?1tDOxA==?= plain")
    path = make_capture("SMTP", b"Subject: " + subject +
                        b"\r\nContent-Type: text/plain\r\n\r\nx\r\n")
    with contentfile.open(path) as cap:
        assert cap.subject.startswith("caféüber")
        assert "中文" in cap.subject and cap.subject.endswith(" plain")
        field = cap.headers.fields("subject")[0]
        assert field.raw == subject
        assert [charset.lower() for _, charset in field.segments
                if charset] == ["iso-8859-1", "utf-8", "gb2312"]


def test_headers_mapping(multipart):
    headers = multipart.headers
    assert headers["from"] == headers["FROM"] == \
        '"Alice Martin" <alice@example.org>'
    assert headers["Message-ID"] == "<20240314091203.5521@client.example.org>"
    assert headers.get_all("Received")[0].startswith("from client.example.org")
    assert "\n" not in headers["Received"]  # unfolded
    assert "x-missing" not in headers and "cc" in headers
    assert headers.get("X-Missing") is None and headers.get_all("X-No") == []
    with pytest.raises(KeyError):
        headers["X-Missing"]
    assert list(headers) == ["Received", "From", "To", "Cc", "Subject",
                             "Date", "Message-ID", "MIME-Version",
                             "Content-Type"]
    assert len(headers) == 9
    assert dict(headers)["Cc"] == "<dave@example.com>"


def test_every_occurrence_of_a_field_in_order(generated):
    with generated(1) as cap:
        received = cap.headers.get_all("received")
        assert [r.split(";")[0] for r in received] == ["from a by b",
                                                       "from c by d"]


def test_parts_list_every_leaf_part(multipart):
    parts = multipart.parts
    assert [(p.kind, p.media_type, p.name) for p in parts] == [
        (PartKind.TEXT, "text/plain", ""),
        (PartKind.ATTACHMENT, "text/csv", "figures-q3.csv"),
        (PartKind.ATTACHMENT, "text/plain", "notes.txt")]
    assert [p.attachment_index for p in parts] == [None, 0, 1]
    assert [p.transfer_encoding for p in parts] == ["8bit", "base64",
                                                    "quoted-printable"]
    assert [p.charset for p in parts] == ["UTF-8", "", "UTF-8"]
    assert parts[1].disposition == "attachment"
    assert [p.depth for p in parts] == [0, 0, 0]
    body = multipart.body
    for part in parts:
        assert part.header_offset < part.content_offset < len(body)
        assert body[part.header_offset:].startswith(b"Content-Type")
    report = contentfile.report(multipart.path)
    assert [(a.name, a.stored_size) for a in multipart.attachments] == [
        (a["name"], a["size"]) for a in report["mail"]["attachments"]]


def test_part_contents(multipart):
    text, csv, notes = multipart.parts
    assert csv.read() == CSV and csv.decoded_size == len(CSV)
    stored = multipart.body[notes.content_offset:notes.content_offset +
                            notes.stored_size]
    assert notes.read() == binascii.a2b_qp(stored)
    assert "café" in notes.text()
    assert multipart.text.startswith("Hello Bob,")
    assert multipart.text_bytes == text.read()
    assert multipart.html is None and multipart.html_bytes is None


def test_texts_and_names_decode_by_their_charsets(generated):
    with generated(2) as cap:
        assert cap.html.startswith("<p>") and "café" in cap.html
        assert "café" in cap.text and cap.html_bytes.startswith(b"<p>")
    with generated(3) as cap:
        latin = [p for p in cap.attachments if p.charset][0]
        assert latin.name == "résumé.txt"
        assert latin.name_charset.lower() == "iso-8859-1"
        assert latin.text() == "café crème brûlée"


def test_stream_gives_the_content_in_steps(generated):
    with generated(1, size=1 << 20) as cap:
        part = cap.attachments[0]
        chunks = []
        part.stream(chunks.append)
        assert b"".join(chunks) == part.read()
        assert len(chunks) > 1 and max(map(len, chunks)) <= 256 * 1024

        class Stop(Exception):
            pass

        def stop(chunk):
            raise Stop()
        with pytest.raises(Stop):
            part.stream(stop)

        def reenter(chunk):
            cap.parts[0].read()
        with pytest.raises(RuntimeError):
            part.stream(reenter)
        assert part.read()  # still usable


def test_save_to_paths_is_safe(multipart, tmp_path):
    csv = multipart.parts[1]
    target = tmp_path / "figures.csv"
    csv.save(str(target))
    assert target.read_bytes() == CSV
    with pytest.raises(contentfile.ExistsError) as raised:
        csv.save(target)
    assert isinstance(raised.value, FileExistsError)
    assert raised.value.filename == str(target)
    # A link at the target is never written through, not even with
    # overwrite (the link itself is replaced).
    victim = tmp_path / "victim"
    victim.write_bytes(b"keep")
    link = tmp_path / "link"
    link.symlink_to(victim)
    with pytest.raises(contentfile.ExistsError):
        csv.save(link)
    csv.save(link, overwrite=True)
    assert victim.read_bytes() == b"keep" and link.read_bytes() == CSV
    assert not link.is_symlink()
    with pytest.raises(contentfile.NotFoundError):
        csv.save(tmp_path / "no" / "x")
    with pytest.raises(contentfile.IsFolderError):
        csv.save(tmp_path, overwrite=True)
    # Never onto the capture or another content file held open.
    with pytest.raises(contentfile.SaveError) as raised:
        csv.save(multipart.path, overwrite=True)
    assert raised.value.code == -11
    assert contentfile.open(multipart.path).body == multipart.body


def test_save_to_descriptors_and_file_objects(multipart, tmp_path):
    notes = multipart.attachments[1]
    memory = io.BytesIO()
    notes.save(memory)
    assert memory.getvalue() == notes.read()
    with open(tmp_path / "fd", "wb") as f:
        f.write(b"<")
        f.flush()
        notes.save(f.fileno())
    assert (tmp_path / "fd").read_bytes() == b"<" + notes.read()
    with open("/dev/full", "wb") as full:
        with pytest.raises(contentfile.SaveError) as raised:
            notes.save(full.fileno())
        assert raised.value.code == -15
    with open(multipart.path, "ab") as itself:
        with pytest.raises(contentfile.SaveError) as raised:
            notes.save(itself.fileno())
        assert raised.value.code == -11


def test_attachment_calls_of_the_record_interface(multipart, tmp_path):
    native = multipart._native
    assert native.attachment_count() == 2
    assert native.attachment_info(0) == (b"figures-q3.csv", 172)
    native.save_attachment_to_path(0, os.fsencode(tmp_path / "a"))
    assert (tmp_path / "a").read_bytes() == CSV
    with pytest.raises(contentfile.NoSuchPartError) as raised:
        native.save_attachment_to_path(5, os.fsencode(tmp_path / "b"))
    assert raised.value.code == -14 and isinstance(raised.value, IndexError)
    with pytest.raises(contentfile.SaveError):
        native.save_attachment_to_path(0, os.fsencode(multipart.path))
    with pytest.raises(contentfile.IsFolderError):
        native.save_attachment_to_path(0, os.fsencode(tmp_path))
    with open(tmp_path / "c", "wb") as f:
        native.save_attachment_to_fd(1, f.fileno())
    assert (tmp_path / "c").read_bytes() == multipart.attachments[1].read()
    assert multipart._native.mail_text().startswith(b"Hello Bob,")
    for call in (lambda: native.read_part(9, 10),
                 lambda: native.part_decoded_size(9),
                 lambda: native.attachment_info(7)):
        with pytest.raises((contentfile.NoSuchPartError, ValueError)):
            call()


def test_closed_mail_raises_closed_error(sample):
    cap = contentfile.open(sample("smtp_multipart.cf"))
    part = cap.parts[1]
    cap.close()
    for call in (lambda: cap.subject, lambda: cap.headers["From"],
                 part.read, lambda: part.save(io.BytesIO()),
                 lambda: cap.from_):
        with pytest.raises(contentfile.ClosedError):
            call()


def test_threads_read_parts_of_one_capture(generated):
    with generated(4, size=64 * 1024) as cap:
        expected = [p.read() for p in cap.parts]
        seen = []

        def work():
            for _ in range(20):
                seen.append([p.read() for p in cap.parts])
        threads = [threading.Thread(target=work) for _ in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        assert seen == [expected] * 80
