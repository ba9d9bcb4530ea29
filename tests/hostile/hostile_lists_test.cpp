// Hostile command lists too large for golden files: lines of a million
// characters, a million commands, loops nested 100,000 deep, include chains
// as deep as the open files allow and aliases that expand to megabytes.
// Each list is written to a file and run through preprocessing, the mode's
// parser and loop expansion; the exact refusal or the exact result is
// checked.  A crash, a sanitizer finding or a hang (the test's time-out)
// fails the case as well.  Small hostile lists are golden cases.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "cmdlist/command_text.h"
#include "cmdlist/read_commands.h"
#include "stream_rmap/rmap_loops.h"
#include "stream_rmap/rmap_parser.h"
#include "stream_spacewire/cs_loop_expansion.h"
#include "stream_spacewire/cs_parser.h"
#include "support/capture_stdout.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace {

using Cases = std::vector<std::pair<std::string, std::string>>;

const std::string kParsed = "Command list file successfully processed.\n";
const std::string kCannotOpen = "Error processing INCLUDELIST directive - unable to open specified file ";

std::string Chars(std::size_t count, char c) { return std::string(count, c); }

std::string Repeat(const std::string &piece, std::size_t times)
{
    std::string text;
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

// "<prefix>0<suffix> <prefix>1<suffix> ... <prefix><count - 1><suffix>".
std::string Each(int count, const std::string &prefix, const std::string &suffix)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += (i == 0 ? "" : " ") + prefix + std::to_string(i) + suffix;
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

// Bytes as they are or in hexadecimal; a long run of one byte as
// "<count>*<byte>".
std::string Shown(std::string_view bytes, bool hex)
{
    const bool run = bytes.size() > 64 && bytes.find_first_not_of(bytes[0]) == std::string_view::npos;
    std::string shown;
    for (const char c : run ? bytes.substr(0, 1) : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
        shown += hex ? std::string(digits) : std::string(1, c);
    }
    return run ? std::to_string(bytes.size()) + "*" + shown : shown;
}

std::string Hex(const std::vector<std::uint8_t> &bytes)
{
    return Shown(std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()), true);
}

// A scratch directory as the current one, where lists, included files and
// data files are found.
struct InScratch {
    ScratchDir scratch;
    InDirectory inside{scratch.path()};
};

// ReadCommands on the list, written to a file as the user would.  With
// free_files of 0 or more, only that many further files may be open
// meanwhile.
std::optional<std::string> Preprocess(const std::string &list, int free_files = -1)
{
    WriteWholeFile("list.txt", list);
    std::FILE *file = std::fopen("list.txt", "r");
    if (file == nullptr) {
        ADD_FAILURE() << "cannot open list.txt";
        return std::nullopt;
    }
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    if (free_files >= 0) {
        // New descriptors take numbers below the limit: each open one there
        // moves the limit up by one.
        int limit = free_files;
        for (int fd = 0; fd < limit; ++fd) {
            limit += fcntl(fd, F_GETFD) != -1 ? 1 : 0;
        }
        const rlimit lowered{static_cast<rlim_t>(limit), saved.rlim_max};
        EXPECT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    }
    IncludeChain chain;
    std::optional<std::string> text = ReadCommands(file, &chain, 0);
    setrlimit(RLIMIT_NOFILE, &saved);
    std::fclose(file);
    return text;
}

// What preprocessing prints, then "=> " and the text if it is accepted.
std::string Preprocessed(const std::string &list, int free_files = -1)
{
    CaptureStdout capture;
    const std::optional<std::string> text = Preprocess(list, free_files);
    return capture.Take() + (text ? "=> " + *text : "");
}

// The commands other than loops in the order they run, described and
// blank-separated.
template <typename Record, typename Describe>
std::string RunOrder(const Record *list, decltype(Record::type) loop, Describe describe)
{
    std::string order;
    VisitInRunOrder(list, [&](const Record &command) {
        if (command.type != loop) {
            order += (order.empty() ? "" : " ") + describe(command);
        }
    });
    return order;
}

// What was printed (warnings come before it), the success line left out,
// then the commands that run if the list was accepted (only an accepted
// list has its loops linked to their bodies and can be walked).
std::string Outcome(std::string printed, bool accepted, const std::string &run)
{
    if (const std::size_t parsed = printed.find(kParsed); parsed != std::string::npos) {
        printed.erase(parsed, kParsed.size());
    }
    return printed + (accepted ? run : "");
}

