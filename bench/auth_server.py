#!/usr/bin/env python3
"""An aiosmtpd server on 127.0.0.1 that accepts one account by AUTH, without
TLS. Prints its port, picked by the system, on the first line of its output
and serves until it is terminated.

Usage: auth_server.py USER PASSWORD
"""
import asyncio
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class DiscardHandler:
    async def handle_DATA(self, server, session, envelope):
        return "250 OK"


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        accepted = (isinstance(auth_data, LoginPassword)
                    and auth_data.login == user and auth_data.password == password)
        return AuthResult(success=accepted, handled=False)
    return authenticate


async def serve(user, password):
    authenticator = make_authenticator(user, password)
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: SMTP(DiscardHandler(), hostname="bench.local", authenticator=authenticator,
                     auth_require_tls=False),
        "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    asyncio.run(serve(sys.argv[1].encode(), sys.argv[2].encode()))
