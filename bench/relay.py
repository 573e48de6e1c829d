#!/usr/bin/env python3
"""Relays TCP connections from LISTEN_ADDRESS:PORT to TARGET_HOST:PORT, for as long as it runs:
puts a loopback-only service behind an address other hosts reach."""
import asyncio
import sys


async def pipe(reader, writer):
    try:
        while data := await reader.read(65536):
            writer.write(data)
            await writer.drain()
    except OSError:
        pass
    finally:
        writer.close()


async def relay(client_reader, client_writer, host, port):
    try:
        target_reader, target_writer = await asyncio.open_connection(host, port)
    except OSError:
        client_writer.close()
        return
    await asyncio.gather(pipe(client_reader, target_writer), pipe(target_reader, client_writer))


async def main(listen, target):
    listen_host, listen_port = listen.rsplit(":", 1)
    host, port = target.rsplit(":", 1)
    server = await asyncio.start_server(lambda r, w: relay(r, w, host, int(port)), listen_host,
                                        int(listen_port))
    print(f"relaying {listen} to {target}", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1], sys.argv[2]))
