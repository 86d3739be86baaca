"""Captures: the objects that contentfile.open() gives."""

from __future__ import annotations

import enum
import errno
import fcntl
import io
import ipaddress
import os
import stat
from dataclasses import dataclass
from typing import (Any, BinaryIO, Callable, Dict, Iterator, List, Mapping,
                    Optional, Tuple, Union)

from . import _errors, _native, _text

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Target = Union[PathLike, int, BinaryIO]

__all__ = ["Kind", "PartKind", "LogHead", "Capture", "HttpPostCapture",
           "MailCapture", "Part", "HeaderField", "Headers", "open"]

# How much of the body is read at a time to find the end of the message
# head when the header names are listed.
_HEAD_STEP = 64 * 1024


class Kind(enum.IntEnum):
    """The protocol kind of a capture, as its head line 2 names it."""

    OTHER = 0
    HTTP_POST = 1
    SMTP = 3
    POP3 = 4


class PartKind(enum.IntEnum):
    """What a leaf part of a message is."""

    UNCLASSIFIED = 0  #: neither a text of the message nor an attachment
    TEXT = 1  #: a text of the message
    ATTACHMENT = 2  #: an attachment


def _str(data: bytes) -> str:
    return data.decode("utf-8", "replace")


@dataclass(frozen=True)
class LogHead:
    """The analysed log head of an HTTP POST or mail capture.

    Text fields are the head's lines decoded as UTF-8 (bytes that do not
    decode become U+FFFD; ``Capture.head`` holds the exact bytes).
    ``line9`` is ``None`` except for HTTP POST captures.
    """

    kind: Kind
    line3: str
    line4_left: str
    line4_right: str
    src: ipaddress.IPv4Address
    src_port: int
    dst: ipaddress.IPv4Address
    dst_port: int
    line9: Optional[str]
    line11: str
    line12: str
    line13: str
    line14: str

    @classmethod
    def _from_native(cls, log: Dict[str, Any]) -> "LogHead":
        try:
            kind = Kind(log["log_type"])
        except ValueError:
            kind = Kind.OTHER
        line9 = log["line9"]
        return cls(kind=kind, line3=_str(log["line3"]),
                   line4_left=_str(log["line4_left"]),
                   line4_right=_str(log["line4_right"]),
                   src=ipaddress.IPv4Address(log["addr1"]),
                   src_port=log["port1"],
                   dst=ipaddress.IPv4Address(log["addr2"]),
                   dst_port=log["port2"],
                   line9=None if line9 is None else _str(line9),
                   line11=_str(log["line11"]), line12=_str(log["line12"]),
                   line13=_str(log["line13"]), line14=_str(log["line14"]))


def _fspath(path: PathLike) -> bytes:
    path = os.fsencode(path)
    if b"\0" in path:
        raise ValueError("embedded null byte in the path")
    return path


def _create_exclusive(path: bytes, overwrite: bool) -> int:
    """A descriptor of a file created fresh at ``path``: never through a
    symbolic link, never an existing file unless ``overwrite``, in which
    case the existing entry (not a folder) is removed first, never written
    through."""
    flags = (os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW |
             os.O_CLOEXEC)
    try:
        if overwrite:
            _remove_unless_held_open(path)
        return os.open(path, flags, 0o666)
    except FileExistsError as e:
        if os.path.isdir(path) and not os.path.islink(path):
            raise _errors.file_error(errno.EISDIR, path, None,
                                    "create") from None
        raise _errors.os_error(e, "create") from None
    except OSError as e:
        raise _errors.os_error(e, "create") from None


def _remove_unless_held_open(path: bytes) -> None:
    """Removes the entry at ``path`` (not a folder) unless it is a content
    file that a capture holds open, as the library refuses to write onto
    one."""
    try:
        mode = os.lstat(path).st_mode
    except FileNotFoundError:
        return
    if stat.S_ISDIR(mode):
        return
    if stat.S_ISREG(mode):
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK |
                     os.O_CLOEXEC)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            error = _errors.SaveError(
                "%s: the target is a content file held open"
                % os.fsdecode(path))
            error.operation, error.code = "create", -11
            raise error from None
        finally:
            os.close(fd)
    os.unlink(path)


