#!/usr/bin/env python3
"""A relay in front of the test's PostgreSQL server that counts round trips and can make each one
cost a fixed delay, as a network between client and server would.

usage: pg_relay.py SERVER_DIR RELAY_DIR LOG [DELAY_MS [CUT]]

Clients connect to RELAY_DIR as to a server's socket folder (host=RELAY_DIR); every byte goes on
to the server listening in SERVER_DIR and back. A round trip is one turn of the conversation: the
client sends, after the server has answered (or for the first time). When DELAY_MS is given, the
client's first bytes of every turn are held that long before they go on. A line "open" is
appended to LOG when a client connects, and a line "turns N" when it disconnects. The relay
runs until it is killed; it writes "ready" on standard output once it listens.

CUT breaks one connection as a network that fails would, at the Nth turn of the run whose bytes
hold a COMMIT: "request:N" closes both sides instead of passing that turn on (the server never
sees the commit), "answer:N" passes it on, waits for the server's answer and closes both sides
instead of passing the answer back (the server has committed; the client never learns it).
"""
import asyncio
import os
import sys

PORT_SOCKET = ".s.PGSQL.5432"
# The connection to break (see CUT above), shared by every connection of the run.
CUT = {"mode": "", "at": 0, "seen": 0}


async def pump(reader, writer, on_data):
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            await on_data(data)
            writer.write(data)
            await writer.drain()
    except (ConnectionError, asyncio.CancelledError):
        pass
    finally:
        try:
            writer.close()
        except Exception:
            pass


async def relay(server_dir, log, delay, client_reader, client_writer):
    with open(log, "a") as f:
        f.write("open\n")
    try:
        server_reader, server_writer = await asyncio.open_unix_connection(
            os.path.join(server_dir, PORT_SOCKET))
    except OSError:
        client_writer.close()
        with open(log, "a") as f:
            f.write("turns 0\n")
        return
    state = {"turns": 0, "client_turn": False, "cut_answer": False}

    def cut_here():
        client_writer.close()
        server_writer.close()
        raise ConnectionError("cut")

    async def from_client(data):
        if not state["client_turn"]:
            state["client_turn"] = True
            state["turns"] += 1
            if delay > 0:
                await asyncio.sleep(delay)
        if CUT["at"] > 0 and b"COMMIT" in data.upper():
            CUT["seen"] += 1
            if CUT["seen"] == CUT["at"]:
                if CUT["mode"] == "request":
                    cut_here()
                state["cut_answer"] = True

    async def from_server(_):
        state["client_turn"] = False
        if state["cut_answer"]:
            cut_here()

    await asyncio.gather(pump(client_reader, server_writer, from_client),
                         pump(server_reader, client_writer, from_server))
    with open(log, "a") as f:
        f.write("turns %d\n" % state["turns"])


async def main():
    server_dir, relay_dir, log = sys.argv[1:4]
    delay = float(sys.argv[4]) / 1000 if len(sys.argv) > 4 else 0.0
    if len(sys.argv) > 5:
        mode, at = sys.argv[5].split(":")
        CUT.update(mode=mode, at=int(at))
    path = os.path.join(relay_dir, PORT_SOCKET)
    if os.path.exists(path):
        os.unlink(path)
    server = await asyncio.start_unix_server(
        lambda r, w: relay(server_dir, log, delay, r, w), path=path)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
