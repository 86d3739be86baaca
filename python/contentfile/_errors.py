"""The exceptions of the package and the mapping from the library's results.

Every failure is raised as a subclass of :class:`Error`, which carries the
library's result code (``code``, ``None`` where the library raised instead
of returning a code) and the operation that failed (``operation``). Where a
file cannot be opened or created, the exception is also the matching
:class:`OSError` subclass (``FileNotFoundError``, ``PermissionError``,
``IsADirectoryError`` ...) with ``errno`` and ``filename`` set, the cause
found from the path itself.
"""

from __future__ import annotations

import errno as _errno
import os
import stat
from typing import Dict, Optional, Tuple, Type

__all__ = [
    "Error", "ClosedError", "FormatError", "ReadError", "SaveError",
    "NoSuchPartError", "OutOfMemoryError", "ExtractError", "FileError",
    "NotFoundError", "PermissionDeniedError", "IsFolderError",
    "NotFolderError", "ExistsError", "LockedError",
]

# The library takes paths of at most this many bytes.
MAX_PATH_BYTES = 259
# Content files are 4 GiB minus one byte at most.
LARGEST_CONTENT_FILE = 0xFFFFFFFF


class Error(Exception):
    """Base of every error of the package.

    ``code`` is the library's result code of the failing call (``None``
    when the library raised an error instead); ``operation`` names the
    call.
    """

    code: Optional[int] = None
    operation: str = ""


class ClosedError(Error, ValueError):
    """The capture was closed before the call."""


class FormatError(Error):
    """The file is not a capture that can be read as its kind: empty, cut
    inside its log head, a log head without a line its analysis needs, or a
    message that cannot be parsed."""


class ReadError(Error):
    """Reading the capture failed after it was opened (the file shrank or
    the device failed)."""


class SaveError(Error):
    """A save failed: the target is the capture itself or a content file
    held open, the descriptor is unusable, or writing failed."""


class NoSuchPartError(Error, IndexError):
    """No part or attachment has that index."""


class OutOfMemoryError(Error, MemoryError):
    """The library ran out of memory."""


class ExtractError(Error):
    """The extraction folder cannot be used."""


class FileError(Error, OSError):
    """A file cannot be opened or created; ``errno`` and ``filename`` say
    which and why."""


class NotFoundError(FileError, FileNotFoundError):
    """The file, or a folder on its path, does not exist."""


class PermissionDeniedError(FileError, PermissionError):
    """The file or its folder denies access."""


class IsFolderError(FileError, IsADirectoryError):
    """A folder was given where a file is needed."""


class NotFolderError(FileError, NotADirectoryError):
    """A part of the path that should be a folder is not one."""


class ExistsError(FileError, FileExistsError):
    """The target exists and overwriting was not asked for."""


class LockedError(FileError, BlockingIOError):
    """Another program holds the file open for writing."""


_OS_ERRORS: Dict[int, Type[FileError]] = {
    _errno.ENOENT: NotFoundError,
    _errno.EACCES: PermissionDeniedError,
    _errno.EPERM: PermissionDeniedError,
    _errno.EISDIR: IsFolderError,
    _errno.ENOTDIR: NotFolderError,
    _errno.EEXIST: ExistsError,
    _errno.EWOULDBLOCK: LockedError,
}


def file_error(number: int, path, message: Optional[str] = None,
              operation: str = "", code: Optional[int] = None) -> FileError:
    cls = _OS_ERRORS.get(number, FileError)
    error = cls(number, message or os.strerror(number),
                os.fsdecode(path) if path is not None else None)
    error.operation = operation
    error.code = code
    return error


def os_error(error: OSError, operation: str) -> FileError:
    """The package's counterpart of an OSError raised by Python itself."""
    return file_error(error.errno, error.filename, error.strerror, operation)


def _cannot_open_cause(path: bytes) -> Tuple[int, str]:
    """Why the library could not open ``path`` for reading, as errno and
    words, from the path itself."""
    if len(path) > MAX_PATH_BYTES:
        return (_errno.ENAMETOOLONG,
                "the path has more than %d bytes" % MAX_PATH_BYTES)
    try:
        st = os.stat(path)
    except OSError as e:
        return e.errno, e.strerror
    if stat.S_ISDIR(st.st_mode):
        return _errno.EISDIR, os.strerror(_errno.EISDIR)
    if not stat.S_ISREG(st.st_mode):
        return _errno.EINVAL, "not a regular file"
    if st.st_size > LARGEST_CONTENT_FILE:
        return _errno.EFBIG, "the file is 4 GiB or larger"
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as e:
        return e.errno, e.strerror
    try:
        import fcntl
        fcntl.flock(fd, fcntl.LOCK_SH | fcntl.LOCK_NB)
    except OSError as e:
        return e.errno, "another program holds the file open for writing"
    finally:
        os.close(fd)
    return _errno.EAGAIN, "the file could not be opened"


