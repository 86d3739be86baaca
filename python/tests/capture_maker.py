"""Small captures made on the fly: log heads of every kind and varied mail
messages, deterministic for a given index."""

import base64
import os
import random

CRLF = b"\r\n"


def log_head(protocol, *, lines=14, line9=b"-", src=b"192.0.2.7",
             src_port=b"40000", dst=b"198.51.100.9", dst_port=b"25",
             line4=b"sensor-a;eth0"):
    """A log head of `lines` lines (its first line the count) for
    `protocol` ("SMTP", "POP3", "Http Post", anything else)."""
    fields = [str(lines).encode(), protocol.encode(), b"2024-03-14 09:12:05",
              line4, src, src_port, dst, dst_port, line9, b"-",
              b"session 1", b"client c.example.org", b"sender a@example.org",
              b"recipients 1"]
    fields += [b"extra %d" % i for i in range(14, lines)]
    return CRLF.join(fields[:lines]) + CRLF


def write_capture(path, head, body):
    with open(path, "wb") as f:
        f.write(head + body)
    return path


def split_file(path):
    """(head, body) of a capture file, the head by its line count."""
    with open(path, "rb") as f:
        data = f.read()
    count = int(data.split(b"\r\n", 1)[0])
    end = 0
    for _ in range(count):
        end = data.index(b"\n", end) + 1
    return data[:end], data[end:]


def b64(data):
    return base64.encodebytes(data).replace(b"\n", b"\r\n")


def message(index, size=600, rng=None):
    """A mail message whose shape follows `index`: plain text, multipart
    with attachments (base64, quoted-printable), an HTML alternative,
    encoded-word subjects and names, names that repeat; about `size` bytes
    of content."""
    rng = rng or random.Random(index)
    shape = index % 5
    words = b" ".join(rng.choice([b"report", b"caf\xc3\xa9", b"figures",
                                  b"draft", b"na\xc3\xafve", b"invoice"])
                      for _ in range(max(4, min(size // 8, 300))))
    head = [b"From: \"Sender %d\" <sender%d@example.org>" % (index, index),
            b"To: <r%d@example.com>, other%d@example.net" % (index, index),
            b"Subject: =?UTF-8?B?%s?= %d" % (
                base64.b64encode("Résumé №%d".encode() % index), index),
            b"Message-ID: <%d@example.org>" % index,
            b"Received: from a by b; Thu, 14 Mar 2024 09:12:05 +0100",
            b"Received: from c by d; Thu, 14 Mar 2024 09:12:04 +0100",
            b"MIME-Version: 1.0"]
    if index % 7 == 0:
        head.append(b"Cc: <cc%d@example.com>" % index)
    if shape == 0:
        head.append(b"Content-Type: text/plain; charset=UTF-8")
        return CRLF.join(head) + CRLF + CRLF + words + CRLF
    boundary = b"=_b%d" % index
    head.append(b"Content-Type: multipart/mixed; boundary=\"%s\"" % boundary)
    parts = [[b"Content-Type: text/plain; charset=UTF-8",
              b"Content-Transfer-Encoding: 8bit", b"", words]]
    if shape == 2:
        parts.append([b"Content-Type: text/html; charset=UTF-8", b"",
                      b"<p>" + words + b"</p>"])
    name = b"data-%d.bin" % (index % 3) if shape != 4 else b"same.bin"
    blob = rng.randbytes(size)
    parts.append([b"Content-Type: application/octet-stream; name=\"%s\"" % name,
                  b"Content-Transfer-Encoding: base64",
                  b"Content-Disposition: attachment; filename=\"%s\"" % name,
                  b"", b64(blob).rstrip(CRLF)])
    if shape in (3, 4):
        parts.append([b"Content-Type: text/plain; charset=ISO-8859-1; "
                      b"name=\"=?ISO-8859-1?Q?r=E9sum=E9?=.txt\"",
                      b"Content-Transfer-Encoding: quoted-printable",
                      b"Content-Disposition: attachment", b"",
                      b"caf=E9 cr=E8me=\r\n br=FBl=E9e"])
    if shape == 4:
        parts.append([b"Content-Type: application/pdf; name=\"same.bin\"",
                      b"Content-Transfer-Encoding: base64",
                      b"Content-Disposition: attachment", b"",
                      b64(b"%PDF-1.4 " + words[:64]).rstrip(CRLF)])
    body = CRLF.join(head) + CRLF + CRLF + b"preamble" + CRLF
    for part in parts:
        body += b"--" + boundary + CRLF + CRLF.join(part) + CRLF
    return body + b"--" + boundary + b"--" + CRLF


def make_set(folder, count, size=600):
    """`count` captures in `folder`, mostly SMTP and POP3 mail, some HTTP
    POST and other kinds, and a few that cannot be read as their kind;
    gives their paths in name order."""
    os.makedirs(folder, exist_ok=True)
    paths = []
    for i in range(count):
        path = os.path.join(folder, "c%06d.cf" % i)
        if i % 97 == 5:
            head, body = log_head("Http Post", dst_port=b"80",
                                  line9=b"http://x.example/p"), b"a=1&b=2"
        elif i % 97 == 6:
            head, body = log_head("FTP"), b"raw bytes \x00\xff"
        elif i % 97 == 7:
            head, body = log_head("SMTP", lines=6), b"cut"
        elif i % 97 == 8:
            head, body = log_head("SMTP"), b""
        else:
            head = log_head("POP3" if i % 4 == 1 else "SMTP",
                            src=b"10.0.%d.%d" % (i // 250 % 250, i % 250 + 1))
            body = message(i, size)
        paths.append(write_capture(path, head, body))
    return paths
