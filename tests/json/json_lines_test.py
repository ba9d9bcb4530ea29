#!/usr/bin/env python3
"""JSON Lines records (-json) of real runs: every line parsed by Python's
json module, and every record checked against the run's trace: the RMAP
header fields sent, the replies received, the SpaceWire packets sent and
received, and the counts of the summary.  Runs every example, every reply
fault, a silent far end and a run cut short by SIGINT.

usage: json_lines_test.py PROGRAM SOURCE_DIR"""
import json
import os
import signal
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from trace_decode import (EEP, case_settings, check, golden_cases, read_trace, report, rmap_of,  # noqa: E402
                          run_golden, run_interrupted)

PROGRAM, SOURCE = sys.argv[1:3]
CASES = os.path.join(SOURCE, "tests", "e2e", "cases")


def read_records(path, where):
    lines = open(path).read().split("\n")
    check(lines[-1] == "", f"{where}: last line not ended")
    records = [json.loads(line) for line in lines[:-1]]
    check(records and records[-1].get("summary") is True, f"{where}: no summary last")
    return records[:-1], records[-1] if records else {}


def check_rmap(where, commands, trace):
    sent = [b for kind, _, b in trace if kind == 0]
    delivered = [b for kind, _, b in trace if kind == 1]
    went = [c for c in commands if c["outcome"] != "error" or c["error"]["which"] != "send"]
    if not check(len(went) == len(sent), f"{where}: {len(went)} commands sent, {len(sent)} traced"):
        return
    for command, packet in zip(went, sent):
        f = rmap_of(packet)
        for field in ("target_la", "initiator_la", "key", "tid", "extended_address", "address", "data_length"):
            name = {"target_la": "target_logical_address", "initiator_la": "initiator_logical_address",
                    "tid": "transaction_identifier"}.get(field, field)
            check(command["sent"][name] == f[field], f"{where} command {command['command']}: {name}")
        if "data" in command["sent"]:
            check(command["sent"]["data"] + command["sent"].get("mask", "") == f["data"].hex(),
                  f"{where} command {command['command']}: data")
    # Replies come in the order delivered; some delivered packets are read by
    # no command (lost in a full buffer, or left over at the end).
    taken = iter(rmap_of(b) or {} for b in delivered)
    for command in commands:
        if command["outcome"] == "reply":
            reply = command["reply"]
            f = next((f for f in taken if f.get("tid") == reply["transaction_identifier"]), None)
            check(f and reply["status"] == f["status"] and
                  reply.get("data", "") == (f["data"].hex() if f.get("data") and f["status"] == 0 else ""),
                  f"{where} command {command['command']}: reply {reply} for {f}")


def check_spacewire(where, commands, trace):
    expected_sent = [(c["data"], c["end"]) for c in commands if c["kind"] == "send" and c["outcome"] == "sent"
                     for _ in range(c["packets"])]
    traced_sent = [(b.hex(), "EEP" if e == EEP else "EOP") for kind, e, b in trace if kind == 0]
    check(expected_sent == traced_sent, f"{where}: sends {expected_sent} traced {traced_sent}")
    received = [(p["data"], p["end"]) for c in commands if c["kind"] == "receive" for p in c["packets"]]
    delivered = [(b.hex(), {0x80: "EOP", 0x40: "EEP"}.get(e, "none")) for kind, e, b in trace if kind == 1]
    remaining = iter(delivered)  # received in order; a packet too large for its buffer is lost
    check(all(any(p == d for d in remaining) for p in received), f"{where}: received {received} of {delivered}")


def check_case(case, settings):
    with tempfile.TemporaryDirectory() as work:
        out, args = run_golden(PROGRAM, CASES, case, work, settings, ["-json=run.jsonl"])
        commands, summary = read_records(os.path.join(work, "run.jsonl"), case)
        trace = read_trace(os.path.join(work, "trace.txt"))
        rmap = any(a.endswith("rcs") or a.endswith("rmap_command") for a in args)
        (check_rmap if rmap else check_spacewire)(case, commands, trace)
        check(summary["commands"] == len(commands) and not summary["interrupted"], f"{case}: summary {summary}")
        check(summary["timeouts"] == sum(c["outcome"] == "timeout" for c in commands), f"{case}: time-outs")
        replies = (sum(c["outcome"] == "reply" for c in commands) if rmap else
                   sum(len(c.get("packets", [])) for c in commands if c["kind"] == "receive"))
        check(summary["replies"] == replies, f"{case}: replies {summary}")
        check(out.splitlines()[-1] == "Summary: {commands} commands, {errors} errors, {replies} replies, "
              "{timeouts} time-outs.".format(**summary), f"{case}: console summary {out.splitlines()[-1]}")
        return commands


def main():
    cases = golden_cases(CASES)
    chosen = [c for c in cases if c.startswith("faults/rmap_stream") or c.startswith("faults/spacewire_stream")]
    # Every example that runs as a stream (the examples/ folder's lists).
    chosen += [c for c in cases if c.endswith("example") and "cs" in open(os.path.join(CASES, c, "args")).read()]
    for case in chosen:
        settings = case_settings(CASES, case)
        check_case(case, settings if "trace=" in settings else settings + ";trace=trace.txt")
    silent = check_case("stream_rmap/walkthrough_example", "far_end=silent;trace=trace.txt")
    check(silent and all(c["outcome"] in ("timeout", "no reply expected") for c in silent), "silent far end")
    # A run cut short: every line whole, the summary saying so.
    with tempfile.TemporaryDirectory() as work:
        status = run_interrupted(PROGRAM, work, ["-json=run.jsonl"], "far_end=loopback")
        check(status == 128 + signal.SIGINT, "SIGINT ends the run")
        commands, summary = read_records(os.path.join(work, "run.jsonl"), "interrupted")
        check(summary.get("interrupted") is True and 2 <= len(commands) < 21, f"interrupted: {summary}")
    return report(len(chosen), "cases")


if __name__ == "__main__":
    sys.exit(main())
