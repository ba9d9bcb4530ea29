// Hostile command lists: every property at and beyond its limits, NUL bytes,
// bytes that are not UTF-8, lines of a million characters, a million
// commands, loops nested 100,000 deep, include chains as deep as the open
// files allow and aliases that expand to megabytes.  Each list is generated
// here and run through preprocessing, the mode's parser and loop expansion.
// What matters is checked: the exact refusal, or the exact accepted result;
// a crash, a sanitizer finding or a hang (the test's time-out) fails the case.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "app/settings.h"
#include "cmdlist/command_text.h"
#include "cmdlist/read_commands.h"
#include "common/data_value.h"
#include "stream_rmap/rmap_loops.h"
#include "stream_rmap/rmap_parser.h"
#include "stream_spacewire/cs_loop_expansion.h"
#include "stream_spacewire/cs_parser.h"
#include "support/capture_stdout.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Text = std::function<std::string()>;
using Files = std::function<void(const ScratchDir &)>;

const std::string kParsed = "Command list file successfully processed.\n";

std::string Repeat(const std::string &piece, std::size_t times)
{
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

std::string Chars(std::size_t count, char c) { return std::string(count, c); }

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

// Reports the first difference instead of printing megabytes.
void ExpectSameText(const std::string &actual, const std::string &expected)
{
    if (actual == expected) {
        return;
    }
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    const std::size_t from = at > 40 ? at - 40 : 0;
    ADD_FAILURE() << "lengths " << actual.size() << " and " << expected.size() << ", first difference at " << at
                  << "\n  actual:   \"" << actual.substr(from, 120) << "\"\n  expected: \""
                  << expected.substr(from, 120) << "\"";
}

// Every case runs in a scratch directory of its own, where included files
// and data files are found.
class InScratch {
public:
    InScratch() : saved_(std::filesystem::current_path()) { std::filesystem::current_path(scratch_.path()); }
    ~InScratch() { std::filesystem::current_path(saved_); }
    const ScratchDir &dir() const { return scratch_; }

private:
    ScratchDir scratch_;
    std::filesystem::path saved_;
};

// ReadCommands on the list, written to a file as the user would.
std::optional<std::string> ReadList(const ScratchDir &dir, const std::string &list)
{
    dir.Write("list.txt", list);
    std::FILE *file = std::fopen("list.txt", "r");
    if (file == nullptr) {
        ADD_FAILURE() << "cannot open list.txt";
        return std::nullopt;
    }
    IncludeChain chain;
    std::optional<std::string> text = ReadCommands(file, &chain, 0);
    std::fclose(file);
    return text;
}

// ---------------------------------------------------------------------------
// Preprocessing: the text handed to the parsers, or the refusal.

struct PreprocessCase {
    const char *name;
    Text list;
    Text printed;                 // exactly what is printed
    std::optional<Text> text;     // the accepted text; absent: refused
    Files files = nullptr;        // further files beside the list
    const char *skip = nullptr;   // a known fault, reported; the case waits for its fix
};

std::string NulMessage(std::size_t at)
{
    return "Error - the command list file holds a NUL byte (at byte " + std::to_string(at) +
           "); command lists must be text.\n";
}

std::string HighBytes()
{
    std::string bytes;
    for (int c = 0x80; c <= 0xFF; ++c) {
        bytes.push_back(static_cast<char>(c));
    }
    // Overlong "/", a lone surrogate, a five-byte form: none of them UTF-8.
    return bytes + "\xc0\xaf \xed\xa0\x80 \xf8\x88\x80\x80\x80";
}

Text Fixed(const std::string &text)
{
    return [text] { return text; };
}

const std::vector<PreprocessCase> kPreprocessCases = {
    {"NulAsFirstByte", Fixed(std::string("\0S d:1;\n", 8)), Fixed(NulMessage(0)), std::nullopt},
    {"NulAsLastByteOfAReadBlock",
     [] { return Chars(kCommandReadBlock - 1, ' ') + std::string(1, '\0') + "S d:1;"; },
     [] { return NulMessage(kCommandReadBlock - 1); }, std::nullopt},
    {"NulAsFirstByteOfTheNextReadBlock",
     [] { return Chars(kCommandReadBlock, ' ') + std::string(1, '\0') + "S d:1;"; },
     [] { return NulMessage(kCommandReadBlock); }, std::nullopt},
    {"NulInsideAComment", Fixed(std::string("/* \0 */S d:1;", 13)), Fixed(NulMessage(3)), std::nullopt},
    {"NulInAnIncludedFile", Fixed("S d:1;\n#INCLUDELIST sub.txt;\n"),
     Fixed(NulMessage(1) + "Error reading commands from included file sub.txt\n"), std::nullopt,
     [](const ScratchDir &dir) { dir.Write("sub.txt", std::string("S\0 d:2;", 7)); }},
    {"BytesThatAreNotUtf8AreKept", Fixed("S d:'" + HighBytes() + "';\n"), Fixed(""),
     Fixed("S d:'" + HighBytes() + "';\n")},
    {"AliasNameAndValueThatAreNotUtf8", Fixed("#ALIAS \xff\xfe = \xc0\xaf;\n\xff\xfe:\xff\xfe;\xff\xfe\xff"),
     Fixed(""), Fixed("\xc0\xaf:\xc0\xaf;\xff\xfe\xff")},
    {"DirectiveNameThatIsNotUtf8", Fixed("#\xff\xfe x;\n"),
     Fixed("Error reading command list file in first pass, unrecognised directive \xff\xfe\n"), std::nullopt},
    {"CommentOfAMillionCharacters", [] { return "a/*" + Chars(1000000, 'c') + "*/b"; }, Fixed(""), Fixed("ab")},
    {"LineOfAMillionCharacters", [] { return Chars(1000000, 'x') + "\n"; }, Fixed(""),
     [] { return Chars(1000000, 'x') + "\n"; }},
    {"DirectiveNameOf100Characters", [] { return "#" + Chars(100, 'D') + " x;"; },
     [] { return "Error reading command list file in first pass, unrecognised directive " + Chars(100, 'D') + "\n"; },
     std::nullopt},
    {"DirectiveNameOf101Characters", [] { return "#" + Chars(101, 'D') + " x;"; },
     [] {
         return "Error reading directive, expected space or semi-colon before maximum directive length reached: " +
                Chars(100, 'D') + "\n";
     },
     std::nullopt},
    {"DirectiveNameOfAMillionCharacters", [] { return "#" + Chars(1000000, 'D') + " x;"; },
     [] {
         return "Error reading directive, expected space or semi-colon before maximum directive length reached: " +
                Chars(100, 'D') + "\n";
     },
     std::nullopt},
    {"AliasValueOfAMillionCharacters", [] { return "#ALIAS V = " + Chars(1000000, 'v') + ";\nV V"; }, Fixed(""),
     [] { return Chars(1000000, 'v') + " " + Chars(1000000, 'v'); }},
    {"UnterminatedArgumentOfAMillionCharacters", [] { return "#ALIAS V = " + Chars(1000000, 'v'); },
     [] {
         return "Error reading directive argument, expected semi-colon before end of input:  V = " +
                Chars(1000000, 'v') + "\n";
     },
     std::nullopt},
    {"AliasesDoublingToTwoMegabytes", [] { return DoublingAliases("A", 20) + "A20"; }, Fixed(""),
     [] { return Repeat("1 ", (1u << 20) - 1) + "1"; }},
    {"AliasesDoublingBeyondTheLongestText", [] { return DoublingAliases("A", 40) + "A40"; },
     Fixed("Error - the command list would be longer than 2147483646 characters.\n"), std::nullopt},
    // Each directive takes the "a" behind it; each "b" is cut off by the next
    // directive and joins what follows, so the first alias finally sees the
    // whole word of 100,000 b and a c.
    {"HundredThousandDirectivesJoiningOneWord",
     [] { return "#ALIAS " + Chars(100000, 'b') + "c=x;ab" + Repeat("#ALIAS A=y;ab", 99999) + "c"; }, Fixed(""),
     Fixed("x")},
    {"IncludeOfAnEndlessDevice", Fixed("#INCLUDELIST /dev/zero;\n"),
     Fixed(NulMessage(0) + "Error reading commands from included file /dev/zero\n"), std::nullopt},
    {"IncludeOfADirectory", Fixed("#INCLUDELIST .;\n"),
     Fixed("Error processing INCLUDELIST directive - unable to open specified file .\n"),
     std::nullopt},
    {"IncludeNameOf100000Characters", [] { return "#INCLUDELIST " + Chars(100000, 'n') + ";"; },
     [] { return "Error processing INCLUDELIST directive - unable to open specified file " + Chars(100000, 'n') + "\n"; },
     std::nullopt},
    // Nobody writes to the FIFO, so it reads as empty instead of blocking.
    {"IncludeOfAFifoWithoutWriter", Fixed("a\n#INCLUDELIST fifo;\nb"), Fixed(""), Fixed("a\n\nb"),
     [](const ScratchDir &dir) { ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0); }},
};

