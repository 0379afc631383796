#!/usr/bin/python3
"""Drives the real popup through AT-SPI on a private X server, as a screen
reader or an automation tool would: every button and text box has a name,
every label exposes its whole text, and the copy confirmation survives a new
payload arriving while it is open.

Run inside a D-Bus session: dbus-run-session -- atspi_popup.py BINARY EXAMPLES_DIR
"""
import os
import subprocess
import sys
import tempfile
import time

import pyatspi

BINARY, EXAMPLES = sys.argv[1], sys.argv[2]
failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what, flush=True)
    if not condition:
        failures.append(what)


def wait_for(predicate, timeout=20.0):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    return None


def start_xvfb():
    for n in range(180, 260):
        if os.path.exists(f"/tmp/.X11-unix/X{n}") or os.path.exists(f"/tmp/.X{n}-lock"):
            continue
        proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1440x900x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if wait_for(lambda: os.path.exists(f"/tmp/.X11-unix/X{n}") or proc.poll() is not None, 10) \
                and proc.poll() is None:
            return proc, f":{n}"
    sys.exit("Xvfb could not start")


def nodes(root):
    out = []
    stack = [root]
    while stack:
        node = stack.pop()
        try:
            out.append(node)
            stack.extend(c for c in node if c is not None)
        except Exception:
            pass
    return out


def find_app():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "moxel-popup":
            return app
    return None


def describe(node):
    # Objects vanish while a render replaces the content; skip those.
    try:
        return node.getRoleName(), node.name
    except Exception:
        return None, None


def named(app, role, name):
    return [n for n in nodes(app) if describe(n) == (role, name)]


def names(app, role):
    return [describe(n)[1] for n in nodes(app) if describe(n)[0] == role]


def press(node):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("Press", "press", "click"):
            action.doAction(i)
            return
    action.doAction(0)


xvfb, display = start_xvfb()
config = tempfile.mkdtemp()
env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_CONFIG_HOME=config,
           QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
env.pop("WAYLAND_DISPLAY", None)
with open(os.path.join(EXAMPLES, "demo.jsonl"), "rb") as f:
    demo = f.read()
with open(os.path.join(EXAMPLES, "demo-followup.jsonl"), "rb") as f:
    followup = f.read()

popup = subprocess.Popen([BINARY], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
try:
    popup.stdin.write(demo)
    popup.stdin.flush()
    app = wait_for(find_app)
    check(app is not None, "the popup is on the accessibility bus")
    if app is None:
        sys.exit(1)
    wait_for(lambda: named(app, "push button", "复制"))

    buttons = names(app, "push button")
    check(len(buttons) >= 5, f"buttons found ({len(buttons)})")
    check(all(buttons), "every button has a name: " + ", ".join(buttons))
    # The raw conversation and the thinking details exist once opened.
    for toggle in ("▸ 原始会话", "▸ 思考节点"):
        found = named(app, "push button", toggle)
        check(len(found) == 1, f"section toggle {toggle}")
        if found:
            press(found[0])
    wait_for(lambda: named(app, "push button", "▾ 思考节点") and named(app, "text", "原始会话"))
    for name in ("回复草稿", "中文翻译", "原始会话"):
        check(len(named(app, "text", name)) == 1, f"text box named {name}")
    draft = named(app, "text", "回复草稿")[0].queryText()
    check(draft.getText(0, -1).startswith("Olá! Desculpe a demora."), "the draft box reads its text")

    # Labels report their whole text even where the window shows it cut.
    session = "3 轮 · 已等 1.5 小时 · 500 / 5000 pcs · Brazil · SO-20241208-017 · Matte Lipstick #12"
    check(len(named(app, "label", session)) == 1, "the cut session line reports its whole text")
    labels = names(app, "label")
    analysis = [l for l in labels if l.startswith("客户询问 5000 支口红")]
    check(len(analysis) == 2 and all(l.endswith("邀请客户确认收货地址。") for l in analysis),
          "the three-line summary and the details report the whole analysis")

    # The copy confirmation is modal; a payload that arrives while it is open
    # is rendered under it, and answering it afterwards must not crash.
    press(named(app, "push button", "复制")[0])
    ok = wait_for(lambda: named(app, "push button", "好"))
    check(bool(ok), "the copy confirmation appears with its button 好")
    texts = names(app, "label")
    check(any("回到聊天窗口粘贴即可。" in (t or "") for t in texts),
          "the confirmation says where to paste")
    popup.stdin.write(followup)
    popup.stdin.flush()
    check(bool(wait_for(lambda: named(app, "label", "确认地址 · 运费"))),
          "a payload arriving under the confirmation is rendered")
    if ok:
        press(ok[0])
    check(bool(wait_for(lambda: not named(app, "push button", "好"))), "the confirmation closes")
    time.sleep(0.5)
    check(popup.poll() is None, "the popup is still running after the confirmation closed")

    # Ending the input while the confirmation is open ends the program cleanly.
    press(named(app, "push button", "复制")[0])
    check(bool(wait_for(lambda: named(app, "push button", "好"))), "the confirmation is open again")
    popup.stdin.close()
    try:
        status = popup.wait(15)
    except subprocess.TimeoutExpired:
        status = None
    check(status == 0, f"end of input under the confirmation exits 0 (got {status})")
finally:
    if popup.poll() is None:
        popup.kill()
    xvfb.terminate()

print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
