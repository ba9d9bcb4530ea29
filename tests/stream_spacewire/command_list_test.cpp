// SpaceWire command lists from text to the order their transfers run in:
// parsing, bases, and every parse message with its command number.  Loops
// themselves are the chain's (tests/common/command_chain_test.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/settings.h"
#include "common/command_chain.h"
#include "stream_spacewire/cs_loop_expansion.h"
#include "stream_spacewire/cs_parser.h"
#include "support/capture_stdout.h"

namespace {

const std::string kSuccess = "Command list file successfully processed.\n";

// What a list comes to, parsed with input base 16 and expanded: the message
// printed when either fails, else any warnings and then the sends and
// receives in the order they run, blank-separated, counts in decimal and
// bytes in hexadecimal:
//   S<number>[x<packets>][e]=<every byte of data, '.'-separated>   (e: EEP)
//   R<number>[x<packets>]l<packet length>['<file name>']
std::string Outcome(const std::string &text)
{
    default_base = 16;
    SpaceWireCommandList list;
    NumberBase output_base = -1;
    CaptureStdout capture;
    const bool ok = CS_ProcessCommands(text, list, output_base) && CS_DealWithLoopCommands(list);
    std::string printed = capture.Take();
    if (const std::size_t success = printed.find(kSuccess); success != std::string::npos) {
        printed.erase(success, kSuccess.size());
    }
    if (!ok) {
        return printed;
    }
    std::string runs = printed;
    VisitInRunOrder(list.get(), [&](const SpaceWireCommand &c) {
        if (c.type == SPACEWIRE_COMMAND_LOOP) {
            return;
        }
        runs += (runs.empty() || runs.back() == '\n' ? "" : " ") +
                std::string(c.type == SPACEWIRE_COMMAND_SEND ? "S" : "R") +
                std::to_string(c.number) + (c.packet_count != 1 ? "x" + std::to_string(c.packet_count) : "");
        if (c.type == SPACEWIRE_COMMAND_RECEIVE) {
            runs += "l" + std::to_string(c.packet_length) + (c.filename.empty() ? "" : "'" + c.filename + "'");
            return;
        }
        runs += c.end_with_eep != 0 ? "e=" : "=";
        for (std::size_t i = 0; i < c.data.size(); ++i) {
            char byte[4];
            std::snprintf(byte, sizeof byte, "%x", c.data[i]);
            runs += (i == 0 ? "" : ".") + std::string(byte);
        }
    });
    return runs;
}

struct Case {
    std::string text;
    std::string outcome;
};

void CheckAll(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60) + " (" + std::to_string(c.text.size()) + " characters)");
        EXPECT_EQ(Outcome(c.text), c.outcome);
    }
    default_base = 16;
}

TEST(CommandList, RecordsBasesAndNumbers)
{
    CheckAll({
        {"S E:F N:2 d:7;", "S0x2=7.7"},
        {"s e:O d:1;", "S0=1"},
        {"S e:E d:ff;", "S0e=ff"},
        {"S e:y e:n n:1 n:3 d:1 2;", "S0x3=1.2.1.2.1.2"}, // the last value given wins
        {"  S\n n:2\td:a b\n  c ;", "S0x2=a.b.c.a.b.c"},
        {"Sd:'AB' 1;", "S0=41.42.1"},
        {"S d:;", "S0="},
        {"r L:8 N:1;", "R0l8"},
        {"R l:4 l:8 n:2 n:3;", "R0x3l8"},
        // Any quote closes a quoted name, which may hold ";" and blanks.
        {"R l:40 f:`a; b\"n:2;", "R0x2l64'a; b'"},
        {"R f:x f:y.dat l:1;", "R0l1'y.dat'"},
        {"R l:8000 n:ffff;", "R0x65535l32768"},
        {"R l:7fffffff;", "R0l2147483647"},
        {"l T:2 N:1; S d:1;", "S1=1 S1=1"},
        {"L n: t:3; S d:1;", "S1=1"}, // an empty value reads as 0
        {"L t:5 t:0 n:1; S d:1; S d:2;", "S2=2"},
        // Each B governs the values behind it, its last word wins, and base
        // commands take numbers.
        {"R l:10; B 10; R l:10; B 8; S d:10 n20; B i; R n:11 l:100; B 16 2; R l:11;",
         "R0l16 R2l10 S4=8.14 R6x3l4 R8l3"},
        // Base commands make no record, so they are no part of a loop's body.
        {"L n:3 t:2; S d:1; B 10; R l:4; L; S d:5;", "S1=1 R3l4 S1=1 R3l4 S5=5"},
        {"S d:1; B 10; L n:1 t:0;", "Not enough commands present for loop command 2\n"},
    });
}

