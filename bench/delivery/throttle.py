#!/usr/bin/env python3
"""A loopback TCP relay that limits every connection to a fixed rate towards the client.

  throttle.py LISTEN_PORT TARGET_PORT BYTES_PER_SECOND

nginx's limit_rate counts per request and lets each request send a second's worth at
once, so responses smaller than the rate (chunks) are never slowed; this relay limits
each TCP connection as a whole, as a slow line to a player does. Both ends are
127.0.0.1. Prints "ready" once it listens."""
import asyncio
import sys
import time

PIECE = 16 << 10


async def pump(reader, writer, rate):
    start = time.monotonic()
    sent = 0
    try:
        while True:
            data = await reader.read(PIECE)
            if not data:
                break
            if rate:
                # Each piece leaves no earlier than the rate allows since the connection began.
                due = start + sent / rate
                now = time.monotonic()
                if due > now:
                    await asyncio.sleep(due - now)
            writer.write(data)
            await writer.drain()
            sent += len(data)
    except (ConnectionError, asyncio.CancelledError):
        pass
    finally:
        try:
            writer.close()
        except Exception:
            pass


async def main():
    listen, target, rate = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])

    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, 0), pump(server_reader, client_writer, rate))

    server = await asyncio.start_server(handle, "127.0.0.1", listen)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
