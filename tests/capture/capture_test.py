#!/usr/bin/env python3
"""Captures of real runs, read back two ways: the pcap file itself against
the run's trace (what was sent and delivered), and what the Wireshark
dissector shows of every packet through tshark, against an independent
decoding of the same bytes.  Runs the golden cases that keep a trace (every
mode, every reply fault) in-process and over TCP to a node that captures
too, and a run cut short by SIGINT.

usage: capture_test.py PROGRAM NODE SOURCE_DIR    (exit 77: no tshark)"""
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from trace_decode import (EEP, EOP, case_settings, check, golden_cases, read_trace, report, rmap_of,  # noqa: E402
                          run_golden, run_interrupted)

PROGRAM, NODE, SOURCE = sys.argv[1:4]
LUA = os.path.join(SOURCE, "tools", "wireshark", "spacewire.lua")
CASES = os.path.join(SOURCE, "tests", "e2e", "cases")
FIELDS = ["frame.number", "spacewire.kind", "spacewire.eop", "spacewire.device", "rmap.target_la",
          "rmap.initiator_la", "rmap.key", "rmap.status", "rmap.tid", "rmap.extended_address", "rmap.address",
          "rmap.data_length", "rmap.data", "rmap.mask", "rmap.header_crc.status", "rmap.data_crc.status",
          "rmap.request_in", "rmap.reply_in", "rmap.duplicate_of", "_ws.expert.message"]


def read_pcap(path):
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


def dissected(capture):
    run = subprocess.run(["tshark", "-2", "-n", "-X", "lua_script:" + LUA, "-r", capture, "-T", "fields",
                          "-E", "separator=\t", "-E", "occurrence=a", "-E", "aggregator=|"] +
                         [x for field in FIELDS for x in ("-e", field)],
                         capture_output=True, text=True, timeout=120)
    check(run.returncode == 0 and "rror" not in run.stderr, f"{capture}: tshark: {run.stderr}")
    return [dict(zip(FIELDS, line.split("\t"))) for line in run.stdout.splitlines()]


def number(text):
    return int(text, 0) if text else None


def check_dissection(name, records):
    """Every field the dissector shows against the bytes, and the pairing of
    each reply with the last command of the same addresses and identifier."""
    frames = dissected(name)
    if not check(len(frames) == len(records), f"{name}: {len(frames)} frames for {len(records)} records"):
        return {}
    seen = {"bad_header_crc": 0, "bad_data_crc": 0, "malformed": 0, "eep": 0, "duplicate": 0, "unanswered": 0,
            "unmatched": 0}
    open_commands, replied = {}, {}
    for number_, (frame, (_, kind, eop, device, packet)) in enumerate(zip(frames, records), 1):
        where = f"{name} frame {number_}"
        check((number(frame["spacewire.kind"]), number(frame["spacewire.eop"]), number(frame["spacewire.device"]))
              == (kind, eop, device), f"{where}: pseudo-header {frame}")
        f = rmap_of(packet) if kind != 2 else None
        experts = frame["_ws.expert.message"]
        if f is None:
            check(frame["rmap.tid"] == "", f"{where}: not RMAP, shown as RMAP")
            continue
        check(f["malformed"] == ("Malformed RMAP packet" in experts), f"{where}: malformed {f} {experts}")
        seen["malformed"] += f["malformed"]
        if "tid" not in f:
            continue
        for field in ("target_la", "initiator_la", "key", "status", "tid", "extended_address", "address",
                      "data_length", "header_crc", "data_crc"):
            shown = frame.get("rmap." + field.replace("_crc", "_crc.status"), "")
            check(number(shown) == f.get(field), f"{where}: {field} {shown} for {f.get(field)} in {packet.hex()}")
        data = (frame["rmap.data"] + frame["rmap.mask"]).replace(":", "")
        check(data == (f["data"].hex() if f.get("data") else ""), f"{where}: data {data} in {packet.hex()}")
        seen["bad_header_crc"] += f["header_crc"] == 0
        seen["bad_data_crc"] += f.get("data_crc") == 0
        seen["eep"] += eop == EEP
        check((eop == EEP) == ("ended with EEP" in experts), f"{where}: EEP verdict")
        key = (device, f["initiator_la"], f["target_la"], f["tid"])
        if f["command"]:
            if f["reply_expected"]:
                open_commands[key] = number_
                replied[number_] = None
            continue
        command = open_commands.get(key)
        check(number(frame["rmap.request_in"]) == command, f"{where}: paired with {frame['rmap.request_in']}")
        if command is None:
            seen["unmatched"] += 1
        elif replied[command] is None:
            replied[command] = number_
        else:
            seen["duplicate"] += 1
            check(number(frame["rmap.duplicate_of"]) == replied[command], f"{where}: duplicate of")
    for command, reply in replied.items():
        check(number(frames[command - 1]["rmap.reply_in"]) == reply, f"{name} frame {command}: reply in")
        seen["unanswered"] += reply is None
    return seen