def _save_to_new_file(path: PathLike, overwrite: bool,
                      write: Callable[[int], None]) -> None:
    """Runs ``write`` on a descriptor of a freshly created file at
    ``path``; a failed write removes the file, so that nothing is left that
    looks like a whole copy."""
    path = _fspath(path)
    fd = _create_exclusive(path, overwrite)
    try:
        write(fd)
        os.close(fd)
    except BaseException:
        os.close(fd)
        try:
            os.unlink(path)
        except OSError:
            pass
        raise


def _real_file_descriptor(target: Any) -> Optional[int]:
    """The descriptor of a binary file object, flushed so that writes to the
    descriptor follow what it has written; None for objects without one."""
    fileno = getattr(target, "fileno", None)
    if fileno is None or isinstance(target, io.TextIOBase):
        return None
    try:
        fd = fileno()
    except (OSError, ValueError, io.UnsupportedOperation):
        return None
    target.flush()
    return fd


def _resync(target: Any, fd: int) -> None:
    """Moves a seekable file object's idea of its position to where the
    descriptor's writes ended."""
    if getattr(target, "seekable", lambda: False)():
        target.seek(os.lseek(fd, 0, os.SEEK_CUR))


class Capture:
    """A capture of any kind: its log head, raw head and body.

    Use it as a context manager (or call :meth:`close`). One capture may be
    shared by threads: its calls take turns, and each runs without the GIL.
    """

    def __init__(self, native: "_native.Capture") -> None:
        self._native = native
        self._log: Optional[LogHead] = None

    def __enter__(self) -> "Capture":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else "open"
        return "<%s %r %s>" % (type(self).__name__, self.path, state)

    def close(self) -> None:
        """Closes the capture; later calls raise :class:`ClosedError`.
        Closing twice is allowed."""
        self._native.close()

    @property
    def closed(self) -> bool:
        return self._native.closed

    @property
    def path(self) -> str:
        """The path the capture was opened with."""
        return os.fsdecode(self._native.path)

    @property
    def kind(self) -> Kind:
        return Kind(self._native.kind)

    @property
    def log(self) -> Optional[LogHead]:
        """The analysed log head; ``None`` for a capture of another kind
        than HTTP POST, SMTP or POP3 (its head is not analysed)."""
        if self._log is None:
            log = self._native.log_head()
            if log is None:
                return None
            self._log = LogHead._from_native(log)
        return self._log

    @property
    def head_size(self) -> int:
        return self._native.sizes()[0]

    @property
    def body_size(self) -> int:
        return self._native.sizes()[1]

    @property
    def head(self) -> bytes:
        """The log head, every line with its line end."""
        return self._native.head()

    @property
    def body(self) -> bytes:
        """The captured body, as it is in the file."""
        return self._native.body()

    def save_body(self, target: Target) -> None:
        """Saves the body into ``target``: a path (written as the library
        writes it: never onto a content file held open, an existing file
        replaced only once the body is in hand), a descriptor, or a binary
        file object (written at its position)."""
        if isinstance(target, int):
            self._native.save_body_to_fd(target)
            return
        if isinstance(target, (str, bytes, os.PathLike)):
            path = _fspath(target)
            try:
                self._native.save_body_to_path(path)
            except _errors.SaveError as e:
                # An empty body writes nothing: a new target is the empty
                # copy, an existing one was left as it was.
                if e.code != -3 or os.path.getsize(path) != 0:
                    raise
            return
        fd = _real_file_descriptor(target)
        if fd is None:
            target.write(self.body)
            return
        if self.body_size == 0:
            return
        self._native.save_body_to_fd(fd)
        _resync(target, fd)


