// Golden end-to-end cases: each folder under tests/e2e/cases that holds a
// file named "stdout" is one run of the program.
//
//   args      arguments, one per line (absent: none)
//   stdin     what the user types (absent: nothing)
//   sim       the VANTOR_SIM setting, first line (absent: unset)
//   in/       files copied into the scratch directory the program runs in
//   stdout    the exact standard output expected
//   expected/ files the run must leave in the scratch directory, compared exactly
//   absent    names of files the run must not create, one per line
//
// ZARK_UPDATE_GOLDEN=1 rewrites stdout and expected/ from what the program
// did; read every rewritten file before committing it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

fs::path CasesRoot() { return fs::path(ZARK_SOURCE_DIR) / "tests" / "e2e" / "cases"; }

std::vector<std::string> FindCases()
{
    std::vector<std::string> cases;
    if (!fs::exists(CasesRoot())) {
        return cases;
    }
    for (const auto &entry : fs::recursive_directory_iterator(CasesRoot())) {
        if (entry.is_regular_file() && entry.path().filename() == "stdout") {
            cases.push_back(fs::relative(entry.path().parent_path(), CasesRoot()).string());
        }
    }
    std::sort(cases.begin(), cases.end());
    return cases;
}

std::vector<std::string> ReadLines(const fs::path &path)
{
    std::vector<std::string> lines;
    std::istringstream in(ReadWholeFile(path));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool Updating()
{
    const char *value = std::getenv("ZARK_UPDATE_GOLDEN");
    return value != nullptr && std::string(value) == "1";
}

class GoldenCase : public testing::TestWithParam<std::string> {};

TEST_P(GoldenCase, MatchesGoldenOutput)
{
    const fs::path dir = CasesRoot() / GetParam();
    ScratchDir scratch;
    if (fs::exists(dir / "in")) {
        fs::copy(dir / "in", scratch.path(), fs::copy_options::recursive);
    }
    ProgramOptions options;
    options.cwd = scratch.path();
    if (fs::exists(dir / "args")) {
        options.args = ReadLines(dir / "args");
    }
    if (fs::exists(dir / "stdin")) {
        options.input = ReadWholeFile(dir / "stdin");
    }
    if (fs::exists(dir / "sim")) {
        const auto lines = ReadLines(dir / "sim");
        options.vantor_sim = lines.empty() ? std::string() : lines.front();
    }
    const ProgramRun run = RunProgram(options);
    ASSERT_FALSE(run.timed_out) << "output so far:\n" << run.out;
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.err, "");

    if (fs::exists(dir / "absent")) {
        for (const auto &name : ReadLines(dir / "absent")) {
            EXPECT_FALSE(fs::exists(scratch.path() / name)) << name << " should not have been created";
        }
    }
    if (Updating()) {
        WriteWholeFile(dir / "stdout", run.out);
        if (fs::exists(dir / "expected")) {
            for (const auto &entry : fs::recursive_directory_iterator(dir / "expected")) {
                if (entry.is_regular_file()) {
                    const auto name = fs::relative(entry.path(), dir / "expected");
                    if (fs::exists(scratch.path() / name)) {
                        WriteWholeFile(entry.path(), ReadWholeFile(scratch.path() / name));
                    }
                }
            }
        }
        return;
    }
    EXPECT_EQ(run.out, ReadWholeFile(dir / "stdout"));
    if (fs::exists(dir / "expected")) {
        for (const auto &entry : fs::recursive_directory_iterator(dir / "expected")) {
            if (!entry.is_regular_file()) {
                continue;
            }
            const auto name = fs::relative(entry.path(), dir / "expected");
            ASSERT_TRUE(fs::exists(scratch.path() / name)) << name << " was not produced";
            EXPECT_EQ(ReadWholeFile(scratch.path() / name), ReadWholeFile(entry.path())) << "in " << name;
        }
    }
}

std::string CaseName(const testing::TestParamInfo<std::string> &info)
{
    std::string name = info.param;
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenCase, testing::ValuesIn(FindCases()), CaseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(GoldenCase);

} // namespace