def run_case(case, work, over_tcp):
    """Runs a golden case with a capture beside its trace; returns the
    capture's records, and checks them against the trace."""
    settings = [s.strip() for s in case_settings(CASES, case).split(";") if s.strip()]
    node = None
    if over_tcp:
        node_options = ["--" + s.split("=")[0].replace("_", "-") + "=" + s.split("=", 1)[1] for s in settings
                        if s.split("=")[0] in ("far_end", "target", "key", "reply_fault", "reply_fault_every")]
        node = subprocess.Popen([NODE, "--listen=127.0.0.1:0", "--capture=" + os.path.join(work, "node.pcap")] +
                                node_options, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        port = node.stdout.readline().rsplit(":", 1)[1].strip()
        settings = [s for s in settings if s.split("=")[0] in ("trace",)] + [f"devices=0:0@127.0.0.1:{port}"]
    settings.append("capture=capture.pcap")
    run_golden(PROGRAM, CASES, case, work, ";".join(settings))
    records = read_pcap(os.path.join(work, "capture.pcap"))
    traced = read_trace(os.path.join(work, "trace.txt"))
    check([r[1:3] + r[4:] for r in records] == [(k, e, b) for k, e, b in traced], f"{case}: capture against trace")
    if node:
        node.send_signal(signal.SIGINT)
        node.wait(timeout=30)
        far = read_pcap(os.path.join(work, "node.pcap"))
        check([r[4] for r in far if r[1] == 0] == [b for k, _, b in traced if k == 0], f"{case}: node saw sent")
        answers = iter(r[4] for r in far if r[1] == 1)
        check(all(any(b == a for a in answers) for k, _, b in traced if k == 1), f"{case}: node sent delivered")
        check_dissection(os.path.join(work, "node.pcap"), far)
    return records


# Each fault must show as such; the counts a case must reach at least.
EXPECTED = {"header_crc": "bad_header_crc", "data_crc": "bad_data_crc", "truncate": "malformed",
            "pad": "malformed", "eep": "eep", "duplicate": "duplicate", "drop": "unanswered",
            "transaction_id": "unmatched"}


def main():
    if shutil.which("tshark") is None:
        print("SKIP: tshark is not installed (scripts/install_deps.sh installs it)")
        return 77
    cases = [c for c in golden_cases(CASES) if "trace=" in case_settings(CASES, c)]
    chosen = [c for c in cases if c.startswith("faults/")]
    for mode in ("stream_rmap", "stream_spacewire", "interactive_rmap", "interactive_spacewire", "memory_map"):
        chosen += [c for c in cases if c.startswith(mode + "/")][:2]
    chosen.append("stream_rmap/path_addresses")  # path bytes in front of commands
    for case in chosen:
        settings = case_settings(CASES, case)
        tcp = [False] if "send_status" in settings or "read_status" in settings else [False, True]
        for over_tcp in tcp:
            with tempfile.TemporaryDirectory() as work:
                records = run_case(case, work, over_tcp)
                seen = check_dissection(os.path.join(work, "capture.pcap"), records)
                fault = next((kind for kind in EXPECTED if "reply_fault=" + kind in settings), None)
                if fault:
                    check(seen.get(EXPECTED[fault], 0) > 0, f"{case}: no {fault} shown: {seen}")
    # A run cut short: the capture is whole and opens.
    with tempfile.TemporaryDirectory() as work:
        status = run_interrupted(PROGRAM, work, [], "far_end=loopback;capture=c.pcap")
        check(status == 128 + signal.SIGINT, "SIGINT ends the run")
        records = read_pcap(os.path.join(work, "c.pcap"))
        check([r[4] for r in records] == [b"\x01\x02"] * 2, f"interrupted capture: {records}")
        check_dissection(os.path.join(work, "c.pcap"), records)
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
    return report(len(chosen), "cases captured")


if __name__ == "__main__":
    sys.exit(main())