class HttpPostCapture(Capture):
    """The capture of an HTTP POST transfer; its body is the posted data
    and its log head carries line 9."""

    @property
    def log(self) -> LogHead:
        log = super().log
        assert log is not None
        return log


@dataclass(frozen=True)
class HeaderField:
    """One occurrence of a field of the message head."""

    name: str  #: as written
    raw: bytes  #: the value unfolded, encoded words kept
    decoded: bytes  #: the value with its encoded words decoded
    segments: Tuple[Tuple[bytes, str], ...]  #: (bytes, charset) runs

    @property
    def value(self) -> str:
        """The value as text: each run decoded by the charset it declared
        (UTF-8 for text outside encoded words)."""
        return _text.decode_segments(self.segments)

    def __str__(self) -> str:
        return self.value


class Headers(Mapping[str, str]):
    """The fields of the message head by name, letters compared without
    regard to case. ``headers[name]`` is the first occurrence's value
    (KeyError when there is none); :meth:`get_all` and :meth:`fields` give
    every occurrence, in order."""

    def __init__(self, native: "_native.Capture") -> None:
        self._native = native

    def fields(self, name: str) -> List[HeaderField]:
        """Every occurrence of the field ``name``; [] when there is none."""
        out = []
        for field_name, raw, decoded, segments in self._native.header_fields(
                name.encode("utf-8")):
            out.append(HeaderField(
                _str(field_name), raw, decoded,
                tuple((text, _str(charset)) for text, charset in segments)))
        return out

    def get_all(self, name: str) -> List[str]:
        """The value of every occurrence of ``name`` as text."""
        return [field.value for field in self.fields(name)]

    def __getitem__(self, name: str) -> str:
        if not isinstance(name, str):
            raise KeyError(name)
        found = self.fields(name)
        if not found:
            raise KeyError(name)
        return found[0].value

    def __contains__(self, name: object) -> bool:
        return isinstance(name, str) and bool(self.fields(name))

    def _names(self) -> List[str]:
        # The head runs up to the first empty line; it is read in steps so
        # that a large body is not read for it.
        limit = _HEAD_STEP
        while True:
            data = self._native.body_prefix(limit)
            end = _head_end(data)
            if end >= 0 or len(data) < limit:
                break
            limit *= 4
        head = data if end < 0 else data[:end]
        names: Dict[str, str] = {}
        for line in head.split(b"\n"):
            if not line or line[:1] in (b" ", b"\t"):
                continue
            colon = line.find(b":")
            if colon <= 0:
                continue
            name = _str(line[:colon].strip())
            if name:
                names.setdefault(name.lower(), name)
        return list(names.values())

    def __iter__(self) -> Iterator[str]:
        return iter(self._names())

    def __len__(self) -> int:
        return len(self._names())


def _head_end(data: bytes) -> int:
    """Where the message head ends in ``data`` (before its empty line), or
    -1 when ``data`` holds no empty line."""
    if data.startswith(b"\r\n") or data.startswith(b"\n"):
        return 0
    ends = [i for i in (data.find(b"\n\n"), data.find(b"\n\r\n")) if i >= 0]
    return min(ends) if ends else -1


