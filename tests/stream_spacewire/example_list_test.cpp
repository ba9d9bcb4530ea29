// The example command list shipped in examples/ runs cleanly on the
// simulated loopback and gives what its header promises.
#include <gtest/gtest.h>

#include <string>

#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace {

bool EndsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(ExampleList, LoopbackExampleRuns)
{
    ScratchDir scratch;
    ProgramOptions options;
    options.cwd = scratch.path();
    options.vantor_sim = "far_end=loopback";
    options.args = {"-d=0", "-m=scs", std::string("-c=") + ZARK_SOURCE_DIR + "/examples/spacewire_loopback.txt",
                    "-o=loopback_out.txt"};
    const ProgramRun run = RunProgram(options);
    ASSERT_FALSE(run.timed_out);
    EXPECT_TRUE(EndsWith(run.out, "Command list file successfully processed.\n"
                                  "The command list was successfully executed.\n"))
        << run.out;

    std::string lines = "/* Base = Hexadecimal */\n\nF 1 2 3 4 EOP\n";
    std::string bytes = "\x01\x02\x03\x04";
    for (int i = 0; i < 6; ++i) {
        lines += "F 55 aa 68 69 EEP\n";
        bytes += "\x55\xaa\x68\x69";
    }
    EXPECT_EQ(scratch.Read("loopback_out.txt"), lines);
    EXPECT_EQ(scratch.Read("loopback.bin"), bytes);
}

} // namespace
