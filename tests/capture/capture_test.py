#!/usr/bin/env python3
"""Captures of real runs, read back two ways: the pcap file itself against
the run's trace (what was sent and delivered), and what the Wireshark
dissector shows of every packet through tshark against the dissection kept
in dissected/ (ZARK_UPDATE_GOLDEN=1 rewrites it: read it before committing).
Runs the golden cases that keep a trace (every mode, every reply fault)
in-process and over TCP to a node that captures too, a run cut short by
SIGINT, and records malformed on purpose.

usage: capture_test.py PROGRAM NODE SOURCE_DIR    (exit 77: no tshark)"""
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile

PROGRAM, NODE, SOURCE = sys.argv[1:4]
LUA = os.path.join(SOURCE, "tools", "wireshark", "spacewire.lua")
CASES = os.path.join(SOURCE, "tests", "e2e", "cases")
DISSECTED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "dissected")
UPDATING = os.environ.get("ZARK_UPDATE_GOLDEN") == "1"
NODE_SETTINGS = open(os.path.join(SOURCE, "tests", "e2e", "node_settings")).read().split()
FIELDS = ["frame.number", "spacewire.kind", "spacewire.eop", "spacewire.device", "rmap.target_la",
          "rmap.initiator_la", "rmap.key", "rmap.status", "rmap.tid", "rmap.extended_address", "rmap.address",
          "rmap.data_length", "rmap.data", "rmap.mask", "rmap.header_crc.status", "rmap.data_crc.status",
          "rmap.request_in", "rmap.reply_in", "rmap.duplicate_of", "_ws.expert.message"]
failures = []


def check(condition, what):
    """Notes a failure without stopping, so that one run reports them all."""
    if not condition:
        failures.append(what)
    return condition


def case_file(case, name, mode="r"):
    path = os.path.join(CASES, case, name)
    return open(path, mode).read() if os.path.exists(path) else ("" if mode == "r" else b"")


def case_settings(case):
    return case_file(case, "sim").split("\n")[0].strip()


def read_trace(path):
    """(kind, eop, bytes) per line: ">" sent is kind 0, "<" delivered 1, "t" time-code 2."""
    entries = []
    for line in open(path):
        words = line.split()
        if words[0] == "t":
            entries.append((2, 0, bytes([int(words[1], 16)])))
        else:
            eop = {"EOP": 0x80, "EEP": 0x40}.get(words[-1], 0)
            entries.append((0 if words[0] == ">" else 1, eop, bytes(int(w, 16) for w in words[1:-1])))
    return entries


def read_pcap(path):
    """(time, kind, eop, device, packet) per record, the file's framing checked."""
    data = open(path, "rb").read()
    magic, major, minor, _, _, _, link = struct.unpack_from("<IHHiIII", data)
    check((magic, major, minor, link) == (0xA1B23C4D, 2, 4, 147), f"{path}: pcap header")
    records, at = [], 24
    while at + 16 <= len(data):
        seconds, nanoseconds, kept, whole = struct.unpack_from("<IIII", data, at)
        body = data[at + 16:at + 16 + kept]
        check(len(body) == kept and kept == whole and nanoseconds < 10**9 and body[0] == 1, f"{path}: record at {at}")
        records.append((seconds * 10**9 + nanoseconds, body[1], body[2], body[3], bytes(body[4:])))
        at += 16 + kept
    check(at == len(data), f"{path}: ends inside a record")
    check(all(a[0] <= b[0] for a, b in zip(records, records[1:])), f"{path}: time goes back")
    return records


def check_dissection(capture, name):
    """What tshark shows of every frame, field by field, against the kept text."""
    run = subprocess.run(["tshark", "-2", "-n", "-X", "lua_script:" + LUA, "-r", capture, "-T", "fields",
                          "-E", "separator=\t", "-E", "occurrence=a", "-E", "aggregator=|"] +
                         [x for field in FIELDS for x in ("-e", field)],
                         capture_output=True, text=True, timeout=120)
    check(run.returncode == 0 and "rror" not in run.stderr, f"{capture}: tshark: {run.stderr}")
    kept = os.path.join(DISSECTED, name + ".txt")
    if UPDATING:
        os.makedirs(DISSECTED, exist_ok=True)
        open(kept, "w").write(run.stdout)
    elif check(os.path.exists(kept), f"{kept}: missing"):
        expected_frames = open(kept).read().splitlines()
        for number, (shown, expected) in enumerate(zip(run.stdout.splitlines(), expected_frames), 1):
            check(shown == expected, f"{name} frame {number}:\n  shown    {shown}\n  expected {expected}")
        check(len(run.stdout.splitlines()) == len(expected_frames), f"{name}: frame count")