class Preprocessing : public testing::TestWithParam<PreprocessCase> {};

TEST_P(Preprocessing, RefusesOrKeepsTheText)
{
    const PreprocessCase &c = GetParam();
    if (c.skip != nullptr) {
        GTEST_SKIP() << c.skip;
    }
    InScratch scratch;
    if (c.files) {
        c.files(scratch.dir());
    }
    CaptureStdout capture;
    const std::optional<std::string> text = ReadList(scratch.dir(), c.list());
    const std::string printed = capture.Take();
    ExpectSameText(printed, c.printed());
    ASSERT_EQ(text.has_value(), c.text.has_value());
    if (text) {
        ExpectSameText(*text, (*c.text)());
    }
}

// ---------------------------------------------------------------------------
// SpaceWire command lists: preprocessed, parsed and expanded.

// The commands other than loops in the order they run: a loop's
// repetitions one after the other in its place.  Works for both modes'
// records, whose loops hold their repetitions in children.
template <typename Record>
std::vector<const Record *> RunOrder(const Record *list, decltype(Record::type) loop)
{
    std::vector<const Record *> order;
    std::vector<const Record *> chains{list};
    while (!chains.empty()) {
        const Record *command = chains.back();
        chains.pop_back();
        for (; command != nullptr; command = command->next.get()) {
            if (command->type != loop) {
                order.push_back(command);
            } else if (!command->children.empty()) {
                chains.push_back(command->next.get());
                for (auto child = command->children.rbegin(); child != command->children.rend(); ++child) {
                    chains.push_back(child->get());
                }
                break;
            }
        }
    }
    return order;
}

// The numbers of the commands that run, in order.
template <typename Record>
std::vector<std::int32_t> Numbers(const std::vector<const Record *> &run)
{
    std::vector<std::int32_t> numbers;
    for (const Record *command : run) {
        numbers.push_back(command->number);
    }
    return numbers;
}

struct SpaceWireCase {
    const char *name;
    Text list;
    Text printed;
    // Checks the commands that would run; absent: the list is refused.
    std::function<void(const std::vector<const SpaceWireCommand *> &)> accepted = nullptr;
    Files files = nullptr;
};

// Only the message of the refusal is printed.
Text Refused(const std::string &message) { return Fixed(message); }