TEST(CommandList, ParseErrorsNameTheFailingCommand)
{
    const std::string longest = std::string(8198, '0') + "1"; // the working buffer's 8,199 characters
    CheckAll({
        {"send d:1;", "Unexpected property type in send command 0.\n"},
        {"S n 2 d:1;", "Unexpected property type in send command 0.\n"},
        {"S n:0 d:1;", "Error in number of packets specified in send command 0.\n"},
        {"R l:1; S n:zz d:1;", "Error in number of packets specified in send command 1.\n"},
        {"S e: d:1;", "Error in EOP type  .\n"},
        {"S e:", "Error in EOP type .\n"},
        {"S e:eep d:1;", "Error in EOP type argument.\n"},
        {"S d:1 2", "Error, no semi-colon in data field of send command 0.\n"},
        {"L; S d:0x1g;", "Error in data of send command 1.\n"},
        {"S d:1 n:2;", "Error in data of send command 0.\n"}, // d: is always last
        {"S n:2;", "No data was specified in send command 0.\n"},
        {"S e:y", "No data was specified in send command 0.\n"},
        {"R n:0 l:4;", "Error in number of packets specified in receive command 0.\n"},
        {"R l:0;", "Error in packet length specified in receive command 0.\n"},
        {"S d:1; R l:x;", "Error in packet length specified in receive command 1.\n"},
        {"R l:4 f: x;", "Error in filename specified in receive command 0.\n"},
        {"R l:4 f:'';", "Error in filename specified in receive command 0.\n"},
        {"R l:4 f:'abc", "Error in filename specified in receive command 0.\n"},
        {"R l:4 f:", "Error in filename specified in receive command 0.\n"},
        {"R l 4;", "Unexpected property type in receive command 0.\n"},
        {"R n:2", "No packet length specified in receive command 0.\n"},
        {"R l:8 ", "Receive command 0 was not terminated by a semi-colon.\n"},
        {"L n:x;", "Error in number to repeat specified in loop command 0.\n"},
        {"S d:1; L t:g;", "Error in times to repeat specified in loop command 1.\n"},
        {"L n1;", "Unexpected property type in loop command 0.\n"},
        {"S d:1; O ;", "No base specified in base command 1.\n"},
        {"B 16", "Missing semi-colon in base command 0.\n"},
        {"B 16 ", "Base command 0 was not terminated by a semi-colon.\n"},
        {"B 16 016;", "Invalid base specified in base command 0.\n"},
        {"B;\nX;", "No base specified in base command 0.\n"}, // nothing after the first error is read
        // The first ";" ends the data even inside quotes: "b';" is a base command.
        {"S d:'a;b';", "Invalid base specified in base command 1.\n"},
        // Values of 2^31 or more arrive negative; all packets of a command
        // together may not exceed 2^31 - 1 bytes.
        {"S n:80000000 d:1;", "Error in number of packets specified in send command 0.\n"},
        {"S n:40000000 d:1 2;", "Error in number of packets specified in send command 0.\n"},
        {"R l:80000000;", "Error in packet length specified in receive command 0.\n"},
        {"R l:8000 n:10000;", "Error in number of packets specified in receive command 0.\n"},
        {"L n:80000000 t:1;", "Error in number to repeat specified in loop command 0.\n"},
        {"L t:ffffffff;", "Error in times to repeat specified in loop command 0.\n"},
        {"S n:" + longest + " d:1;", "S0=1"},
        {"S n:0" + longest + " d:1;", "Error in number of packets specified in send command 0.\n"},
        {"S d:" + std::string(8198, ' ') + "1;", "S0=1"},
        {"S d:" + std::string(8199, ' ') + "1;", "Error in data of send command 0.\n"},
        {"R l:1 f:" + std::string(8199, 'f') + ";", "R0l1'" + std::string(8199, 'f') + "'"},
        {"R l:1 f:" + std::string(8200, 'f') + ";", "Error in filename specified in receive command 0.\n"},
        {"R l:1 f:'" + std::string(8200, 'f') + "';", "Error in filename specified in receive command 0.\n"},
        {"B " + std::string(8200, 'h') + ";", "Invalid base specified in base command 0.\n"},
    });
}

// A count holds 31 bits and a byte of d: 8; a value written beyond them is
// cut with a warning, or with -strict refused with the property's message.
// A count whose low 32 bits are 2^31 or more is refused as it stands.
TEST(CommandList, NumbersBeyondTheirField)
{
    const std::string fits = " does not fit in 31 bits";
    CheckAll({
        {"S N:100000001 d:1;", "Warning: command 0, N: 100000001" + fits + "; 1 is used.\nS0=1"},
        {"B 10; R l:n4294967304 n:4294967297;",
         "Warning: command 1, l: n4294967304" + fits + "; n8 is used.\n"
         "Warning: command 1, n: 4294967297" + fits + "; 1 is used.\nR1l8"},
        {"L t:0x100000002 n:1; S d:7;", "Warning: command 0, t: 0x100000002" + fits + "; 0x2 is used.\nS1=7 S1=7"},
        {"L n:180000000 t:1;", "Error in number to repeat specified in loop command 0.\n"},
        {"S d:ff 100 i100000001 'a'1ff;",
         "Warning: command 0, d: 100 does not fit in 8 bits; 0 is used.\n"
         "Warning: command 0, d: i100000001 does not fit in 8 bits; i1 is used.\n"
         "Warning: command 0, d: 1ff does not fit in 8 bits; ff is used.\nS0=ff.0.1.61.ff"},
    });
    strict_mode = true;
    CheckAll({
        {"R l:7fffffff; S d:ff;", "R0l2147483647 S1=ff"},
        {"S d:1; S n:100000001 d:1;",
         "Error: command 1, n: 100000001" + fits + ".\nError in number of packets specified in send command 1.\n"},
        {"L t:100000000;",
         "Error: command 0, t: 100000000" + fits + ".\nError in times to repeat specified in loop command 0.\n"},
        {"S D:1 100;", "Error: command 0, D: 100 does not fit in 8 bits.\nError in data of send command 0.\n"},
    });
    strict_mode = false;
}

} // namespace
