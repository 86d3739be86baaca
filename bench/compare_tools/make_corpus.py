#!/usr/bin/env python3
"""Deterministic mail corpus for bench/compare.

Writes, for each workload, under ROOT/<workload>/:
  msg/NNNNN.cf         the capture: a 14-line log head (CR LF) and the message
  msg/NNNNN.eml        the same message alone, for tools that know no log head
  expected/NNNNN/...   the decoded mail text (mailtext.txt) and attachments
  manifest.json        per message: paths, sizes and SHA-256 of every
                       expected file, the capture's body size, and where in
                       the capture each of them lies encoded (for the floor)
  stamp                the generator version and seed the files were made with

The same seed always gives byte-identical files, so a corpus left in place by
--keep is reused when its stamp matches.

  make_corpus.py ROOT [--seed N] [--workloads big,mails,parts20k,...]
"""

import argparse
import base64
import binascii
import hashlib
import json
import os
import random
import shutil
import sys

GENERATOR_VERSION = 5
DEFAULT_SEED = 20240917

MiB = 1 << 20

# name: (description, builder function name)
WORKLOADS = {}


def workload(name, description):
    def register(fn):
        WORKLOADS[name] = (description, fn)
        return fn
    return register


# ---------------------------------------------------------------- content

WORDS = (
    "the message attached report for our meeting on Monday please review "
    "figures and send your comments before noon thanks regards quarterly "
    "budget draft invoice schedule delivery shipment contract supplier "
    "warehouse inventory forecast revision approval signed copy"
).split()
ACCENTED = ["café", "naïve", "Müller", "façade", "résumé", "Zürich", "señor",
            "Ærø", "smörgåsbord", "crème", "Ångström", "déjà"]
NAMES = ["José Müller", "Zoë Ålander", "François Lefèvre", "Jürgen Weiß",
         "Ana Peña", "Søren Kierkegård", "Chloé Dubois", "Łukasz Wójcik",
         "Ìñigo Álvarez", "Björn Ström"]


def prose(rng, size):
    """UTF-8 text of about `size` bytes in CR LF lines of varied length,
    with accented words, an occasional '=' and a trailing blank or tab."""
    lines = []
    total = 0
    while total < size:
        words = []
        width = rng.randint(20, 110)
        length = 0
        while length < width:
            r = rng.random()
            if r < 0.1:
                w = rng.choice(ACCENTED)
            elif r < 0.12:
                w = "a=b"
            else:
                w = rng.choice(WORDS)
            words.append(w)
            length += len(w) + 1
        line = " ".join(words)
        if rng.random() < 0.05:
            line += rng.choice([" ", "\t"])
        if rng.random() < 0.1:
            line = ""  # paragraph break
        data = line.encode("utf-8") + b"\r\n"
        lines.append(data)
        total += len(data)
    return b"".join(lines)


def qp_encode(text):
    """Quoted-printable with CR LF line ends and '=' CR LF soft breaks."""
    encoded = binascii.b2a_qp(text, quotetabs=False, istext=True)
    assert binascii.a2b_qp(encoded) == text
    assert b"\r\n" in encoded or len(text) < 76
    return encoded


def b64_encode(data):
    """Base64 in 76-column lines ended by CR LF, the last line's ending left
    to the delimiter that follows."""
    return base64.encodebytes(data).replace(b"\n", b"\r\n").rstrip(b"\r\n")


def encoded_word(rng, text):
    """One RFC 2047 word for `text` in B or Q encoding, UTF-8 or Latin-1."""
    charset = "UTF-8"
    raw = text.encode("utf-8")
    if rng.random() < 0.3:
        try:
            raw = text.encode("iso-8859-1")
            charset = "ISO-8859-1"
        except UnicodeEncodeError:
            pass
    if rng.random() < 0.5:
        return "=?%s?B?%s?=" % (charset, base64.b64encode(raw).decode())
    q = []
    for byte in raw:
        c = chr(byte)
        if c == " ":
            q.append("_")
        elif c.isalnum() and byte < 128:
            q.append(c)
        else:
            q.append("=%02X" % byte)
    return "=?%s?Q?%s?=" % (charset, "".join(q))


def encoded_phrase(rng, text, chunk=18):
    """`text` as several encoded words, each short enough for one line."""
    pieces = [text[i:i + chunk] for i in range(0, len(text), chunk)]
    return [encoded_word(rng, p) for p in pieces]


# ---------------------------------------------------------------- messages