// One send or receive, and what it must hold.
void ExpectOneSend(const std::vector<const SpaceWireCommand *> &run, std::int32_t count, const Bytes &packet)
{
    ASSERT_EQ(run.size(), 1u);
    EXPECT_EQ(run[0]->type, SPACEWIRE_COMMAND_SEND);
    EXPECT_EQ(run[0]->packet_count, count);
    EXPECT_EQ(run[0]->data_length, static_cast<std::int32_t>(packet.size()));
    Bytes all;
    for (std::int32_t i = 0; i < count; ++i) {
        all.insert(all.end(), packet.begin(), packet.end());
    }
    EXPECT_EQ(run[0]->data, all);
}

void ExpectOneReceive(const std::vector<const SpaceWireCommand *> &run, std::int32_t count, std::int32_t length)
{
    ASSERT_EQ(run.size(), 1u);
    EXPECT_EQ(run[0]->type, SPACEWIRE_COMMAND_RECEIVE);
    EXPECT_EQ(run[0]->packet_count, count);
    EXPECT_EQ(run[0]->packet_length, length);
}

// 0, 1, ... count - 1.
std::vector<std::int32_t> Counting(std::int32_t count)
{
    std::vector<std::int32_t> numbers;
    for (std::int32_t i = 0; i < count; ++i) {
        numbers.push_back(i);
    }
    return numbers;
}

