#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/seed-*.

The packets are built here by hand from the RMAP packet formats, with a CRC
of our own, so that the seeds do not depend on the code they exercise.
Files named other than seed-* (reproducers of findings) are left alone.
Run from anywhere: python3 fuzz/make_seeds.py
"""
import hashlib
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"


sys.path.insert(0, str(ROOT / "tests" / "support"))
from trace_decode import crc8 as crc  # noqa: E402  the tests' reference CRC

assert crc(b"123456789") == 0x20
assert crc(bytes(range(1, 9))) == 0xB0

# Instruction bits.
COMMAND, WRITE, VERIFY, REPLY, INCREMENT = 0x40, 0x20, 0x10, 0x08, 0x04
RMW = VERIFY | REPLY | INCREMENT


def command(instruction, data=b"", length=None, path=b"", target=0xFE, key=0x00,
            reply_path=b"", initiator=0x20, tid=0x0102, ext=0x00, address=0x1000):
    """A command: path, header with its CRC, then data and data CRC for writes and RMWs."""
    words = (len(reply_path) + 3) // 4
    field = bytes(4 * words - len(reply_path)) + reply_path
    instruction |= COMMAND | words
    if length is None:
        length = len(data)
    header = bytes([target, 0x01, instruction, key]) + field + bytes([
        initiator, tid >> 8, tid & 0xFF, ext,
        address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF,
        length >> 16, (length >> 8) & 0xFF, length & 0xFF])
    packet = path + header + bytes([crc(header)])
    if instruction & WRITE or (instruction >> 2) & 0xF == 0x7:
        packet += data + bytes([crc(data)])
    return packet


def reply(instruction, status=0, data=b"", path=b"", initiator=0x20, target=0xFE, tid=0x0102):
    """A reply as received: path bytes, header with its CRC, data and data CRC for reads."""
    header = bytes([initiator, 0x01, instruction, status, target, tid >> 8, tid & 0xFF])
    if not instruction & WRITE:
        header += bytes([0x00, len(data) >> 16, (len(data) >> 8) & 0xFF, len(data) & 0xFF])
    packet = path + header + bytes([crc(header)])
    if not instruction & WRITE:
        packet += data + bytes([crc(data)])
    return packet


def flip(packet, index):
    changed = bytearray(packet)
    changed[index] ^= 0x01
    return bytes(changed)


COMMANDS = [
    command(WRITE | REPLY | INCREMENT, b"\x01\x02\x03\x04"),
    command(WRITE | VERIFY | REPLY | INCREMENT, b"\xde\xad\xbe\xef", ext=0x02),
    command(WRITE, b"\x55"),
    command(WRITE | INCREMENT, b"", address=0xFFFFFFFF),
    command(WRITE | REPLY, b"\x11\x22", reply_path=b"\x05\x06", path=b"\x01\x02"),
    command(WRITE | REPLY | INCREMENT, bytes(range(64)), reply_path=b"\x01\x02\x03\x04\x05\x06\x07\x08\x09"),
    command(REPLY | INCREMENT, length=16),
    command(REPLY, length=4, key=0x20, tid=0xFFFF),
    command(REPLY | INCREMENT, length=0x100, reply_path=b"\x03", path=b"\x07"),
    command(RMW, b"\xf0\x0f\xff\x00", address=0x500, ext=0x03),
    command(RMW, b"\xaa\xbb\xcc\xdd\xff\xff\x00\x00"),
    command(RMW, b""),
    command(RMW, b"\x01\x02\x03"),                      # length 3: not allowed
    command(REPLY | INCREMENT, length=0xFFFFFF),        # the largest read
    command(0x00, length=4),                            # code 0000 does not exist
    command(WRITE | REPLY, b"\x01") + b"\x00",          # a byte too many
    command(WRITE | REPLY, b"\x01\x02")[:-2],           # data cut short
    flip(command(REPLY | INCREMENT, length=8), 10),     # header CRC wrong
    flip(command(WRITE | REPLY, b"\x01\x02"), -1),      # data CRC wrong
    command(WRITE | REPLY, b"\x01", target=0x33),       # another target
]

REPLIES = [
    reply(WRITE | REPLY | INCREMENT),
    reply(WRITE | VERIFY | REPLY, status=3, path=b"\x01\x1f"),
    reply(REPLY | INCREMENT, data=b"\x01\x02\x03\xa4"),
    reply(REPLY, status=10, initiator=0x40, target=0x33, tid=0xBEEF),
    reply(REPLY | INCREMENT, data=bytes(range(256))),
    reply(RMW, data=b"\x00\x01"),
    reply(RMW, data=b"\x01\x02\x03\x04\x05"),          # too long for a read/modify/write
    reply(REPLY | INCREMENT, status=12, path=b"\x00\x00\x05"),
    reply(WRITE | REPLY, status=255),
    reply(REPLY | INCREMENT, data=b"\x01\x02")[:-1],   # data CRC missing
    flip(reply(REPLY | INCREMENT, data=b"\x01\x02"), -1),
    flip(reply(WRITE | REPLY), 3),
    reply(WRITE),                                       # a reply to a command that wanted none
    reply(0x80 | WRITE | REPLY),                        # reserved bit
    b"", b"\x20", b"\x20\x01", b"\x20\x02\x08", b"\x01\x02\x03",
]

TEXTS = [
    "", " ", "12 34 ff", "FF Ab aB", "101 11 0", "377 17", "255 10", "0", "1\t2\r\n3\n",
    "n1000 1", "i101 o17 n255 h7f", "0b101 0o17 0d255 0x7f", "0x1234", "00b", "d0",
    "ffffffff", "100000000", "4294967297", "123456789",
    "\"a b\"", "'a\tb'", "`x`", "\"ab'", "'ab\" 1", "'\\n'", "'\xe9'", "\"ab", "12 \"a b ",
    "'ab'12", "''5", "''100", "'a'9", "'ab'x", "12 '' 34", "12 0x 34", "'' 12", "12 0x",
    "1-2", "+1", "1,2", "1;", "1\0 2", "\0",
    "-abc", "-abc 5", "12 -abc", "-abc -abc", "-high", "-a'b", "-'a b'", "-\"a b\"5",
    "-'abc'12", "-empty", "-dir", "-fifo", "-missing", "-", "- 1", "-''", "-'abc",
    "0x1234  'a b'  i101 -abc 7", "  0x1234  ", "12 34", "'a' 1",
]


SPACEWIRE_TEXTS = [
    "B 10;\nS n:2 e:y d:1 0x20;\nL n:1 t:3;\nR l:64 f:'rx 1.bin';\nO h;\n",
    "S d:1 2 3; R l:4; S n:3 d:'abc'; R n:3 l:3 f:out.bin;",
    "L n:2 t:3; S d:1; R l:4; S d:2;",
    "L n:2 t:2; L n:1 t:3; S d:1; S d:2; S d:3;",
    "L n:1 t:0; S d:1; L n:0 t:5; R l:1;",
    "L n:3 t:2; S d:1;",                          # not enough commands
    "s D:-abc e:n N:2; r L:8 n:2 F:\"a b;c\";",
    "S e:x d:1;", "S d:1", "R n:2;", "R l:0;", "L n:-1 t:1;", "B 2 8 10 16 i o n h;",
    "O 0b; B 0x; S d:ffff 0x100;", "Q;", "", "   \n\t", "S n:0 d:1;", "R l:7fffffff n:2;",
    "S e:t d:;", "R l:1 f:;", "L;", "S n: d:1;",
]

RMAP_TEXTS = [
    "b;\nInputBase: 16;\nOutputBase: 10;\n\nw;\nDestinationAddress: FE;\nSourceAddress: 20;\n"
    "VerifyBeforeWrite: false; Acknowledge: true;\nIncrementTarget: true;\n"
    "DestinationKey: 0; TransactionIdentifier: 1;\nReadWriteAddress: 1000; ExtendedReadWriteAddress: 0;\n"
    "Data: 01 02 03 04;\n\nr;\nTransactionIdentifier: 2;\nFilename: 'read.bin';\n\nl;\n"
    "TimesToRepeat: 3;\nNumberToRepeat: 1;\n\nr;\nTransactionIdentifier: 3;\n",
    "m;\nDe: 1 2 fe; So: 20; Key: 5; Tr: ffff; Address: ffffffff; Ex: ff;\nDa: 1 2; Mask: ff 0 ff;\n"
    "HeaderCRC: 0; CRC: 1;\n\nl; Ti: 2; Nu: 1;\n\nm; Da: ;\n",
    "CommandType: r; DestinationAddress: fe; SourceAddress: 20; In: yes; Key: 0; Tr: 0;\n"
    "Ad: 0; Ex: 0; Length: 10;\n\nl; Ti: 0; Nu: 2;\n\nr;\n\nr;\n",
    "l; TimesToRepeat: 2; NumberToRepeat: 2;\n\nl; Ti: 3; Nu: 1;\n\nr; De: fe; So: 20; In: f; Key: 0;"
    " Tr: 1; Ad: 0; Ex: 0; DataL: 4;\n\nr;\n",
    "l; Ti: 1; Nu: 5;\n\nr;\n", "x;\n", "w;\n", "r; Data: 1;\n", "b; OutputBase: 7;\n",
    "w; De: fe; So: 20; Ve: t; Ac: f; In: t; Key: 0; Tr: 0; Ad: 0; Ex: 0; Da: -abc 'x';\n\n",
]

CMDLIST_FILES = [
    ["#ALIAS ADDR = 10;  /* base address */\n#ALIAS V = ADDR 2;\nr ADDR:V\n#INCLUDELIST b;\nend",
     "w ADDR:V"],
    ["#INCLUDELIST b;#INCLUDELIST c;x", "#ALIAS x = y;x", "#INCLUDELIST a;"],
    ["#INCLUDELIST \"b\";", "/* open"],
    ["#ALIAS a = b b;#ALIAS c = a a;#ALIAS d = c c;d d d", ""],
    ["#alias A=1;#ALIAS B=A A;#aLiAs C = B;C A B", ""],
    ["#INCLUDELIST missing;", ""],
    ["#ALIAS x y = 1; x", ""], ["# ;", ""], ["#UNKNOWN;", ""], ["#ALIAS = 1;", ""],
    ["a/*b*/c/*/d*/e */ f", ""],
    ["#INCLUDELIST b ;", "b"],
    ["#ALIAS w=#;", ""],
]


def ssdtp_frame(flag, payload=b"", size=None, reserved=0):
    """An SSDTP2 frame: flag, reserved byte, 80-bit size most significant first, payload."""
    size = len(payload) if size is None else size
    return bytes([flag, reserved]) + size.to_bytes(10, "big") + payload


def ssdtp_input(frames, limit=4096, cuts=(1, 1, 1, 1)):
    """Packet limit (two bytes), cut pattern (four bytes), then the stream."""
    return limit.to_bytes(2, "big") + bytes(cuts) + b"".join(frames)


EOP, EEP, FRAGMENT, TIME, TIME_ALT, SPEED = 0x00, 0x01, 0x02, 0x30, 0x31, 0x38
SSDTP = [
    ssdtp_input([ssdtp_frame(EOP, b"\xfe\x01\x02"), ssdtp_frame(EEP, b"\x20\x01")]),
    ssdtp_input([ssdtp_frame(FRAGMENT, b"\xfe"), ssdtp_frame(EEP, b"\x01")], cuts=(12, 1, 0, 13)),
    ssdtp_input([ssdtp_frame(FRAGMENT, b"ab"), ssdtp_frame(FRAGMENT, b"c"), ssdtp_frame(EOP, b"d")],
                cuts=(5, 12, 0, 3)),
    ssdtp_input([ssdtp_frame(TIME, b"\x05\x00"), ssdtp_frame(FRAGMENT, b"ab"), ssdtp_frame(TIME_ALT, b"\x3f\x00"),
                 ssdtp_frame(SPEED, b"\x00\x0a"), ssdtp_frame(EOP, b"c"), ssdtp_frame(TIME, b"\x06\x00")],
                cuts=(7, 7, 7, 7)),
    ssdtp_input([ssdtp_frame(EOP), ssdtp_frame(FRAGMENT), ssdtp_frame(EEP)], limit=0, cuts=(12, 12, 12, 12)),
    ssdtp_input([ssdtp_frame(EOP, b"x"), ssdtp_frame(0x03, b"y")]),                   # unknown flag
    ssdtp_input([ssdtp_frame(EOP, b"x", reserved=1)]),                               # reserved byte
    ssdtp_input([ssdtp_frame(EOP, size=1 << 79)]),                                   # 80-bit size
    ssdtp_input([ssdtp_frame(EOP, size=(1 << 64) + 1)]),
    ssdtp_input([ssdtp_frame(EOP, bytes(8)), ssdtp_frame(EOP, bytes(9))], limit=8, cuts=(3, 30, 3, 3)),
    ssdtp_input([ssdtp_frame(FRAGMENT, bytes(5)), ssdtp_frame(EOP, bytes(4))], limit=8),
    ssdtp_input([ssdtp_frame(TIME, b"\x01")]),                                       # control frames of 1 byte
    ssdtp_input([ssdtp_frame(SPEED, b"\x01\x02\x03")]),
    ssdtp_input([ssdtp_frame(FRAGMENT, b"ab"), ssdtp_frame(EOP, b"cdef")[:14]]),       # cut in a payload
    ssdtp_input([ssdtp_frame(EOP, b"ab")[:7]], cuts=(0, 2, 0, 1)),                     # cut in a header
]


def strip_comments(text):
    return re.sub(r"/\*.*?\*/", "", text, flags=re.S)


def lone_slash(text):
    return any(c == "/" and not (text[i + 1:i + 2] == "*" or text[i - 1:i] == "*" and i > 0)
               for i, c in enumerate(text))


def lists(pattern):
    """Command lists of the examples and golden cases, comments taken out."""
    found = []
    for path in sorted(ROOT.glob(pattern)):
        text = strip_comments(path.read_text(encoding="latin-1"))
        if "/" not in text and "#" not in text:
            found.append(text)
    return found


def write_seeds(target, inputs):
    directory = CORPUS / target
    directory.mkdir(parents=True, exist_ok=True)
    for old in directory.glob("seed-*"):
        old.unlink()
    for data in inputs:
        name = "seed-" + hashlib.sha1(data).hexdigest()[:16]
        (directory / name).write_bytes(data)


def main():
    # Control byte: base in bits 1..0 (2, 8, 10, 16), single value in bit 2.
    values = []
    for text in TEXTS:
        raw = text.encode("latin-1")
        for control in (0x03, 0x07, 0x02, 0x00, 0x01, 0x06):
            values.append(bytes([control]) + raw)
    write_seeds("fuzz_data_value", values)

    write_seeds("fuzz_rmap_check", COMMANDS + REPLIES)

    # Control byte: base in bits 1..0, data file in bit 2.
    write_seeds("fuzz_rmap_display",
                [bytes([control]) + packet for packet in REPLIES + COMMANDS[:4] for control in (0x07, 0x02)])

    # Header: flags, far end and packets per read, target, key, buffer size - 1,
    # faulty replies (kind in bits 3..0, every (n - 1) in bits 5..4); then the
    # memory map when there is one (far end bit 5, described in the target).
    def session(flags, far_end, packets, target=0xFE, key=0x00, size=4095, fault=0, memory_map=b""):
        body = b"".join(len(p).to_bytes(2, "big") + p for p in packets)
        far_end |= 0x20 if memory_map else 0
        return bytes([flags, far_end, target, key, size >> 8, size & 0xFF, fault]) + memory_map + body

    loop = [b"\x01\x02\x03", b"\x33\x01\x4c", bytes(range(200))]
    write_then_read = [command(WRITE | REPLY | INCREMENT, b"\x01\x02\x03\x04"),
                       command(REPLY | INCREMENT, length=4)]
    # Two regions, status 12 for other addresses, FF as a second address: 400
    # to 4ff read, write and rmw, 4-byte words, a 14-byte verify buffer; 500
    # to 50f failing, filled with ee.
    registers = bytes([0x0D, 0x40, 0x0F, 0x87, 0x0E, 0x00, 0x00, 0x61, 0xEE])
    on_registers = [
        command(WRITE | REPLY | INCREMENT, b"\x01\x02\x03\x04", address=0x400),
        command(WRITE | VERIFY | REPLY | INCREMENT, bytes(16), address=0x400),
        command(WRITE | REPLY | INCREMENT, b"\x01\x02", address=0x402),
        command(RMW, b"\x01\x02\x03\x04\xff\x00\xff\x00", address=0x404),
        command(REPLY | INCREMENT, length=0x20, address=0x4F0),
        command(REPLY | INCREMENT, length=4, address=0x500),
        command(REPLY | INCREMENT, length=4, address=0x400, target=0xFF),
        command(REPLY | INCREMENT, length=4, address=0x400, target=0x30),
        command(WRITE | REPLY, b"\x09", address=0x3F0),
    ]
    # One read-only region 100 to 16f filled with 5a, in 2-byte words at
    # 4-byte addresses; other addresses discarded.
    read_only = bytes([0x00, 0x10, 0x06, 0x41, 0x5A])
    on_read_only = [command(WRITE | REPLY | INCREMENT, b"\x01\x02", address=0x100),
                    command(REPLY | INCREMENT, length=4, address=0x100),
                    command(REPLY, length=2, target=0x30)]
    sessions = [
        session(0x00, 0x00, write_then_read + loop),
        session(0x10, 0x01, COMMANDS[:10]),
        session(0x08, 0x01, COMMANDS[10:]),
        session(0x24, 0x02 | (3 << 2), loop),
        session(0x01, 0x01, write_then_read),                       # EEP endings
        session(0x80, 0x01, write_then_read, key=0x20),             # wrong key
        session(0x80, 0x01, [command(REPLY, length=2, key=0x20)], key=0x20),
        session(0x02, 0x00, loop),                                  # not registered
        session(0x40, 0x03, loop),                                  # silent, polled
        session(0x60, 0x00, write_then_read + loop, size=15),       # tiny buffer, time-out
        session(0x00, 0x01, [command(REPLY | INCREMENT, length=0x10000)], size=0xFFFF),
        session(0x00, 0x01, [command(WRITE | REPLY, b"\x01", target=0x40)], target=0x40),
        session(0x08, 0x00, [b"\x01", b"", b"\x02"]),               # an empty packet refuses the send
        session(0x00, 0x00, [b"\x01", b"", b"\x02"]),
        session(0x00, 0x01, on_registers, memory_map=registers),
        session(0x00, 0x00, on_read_only + loop, memory_map=read_only),
    ] + [
        # Every kind of faulty reply, on every reply or every second one.
        session(0x00, 0x01, write_then_read + [command(RMW, b"\x01\x02\xff\x00")], fault=kind | every << 4)
        for kind in range(1, 9) for every in (0, 1)
    ]
    write_seeds("fuzz_vantor_target", sessions)

    # Packet limit, cut pattern, then the SSDTP2 stream.
    write_seeds("fuzz_ssdtp", SSDTP)

    # Control byte: base in bits 1..0.
    spacewire = SPACEWIRE_TEXTS + lists("examples/spacewire*.txt") + \
        lists("tests/e2e/cases/stream_spacewire/*/in/*.txt")
    write_seeds("fuzz_spacewire_stream",
                [bytes([control]) + t.encode("latin-1") for t in spacewire for control in (0x03, 0x02)])
    rmap = RMAP_TEXTS + lists("examples/rmap*.txt") + lists("tests/e2e/cases/stream_rmap/*/in/*.txt")
    write_seeds("fuzz_rmap_stream",
                [bytes([control]) + t.encode("latin-1") for t in rmap for control in (0x03, 0x02)])

    # Files a, b, c... separated by a line "===".
    raw = [path.read_text(encoding="latin-1")
           for path in sorted(ROOT.glob("tests/e2e/cases/stream_*/*/in/list.txt")) + sorted(ROOT.glob("examples/*.txt"))]
    command_lists = ["\n===\n".join(files) for files in CMDLIST_FILES] + raw
    write_seeds("fuzz_command_list",
                [t.encode("latin-1") for t in command_lists if not lone_slash(t)])


if __name__ == "__main__":
    main()