def _cannot_create_cause(path: bytes) -> Optional[Tuple[int, str]]:
    """Why a file cannot be created at ``path``, or None when the file
    system sees no reason (the library refused it: the capture itself or a
    content file held open)."""
    if len(path) > MAX_PATH_BYTES:
        return (_errno.ENAMETOOLONG,
                "the path has more than %d bytes" % MAX_PATH_BYTES)
    if os.path.isdir(path):
        return _errno.EISDIR, os.strerror(_errno.EISDIR)
    folder = os.path.dirname(path) or b"."
    try:
        st = os.stat(folder)
    except OSError as e:
        return e.errno, e.strerror
    if not stat.S_ISDIR(st.st_mode):
        return _errno.ENOTDIR, os.strerror(_errno.ENOTDIR)
    if os.path.lexists(path):
        if not os.access(path, os.W_OK):
            return _errno.EACCES, os.strerror(_errno.EACCES)
    elif not os.access(folder, os.W_OK | os.X_OK):
        return _errno.EACCES, os.strerror(_errno.EACCES)
    return None


# (error class, words) of each operation's result codes.
_OPEN = {
    -1: (FormatError, "no path was given"),
    -3: (FormatError, "the file is empty"),
    -4: (FormatError, "the file ends inside its log head (it has fewer "
                      "lines than its first line announces)"),
}
_READ = {
    -1: (ClosedError, "the capture is closed"),
    -3: (ReadError, "the file is shorter than when it was opened"),
    -4: (ReadError, "reading the file failed"),
}
_PART = {
    -1: (ClosedError, "the capture is closed"),
    -2: (ValueError, "bad argument"),
    -11: (SaveError, "the descriptor is unusable, or refers to the capture "
                     "or to a content file held open"),
    -12: (OutOfMemoryError, "out of memory"),
    -13: (OutOfMemoryError, "out of memory"),
    -14: (NoSuchPartError, "no such part"),
    -15: (SaveError, "writing failed"),
    -16: (ReadError, "the capture could not be read"),
}
_TABLES = {
    "open": _OPEN,
    "open_http_post": {**_OPEN, **{
        -10: (ReadError, "the file cannot be opened again"),
        -11: (FormatError, "the log head cannot be read"),
    }},
    "open_mail": {**_OPEN, **{
        -11: (FormatError, "the body is empty"),
        -12: (OutOfMemoryError, "out of memory for the body"),
        -13: (ReadError, "reading the body failed"),
        -14: (OutOfMemoryError, "out of memory for the parser"),
        -15: (FormatError, "the message cannot be parsed"),
        -16: (ReadError, "the log head cannot be read"),
    }},
    "read_head": _READ,
    "read_body": _READ,
    "sizes": _READ,
    "log": _READ,
    "save_body": {
        -1: (ClosedError, "the capture is closed"),
        -2: (SaveError, "the target is a content file held open"),
        -3: (SaveError, "the body is empty; an existing target was left as "
                        "it was"),
        -4: (OutOfMemoryError, "out of memory"),
        -5: (ReadError, "reading the body failed"),
        -6: (SaveError, "writing or closing the target failed"),
    },
    "save_body_fd": {
        -1: (ClosedError, "the capture is closed"),
        -2: (SaveError, "the descriptor is unusable or refers to the "
                        "capture itself"),
        -3: (SaveError, "the body is empty"),
        -4: (OutOfMemoryError, "out of memory"),
        -5: (ReadError, "reading the body failed"),
        -6: (SaveError, "writing failed"),
    },
    "save_attachment": {**_PART, **{
        -11: (SaveError, "the target is a content file held open"),
    }},
}
_FILE_OPERATIONS = ("open", "open_http_post", "open_mail")


def from_native(operation: str, code: Optional[int], error_number: int,
                path: bytes) -> BaseException:
    """The exception for a failure that the compiled module reports."""
    if operation == "analyse_head":
        error: BaseException = FormatError(
            "%s: the log head lacks a line that its analysis needs"
            % os.fsdecode(path))
    elif error_number:
        error = file_error(error_number, path, None, operation, code)
    elif operation in _FILE_OPERATIONS and code == -2:
        number, words = _cannot_open_cause(path)
        error = file_error(number, path, "cannot open the capture: " + words,
                          operation, code)
    elif operation in ("save_body", "save_attachment") and code in (-2, -11):
        cause = _cannot_create_cause(path)
        if cause is not None:
            return file_error(cause[0], path, "cannot create the file: " +
                             cause[1], operation, code)
        error = _from_table(operation, code, path)
    else:
        error = _from_table(operation, code, path)
    if isinstance(error, Error):
        error.operation = operation
        error.code = code
    return error


def _from_table(operation: str, code: Optional[int],
                path: bytes) -> BaseException:
    table = _TABLES.get(operation, _PART)
    cls, words = table.get(code, (Error, "unexpected result"))
    where = os.fsdecode(path) + ": " if path else ""
    return cls("%s%s (%s, code %s)" % (where, words, operation, code))


for _name in __all__:
    globals()[_name].__module__ = "contentfile"