const std::vector<SpaceWireCase> kSpaceWireCases = {
    // Values and words are read through an 8,200-byte working buffer: 8,199
    // characters are a value, more are refused with the property's message.
    {"SendCountOf8199Characters", [] { return "S n:" + Chars(8198, '0') + "2 d:1;"; }, Fixed(kParsed),
     [](const auto &run) { ExpectOneSend(run, 2, {1}); }},
    {"SendCountOf8200Characters", [] { return "S n:" + Chars(8199, '0') + "2 d:1;"; },
     Refused("Error in number of packets specified in send command 0.\n")},
    {"SendCountOf100000Characters", [] { return "S n:" + Chars(99999, '0') + "2 d:1;"; },
     Refused("Error in number of packets specified in send command 0.\n")},
    {"ReceiveCountOf8200Characters", [] { return "R l:8 n:" + Chars(8199, '0') + "2;"; },
     Refused("Error in number of packets specified in receive command 0.\n")},
    {"PacketLengthOf8199Characters", [] { return "R l:" + Chars(8198, '0') + "8;"; }, Fixed(kParsed),
     [](const auto &run) { ExpectOneReceive(run, 1, 8); }},
    {"PacketLengthOf8200Characters", [] { return "R l:" + Chars(8199, '0') + "8;"; },
     Refused("Error in packet length specified in receive command 0.\n")},
    {"PacketLengthOf100000Characters", [] { return "R l:" + Chars(99999, '0') + "8;"; },
     Refused("Error in packet length specified in receive command 0.\n")},
    {"TimesToRepeatOf8199Characters", [] { return "L n:1 t:" + Chars(8198, '0') + "3; S d:1;"; }, Fixed(kParsed),
     [](const auto &run) { EXPECT_EQ(Numbers(run), (std::vector<std::int32_t>{1, 1, 1})); }},
    {"TimesToRepeatOf8200Characters", [] { return "L n:1 t:" + Chars(8199, '0') + "3; S d:1;"; },
     Refused("Error in times to repeat specified in loop command 0.\n")},
    {"NumberToRepeatOf100000Characters", [] { return "L t:1 n:" + Chars(99999, '0') + "1; S d:1;"; },
     Refused("Error in number to repeat specified in loop command 0.\n")},
    {"DataOf8199Characters", [] { return "S d:" + Repeat("1 ", 4099) + "1;"; }, Fixed(kParsed),
     [](const auto &run) { ExpectOneSend(run, 1, Bytes(4100, 1)); }},
    {"DataOf8200Characters", [] { return "S d:" + Repeat("1 ", 4100) + ";"; },
     Refused("Error in data of send command 0.\n")},
    {"DataOf100000Characters", [] { return "S d:" + Repeat("1 ", 50000) + ";"; },
     Refused("Error in data of send command 0.\n")},
    {"DataOf8199CharactersFromAliases", [] { return DoublingAliases("A", 12) + "S d:A12 1 1 1 1;"; }, Fixed(kParsed),
     [](const auto &run) { ExpectOneSend(run, 1, Bytes(4100, 1)); }},
    {"DataOf8200CharactersFromAliases", [] { return DoublingAliases("A", 12) + "S d:A12 1 1 1 1 ;"; },
     Refused("Error in data of send command 0.\n")},
    {"FileNameOf8199Characters", [] { return "R l:1 f:" + Chars(8199, 'f') + ";"; }, Fixed(kParsed),
     [](const auto &run) {
         ExpectOneReceive(run, 1, 1);
         EXPECT_EQ(run[0]->filename, Chars(8199, 'f'));
     }},
    {"FileNameOf8200Characters", [] { return "R l:1 f:" + Chars(8200, 'f') + ";"; },
     Refused("Error in filename specified in receive command 0.\n")},
    {"QuotedFileNameOf8199Characters", [] { return "R l:1 f:'" + Chars(8198, 'f') + " ';"; }, Fixed(kParsed),
     [](const auto &run) {
         ExpectOneReceive(run, 1, 1);
         EXPECT_EQ(run[0]->filename, Chars(8198, 'f') + " ");
     }},
    {"QuotedFileNameOf8200Characters", [] { return "R l:1 f:'" + Chars(8199, 'f') + " ';"; },
     Refused("Error in filename specified in receive command 0.\n")},
    {"FileNameOf100000Characters", [] { return "R l:1 f:" + Chars(100000, 'f') + ";"; },
     Refused("Error in filename specified in receive command 0.\n")},
    {"EndMarkerOf100000Characters", [] { return "S e:" + Chars(100000, 'y') + " d:1;"; },
     Refused("Error in EOP type argument.\n")},
    {"EndMarkerAtTheEndOfTheText", Fixed("S e:"), Refused("Error in EOP type .\n")},
    {"BaseWordOf8200Characters", [] { return "B " + Chars(8200, 'h') + ";"; },
     Refused("Invalid base specified in base command 0.\n")},
    {"BaseWordOf100000Characters", [] { return "O " + Chars(100000, 'h') + ";"; },
     Refused("Invalid base specified in base command 0.\n")},
    {"BaseWordAfter100000Blanks", [] { return "B" + Chars(100000, ' ') + "i;\nR l:11;"; }, Fixed(kParsed),
     [](const auto &run) { ExpectOneReceive(run, 1, 3); }},

    // Numbers are taken modulo 2^32 as signed 32-bit counts: 2^31 and more
    // are negative, so refused, and 2^32 is 0.
    {"PacketLengthOf2To31", Fixed("R l:n2147483648;"),
     Refused("Error in packet length specified in receive command 0.\n")},
    {"PacketLengthOf2To31Less1", Fixed("R l:n2147483647;"), Fixed(kParsed),
     [](const auto &run) { ExpectOneReceive(run, 1, 2147483647); }},
    {"PacketLengthOf2To32", Fixed("R l:n4294967296;"),
     Refused("Error in packet length specified in receive command 0.\n")},
    {"PacketLengthOf2To32And8", Fixed("R l:n4294967304;"), Fixed(kParsed),
     [](const auto &run) { ExpectOneReceive(run, 1, 8); }},
    {"PacketLengthOf2To64And8", Fixed("R l:n18446744073709551624;"), Fixed(kParsed),
     [](const auto &run) { ExpectOneReceive(run, 1, 8); }},
    {"PacketLengthOfAllOnes", Fixed("R l:FFFFFFFF;"),
     Refused("Error in packet length specified in receive command 0.\n")},
    {"PacketLengthZero", Fixed("R l:0;"), Refused("Error in packet length specified in receive command 0.\n")},
    {"ReceiveCountZero", Fixed("R n:0 l:4;"), Refused("Error in number of packets specified in receive command 0.\n")},
    {"SendCountZero", Fixed("S n:0 d:1;"), Refused("Error in number of packets specified in send command 0.\n")},
    // There is no sign: "-1" names a file "1", which does not exist.
    {"SendCountWrittenNegative", Fixed("S n:-1 d:1;"),
     Refused("Error in number of packets specified in send command 0.\n")},
    {"SendCountOf2To31", Fixed("S n:80000000 d:1;"),
     Refused("Error in number of packets specified in send command 0.\n")},
    {"TimesToRepeatOf2To31", Fixed("L n:1 t:80000000; S d:1;"),
     Refused("Error in times to repeat specified in loop command 0.\n")},
    {"NumberToRepeatOfAllOnes", Fixed("L n:FFFFFFFF t:1; S d:1;"),
     Refused("Error in number to repeat specified in loop command 0.\n")},
    {"NumberToRepeatOf2To31Less1", Fixed("L n:7FFFFFFF t:1; S d:1;"),
     Fixed(kParsed + "Not enough commands present for loop command 0\n")},
    {"NumberToRepeatOf2To31Less1Dropped", Fixed("L n:7FFFFFFF t:0; S d:1;"),
     Fixed(kParsed + "Not enough commands present for loop command 0\n")},
    {"LoopCountsZero", Fixed("L n:0 t:0; S d:1;"), Fixed(kParsed),
     [](const auto &run) { EXPECT_EQ(Numbers(run), (std::vector<std::int32_t>{1})); }},

    // Packet count times packet length must fit 2^31 - 1 bytes.
    {"ReceiveOf2To31Bytes", Fixed("R n:n65536 l:n32768;"),
     Refused("Error in number of packets specified in receive command 0.\n")},
    {"ReceiveOf2To31BytesLessOnePacket", Fixed("R n:n65535 l:n32768;"), Fixed(kParsed),
     [](const auto &run) { ExpectOneReceive(run, 65535, 32768); }},
    {"ReceiveOfTwoPacketsOf2To30", Fixed("R n:2 l:n1073741824;"),
     Refused("Error in number of packets specified in receive command 0.\n")},
    {"SendOf2To31Bytes", Fixed("S n:n65536 d:-blob;"),
     Refused("Error in number of packets specified in send command 0.\n"), nullptr,
     [](const ScratchDir &dir) { dir.Write("blob", Chars(32768, 'b')); }},
    // Repetitions that could never fit in memory are refused before any is made.
    {"LoopOf2To31Less1Repetitions", Fixed("L n:1 t:7FFFFFFF; S d:1;"),
     Fixed(kParsed + "Could not allocate memory for children of loop command 0\n")},
    {"NestedLoopsWhoseProductIs2To32", Fixed("L n:1 t:n65536; L n:1 t:n65536; S d:1;"),
     Fixed(kParsed + "Could not allocate memory for children of loop command 0\n")},

    // Scale: linear work, no recursion as deep as the input.
    {"OneMillionCommands", [] { return Repeat("S d:1;\n", 1000000); }, Fixed(kParsed),
     [](const auto &run) { EXPECT_EQ(Numbers(run), Counting(1000000)); }},
    {"LineOfAMillionCharacters", [] { return Repeat("R l:4;", 166667); }, Fixed(kParsed),
     [](const auto &run) { EXPECT_EQ(Numbers(run), Counting(166667)); }},
    {"LoopsNested100000Deep", [] { return Repeat("L n:1 t:1;\n", 100000) + "S d:1;"; }, Fixed(kParsed),
     [](const auto &run) { EXPECT_EQ(Numbers(run), (std::vector<std::int32_t>{100000})); }},
    {"LoopsNested100000DeepRunTwice", [] { return "L n:1 t:2;\n" + Repeat("L n:1 t:1;\n", 99999) + "S d:1;"; },
     Fixed(kParsed),
     [](const auto &run) { EXPECT_EQ(Numbers(run), (std::vector<std::int32_t>{100000, 100000})); }},
    {"LoopsNested100000DeepDropped", [] { return Repeat("L n:1 t:0;\n", 100000) + "S d:1;\nS d:2;"; },
     Fixed(kParsed), [](const auto &run) { EXPECT_EQ(Numbers(run), (std::vector<std::int32_t>{100001})); }},
    {"LoopsNested100000DeepWithoutABody", [] { return Repeat("L n:1 t:1;\n", 100000); },
     Fixed(kParsed + "Not enough commands present for loop command 99999\n")},

    // Bytes beyond ASCII are characters like any other: never white space,
    // never a command or property letter, kept as they are in data and names.
    {"CommandLetterNotUtf8", Fixed("S d:1;\n\xc3\xa9 d:1;"), Refused("Error in command list file at command 1.\n")},
    {"PropertyLetterNotUtf8", Fixed("S \xe9:1 d:1;"), Refused("Unexpected property type in send command 0.\n")},
    {"EndMarkerNotUtf8", Fixed("S e:\xff d:1;"), Refused("Error in EOP type \xff.\n")},
    {"QuotedDataNotUtf8", Fixed("S d:'\x80\xc3\xa9\xff' fe;"), Fixed(kParsed),
     [](const auto &run) { ExpectOneSend(run, 1, {0x80, 0xc3, 0xa9, 0xff, 0xfe}); }},
    {"FileNameNotUtf8", Fixed("R l:1 f:\xff\xfe.bin;"), Fixed(kParsed),
     [](const auto &run) {
         ExpectOneReceive(run, 1, 1);
         EXPECT_EQ(run[0]->filename, "\xff\xfe.bin");
     }},
    {"NoBreakSpaceIsNoBlank", Fixed("S d:1;\xa0S d:2;"), Refused("Error in command list file at command 1.\n")},
    {"VerticalTabIsNoBlank", Fixed("S\vd:1;"), Refused("Unexpected property type in send command 0.\n")},
    {"FormFeedInDataIsNoBlank", Fixed("S d:1\f2;"), Refused("Error in data of send command 0.\n")},
};

