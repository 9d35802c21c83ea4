"""A loopback SMTP server for the interoperability tests, built on aiosmtpd.

It listens on 127.0.0.1 at a port the system picks, prints that port on one
line, and accepts AUTH LOGIN and AUTH PLAIN without TLS for one account. Every
message it receives is saved in the folder as N.eml (the raw data) and N.json
(the envelope), N counting from 1; every successful login adds the method's
name as one line of auth.txt. It runs until it is killed or its standard input
reaches its end (the test program that started it is gone).
"""
import argparse
import asyncio
import json
import os
import socket
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def parse_arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--folder", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--exclude", action="append", default=[],
                        help="an AUTH method not to offer")
    return parser.parse_args()


class SavingHandler:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        with open(base + ".json", "w", encoding="utf-8") as f:
            json.dump({"mail_from": envelope.mail_from,
                       "rcpt_tos": envelope.rcpt_tos}, f)
        # Written last: the test counts messages by their .eml files.
        with open(base + ".eml.part", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".eml.part", base + ".eml")
        return "250 OK"


def main():
    args = parse_arguments()
    # argv arrives decoded; fsencode gives back the bytes the test passed.
    user = os.fsencode(args.user)
    password = os.fsencode(args.password)
    auth_log = os.path.join(args.folder, "auth.txt")

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == user and auth_data.password == password)
        if ok:
            with open(auth_log, "a", encoding="ascii") as f:
                f.write(mechanism + "\n")
        # handled=False: aiosmtpd then answers a refusal with its 535.
        return AuthResult(success=ok, handled=False)

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen()

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    handler = SavingHandler(args.folder)

    def new_protocol():
        return SMTP(handler, hostname="localhost", auth_require_tls=False,
                    authenticator=authenticator,
                    auth_exclude_mechanism=args.exclude, loop=loop)

    loop.run_until_complete(loop.create_server(new_protocol, sock=listener))

    def on_input():
        if not os.read(sys.stdin.fileno(), 4096):
            loop.stop()

    loop.add_reader(sys.stdin.fileno(), on_input)
    print(listener.getsockname()[1], flush=True)
    loop.run_forever()


if __name__ == "__main__":
    main()
