"""Read the content files of a network content capture.

A content file holds one captured transfer: a short text log head (a line
count, the protocol, the two endpoints, more lines) and the raw captured
body. For SMTP and POP3 captures the body is one mail message, which the
package parses: header fields, MIME parts, transfer encodings and encoded
words, attachments.

Open a capture with :func:`open`; it gives the class of the capture's kind::

    import contentfile

    with contentfile.open("capture.cf") as cap:
        print(cap.kind, cap.log.src, cap.log.src_port)
        if isinstance(cap, contentfile.MailCapture):
            print(cap.from_, cap.to, cap.subject)
            print(cap.headers.get_all("Received"))
            print(cap.text)
            for part in cap.attachments:
                part.save(part.name or "attachment-%d" % part.attachment_index)

:func:`report` gives a capture's report as a dict with the keys of
``cfdump --json``; :mod:`contentfile.dask` runs reports and extraction over
many captures on a Dask cluster.

Failures raise subclasses of :class:`Error` carrying the library's result
code; a file that cannot be opened raises the matching ``OSError`` subclass
too (:class:`NotFoundError` is a ``FileNotFoundError``, and so on).

Calls run without the GIL, so threads read captures in parallel; a capture
shared by threads serves one call at a time.
"""

from __future__ import annotations

import os
from typing import Any, Dict

from . import _native
from ._capture import (Capture, HeaderField, Headers, HttpPostCapture, Kind,
                       LogHead, MailCapture, Part, PartKind, PathLike, open)
from ._errors import (ClosedError, Error, ExistsError, ExtractError,
                      FileError, FormatError, IsFolderError, LockedError,
                      NoSuchPartError, NotFolderError, NotFoundError,
                      OutOfMemoryError, PermissionDeniedError, ReadError,
                      SaveError)

__version__ = "1.0.0"
#: The version of the library the package was built from.
LIBRARY_VERSION: str = _native.LIBRARY_VERSION

__all__ = [
    "open", "report", "Capture", "HttpPostCapture", "MailCapture", "Kind",
    "PartKind", "LogHead", "Part", "Headers", "HeaderField", "Error",
    "ClosedError", "FormatError", "ReadError", "SaveError",
    "NoSuchPartError", "OutOfMemoryError", "ExtractError", "FileError",
    "NotFoundError", "PermissionDeniedError", "IsFolderError",
    "NotFolderError", "ExistsError", "LockedError", "LIBRARY_VERSION",
]


# Makes the reports; it keeps the reports' keys for reuse.
_REPORTER = _native.Reporter()


def report(path: PathLike, *, utf8: bool = False,
           hashes: str = "sha256") -> Dict[str, Any]:
    """The report of one capture: the dict that ``cfdump --json`` writes
    for it (the same keys and values). ``utf8`` adds the texts converted to
    UTF-8 (``--utf8``); ``hashes`` chooses the digests of the parts
    ("md5,sha1,sha256", ``--hash``). A capture that cannot be read gives a
    report whose ``status`` says so, not an exception."""
    path = os.fsencode(path)
    if b"\0" in path:
        raise ValueError("embedded null byte in the path")
    return _REPORTER.report(path, utf8, hashes)
