#!/usr/bin/env python3
"""The Python email peer of bench/compare, doing what contentfile_extract
does: for each line "message<TAB>output folder" of the list file, parses the
message with the standard library's email package (modern policy), reads its
decoded subject and addresses, writes the decoded first unnamed text part to
mailtext.txt and every named part, decoded, into the output folder.

  python_extract.py LIST
"""

import email
import email.policy
import os
import sys


def safe(name):
    out = "".join("_" if ord(c) < 0x20 or c in "/\\" else c for c in name)
    return out[:120]


def extract(path, folder):
    with open(path, "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.default)
    for field in ("subject", "from", "to", "cc"):
        str(message.get(field, ""))
    text_written = False
    attachments = 0
    for part in message.walk():
        if part.is_multipart():
            continue
        name = part.get_filename()
        if name:
            target = os.path.join(folder, "%d-%s" % (attachments, safe(name)))
            attachments += 1
        elif not text_written and part.get_content_maintype() == "text":
            target = os.path.join(folder, "mailtext.txt")
            text_written = True
        else:
            continue
        with open(target, "wb") as out:
            out.write(part.get_payload(decode=True) or b"")


def main():
    failures = 0
    with open(sys.argv[1], encoding="utf-8") as entries:
        for line in entries:
            path, _, folder = line.rstrip("\n").partition("\t")
            try:
                extract(path, folder)
            except Exception as error:  # report and go on, as the others do
                print("%s: %s" % (path, error), file=sys.stderr)
                failures += 1
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