class Part:
    """One leaf part of a message, in message order.

    Attributes:
        index: its position in ``MailCapture.parts``.
        kind: ``PartKind.TEXT``, ``ATTACHMENT`` or ``UNCLASSIFIED``.
        attachment_index: its index among the attachments, or None.
        media_type: "type/subtype" in lower case; "" when absent.
        charset, format, delsp: Content-Type parameters as written; "".
        disposition: the Content-Disposition type in lower case.
        name_bytes, name_charset: the decoded file name's bytes and the
            charset its encoded words (or RFC 2231 form) declared.
        content_id: without its angle brackets.
        transfer_encoding: in lower case; "" when absent.
        stored_size: the content's bytes, still encoded.
        depth: 0 for a part at the message's own level.
        header_offset, content_offset: where its header block and its
            content start in the body.
    """

    __slots__ = ("_capture", "index", "kind", "attachment_index",
                 "media_type", "charset", "format", "delsp", "disposition",
                 "name_bytes", "name_charset", "content_id",
                 "transfer_encoding", "stored_size", "depth",
                 "header_offset", "content_offset", "_decoded_size")

    def __init__(self, capture: "MailCapture", index: int,
                 info: Dict[str, Any]) -> None:
        self._capture = capture
        self.index: int = index  #: its position among the parts
        self.kind = PartKind(info["kind"])
        #: its index among the attachments, or None
        self.attachment_index: Optional[int] = (
            info["attachment_index"] if info["attachment_index"] >= 0 else
            None)
        #: "type/subtype" in lower case; "" when absent
        self.media_type: str = _str(info["media_type"])
        self.charset: str = _str(info["charset"])  #: as written; "" if none
        self.format: str = _str(info["format"])
        self.delsp: str = _str(info["delsp"])
        self.disposition: str = _str(info["disposition"])
        self.name_bytes: bytes = info["name"]  #: the decoded name's bytes
        self.name_charset: str = _str(info["name_charset"])
        self.content_id: str = _str(info["content_id"])
        self.transfer_encoding: str = _str(info["transfer_encoding"])
        self.stored_size: int = info["stored_size"]  #: still encoded
        self.depth: int = info["depth"]  #: 0 at the message's own level
        self.header_offset: int = info["header_offset"]  #: in the body
        self.content_offset: int = info["content_offset"]  #: in the body
        self._decoded_size: Optional[int] = None

    def __repr__(self) -> str:
        return "<Part %d %s %s %r>" % (self.index, self.kind.name,
                                       self.media_type or "-", self.name)

    @property
    def name(self) -> str:
        """The part's file name as text, decoded by the charset its encoded
        words declared; "" when it has none."""
        return _text.decode(self.name_bytes, self.name_charset)

    @property
    def decoded_size(self) -> int:
        """The size of the decoded content (one decoding pass on first
        use)."""
        if self._decoded_size is None:
            self._decoded_size = self._capture._native.part_decoded_size(
                self.index)
        return self._decoded_size

    def read(self) -> bytes:
        """The decoded content."""
        return self._capture._native.read_part(self.index, self.stored_size)

    def text(self) -> str:
        """The decoded content as text, decoded by the part's charset."""
        return _text.decode(self.read(), self.charset)

    def stream(self, write: Callable[[bytes], Any]) -> None:
        """Calls ``write`` with the decoded content in steps of at most
        256 KiB; an exception of ``write`` stops it and is raised here."""
        self._capture._native.stream_part(self.index, write)

    def save(self, target: Target, *, overwrite: bool = False) -> None:
        """Saves the decoded content into ``target``.

        A path gets a file created fresh: never written through a symbolic
        link, never over an existing file unless ``overwrite`` (which
        removes the existing entry first), never onto the capture or a
        content file held open, and removed again when the save fails.
        A descriptor is written at its position; a binary file object gets
        the content in steps through its ``write``.
        """
        native = self._capture._native
        if isinstance(target, int):
            native.save_part_to_fd(self.index, target)
        elif isinstance(target, (str, bytes, os.PathLike)):
            _save_to_new_file(
                target, overwrite,
                lambda fd: native.save_part_to_fd(self.index, fd))
        else:
            native.stream_part(self.index, target.write)