class SpaceWireList : public testing::TestWithParam<SpaceWireCase> {
protected:
    void SetUp() override { default_base = 16; }
    void TearDown() override { default_base = 16; }
};

TEST_P(SpaceWireList, RefusesOrRunsExactly)
{
    const SpaceWireCase &c = GetParam();
    InScratch scratch;
    if (c.files) {
        c.files(scratch.dir());
    }
    SpaceWireCommandList list;
    bool accepted = false;
    CaptureStdout capture;
    if (const std::optional<std::string> text = ReadList(scratch.dir(), c.list())) {
        NumberBase output_base = -1;
        accepted = CS_ProcessCommands(*text, list, output_base) && CS_DealWithLoopCommands(list);
    }
    const std::string printed = capture.Take();
    ExpectSameText(printed, c.printed());
    ASSERT_EQ(accepted, c.accepted != nullptr);
    if (accepted) {
        c.accepted(RunOrder(list.get(), SPACEWIRE_COMMAND_LOOP));
    }
}

// ---------------------------------------------------------------------------
// RMAP command lists: preprocessed, parsed and expanded.

// A write that gives every property but its data.
const std::string kWrite = "w;\nDestinationAddress: FE; SourceAddress: 20;\n"
                           "VerifyBeforeWrite: false; Acknowledge: true; IncrementTarget: true;\n"
                           "DestinationKey: 0; TransactionIdentifier: 1;\n"
                           "ReadWriteAddress: 1000; ExtendedReadWriteAddress: 0;\n";

struct RmapCase {
    const char *name;
    Text list;
    Text printed;
    std::function<void(const std::vector<const RmapCommand *> &)> accepted = nullptr;
    const char *skip = nullptr;
};

// The write with the given further properties.
Text WriteWith(const std::string &properties) { return Fixed(kWrite + properties + "\n"); }

void ExpectOnlyData(const std::vector<const RmapCommand *> &run, const Bytes &data)
{
    ASSERT_EQ(run.size(), 1u);
    ASSERT_TRUE(run[0]->data.has_value());
    ExpectSameText(std::string(run[0]->data->begin(), run[0]->data->end()), std::string(data.begin(), data.end()));
}

