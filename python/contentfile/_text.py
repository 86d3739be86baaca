"""Bytes of a message to text, by the charsets the message declares."""

from __future__ import annotations

import codecs
from typing import Iterable, Tuple

# Labels that mail readers read as a superset of what they name: mail
# declared as GB2312 or as ISO-8859-1 routinely holds characters of GBK or
# of Windows-1252.
_SUPERSETS = {
    "gb2312": "gb18030",
    "gbk": "gb18030",
    "x-gbk": "gb18030",
    "iso-8859-1": "cp1252",
    "iso8859-1": "cp1252",
    "latin1": "cp1252",
    "us-ascii": "cp1252",
    "ascii": "cp1252",
    "ks_c_5601-1987": "cp949",
    "euc-kr": "cp949",
    "shift_jis": "cp932",
    "x-sjis": "cp932",
    "tis-620": "cp874",
}


def codec_for(charset: str) -> str:
    """The Python codec for a declared charset; UTF-8 for none or for one
    that Python does not know."""
    label = charset.strip().strip('"').lower()
    label = _SUPERSETS.get(label, label)
    if not label:
        return "utf-8"
    try:
        return codecs.lookup(label).name
    except LookupError:
        return "utf-8"


def decode(data: bytes, charset: str = "") -> str:
    """``data`` decoded by ``charset`` (UTF-8 when none is declared or it is
    unknown); bytes that do not decode become U+FFFD."""
    return data.decode(codec_for(charset), "replace")


def decode_segments(segments: Iterable[Tuple[bytes, str]]) -> str:
    """A header value from its runs, each decoded by its own charset."""
    return "".join(decode(text, charset) for text, charset in segments)