// A SpaceWire list preprocessed, parsed with input base 16 and expanded:
//   S<number>[x<packets>]=<all data in hexadecimal>
//   R<number>[x<packets>]l<packet length>[f<file name>]
std::string SpaceWire(const std::string &list)
{
    default_base = 16;
    SpaceWireCommandList commands;
    NumberBase output_base = -1;
    CaptureStdout capture;
    const std::optional<std::string> text = Preprocess(list);
    const bool accepted =
        text && CS_ProcessCommands(*text, commands, output_base) && CS_DealWithLoopCommands(commands);
    return Outcome(capture.Take(), accepted, RunOrder(accepted ? commands.get() : nullptr, SPACEWIRE_COMMAND_LOOP, [](const auto &c) {
        const bool send = c.type == SPACEWIRE_COMMAND_SEND;
        const std::string shown = (send ? "S" : "R") + std::to_string(c.number) +
                                  (c.packet_count != 1 ? "x" + std::to_string(c.packet_count) : "");
        if (send) {
            return shown + "=" + Hex(c.data);
        }
        const std::string name = c.filename.empty() ? "" : "f" + Shown(c.filename, false);
        return shown + "l" + std::to_string(c.packet_length) + name;
    }));
}

// An RMAP list likewise, each command as
//   <r|w|m><number> k<key> t<transaction> a<hex address> l<data length>[ d<hex data>][ f<file name>]
// with the data shown for writes and read/modify/writes only.
std::string Rmap(const std::string &list)
{
    default_base = 16;
    RmapCommandPtr chain;
    CaptureStdout capture;
    if (const std::optional<std::string> text = Preprocess(list)) {
        int output_base = -1;
        chain = CR_ProcessCommands(*text, &output_base);
    }
    const bool accepted = chain != nullptr && CR_DealWithLoopCommands(chain.get());
    return Outcome(capture.Take(), accepted, RunOrder(accepted ? chain.get() : nullptr, RMAP_COMMAND_LOOP, [](const auto &c) {
        char head[80];
        const char type = c.type == RMAP_COMMAND_READ ? 'r' : c.type == RMAP_COMMAND_WRITE ? 'w' : 'm';
        std::snprintf(head, sizeof head, "%c%d k%d t%d a%x l%u", type, c.number, c.destination_key,
                      c.transaction_identifier, c.address, c.data_length);
        const bool with_data = c.type != RMAP_COMMAND_READ && c.data;
        return head + (with_data ? " d" + Hex(*c.data) : "") + (c.filename ? " f" + Shown(*c.filename, false) : "");
    }));
}

void ExpectAll(const Cases &cases, std::string (*outcome)(const std::string &))
{
    for (const auto &[list, expected] : cases) {
        SCOPED_TRACE(Shown(list.substr(0, 60), false) + " (" + std::to_string(list.size()) + " characters)");
        const std::string actual = outcome(list);
        // Megabytes are not printed: only where the two first differ.
        const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
        const std::size_t at = static_cast<std::size_t>(a - actual.begin()), from = at > 40 ? at - 40 : 0;
        EXPECT_TRUE(a == actual.end() && e == expected.end())
            << "first difference at " << at << "\n  actual:   \"" << actual.substr(from, 120) << "\"\n  expected: \""
            << expected.substr(from, 120) << "\"";
    }
    default_base = 16;
}

TEST(Hostile, Preprocessing)
{
    InScratch scratch;
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    const std::string nul = "Error - the command list file holds a NUL byte (at byte ";
    ExpectAll(
        {
            {Chars(kCommandReadBlock - 1, ' ') + '\0' + "S d:1;",
             nul + std::to_string(kCommandReadBlock - 1) + "); command lists must be text.\n"},
            {"#INCLUDELIST /dev/zero;",
             nul + "0); command lists must be text.\nError reading commands from included file /dev/zero\n"},
            {"a/*" + Chars(1000000, 'c') + "*/b", "=> ab"},
            // Each directive takes the "a" behind it; each "b" is cut off by
            // the next directive and joins what follows, so the first alias
            // finally sees the whole word of 100,000 b and a c.
            {"#ALIAS " + Chars(100000, 'b') + "c=x;ab" + Repeat("#ALIAS A=y;ab", 99999) + "c", "=> x"},
            {"#" + Chars(100000, 'D') + " x;",
             "Error reading directive, expected space or semi-colon before maximum directive length reached: " +
                 Chars(100, 'D') + "\n"},
            {"#INCLUDELIST " + Chars(100000, 'n') + ";", kCannotOpen + Chars(100000, 'n') + "\n"},
            // Nobody writes to the FIFO, so it reads as empty instead of blocking.
            {"a\n#INCLUDELIST fifo;\nb", "=> a\n\nb"},
        },
        [](const std::string &list) { return Preprocessed(list); });
}

