#!/usr/bin/env python3
"""Checks what the library hands out for each message of a corpus against
Python's email package (policy.default) reading the same bytes.

Usage: check_against_email.py DUMP_PROGRAM CORPUS_DIR

Compared for every .eml file: the open succeeds; every address of From, To
and Cc, in order; the subject; the names and decoded bytes of the
attachments; the mail text (the first leaf part that is not an attachment).
A leaf is an attachment when it is named, when its disposition is
"attachment", or when its media type is given and is neither text/* nor
multipart/*. Deliberate differences are listed in DIFFERENCES with their
reasons; a listed difference that no longer occurs fails the check too, so
the list stays true.
"""

import email
import email.policy
import json
import os
import subprocess
import sys
import tempfile

# (file, what) -> why the library's answer differs from the email package's.
DIFFERENCES = {
    ("15_group_addresses.eml", "cc"):
        "a group without members ('Ops:;') is handed out as written, since "
        "it holds no address; email gives no address",
    ("23_undisclosed_recipients.eml", "to"):
        "'undisclosed-recipients:;' holds no address and is handed out as "
        "written; email gives no address",
    ("12_qp_soft_breaks_padded.eml", "text"):
        "an '=' followed by spaces or tabs and the line end is a soft line "
        "break here (RFC 2045 transport padding); email keeps the '=' and "
        "the padding as text",
}

MAX_NAME = 260


def unhex(text):
    return bytes.fromhex(text)


def is_attachment(part):
    if part.get_filename():
        return True
    if (part.get_content_disposition() or "") == "attachment":
        return True
    if "content-type" not in part:
        return False
    return part.get_content_maintype() not in ("text", "multipart")


def leaves(part):
    """Leaf parts in message order; an unsplit multipart is a leaf."""
    if part.get_content_maintype() == "multipart" and isinstance(
            part.get_payload(), list):
        for sub in part.get_payload():
            yield from leaves(sub)
    else:
        yield part


def decoded(part):
    if part.get_content_type() == "message/rfc822" or isinstance(
            part.get_payload(), list):
        return part.as_bytes()
    return part.get_payload(decode=True) or b""


def expected(message_bytes):
    msg = email.message_from_bytes(message_bytes, policy=email.policy.default)
    result = {}
    for field in ("from", "to", "cc"):
        header = msg[field]
        specs = [a.addr_spec for a in header.addresses] if header else []
        result[field] = ",".join(specs).encode()
    result["subject"] = str(msg["subject"] or "").encode()
    text = None
    attachments = []
    for leaf in leaves(msg):
        if is_attachment(leaf):
            name = (leaf.get_filename() or "").encode()[:MAX_NAME]
            attachments.append((name, decoded(leaf)))
        elif text is None:
            text = decoded(leaf)
    result["text"] = text or b""
    result["attachments"] = attachments
    return result


def served(dump, path):
    with tempfile.TemporaryDirectory() as work:
        out = subprocess.run([dump, path, work], check=True,
                             capture_output=True).stdout
    report = json.loads(out)
    result = {field: unhex(report[field])
              for field in ("from", "to", "cc", "subject", "text")}
    result["open"] = report["result"]
    result["attachments"] = [(unhex(a["name"]), unhex(a["data"]))
                             for a in report["attachments"]]
    return result


def main():
    dump, corpus = sys.argv[1], sys.argv[2]
    files = sorted(f for f in os.listdir(corpus) if f.endswith(".eml"))
    failures = []
    seen_differences = set()
    for name in files:
        path = os.path.join(corpus, name)
        with open(path, "rb") as f:
            message_bytes = f.read()
        want = expected(message_bytes)
        got = served(dump, path)
        if got["open"] != 0:
            failures.append(f"{name}: open returned {got['open']}")
            continue
        for what in ("from", "to", "cc", "subject", "text", "attachments"):
            if got[what] == want[what]:
                continue
            if (name, what) in DIFFERENCES:
                seen_differences.add((name, what))
                continue
            failures.append(f"{name}: {what}: library {got[what]!r}, "
                            f"email {want[what]!r}")
    for key in sorted(set(DIFFERENCES) - seen_differences):
        failures.append(f"{key[0]}: {key[1]}: listed difference no longer "
                        "occurs")
    for failure in failures:
        print(failure)
    print(f"{len(files)} messages, {len(seen_differences)} listed "
          f"differences, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
