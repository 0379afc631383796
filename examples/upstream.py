#!/usr/bin/env python3
"""An upstream tool in miniature: shows the example payloads in moxel-popup.

    upstream.py                       # the user service when it runs, else its
                                      # own moxel-translate (demo backend)
    upstream.py PROXY [TOKEN_FILE]    # another running service

The user service writes its address and token into ~/.config/moxel/ (or
$XDG_CONFIG_HOME/moxel/). The popup is $MOXEL_POPUP or moxel-popup on PATH, the
service $MOXEL_TRANSLATE or moxel-translate. Standard library only.
"""
import json
import os
import secrets
import socket
import subprocess
import sys
import time
from pathlib import Path
from urllib.parse import urlsplit

EXAMPLES = Path(__file__).resolve().parent
PAYLOADS = ["demo.jsonl", "demo-followup.jsonl", "refusal.jsonl"]


def start_service():
    token = secrets.token_hex(24)
    service = subprocess.Popen(
        [os.environ.get("MOXEL_TRANSLATE", "moxel-translate"), "--port", "0"],
        env=dict(os.environ, MOXEL_TRANSLATE_TOKEN=token),
        stdout=subprocess.PIPE, text=True)
    proxy = service.stdout.readline().strip()  # its first line is its address
    if not proxy.startswith("http://127.0.0.1:"):
        sys.exit("upstream: moxel-translate did not start")
    return service, proxy, token


def user_service():
    folder = Path(os.environ.get("XDG_CONFIG_HOME") or Path.home() / ".config") / "moxel"
    try:
        proxy = (folder / "translate.address").read_text().strip()
        token = (folder / "translate.token").read_text().strip()
        address = urlsplit(proxy)
        socket.create_connection((address.hostname, address.port), timeout=2).close()
    except (OSError, ValueError, TypeError):  # not set up, or not running
        return None
    return proxy, token


def main(args):
    service = None
    if args:
        proxy = args[0]
        token = Path(args[1]).expanduser().read_text().strip() if len(args) > 1 else ""
    elif found := user_service():
        proxy, token = found
        print(f"upstream: the user service at {proxy}", flush=True)
    else:
        service, proxy, token = start_service()
    popup = subprocess.Popen([os.environ.get("MOXEL_POPUP", "moxel-popup")],
                             stdin=subprocess.PIPE)
    try:
        for name in PAYLOADS:
            for line in (EXAMPLES / name).read_text(encoding="utf-8").splitlines():
                payload = json.loads(line)
                # Every line replaces the last one whole: address and token too.
                payload.update(proxy=proxy, token=token)
                popup.stdin.write(json.dumps(payload, ensure_ascii=False).encode() + b"\n")
                popup.stdin.flush()  # the popup shows a line once it has all of it
                print(f"upstream: sent {name}: {payload.get('intent', '')}", flush=True)
                time.sleep(3)
    except BrokenPipeError:  # the salesperson closed the window
        print("upstream: the window was closed")
    try:
        popup.stdin.close()  # the end of input ends the popup
    except BrokenPipeError:
        pass
    status = popup.wait()
    print(f"upstream: moxel-popup exit status {status}")
    if service:
        service.terminate()
        service.wait()
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