class Message:
    """A multipart/mixed message: a quoted-printable text part followed by
    base64 attachments. Records what a correct extraction writes."""

    def __init__(self, rng, index, boundary=None):
        self.rng = rng
        self.index = index
        self.boundary = boundary or "=_part_%08x_%d" % (rng.getrandbits(32),
                                                         index)
        self.head_fields = []
        self.parts = []
        self.text = None
        self.attachments = []  # (decoded name, bytes)

    def field(self, name, value):
        self.head_fields.append("%s: %s" % (name, value))

    def standard_head(self, subject):
        n = self.index
        self.field("Received", "from client%d.example.org (client%d.example.org"
                   " [192.0.2.%d])\r\n\tby mx.example.net with ESMTP id %08x;"
                   "\r\n\tMon, 16 Sep 2024 09:%02d:%02d +0200"
                   % (n, n, n % 250 + 1, n, n % 60, n % 59))
        self.field("From", '"Sender %d" <sender%d@example.org>' % (n, n))
        self.field("To", '"Receiver %d" <receiver%d@example.com>' % (n, n))
        self.field("Subject", subject)
        self.field("Date", "Mon, 16 Sep 2024 09:%02d:%02d +0200"
                   % (n % 60, n % 59))
        self.field("Message-ID", "<%08x.%d@example.org>"
                   % (self.rng.getrandbits(32), n))

    def add_text(self, text):
        assert self.text is None and not self.parts
        self.text = text
        self.parts.append(
            (b"Content-Type: text/plain; charset=utf-8\r\n"
             b"Content-Transfer-Encoding: quoted-printable\r\n\r\n",
             qp_encode(text), "qp"))

    def add_attachment(self, name, data, header_name=None,
                       mime_type="application/octet-stream"):
        """`header_name` is the name as written in the part head (an
        encoded word, say); `name` its decoded form."""
        written = header_name or '"%s"' % name
        self.attachments.append((name, data))
        self.parts.append(
            (("Content-Type: %s;\r\n\tname=%s\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment;\r\n\tfilename=%s\r\n\r\n"
              % (mime_type, written, written)).encode("ascii"),
             b64_encode(data), "base64"))

    def render(self):
        """The message, and where the encoded content of each part lies
        in it: [(encoding, offset, length)], the text first."""
        head = "\r\n".join(self.head_fields + [
            "MIME-Version: 1.0",
            'Content-Type: multipart/mixed;\r\n\tboundary="%s"' % self.boundary,
        ]).encode("ascii") + b"\r\n\r\n"
        delimiter = b"\r\n--" + self.boundary.encode("ascii")
        out = [head, b"This is a multi-part message in MIME format."]
        size = sum(len(x) for x in out)
        segments = []
        for headers, content, encoding in self.parts:
            out += [delimiter + b"\r\n", headers, content]
            size += len(delimiter) + 2 + len(headers)
            segments.append((encoding, size, len(content)))
            size += len(content)
        out.append(delimiter + b"--\r\n")
        return b"".join(out), segments


def log_head(index):
    lines = [
        "14", "SMTP", "2024-09-16 09:%02d:%02d" % (index % 60, index % 59),
        "a;b", "10.0.0.1", "1025", "10.0.0.2", "25",
        "mx.example.net", "-", "session %06x" % index,
        "client client%d.example.org" % index,
        "sender sender%d@example.org" % index, "recipients 1",
    ]
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


# ---------------------------------------------------------------- workloads

@workload("big", "1 message of 64 MB: quoted-printable text, 3 base64 "
                 "attachments")
