"""What the Python tests of real runs share: the trace read back, RMAP
packets decoded field by field independently of the program's codec (the
fuzz seeds take their CRC from here too), and a run cut short by SIGINT."""
import os
import shutil
import signal
import subprocess

EOP, EEP = 0x80, 0x40
failures = []


def check(condition, what):
    """Notes a failure without stopping, so that one run reports them all."""
    if not condition:
        failures.append(what)
    return condition


def report(count, what):
    """Prints the failures and the count; the exit status."""
    for failure in failures:
        print("FAIL:", failure)
    print(f"{count} {what}, {len(failures)} failures")
    return 1 if failures else 0


def golden_cases(cases):
    """Every golden case under the cases folder, as its relative path."""
    return sorted(os.path.relpath(root, cases) for root, _, files in os.walk(cases) if "stdout" in files)


def case_file(cases, case, name, mode="r"):
    """A file of a golden case, or empty when the case has none."""
    path = os.path.join(cases, case, name)
    return open(path, mode).read() if os.path.exists(path) else ("" if mode == "r" else b"")


def case_settings(cases, case):
    return case_file(cases, case, "sim").split("\n")[0].strip()


def run_golden(program, cases, case, work, settings, extra_args=()):
    """Runs a golden case in work with the given VANTOR_SIM setting; returns
    its standard output and its arguments."""
    if os.path.isdir(os.path.join(cases, case, "in")):
        shutil.copytree(os.path.join(cases, case, "in"), work, dirs_exist_ok=True)
    args = [a for a in case_file(cases, case, "args").split("\n") if a]
    run = subprocess.run([program] + args + list(extra_args), input=case_file(cases, case, "stdin", "rb"),
                         cwd=work, env=dict(os.environ, VANTOR_SIM=settings), capture_output=True, timeout=120)
    return run.stdout.decode(errors="replace"), args


def run_interrupted(program, work, extra_args, settings):
    """A SpaceWire list whose receives each wait out their time-out, sent
    SIGINT after a second; returns the program's exit status."""
    with open(os.path.join(work, "list.txt"), "w") as list_file:
        list_file.write("S d:1 2;\n" + "R l:2;\n" * 20)
    program = subprocess.Popen([program, "-d=0", "-m=scs", "-c=list.txt", "-o=out.txt", "-t=0.3"] + extra_args,
                               cwd=work, env=dict(os.environ, VANTOR_SIM=settings), stdout=subprocess.DEVNULL)
    try:
        program.wait(timeout=1.0)
    except subprocess.TimeoutExpired:
        program.send_signal(signal.SIGINT)
    return program.wait(timeout=30)


def crc8(data):
    """The RMAP CRC bit by bit: polynomial 0x07 reflected, start 0."""
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xE0 if crc & 1 else crc >> 1
    return crc


def read_trace(path):
    """(kind, eop, bytes) per line: ">" sent is kind 0, "<" delivered 1, "t" time-code 2."""
    entries = []
    for line in open(path):
        words = line.split()
        if words[0] == "t":
            entries.append((2, 0, bytes([int(words[1], 16)])))
        else:
            eop = {"EOP": EOP, "EEP": EEP}.get(words[-1], 0)
            entries.append((0 if words[0] == ">" else 1, eop, bytes(int(w, 16) for w in words[1:-1])))
    return entries


def rmap_of(packet):
    """The RMAP fields of a packet, decoded here independently of the dissector, or None."""
    start = 0
    while start < len(packet) and packet[start] < 0x20:
        start += 1
    p = packet[start:]
    if len(p) < 3 or p[1] != 1:
        return None
    ins = p[2]
    command, write, code = ins & 0x40, ins & 0x20, (ins >> 2) & 15
    f = {"command": bool(command), "reply_expected": bool(ins & 0x08), "malformed": False}
    if command:
        a = 4 + (ins & 3) * 4
        header = a + 12
        if len(p) < header:
            return dict(f, malformed=True)
        f.update(target_la=p[0], key=p[3], initiator_la=p[a], tid=p[a + 1] << 8 | p[a + 2],
                 extended_address=p[a + 3], address=int.from_bytes(p[a + 4:a + 8], "big"),
                 data_length=int.from_bytes(p[a + 8:a + 11], "big"))
        has_data = write or code == 7
    else:
        header = 8 if write else 12
        if len(p) < header:
            return dict(f, malformed=True)
        f.update(initiator_la=p[0], status=p[3], target_la=p[4], tid=p[5] << 8 | p[6])
        if not write:
            f["data_length"] = int.from_bytes(p[8:11], "big")
        has_data = not write
    f["header_crc"] = int(crc8(p[:header]) == 0)
    end = header
    if has_data:
        end = header + f["data_length"] + 1
        if len(p) >= end:
            f["data"] = p[header:end - 1]
            f["data_crc"] = int(crc8(p[header:end]) == 0)
        else:
            f["data"] = p[header:]  # cut short: what there is
    f["malformed"] = len(p) != end
    return f
