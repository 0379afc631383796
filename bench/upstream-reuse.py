#!/usr/bin/env python3
"""Times translations through moxel-translate against a local TLS upstream.

Starts an OpenAI-compatible fake on 127.0.0.1 over https (the test CA), with
keep-alive on or off, runs moxel-translate in front of it with --ca-file, sends
N translations one after another and prints the connections the fake accepted
and the median time per translation.

    python3 bench/upstream-reuse.py build/moxel-translate [N]
"""
import http.client
import http.server
import json
import os
import ssl
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TLS = os.path.join(ROOT, "tests", "support", "tls")
ANSWER = json.dumps({"choices": [{"message": {"content": "你好"}}]}).encode()


def run(translate, count, keep_alive):
    connections = []

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def setup(self):
            connections.append(1)
            super().setup()

        def do_POST(self):
            self.rfile.read(int(self.headers.get("Content-Length", 0)))
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(ANSWER)))
            if not keep_alive:
                self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(ANSWER)
            if not keep_alive:
                self.close_connection = True

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(TLS, "server.pem"), os.path.join(TLS, "server.key"))
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()

    service = subprocess.Popen(
        [translate, "--port", "0", "--backend", "openai", "--model", "m",
         "--url", "https://127.0.0.1:%d" % server.server_address[1],
         "--ca-file", os.path.join(TLS, "ca.pem")],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        address = service.stdout.readline().strip()
        port = int(address.rsplit(":", 1)[1])
        times = []
        for i in range(count):
            body = json.dumps({"text": "Olá %d" % i, "to": "zh"})
            client = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
            started = time.perf_counter()
            client.request("POST", "/translate", body, {"Content-Type": "application/json",
                                                        "Host": "127.0.0.1:%d" % port})
            answer = client.getresponse()
            answer.read()
            times.append(time.perf_counter() - started)
            client.close()
            if answer.status != 200:
                sys.exit("translation %d: status %d" % (i, answer.status))
        return len(connections), statistics.median(times) * 1000
    finally:
        service.terminate()
        service.wait()
        server.shutdown()


def main():
    translate = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    print("| upstream | connections for %d translations | median ms per translation |" % count)
    print("|---|---|---|")
    for keep_alive in (False, True):
        opened, median = run(translate, count, keep_alive)
        print("| %s | %d | %.1f |" % ("keeps connections" if keep_alive else "closes each connection",
                                       opened, median))


if __name__ == "__main__":
    main()
