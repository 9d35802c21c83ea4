"""Decodes one message saved by aiosmtpd_server.py with Python's email package.

Usage: decode_mail.py FOLDER/N. Prints records "NAME LENGTH\\n", then LENGTH
bytes of UTF-8 text and "\\n", for: subject, from, to, cc, reply_to (each
mailbox "name <address>" or "address", joined by ", "), charset, body, headers
(the header names in order, joined by ","), mail_from and rcpt_tos (the
envelope, joined by ","). Texts labelled gb2312 are decoded as GBK, their
superset, as mail readers do.
"""
import email
import email.header
import email.utils
import json
import re
import sys


def codec(charset):
    if charset is None:
        return "ascii"
    return "gbk" if charset.lower() in ("gb2312", "gbk") else charset


def decode_text(raw):
    return "".join(
        piece if isinstance(piece, str) else piece.decode(codec(charset))
        for piece, charset in email.header.decode_header(raw))


def unfold(raw):
    return re.sub(r"\r?\n(?=[ \t])", "", raw)


def mailboxes(message, name):
    raw = message.get(name)
    if raw is None:
        return None
    formatted = []
    for display, address in email.utils.getaddresses([unfold(raw)]):
        display = decode_text(display)
        formatted.append(f"{display} <{address}>" if display else address)
    return ", ".join(formatted)


def main():
    base = sys.argv[1]
    with open(base + ".eml", "rb") as f:
        message = email.message_from_bytes(f.read())
    with open(base + ".json", encoding="utf-8") as f:
        envelope = json.load(f)

    subject = message.get("Subject")
    charset = message.get_content_charset()
    fields = {
        "subject": None if subject is None else decode_text(unfold(subject)),
        "from": mailboxes(message, "From"),
        "to": mailboxes(message, "To"),
        "cc": mailboxes(message, "Cc"),
        "reply_to": mailboxes(message, "Reply-To"),
        "charset": charset,
        "body": message.get_payload(decode=True).decode(codec(charset)),
        "headers": ",".join(message.keys()),
        "mail_from": envelope["mail_from"],
        "rcpt_tos": ",".join(envelope["rcpt_tos"]),
    }
    out = sys.stdout.buffer
    for name, value in fields.items():
        if value is None:
            continue
        data = value.encode("utf-8")
        out.write(f"{name} {len(data)}\n".encode("ascii") + data + b"\n")


if __name__ == "__main__":
    main()
