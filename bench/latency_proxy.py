#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 that holds every chunk back for a while in each direction: a server on the
same machine as seen across a network with that round trip. The order of the bytes is kept, and
throughput is not limited.

    latency_proxy.py TARGET_PORT ROUND_TRIP_MS     prints "relaying on PORT", then relays until killed
"""
import asyncio
import sys


async def relay(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                break
            writer.write(data)
            await writer.drain()
        writer.close()

    delivering = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(65536)
            queue.put_nowait((loop.time() + delay, data))
            if not data:
                break
    except ConnectionError:
        queue.put_nowait((loop.time(), b""))
    await delivering


async def main():
    target = int(sys.argv[1])
    delay = float(sys.argv[2]) / 2000.0  # half the round trip each way

    async def serve(reader, writer):
        try:
            target_reader, target_writer = await asyncio.open_connection("127.0.0.1", target)
        except OSError:
            writer.close()
            return
        await asyncio.gather(relay(reader, target_writer, delay), relay(target_reader, writer, delay),
                             return_exceptions=True)

    server = await asyncio.start_server(serve, "127.0.0.1", 0)
    print("relaying on %d" % server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


asyncio.run(main())