def build_big(rng):
    m = Message(rng, 0)
    m.standard_head("Quarterly data export")
    # A long mail text; the decoders' own speed is measured in bench/.
    m.add_text(prose(rng, 256 * 1024))
    for name, size in (("export-1.dat", 15 * MiB + MiB // 2),
                       ("export-2.dat", 15 * MiB),
                       ("export-3.dat", 14 * MiB + MiB // 2)):
        m.add_attachment(name, rng.randbytes(size))
    yield m


@workload("mails", "2,000 messages of about 30 KB")
def build_mails(rng):
    for i in range(2000):
        m = Message(rng, i)
        m.standard_head("Report %d" % i)
        m.add_text(prose(rng, rng.randint(500, 4000)))
        count = rng.choice((1, 1, 2, 3))
        budget = rng.randint(17000, 23000)  # decoded bytes, all attachments
        for k in range(count):
            m.add_attachment("file%d-%d.bin" % (i, k),
                             rng.randbytes(budget // count))
        yield m


def build_parts(rng, parts):
    # Every part the same size, so that only the count differs between the
    # two workloads of this shape.
    m = Message(rng, 0)
    m.standard_head("Many parts")
    m.add_text(prose(rng, 1000))
    for k in range(1, parts):
        m.add_attachment("part%05d.bin" % k, rng.randbytes(1024))
    yield m


@workload("parts20k", "1 message of 20,000 parts of 1 KB")
def build_parts20k(rng):
    return build_parts(rng, 20000)


@workload("parts2k", "1 message of 2,000 parts of 1 KB")
def build_parts2k(rng):
    return build_parts(rng, 2000)


@workload("headers", "5,000 messages with long folded, encoded headers")
def build_headers(rng):
    for i in range(5000):
        m = Message(rng, i)
        for hop in range(3):
            m.field("Received", "from relay%d.example.net (relay%d.example.net"
                    " [198.51.100.%d])\r\n\tby relay%d.example.net with ESMTPS"
                    " id %016x\r\n\tfor <receiver%d@example.com>; Mon, 16 Sep"
                    " 2024 09:%02d:%02d +0200"
                    % (hop, hop, i % 250 + 1, hop + 1, rng.getrandbits(64),
                       i, i % 60, hop))
        m.field("DKIM-Signature", "v=1; a=rsa-sha256; c=relaxed/relaxed;\r\n"
                "\td=example.org; s=sel%d; h=from:to:cc:subject:date;\r\n\tb="
                % (i % 7) + "\r\n\t".join(
                    base64.b64encode(rng.randbytes(48)).decode()
                    for _ in range(5)))
        sender = rng.choice(NAMES)
        m.field("From", "%s <sender%d@example.org>"
                % (encoded_word(rng, sender), i))
        recipients = []
        for r in range(rng.randint(6, 12)):
            recipients.append("%s <r%d.%d@example.com>"
                              % (encoded_word(rng, rng.choice(NAMES)), i, r))
        m.field("To", ",\r\n ".join(recipients))
        copies = []
        for r in range(rng.randint(3, 6)):
            copies.append("%s <c%d.%d@example.com>"
                          % (encoded_word(rng, rng.choice(NAMES)), i, r))
        m.field("Cc", ",\r\n ".join(copies))
        subject = " ".join(rng.choice(ACCENTED + WORDS)
                           for _ in range(rng.randint(12, 30)))
        m.field("Subject", "\r\n ".join(encoded_phrase(rng, subject)))
        m.field("Date", "Mon, 16 Sep 2024 09:%02d:%02d +0200"
                % (i % 60, i % 59))
        m.field("Message-ID", "<%016x.%d@example.org>"
                % (rng.getrandbits(64), i))
        m.field("Thread-Topic", "\r\n ".join(encoded_phrase(rng, subject)))
        for x in range(4):
            m.field("X-Scan-Result-%d" % x, "clean; engine=%d.%d;\r\n\tsig=%s"
                    % (x, i, base64.b64encode(rng.randbytes(30)).decode()))
        m.add_text(prose(rng, rng.randint(300, 900)))
        name = "Übersicht Bestellung Nr %d für %s.pdf" % (
            i, rng.choice(NAMES))
        m.add_attachment(name, rng.randbytes(rng.randint(1000, 4000)),
                         header_name='"%s"' % " ".join(
                             encoded_phrase(rng, name, 24)),
                         mime_type="application/pdf")
        yield m


# ---------------------------------------------------------------- writing

def sha256(data):
    return hashlib.sha256(data).hexdigest()


def write_workload(root, name, seed):
    description, build = WORKLOADS[name]
    folder = os.path.join(root, name)
    stamp_path = os.path.join(folder, "stamp")
    stamp = "version %d seed %d\n" % (GENERATOR_VERSION, seed)
    try:
        with open(stamp_path) as f:
            if f.read() == stamp:
                return False
    except OSError:
        pass
    if os.path.exists(folder):
        shutil.rmtree(folder)
    os.makedirs(os.path.join(folder, "msg"))
    # One stream of random numbers per workload: a workload's bytes do not
    # depend on which others are generated.
    rng = random.Random("%d/%s" % (seed, name))
    messages = []
    for m in build(rng):
        ident = "%05d" % m.index
        raw, segments = m.render()
        head = log_head(m.index)
        cf = os.path.join(folder, "msg", ident + ".cf")
        eml = os.path.join(folder, "msg", ident + ".eml")
        with open(cf, "wb") as f:
            f.write(head)
            f.write(raw)
        with open(eml, "wb") as f:
            f.write(raw)
        expected_dir = os.path.join(folder, "expected", ident)
        os.makedirs(expected_dir)
        files = []
        text_path = os.path.join(expected_dir, "mailtext.txt")
        with open(text_path, "wb") as f:
            f.write(m.text)
        text = {"path": text_path, "size": len(m.text)}
        for k, (att_name, data) in enumerate(m.attachments):
            path = os.path.join(expected_dir, "att%05d.bin" % k)
            with open(path, "wb") as f:
                f.write(data)
            files.append({"name": att_name, "path": path, "size": len(data),
                          "sha256": sha256(data)})
        located = [{"encoding": enc, "offset": len(head) + offset,
                    "length": length, "path": path}
                   for (enc, offset, length), path in zip(
                       segments, [text_path] + [f["path"] for f in files])]
        messages.append({"id": ident, "cf": cf, "eml": eml,
                         "body_size": len(raw), "text": text,
                         "attachments": files, "segments": located})
    manifest = {"workload": name, "description": description, "seed": seed,
                "messages": messages}
    with open(os.path.join(folder, "manifest.json"), "w") as f:
        json.dump(manifest, f)
    with open(stamp_path, "w") as f:
        f.write(stamp)
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("root")
    parser.add_argument("--seed", type=int, default=DEFAULT_SEED)
    parser.add_argument("--workloads", default=",".join(WORKLOADS))
    args = parser.parse_args()
    for name in args.workloads.split(","):
        if name not in WORKLOADS:
            sys.exit("make_corpus: unknown workload %r" % name)
        made = write_workload(args.root, name, args.seed)
        print("corpus %-9s %s" % (name, "generated" if made else "reused"),
              flush=True)


if __name__ == "__main__":
    main()