// Every level keeps its file open while the deeper ones are read; files
// side by side are each closed before the next is opened.  With the limit
// lowered so that 20 more files may be open, a chain of 20 nests and a
// thousand side by side are read (one level more fails: the cmdlist tests).
TEST(Hostile, IncludesUpToTheOpenFileLimit)
{
    InScratch scratch;
    for (int i = 1; i <= 20; ++i) {
        WriteWholeFile("f" + std::to_string(i), i < 20 ? "#INCLUDELIST f" + std::to_string(i + 1) + ";" : "x");
    }
    EXPECT_EQ(Preprocessed("#INCLUDELIST f1;", 20), "=> x");
    EXPECT_EQ(Preprocessed(Repeat("#INCLUDELIST f20;", 1000), 20), "=> " + Chars(1000, 'x'));
}

// Values and words are read through an 8,200-byte working buffer: 8,199
// characters are a value, more are refused with the property's message.
TEST(Hostile, SpaceWireValuesOf8199And8200And100000Characters)
{
    const struct {
        const char *before, *after;
        char fill, last;
        const char *accepted, *refused;
    } properties[] = {
        {"S n:", " d:1;", '0', '2', "S0x2=0101", "Error in number of packets specified in send command 0.\n"},
        {"R l:8 n:", ";", '0', '2', "R0x2l8", "Error in number of packets specified in receive command 0.\n"},
        {"R l:", ";", '0', '2', "R0l2", "Error in packet length specified in receive command 0.\n"},
        {"L n:1 t:", "; S d:1;", '0', '2', "S1=01 S1=01", "Error in times to repeat specified in loop command 0.\n"},
        {"L t:2 n:", "; S d:1; S d:3;", '0', '2', "S1=01 S2=03 S1=01 S2=03",
         "Error in number to repeat specified in loop command 0.\n"},
        {"R l:1 f:", ";", 'f', 'f', "R0l1f8199*f", "Error in filename specified in receive command 0.\n"},
        {"R l:1 f:'", "';", 'f', 'f', "R0l1f8199*f", "Error in filename specified in receive command 0.\n"},
    };
    InScratch scratch;
    for (const auto &p : properties) {
        for (const std::size_t length : {8199, 8200, 100000}) {
            const std::string list = p.before + Chars(length - 1, p.fill) + p.last + p.after;
            EXPECT_EQ(SpaceWire(list), length < 8200 ? p.accepted : p.refused) << p.before << length;
        }
    }
}

TEST(Hostile, SpaceWireLists)
{
    InScratch scratch;
    ExpectAll(
        {
            // An end marker and a base word of 100,000 characters.
            {"S e:" + Chars(100000, 'y') + " d:1;", "Error in EOP type argument.\n"},
            {"O " + Chars(100000, 'h') + ";", "Invalid base specified in base command 0.\n"},
            // Data of 8,199 and 8,200 characters, and of 2 megabytes.
            {DoublingAliases("A", 12) + "S d:A12 1 1 1 1;", "S0=4100*01"},
            {DoublingAliases("A", 12) + "S d:A12 1 1 1 1 ;", "Error in data of send command 0.\n"},
            {DoublingAliases("A", 20) + "S d:A20;", "Error in data of send command 0.\n"},
            // A million commands on one line; loops nested 100,000 deep.
            {Repeat("S d:1;", 1000000), Each(1000000, "S", "=01")},
            {"L n:1 t:2;\n" + Repeat("L n:1 t:1;\n", 99999) + "S d:1;", "S100000=01 S100000=01"},
        },
        SpaceWire);
}

// A write that gives every property but its data.
const std::string kWrite = "w;\nDestinationAddress: FE; SourceAddress: 20;\n"
                           "VerifyBeforeWrite: false; Acknowledge: true; IncrementTarget: true;\n"
                           "DestinationKey: 0; TransactionIdentifier: 1;\n"
                           "ReadWriteAddress: 1000; ExtendedReadWriteAddress: 0;\n";