const std::vector<RmapCase> kRmapCases = {
    // The RMAP parser keeps no working buffer: long values are read whole.
    {"NumberOf8200Characters", [] { return kWrite + "Data: 1; DestinationKey: " + Chars(8199, '0') + "7;\n"; },
     Fixed(kParsed), [](const auto &run) {
         ASSERT_EQ(run.size(), 1u);
         EXPECT_EQ(run[0]->destination_key, 7);
     }},
    {"NumberOf100000Characters",
     [] { return kWrite + "Data: 1; ReadWriteAddress: " + Chars(99992, '0') + "12345678;\n"; }, Fixed(kParsed),
     [](const auto &run) {
         ASSERT_EQ(run.size(), 1u);
         EXPECT_EQ(run[0]->address, 0x12345678u);
     }},
    {"DataOf100000Characters", [] { return kWrite + "Data: " + Repeat("1 ", 50000) + ";\n"; }, Fixed(kParsed),
     [](const auto &run) {
         ASSERT_EQ(run.size(), 1u);
         EXPECT_EQ(run[0]->data, Bytes(50000, 1));
         EXPECT_EQ(run[0]->data_length, 50000u);
     }},
    {"DataOnALineOfAMillionCharacters", [] { return kWrite + "Data: '" + Chars(1000000, 'x') + "';\n"; },
     Fixed(kParsed), [](const auto &run) { ExpectOnlyData(run, Bytes(1000000, 'x')); }},
    {"DataOver100000Lines", [] { return kWrite + "Data: " + Repeat("1 \n", 100000) + ";\n"; }, Fixed(kParsed),
     [](const auto &run) { ExpectOnlyData(run, Bytes(100000, 1)); }},
    {"DataOfAMegabyteFromAliases", [] { return DoublingAliases("B", 20) + kWrite + "Data: B20;\n"; },
     Fixed(kParsed), [](const auto &run) { ExpectOnlyData(run, Bytes(1u << 20, 1)); }},
    {"FileNameOf100000Characters", [] { return kWrite + "Data: 1;\n\nr;\nFilename: " + Chars(100000, 'f') + ";\n"; },
     Fixed(kParsed), [](const auto &run) {
         ASSERT_EQ(run.size(), 2u);
         EXPECT_EQ(run[1]->filename, Chars(100000, 'f'));
     }},
    {"PropertyNameOf100000Characters", [] { return kWrite + "Data: 1; D" + Chars(99999, 'a') + ": 1;\n"; },
     Refused("Error reading write command 0.\n")},
    {"BaseWordOf100000Characters", [] { return "b;\nInputBase: " + Chars(100000, 'h') + ";\n"; },
     Refused("Error reading base command 0.\nError reading base command.\n")},
    {"LabelOf100000Characters", [] { return "CommandType" + Chars(99989, 'e') + ": w;\n"; },
     Refused("Error, unexpected characters where command type expected.\n")},

    // Numbers wrap modulo 2^32 and are cut to their field.
    {"TransactionIdentifiersBeyond16Bits",
     Fixed(kWrite + "Data: 1; TransactionIdentifier: 10000;\n\nw;\nTransactionIdentifier: 1FFFF;\n"), Fixed(kParsed),
     [](const auto &run) {
         ASSERT_EQ(run.size(), 2u);
         EXPECT_EQ(run[0]->transaction_identifier, 0);
         EXPECT_EQ(run[1]->transaction_identifier, 0xFFFF);
     }},
    {"AddressesOf2To32AndBeyond",
     Fixed(kWrite + "Data: 1; ReadWriteAddress: 100000000;\n\nw;\nReadWriteAddress: 100001000;\n"), Fixed(kParsed),
     [](const auto &run) {
         ASSERT_EQ(run.size(), 2u);
         EXPECT_EQ(run[0]->address, 0u);
         EXPECT_EQ(run[1]->address, 0x1000u);
     }},
    {"DataLengthsOf2To32AndAllOnes",
     Fixed(kWrite + "Data: 1;\n\nr;\nDataLength: 100000000;\n\nr;\nDataLength: FFFFFFFF;\n"), Fixed(kParsed),
     [](const auto &run) {
         ASSERT_EQ(run.size(), 3u);
         EXPECT_EQ(run[1]->data_length, 0u);
         EXPECT_EQ(run[2]->data_length, 0xFFFFFFFFu);
     }},
    {"KeyWrittenNegative", WriteWith("Data: 1; DestinationKey: -1;"), Refused("Error reading write command 0.\n")},
    {"TimesToRepeatOf2To32DropsTheBody",
     Fixed(kWrite + "Data: 1;\n\nl;\nTimesToRepeat: 100000000; NumberToRepeat: 1;\n\nw;\n\nw;\n"), Fixed(kParsed),
     [](const auto &run) { EXPECT_EQ(Numbers(run), (std::vector<std::int32_t>{0, 3})); }},
    {"NumberToRepeatOf2To32RepeatsNothing",
     Fixed(kWrite + "Data: 1;\n\nl;\nTimesToRepeat: 3; NumberToRepeat: 100000000;\n\nw;\n"), Fixed(kParsed),
     [](const auto &run) { EXPECT_EQ(Numbers(run), (std::vector<std::int32_t>{0, 2})); }},
    {"NumberToRepeatOfAllOnes", Fixed(kWrite + "Data: 1;\n\nl;\nTimesToRepeat: 2; NumberToRepeat: FFFFFFFF;\n\nw;\n"),
     Fixed(kParsed + "Not enough commands present for loop command 1\n")},
    {"NumberToRepeatOfAllOnesDropped",
     Fixed(kWrite + "Data: 1;\n\nl;\nTimesToRepeat: 0; NumberToRepeat: FFFFFFFF;\n\nw;\n"),
     Fixed(kParsed + "Not enough commands present for loop command 1\n")},
    {"TimesToRepeatOfAllOnes", Fixed(kWrite + "Data: 1;\n\nl;\nTimesToRepeat: FFFFFFFF; NumberToRepeat: 1;\n\nw;\n"),
     Fixed(kParsed + "Could not allocate memory for children of loop command 1\n")},
    {"TimesToRepeatBeyondMemory", Fixed(kWrite + "Data: 1;\n\nl;\nTimesToRepeat: 5F5E100; NumberToRepeat: 1;\n\nw;\n"),
     Fixed(kParsed + "Could not allocate memory for children of loop command 1\n")},

    // Scale.
    {"OneMillionCommands", [] { return kWrite + "Data: 1;\n\n" + Repeat("w;\n\n", 999999); }, Fixed(kParsed),
     [](const auto &run) {
         ASSERT_EQ(run.size(), 1000000u);
         EXPECT_EQ(run.back()->number, 999999);
         EXPECT_EQ(run.back()->data, Bytes{1});
     }},
    {"LoopsNested100000Deep",
     [] { return kWrite + "Data: 1;\n\n" + Repeat("l;\nTimesToRepeat: 1; NumberToRepeat: 1;\n\n", 100000) + "w;\n"; },
     Fixed(kParsed), [](const auto &run) { EXPECT_EQ(Numbers(run), (std::vector<std::int32_t>{0, 100001})); }},
    {"LoopsNested100000DeepRunTwice",
     [] {
         return kWrite + "Data: 1;\n\nl;\nTimesToRepeat: 2; NumberToRepeat: 1;\n\n" +
                Repeat("l;\nTimesToRepeat: 1;\n\n", 99999) + "w;\n";
     },
     Fixed(kParsed),
     [](const auto &run) { EXPECT_EQ(Numbers(run), (std::vector<std::int32_t>{0, 100001, 100001})); }},
    {"LoopsNested100000DeepDropped",
     [] {
         return kWrite + "Data: 1;\n\n" + Repeat("l;\nTimesToRepeat: 0; NumberToRepeat: 1;\n\n", 100000) +
                "w;\n\nw;\n";
     },
     Fixed(kParsed), [](const auto &run) { EXPECT_EQ(Numbers(run), (std::vector<std::int32_t>{0, 100002})); }},
    {"LoopsNested100000DeepWithoutABody",
     [] { return kWrite + "Data: 1;\n\n" + Repeat("l;\nTimesToRepeat: 1; NumberToRepeat: 1;\n\n", 100000); },
     Fixed(kParsed + "Not enough commands present for loop command 100000\n")},

    // Bytes beyond ASCII.
    {"CommandTypeNotUtf8", Fixed("\xc3;\n"), Refused("Error, unexpected command type encountered.\n")},
    {"LabelNotUtf8", Fixed("\xff: w;\n"), Refused("Error, unexpected characters where command type expected.\n")},
    {"PropertyNameNotUtf8", WriteWith("Data: 1; D\xc3\xa9: 1;"), Refused("Error reading write command 0.\n")},
    {"DataAndFileNameNotUtf8", Fixed(kWrite + "Data: '\xc3\xa9\xff';\n\nr;\nFilename: \xff\xfe.bin;\n"),
     Fixed(kParsed), [](const auto &run) {
         ASSERT_EQ(run.size(), 2u);
         EXPECT_EQ(run[0]->data, (Bytes{0xc3, 0xa9, 0xff}));
         EXPECT_EQ(run[1]->filename, "\xff\xfe.bin");
     }},
};

