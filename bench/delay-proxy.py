#!/usr/bin/env python3
"""A TCP forwarder on loopback that holds every piece it passes for DELAY_MS in each direction, so a
request costs a real round trip (2 x DELAY_MS) where the kernel has no netem.
Usage: delay-proxy.py LISTEN_PORT TARGET_PORT DELAY_MS"""
import asyncio
import sys

LISTEN, TARGET, DELAY = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]) / 1000.0


async def pipe(reader, writer):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        # Pieces keep their order and each leaves DELAY after it arrived.
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                writer.close()
                return
            writer.write(data)
            await writer.drain()

    sender = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(65536)
            await queue.put((loop.time() + DELAY, data or None))
            if not data:
                break
        await sender
    except (ConnectionError, asyncio.CancelledError):
        sender.cancel()
        writer.close()


async def serve(client_reader, client_writer):
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", TARGET)
    except OSError:
        client_writer.close()
        return
    await asyncio.gather(pipe(client_reader, server_writer), pipe(server_reader, client_writer),
                         return_exceptions=True)


async def main():
    server = await asyncio.start_server(serve, "127.0.0.1", LISTEN)
    async with server:
        await server.serve_forever()


asyncio.run(main())