class MailCapture(Capture):
    """The capture of a mail transfer (SMTP or POP3): the message's fields,
    texts, parts and attachments.

    ``from_``, ``to``, ``cc`` and ``subject`` are normalised as the log
    record normalises them (address lists, decoded subject) at full length;
    each has a ``*_bytes`` counterpart with the exact bytes.
    """

    def __init__(self, native: "_native.Capture") -> None:
        super().__init__(native)
        self._parts: Optional[List[Part]] = None

    @property
    def log(self) -> LogHead:
        log = super().log
        assert log is not None
        return log

    def _record(self, field: int) -> bytes:
        return self._native.record_field(field)

    @property
    def from_bytes(self) -> bytes:
        return self._record(0)

    @property
    def to_bytes(self) -> bytes:
        return self._record(1)

    @property
    def cc_bytes(self) -> bytes:
        return self._record(2)

    @property
    def subject_bytes(self) -> bytes:
        return self._record(3)

    @property
    def from_(self) -> str:
        """The From addresses, normalised."""
        return _str(self.from_bytes)

    @property
    def to(self) -> str:
        """The To addresses, normalised, at full length."""
        return _str(self.to_bytes)

    @property
    def cc(self) -> str:
        """The Cc addresses, normalised, at full length."""
        return _str(self.cc_bytes)

    @property
    def subject(self) -> str:
        """The subject, each encoded word decoded by its own charset."""
        subject = self.subject_bytes
        # The record's subject is the first Subject field's decoded value;
        # its runs tell the charset of each part of it.
        for field in self.headers.fields("Subject")[:1]:
            joined = b"".join(text for text, _ in field.segments)
            if joined.strip() == subject.strip():
                return field.value.strip() if joined != subject else \
                    field.value
        return _str(subject)

    @property
    def headers(self) -> Headers:
        """Every field of the message head, by name."""
        return Headers(self._native)

    @property
    def parts(self) -> List[Part]:
        """Every leaf part of the message, in message order."""
        if self._parts is None:
            self._parts = [Part(self, i, info)
                           for i, info in enumerate(self._native.parts())]
        return list(self._parts)

    @property
    def attachments(self) -> List[Part]:
        """The attachments, in the order of their attachment index."""
        found = [p for p in self.parts if p.kind == PartKind.ATTACHMENT]
        return sorted(found, key=lambda p: p.attachment_index)

    def _first_text(self, media_types: Tuple[str, ...]) -> Optional[Part]:
        for part in self.parts:
            if part.kind == PartKind.TEXT and part.media_type in media_types:
                return part
        return None

    @property
    def text_bytes(self) -> bytes:
        """The first text/plain part, decoded; b"" when there is none."""
        part = self._first_text(("text/plain", ""))
        return part.read() if part is not None else b""

    @property
    def text(self) -> str:
        """The first text/plain part as text, decoded by its charset; ""
        when there is none."""
        part = self._first_text(("text/plain", ""))
        return part.text() if part is not None else ""

    @property
    def html_bytes(self) -> Optional[bytes]:
        """The first text/html part, decoded; None when there is none."""
        part = self._first_text(("text/html",))
        return part.read() if part is not None else None

    @property
    def html(self) -> Optional[str]:
        """The first text/html part as text, decoded by its charset; None
        when there is none."""
        part = self._first_text(("text/html",))
        return part.text() if part is not None else None


_CLASSES = {
    Kind.OTHER: Capture,
    Kind.HTTP_POST: HttpPostCapture,
    Kind.SMTP: MailCapture,
    Kind.POP3: MailCapture,
}


def open(path: PathLike, kind: Optional[Kind] = None) -> Capture:
    """Opens the capture at ``path``.

    The capture's class follows its kind, which head line 2 names
    (:class:`MailCapture` for SMTP and POP3, :class:`HttpPostCapture`,
    :class:`Capture` for any other); ``kind`` opens it as that kind instead
    (``Kind.OTHER`` reads any capture as a plain content file, e.g. one
    whose message cannot be parsed).

    Raises :class:`NotFoundError`, :class:`PermissionDeniedError`,
    :class:`IsFolderError`, :class:`LockedError` or :class:`FileError`
    (each also the matching OSError) when the file cannot be opened,
    :class:`FormatError` when it is not a capture of that kind.
    """
    wanted = -1 if kind is None else int(Kind(kind))
    native = _native.Capture(_fspath(path), wanted)
    return _CLASSES.get(Kind(native.kind), Capture)(native)


for _name in __all__:
    globals()[_name].__module__ = "contentfile"