def run_case(case, work, over_tcp):
    """Runs a golden case with a capture beside its trace, and checks the
    capture against the trace (over TCP, the node's capture too)."""
    settings = [s.strip() for s in case_settings(case).split(";") if s.strip()]
    node = None
    if os.path.isdir(os.path.join(CASES, case, "in")):
        shutil.copytree(os.path.join(CASES, case, "in"), work, dirs_exist_ok=True)
    if over_tcp:
        node_options = ["--" + s.split("=")[0].replace("_", "-") + "=" + s.split("=", 1)[1] for s in settings
                        if s.split("=")[0] in NODE_SETTINGS and not s.startswith("trace=")]  # the trace is ours
        node = subprocess.Popen([NODE, "--listen=127.0.0.1:0", "--capture=" + os.path.join(work, "node.pcap")] +
                                node_options, cwd=work, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        port = node.stdout.readline().rsplit(":", 1)[1].strip()
        settings = [s for s in settings if s.startswith("trace=")] + [f"devices=0:0@127.0.0.1:{port}"]
    settings.append("capture=capture.pcap")
    args = [a for a in case_file(case, "args").split("\n") if a]
    subprocess.run([PROGRAM] + args, input=case_file(case, "stdin", "rb"), cwd=work, capture_output=True,
                   env=dict(os.environ, VANTOR_SIM=";".join(settings)), timeout=120)
    traced = read_trace(os.path.join(work, "trace.txt"))
    records = read_pcap(os.path.join(work, "capture.pcap"))
    check([r[1:3] + r[4:] for r in records] == traced, f"{case}: capture against trace")
    if node:
        node.send_signal(signal.SIGINT)
        node.wait(timeout=30)
        far = read_pcap(os.path.join(work, "node.pcap"))
        check([r[4] for r in far if r[1] == 0] == [b for k, _, b in traced if k == 0], f"{case}: node saw sent")
        answers = iter(r[4] for r in far if r[1] == 1)
        check(all(any(b == a for a in answers) for k, _, b in traced if k == 1), f"{case}: node sent delivered")


def main():
    if shutil.which("tshark") is None:
        print("SKIP: tshark is not installed (scripts/install_deps.sh installs it)")
        return 77
    cases = sorted(os.path.relpath(root, CASES) for root, _, files in os.walk(CASES)
                   if "stdout" in files and "trace=" in case_settings(os.path.relpath(root, CASES)))
    chosen = [c for c in cases if c.startswith("faults/")]
    for mode in ("stream_rmap", "stream_spacewire", "interactive_rmap", "interactive_spacewire", "memory_map"):
        chosen += [c for c in cases if c.startswith(mode + "/")][:2]
    chosen.append("stream_rmap/path_addresses")  # path bytes in front of commands
    for case in chosen:
        settings = case_settings(case)
        for over_tcp in [False] if "send_status" in settings or "read_status" in settings else [False, True]:
            with tempfile.TemporaryDirectory() as work:
                run_case(case, work, over_tcp)
                if not over_tcp:  # over TCP, replies may come between other frames
                    check_dissection(os.path.join(work, "capture.pcap"), case.replace("/", "_"))
    # A run cut short: the capture is whole and opens.
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "list.txt"), "w") as list_file:
            list_file.write("S d:1 2;\n" + "R l:2;\n" * 20)
        program = subprocess.Popen([PROGRAM, "-d=0", "-m=scs", "-c=list.txt", "-o=out.txt", "-t=0.3"], cwd=work,
                                   env=dict(os.environ, VANTOR_SIM="far_end=loopback;capture=c.pcap"),
                                   stdout=subprocess.DEVNULL)
        try:
            program.wait(timeout=1.0)
        except subprocess.TimeoutExpired:
            program.send_signal(signal.SIGINT)
        check(program.wait(timeout=30) == 128 + signal.SIGINT, "SIGINT ends the run")
        records = read_pcap(os.path.join(work, "c.pcap"))
        check([r[4] for r in records] == [b"\x01\x02"] * 2, f"interrupted capture: {records}")
        check_dissection(os.path.join(work, "c.pcap"), "interrupted")
    # Malformed packets of every length, short records and unknown kinds: marked, never a dissector error.
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "odd.pcap")
        rng = random.Random(7)
        with open(path, "wb") as pcap:
            pcap.write(struct.pack("<IHHiIII", 0xA1B23C4D, 2, 4, 0, 0, 262144, 147))
            for k in range(400):
                length = k % 40
                packet = bytes([0x05, 0xFE, 0x01][: min(length, 3)]) + bytes(rng.randrange(256) for _ in range(length))
                body = bytes([1, k % 4, rng.choice([0, 0x40, 0x80]), k % 32])[: 4 if k % 50 else k % 4] + packet
                pcap.write(struct.pack("<IIII", k, 0, len(body), len(body)) + body)
        run = subprocess.run(["tshark", "-2", "-n", "-X", "lua_script:" + LUA, "-r", path, "-V"],
                             capture_output=True, text=True, timeout=120)
        check(run.returncode == 0 and "Lua Error" not in run.stdout + run.stderr, "malformed packets: Lua error")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(chosen)} cases captured, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