const std::string kWritten = " k0 t1 a1000 l1 d01";

TEST(Hostile, RmapLists)
{
    InScratch scratch;
    WriteWholeFile("big", "");
    std::filesystem::resize_file("big", std::uintmax_t{1} << 31); // sparse: costs no disk
    const std::string loop = "\n\nl;\nTimesToRepeat: ", write = "Data: 1;";
    ExpectAll(
        {
            // The RMAP parser keeps no working buffer: long values are read whole.
            {kWrite + "Data: " + Repeat("1 ", 50000) + "; DestinationKey: " + Chars(8199, '0') + "7;\nAddress: " +
                 Chars(99992, '0') + "12345678;\n\nr;\nFilename: " + Chars(100000, 'f') + ";\n",
             "w0 k7 t1 a12345678 l50000 d50000*01 r1 k7 t1 a12345678 l50000 f100000*f"},
            {kWrite + write + " D\xc3\xa9" + Chars(99997, 'a') + ": 1;\n", "Error reading write command 0.\n"},
            {"b;\nInputBase: " + Chars(100000, 'h') + ";\n",
             "Error reading base command 0.\nError reading base command.\n"},
            {"CommandType" + Chars(99989, 'e') + ": w;\n",
             "Error, unexpected characters where command type expected.\n"},
            // A line of a million characters, and aliases expanding to 2 megabytes.
            {kWrite + "Data: '" + Chars(1000000, 'x') + "';\n", "w0 k0 t1 a1000 l1000000 d1000000*78"},
            {DoublingAliases("B", 20) + kWrite + "Data: B20;\n", "w0 k0 t1 a1000 l1048576 d1048576*01"},
            // A file larger than a data value can hold is refused unread.
            {kWrite + "Data: -big;\n", "Error reading write command 0.\n"},
            // A million commands; loops nested 100,000 deep with nothing to repeat.
            {kWrite + write + "\n\n" + Repeat("w;\n\n", 999999), Each(1000000, "w", kWritten)},
            {kWrite + write + loop + "1; NumberToRepeat: 1;\n\n" + Repeat("l;\n\n", 99999),
             "Not enough commands present for loop command 100000\n"},
        },
        Rmap);
}

// A data file that is a FIFO nobody reads: the run neither blocks nor loses the data silently.
TEST(Hostile, FifoAsDataFileIsReportedWithoutBlocking)
{
    ScratchDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    dir.Write("spacewire.txt", "S d:1; R l:4 f:fifo;\n");
    dir.Write("rmap.txt", kWrite + "Data: 1;\n\nr;\nFilename: fifo;\n");
    for (const auto &[mode, list, setting] : {std::tuple{"-m=scs", "-c=spacewire.txt", "far_end=loopback"},
                                              std::tuple{"-m=rcs", "-c=rmap.txt", ""}}) {
        const ProgramRun run = RunProgram({{"-d=0", mode, list, "-o=out.txt"}, "", setting, dir.path(), 10});
        EXPECT_FALSE(run.timed_out) << mode;
        EXPECT_TRUE(run.out.ends_with("to file 'fifo': No such device or address.\n"
                                      "There were 1 errors encountered performing the command list\n"))
            << run.out;
    }
}

// Forty nested loops of two repetitions would run 2^40 records: refused
// before anything runs (which loop is named depends on the machine).
TEST(HostileLoops, NestedDoublingIsRefusedBeforeAnyRun)
{
    CaptureStdout capture;
    SpaceWireCommandList list;
    int output_base = -1;
    ASSERT_TRUE(CS_ProcessCommands(Repeat("L n:1 t:2;", 40) + "S d:1;", list, output_base));
    EXPECT_FALSE(CS_DealWithLoopCommands(list));
    RmapCommandPtr chain =
        CR_ProcessCommands(kWrite + "Data: 1;\n\n" + Repeat("l;\nTimesToRepeat: 2; NumberToRepeat: 1;\n\n", 40) + "w;\n",
                           &output_base);
    ASSERT_NE(chain, nullptr);
    EXPECT_FALSE(CR_DealWithLoopCommands(chain.get()));
    const std::string printed = capture.Take();
    const std::string refusal = "Could not allocate memory for children of loop command ";
    const std::size_t first = printed.find(refusal);
    EXPECT_NE(first, std::string::npos);
    EXPECT_NE(printed.find(refusal, first + 1), std::string::npos) << printed; // once per mode
}

} // namespace