class RmapList : public testing::TestWithParam<RmapCase> {
protected:
    void SetUp() override { default_base = 16; }
    void TearDown() override { default_base = 16; }
};

TEST_P(RmapList, RefusesOrRunsExactly)
{
    const RmapCase &c = GetParam();
    if (c.skip != nullptr) {
        GTEST_SKIP() << c.skip;
    }
    InScratch scratch;
    RmapCommandPtr chain;
    bool accepted = false;
    CaptureStdout capture;
    if (const std::optional<std::string> text = ReadList(scratch.dir(), c.list())) {
        int output_base = -1;
        chain = CR_ProcessCommands(*text, &output_base);
        accepted = chain != nullptr && CR_DealWithLoopCommands(chain.get());
    }
    const std::string printed = capture.Take();
    ExpectSameText(printed, c.printed());
    ASSERT_EQ(accepted, c.accepted != nullptr);
    if (accepted) {
        c.accepted(RunOrder<RmapCommand>(chain.get(), RMAP_COMMAND_LOOP));
    }
}

template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case> &info)
{
    return info.param.name;
}

// Cases are shown by name, not as bytes.
void PrintTo(const PreprocessCase &c, std::ostream *os) { *os << c.name; }
void PrintTo(const SpaceWireCase &c, std::ostream *os) { *os << c.name; }
void PrintTo(const RmapCase &c, std::ostream *os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Hostile, Preprocessing, testing::ValuesIn(kPreprocessCases), CaseName<PreprocessCase>);
INSTANTIATE_TEST_SUITE_P(Hostile, SpaceWireList, testing::ValuesIn(kSpaceWireCases), CaseName<SpaceWireCase>);
INSTANTIATE_TEST_SUITE_P(Hostile, RmapList, testing::ValuesIn(kRmapCases), CaseName<RmapCase>);

// ---------------------------------------------------------------------------
// Include chains at the open-file limit.  Every level keeps its file open
// while the deeper ones are read, so the chain ends where the process may
// open no more files.  The limit is lowered in a child process so that the
// depth is small and known: exactly kFree more files may be open.

constexpr int kFree = 20;

// Open descriptors of this process: how many, and the highest.
std::pair<int, int> OpenDescriptors()
{
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return {-1, -1};
    }
    int count = 0;
    int highest = -1;
    for (dirent *entry; (entry = readdir(dir)) != nullptr;) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const int fd = std::atoi(entry->d_name);
        if (fd != dirfd(dir)) {
            ++count;
            highest = std::max(highest, fd);
        }
    }
    closedir(dir);
    return {count, highest};
}

// Leaves the child only standard input, output and error, so that the files
// it opens take the lowest numbers without gaps.
void CloseInheritedDescriptors()
{
    std::vector<int> inherited;
    if (DIR *dir = opendir("/proc/self/fd")) {
        for (dirent *entry; (entry = readdir(dir)) != nullptr;) {
            const int fd = std::atoi(entry->d_name);
            if (entry->d_name[0] != '.' && fd > 2 && fd != dirfd(dir)) {
                inherited.push_back(fd);
            }
        }
        closedir(dir);
    }
    for (int fd : inherited) {
        close(fd);
    }
}

// Preprocesses the file with only kFree descriptors left; what it printed,
// then "=> " and the text or "none".  Runs in the child.
std::string PreprocessNearTheLimit(const char *name)
{
    CaptureStdout capture;
    std::FILE *file = std::fopen(name, "r");
    const auto [count, highest] = OpenDescriptors();
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(count + kFree);
    if (file == nullptr || count < 0 || highest >= count + kFree || setrlimit(RLIMIT_NOFILE, &lowered) != 0) {
        _exit(3);
    }
    IncludeChain chain;
    const std::optional<std::string> text = ReadCommands(file, &chain, 0);
    std::fclose(file);
    setrlimit(RLIMIT_NOFILE, &saved);
    return capture.Take() + "=> " + (text ? *text : "none");
}

