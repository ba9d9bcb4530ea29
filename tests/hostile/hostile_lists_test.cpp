// Hostile command lists too large for golden files: lines of a million
// characters, a million commands, loops nested a million deep, 100,000 directives, include chains
// and aliases that expand to megabytes.  The
// program runs each list against a loopback (SpaceWire) or the simulated
// target (RMAP): what it says after the banner, what crossed the link (the
// trace) and, where it matters, the preprocessed list or the JSON records
// are checked exactly.  A crash, a sanitizer finding or a hang (the time
// limit) fails the case as well.  Smaller hostile lists are golden cases, the
// edge of the 8,200-byte working buffer among them (hostile/spacewire_*_characters).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace {

const std::string kParsed = "Command list file successfully processed.\n";
const std::string kRan = kParsed + "The command list was successfully executed.\n";

std::string Chars(std::size_t count, char c) { return std::string(count, c); }

std::string Repeat(const std::string &piece, std::size_t times)
{
    std::string text;
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

// "#ALIAS A0 = 1;" and A1 .. A<levels>, each standing for the one before it
// twice, so that A<levels> is 2^levels ones separated by single blanks.
std::string DoublingAliases(const std::string &name, int levels)
{
    std::string text = "#ALIAS " + name + "0 = 1;\n";
    for (int level = 1; level <= levels; ++level) {
        const std::string before = name + std::to_string(level - 1);
        text += "#ALIAS " + name + std::to_string(level) + " = " + before + " " + before + ";\n";
    }
    return text;
}

struct Ran {
    std::string said;  // after the banner
    std::string trace; // "> " sent and "< " delivered packets
    std::string dump;  // the list as preprocessing left it
    std::string json;  // the records of the commands run
};

// The list runs from a scratch directory that also holds, where the list
// names them, "fifo", a FIFO nobody writes, and "big", a sparse file of
// 2 GiB; JSON records are kept when the far end is the target.
Ran RunList(const char *mode, const std::string &list, const std::string &sim = "far_end=loopback")
{
    ScratchDir dir;
    dir.Write("list.txt", list);
    if (list.find("fifo;") != std::string::npos) {
        EXPECT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    }
    if (list.find("-big;") != std::string::npos) {
        dir.Write("big", "");
        std::filesystem::resize_file(dir / "big", std::uintmax_t{1} << 31);
    }
    ProgramOptions options{{"-d=0", mode, "-c=list.txt", "-o=out.txt", "-du=dump.txt"}, "", sim + ";trace=trace.txt",
                           dir.path(), 120};
    if (sim.starts_with("far_end=target")) { // a million records would be half a gigabyte
        options.args.push_back("-json=run.jsonl");
    }
    const ProgramRun run = RunProgram(options);
    EXPECT_FALSE(run.timed_out);
    const auto read = [&dir](const char *name) { return dir.Exists(name) ? dir.Read(name) : ""; };
    std::string json = read("run.jsonl");
    json.erase(std::min(json.size(), json.rfind("{\"summary\"")));
    return {AfterBanner(run.out), read("trace.txt"), read("dump.txt"), json};
}

std::string Said(const std::string &said)
{
    const std::string summary = "Summary: ";
    return said.substr(0, said.rfind(summary) == std::string::npos ? said.size() : said.rfind(summary));
}

// Megabytes are not printed: only where the two first differ.
void ExpectSame(const std::string &actual, const std::string &expected, const std::string &what)
{
    const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    const std::size_t at = static_cast<std::size_t>(a - actual.begin()), from = at > 40 ? at - 40 : 0;
    EXPECT_TRUE(a == actual.end() && e == expected.end())
        << what << ": first difference at " << at << "\n  actual:   \"" << actual.substr(from, 120)
        << "\"\n  expected: \"" << expected.substr(from, 120) << "\"";
}

std::string Looped(const std::string &bytes) { return "> " + bytes + " EOP\n< " + bytes + " EOP\n"; }

TEST(Hostile, SpaceWireLists)
{
    const struct {
        std::string list, said, trace;
    } cases[] = {
        {"S d:1;/*" + Chars(1000000, 'c') + "*/S d:2;", kRan, Looped("01") + Looped("02")},
        // Nobody writes to the FIFO, so it reads as empty instead of blocking.
        {"S d:1;\n#INCLUDELIST fifo;\nS d:2;", kRan, Looped("01") + Looped("02")},
        // Data of 2 megabytes.
        {DoublingAliases("A", 20) + "S d:A20;", "Error in data of send command 0.\n", ""},
        // Loops nested a million deep, repeated and dropped: deeper than any call stack.
        {"L n:1 t:2;\n" + Repeat("L n:1 t:1;\n", 999999) + "S d:1;", kRan, Looped("01") + Looped("01")},
        {"L n:1 t:0;\n" + Repeat("L n:1 t:1;\n", 999999) + "S d:1;S d:2;", kRan, Looped("02")},
    };
    for (const auto &c : cases) {
        const Ran ran = RunList("-m=scs", c.list);
        ExpectSame(Said(ran.said), c.said, c.list.substr(0, 40));
        ExpectSame(ran.trace, c.trace, c.list.substr(0, 40));
    }
    // Each directive takes the "a" behind it; each "b" is cut off by the next
    // directive and joins what follows, so the first alias finally sees the
    // whole word of 100,000 b and a c.
    EXPECT_EQ(RunList("-m=scs", "#ALIAS " + Chars(100000, 'b') + "c=x;ab" + Repeat("#ALIAS A=y;ab", 99999) + "c").dump,
              "x");
    // A million commands on one line, each sent as written.
    const Ran million = RunList("-m=scs", Repeat("S d:1;", 1000000), "far_end=silent");
    EXPECT_EQ(Said(million.said), kRan);
    ExpectSame(million.trace, Repeat("> 01 EOP\n", 1000000), "a million sends");
}

// A write that gives every property but its data, and no acknowledgement.
const std::string kWrite = "w;\nDestinationAddress: FE; SourceAddress: 20;\n"
                           "VerifyBeforeWrite: false; Acknowledge: false; IncrementTarget: true;\n"
                           "DestinationKey: 0; TransactionIdentifier: 1;\n"
                           "ReadWriteAddress: 1000; ExtendedReadWriteAddress: 0;\n";

TEST(Hostile, RmapLists)
{
    // The RMAP parser keeps no working buffer: long values are read whole,
    // the key among them (the target takes 7 only), and the data comes back.
    const std::string name = Chars(100000, 'f');
    const Ran whole = RunList("-m=rcs",
                              kWrite + "Data: " + Repeat("1 ", 50000) + "; DestinationKey: " + Chars(8199, '0') +
                                  "7;\nAddress: " + Chars(99992, '0') + "12345678;\n\nr;\nFilename: " + name + ";\n",
                              "far_end=target;key=7");
    const std::string fields = ",\"key\":7,\"transaction_identifier\":1,\"extended_address\":0,\"address\":305419896,"
                               "\"data_length\":50000,";
    const std::string data = "\"data\":\"" + Repeat("01", 50000) + "\"";
    EXPECT_NE(whole.json.find(fields + "\"verify\":false,\"acknowledge\":false,\"increment\":true," + data + "}"),
              std::string::npos);
    EXPECT_NE(whole.json.find(fields, whole.json.find("{\"command\":1,")), std::string::npos);
    EXPECT_NE(whole.json.find("\"reply\":{\"status\":0,\"status_text\":\"success\",\"transaction_identifier\":1," +
                              data),
              std::string::npos);
    EXPECT_NE(whole.said.find("to file '" + name + "': File name too long.\n"), std::string::npos);
    const struct {
        std::string list, said, data; // data: of the one write, in hexadecimal
    } cases[] = {
        // A line of a million characters, and aliases expanding to 2 megabytes.
        {kWrite + "Data: '" + Chars(1000000, 'x') + "';\n", kRan, Repeat("78", 1000000)},
        {DoublingAliases("B", 20) + kWrite + "Data: B20;\n", kRan, Repeat("01", 1048576)},
        // A file larger than a data value can hold is refused unread.
        {kWrite + "Data: -big;\n", "Error reading write command 0.\n", ""},
    };
    for (const auto &c : cases) {
        const Ran ran = RunList("-m=rcs", c.list, "far_end=target");
        ExpectSame(Said(ran.said), c.said, c.list.substr(0, 40));
        EXPECT_TRUE(c.data.empty() || ran.json.find(",\"data\":\"" + c.data + "\"}") != std::string::npos)
            << c.list.substr(0, 40);
    }
    // A million commands, each a copy of the first.
    const Ran million = RunList("-m=rcs", kWrite + "Data: 1;\n\n" + Repeat("w;\n\n", 999999), "far_end=silent");
    EXPECT_EQ(Said(million.said), kRan);
    const std::string first = million.trace.substr(0, million.trace.find('\n') + 1);
    EXPECT_EQ(first, "> fe 01 64 00 20 00 01 00 00 00 10 00 00 00 01 f8 01 91 EOP\n");
    ExpectSame(million.trace, Repeat(first, 1000000), "a million writes");
}

} // namespace
