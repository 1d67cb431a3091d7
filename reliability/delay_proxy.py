# A slow link for the shared-folder stress cases: a TCP proxy that holds every chunk going one
# way (client to server) for DELAY ± JITTER ms, in order, and passes the other way at once.
# Runs inside the stress case's server namespace only; ends after LIFETIME seconds at most.
# LATE_PERCENT of the chunks are held LATE_MS more, as a lossy link's retransmissions are.
#   python3 delay_proxy.py LISTEN_ADDR LISTEN_PORT TARGET_ADDR TARGET_PORT DELAY_MS JITTER_MS LIFETIME_S
#                          [LATE_PERCENT LATE_MS]
import asyncio
import random
import sys

listen_addr, listen_port, target_addr, target_port = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
delay, jitter, lifetime = float(sys.argv[5]) / 1000, float(sys.argv[6]) / 1000, float(sys.argv[7])
late_share = float(sys.argv[8]) / 100 if len(sys.argv) > 8 else 0.0
late = float(sys.argv[9]) / 1000 if len(sys.argv) > 9 else 0.0
random.seed(28)


async def pipe(reader, writer, slow):
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            if data is None:
                break
            wait = due - asyncio.get_running_loop().time()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        writer.close()

    sender = asyncio.create_task(deliver())
    last = 0.0
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            now = asyncio.get_running_loop().time()
            # Never before the chunk ahead of it: a link delays, it does not reorder.
            held = delay + random.uniform(-jitter, jitter) + (late if random.random() < late_share else 0)
            last = max(last, now + (held if slow else 0))
            await queue.put((last, data))
    except (ConnectionError, OSError):
        pass
    await queue.put((0, None))
    try:
        await sender
    except (ConnectionError, OSError):
        pass


async def handle(client_reader, client_writer):
    try:
        server_reader, server_writer = await asyncio.open_connection(target_addr, target_port)
    except OSError:
        client_writer.close()
        return
    await asyncio.gather(pipe(client_reader, server_writer, True), pipe(server_reader, client_writer, False))


async def main():
    server = await asyncio.start_server(handle, listen_addr, listen_port)
    async with server:
        await asyncio.sleep(lifetime)


asyncio.run(main())
