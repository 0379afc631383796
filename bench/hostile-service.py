#!/usr/bin/env python3
"""A translation service that answers every request with one hostile kind of
answer, for measuring what a client holds and how long it takes to give up.

    python3 bench/hostile-service.py KIND [--port N]

KIND: interim-heads, trailers, chunk-extension, header-line, many-headers,
body, endless-header (one header line that never ends), trickle (one byte
of a body every 100 ms, never ending). It prints its address, then for each
connection one line with the bytes it sent before the client went away and
how long that took.
"""
import argparse
import socket
import sys
import threading
import time

OK = b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
CHUNKED = OK + b"Transfer-Encoding: chunked\r\n\r\n"


def chunk(data):
    return b"%x\r\n%s\r\n" % (len(data), data)


def answer(kind):
    """(first bytes, bytes repeated until the client goes away or None)."""
    if kind == "interim-heads":
        return b"", b"HTTP/1.1 100 Continue\r\n\r\n" * 2048
    if kind == "trailers":
        return CHUNKED + chunk(b'{"text":"x"}') + b"0\r\n", b"X-Pad: " + b"a" * 57 + b"\r\n"
    if kind == "chunk-extension":
        return CHUNKED + b"5;pad=", b"a" * 65536
    if kind == "header-line":
        return OK + b"X-Pad: " + b"a" * (1 << 20) + b"\r\nContent-Length: 12\r\n\r\n{\"text\":\"x\"}", None
    if kind == "many-headers":
        return OK + b"X-Pad: a\r\n" * 100000 + b"Content-Length: 12\r\n\r\n{\"text\":\"x\"}", None
    if kind == "endless-header":
        return OK + b"X-Pad: ", b"a" * 65536
    if kind == "body":
        return CHUNKED + chunk(b'{"text":"'), chunk(b"a" * 65536)
    sys.exit("unknown kind " + kind)


def serve(connection, kind):
    started = time.monotonic()
    sent = 0
    try:
        request = b""
        while b"\r\n\r\n" not in request:
            data = connection.recv(65536)
            if not data:
                return
            request += data
        if kind == "trickle":
            connection.sendall(OK + b"Connection: close\r\n\r\n{\"text\":\"")
            while True:
                time.sleep(0.1)
                connection.sendall(b"a")
                sent += 1
        first, repeated = answer(kind)
        if repeated and len(repeated) < 65536:
            repeated = repeated * (65536 // len(repeated))
        connection.sendall(first)
        sent += len(first)
        while repeated:
            connection.sendall(repeated)
            sent += len(repeated)
    except OSError:
        pass
    finally:
        connection.close()
        print("sent=%d seconds=%.1f" % (sent, time.monotonic() - started), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kind")
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)
    print("http://127.0.0.1:%d" % listener.getsockname()[1], flush=True)
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve, args=(connection, args.kind), daemon=True).start()


if __name__ == "__main__":
    main()
