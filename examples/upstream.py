#!/usr/bin/env python3
"""An upstream tool in miniature: shows the example payloads in moxel-popup.

    upstream.py                       # starts its own moxel-translate (demo backend)
    upstream.py PROXY [TOKEN_FILE]    # uses a running service, e.g. the user unit's:
    upstream.py http://127.0.0.1:8765 ~/.config/moxel/translate.token

The popup is $MOXEL_POPUP or moxel-popup on PATH, the service $MOXEL_TRANSLATE
or moxel-translate. Standard library only.
"""
import json
import os
import secrets
import subprocess
import sys
import time
from pathlib import Path

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


def main(args):
    service = None
    if args:
        proxy = args[0]
        token = Path(args[1]).expanduser().read_text().strip() if len(args) > 1 else ""
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