TEST(HostileIncludes, ChainAsDeepAsTheOpenFileLimit)
{
    InScratch scratch;
    const ScratchDir &dir = scratch.dir();
    // f1 includes f2 ... f<kFree + 5>; g1 ... g<kFree> likewise, one shorter
    // than what fails; "same" includes one file 1,000 times side by side,
    // each closed before the next is opened.
    constexpr int kLong = kFree + 5;
    for (int i = 1; i <= kLong; ++i) {
        dir.Write("f" + std::to_string(i) + ".txt",
                  i < kLong ? "#INCLUDELIST f" + std::to_string(i + 1) + ".txt;" : "S d:1;");
    }
    for (int i = 1; i <= kFree; ++i) {
        dir.Write("g" + std::to_string(i) + ".txt",
                  i < kFree ? "#INCLUDELIST g" + std::to_string(i + 1) + ".txt;" : "S d:1;");
    }
    dir.Write("too_deep.txt", "#INCLUDELIST f1.txt;");
    dir.Write("deepest.txt", "#INCLUDELIST g1.txt;");
    dir.Write("leaf.txt", "x");
    dir.Write("same.txt", Repeat("#INCLUDELIST leaf.txt;", 1000));

    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        CloseInheritedDescriptors();
        WriteWholeFile("too_deep.out", PreprocessNearTheLimit("too_deep.txt"));
        WriteWholeFile("deepest.out", PreprocessNearTheLimit("deepest.txt"));
        WriteWholeFile("same.out", PreprocessNearTheLimit("same.txt"));
        _exit(0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;

    std::string refused = "Error processing INCLUDELIST directive - unable to open specified file f" +
                          std::to_string(kFree + 1) + ".txt\n";
    for (int i = kFree; i >= 1; --i) {
        refused += "Error reading commands from included file f" + std::to_string(i) + ".txt\n";
    }
    EXPECT_EQ(dir.Read("too_deep.out"), refused + "=> none");
    EXPECT_EQ(dir.Read("deepest.out"), "=> S d:1;");
    EXPECT_EQ(dir.Read("same.out"), "=> " + Chars(1000, 'x'));
}

// A data file name that is a FIFO nobody reads: the run must end, the
// packet passed over like any file that cannot be opened.
TEST(HostileDataFiles, FifoWithoutReaderIsPassedOver)
{
    ScratchDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    dir.Write("spacewire.txt", "S d:1; R l:4 f:fifo;\n");
    dir.Write("rmap.txt", kWrite + "Data: 1;\n\nr;\nFilename: fifo;\n");
    for (const auto &[mode, list, setting] : {std::tuple{"-m=scs", "-c=spacewire.txt", "far_end=loopback"},
                                              std::tuple{"-m=rcs", "-c=rmap.txt", ""}}) {
        ProgramOptions options;
        options.args = {"-d=0", mode, list, "-o=out.txt"};
        options.vantor_sim = setting;
        options.cwd = dir.path();
        options.time_limit_seconds = 10;
        const ProgramRun run = RunProgram(options);
        EXPECT_FALSE(run.timed_out) << mode;
        const std::string done = "The command list was successfully executed.\n";
        EXPECT_TRUE(run.out.size() >= done.size() && run.out.compare(run.out.size() - done.size(), done.size(), done) == 0)
            << run.out;
    }
}

// A file reference to a file larger than a data value can hold is refused
// from its size alone: nothing of it is read.
TEST(HostileDataFiles, FileTooLargeForADataValueIsRefusedUnread)
{
    InScratch scratch;
    for (const auto &[size, accepted] : {std::pair{std::uint64_t{0x7FFFFFFF} + 1, false},
                                         std::pair{std::uint64_t{3} << 30, false}}) {
        std::FILE *file = std::fopen("big", "w");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(ftruncate(fileno(file), static_cast<off_t>(size)), 0); // sparse: costs no disk
        std::fclose(file);
        EXPECT_EQ(CreateDataFromString("-big", false).has_value(), accepted) << size;
        EXPECT_EQ(CreateDataFromString("1 2 -big", false).has_value(), accepted) << size;
    }
}

// Forty nested loops of two repetitions would make 2^40 records: refused
// before any copy is made, naming a loop whose repetitions do not fit (which
// one depends on the machine's memory).
TEST(HostileLoops, NestedDoublingIsRefusedBeforeCopying)
{
    const std::string refusal = "Could not allocate memory for children of loop command ";
    {
        CaptureStdout capture;
        SpaceWireCommandList list;
        int output_base = -1;
        ASSERT_TRUE(CS_ProcessCommands(Repeat("L n:1 t:2;", 40) + "S d:1;", list, output_base));
        EXPECT_FALSE(CS_DealWithLoopCommands(list));
        EXPECT_NE(capture.Take().find(refusal), std::string::npos);
        EXPECT_TRUE(list->children.empty()); // the outermost loop was never expanded
    }
    {
        CaptureStdout capture;
        int output_base = -1;
        RmapCommandPtr chain = CR_ProcessCommands(
            kWrite + "Data: 1;\n\n" + Repeat("l;\nTimesToRepeat: 2; NumberToRepeat: 1;\n\n", 40) + "w;\n",
            &output_base);
        ASSERT_NE(chain, nullptr);
        EXPECT_FALSE(CR_DealWithLoopCommands(chain.get()));
        EXPECT_NE(capture.Take().find(refusal), std::string::npos);
        EXPECT_TRUE(chain->next->children.empty());
    }
}

} // namespace
