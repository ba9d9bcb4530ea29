// Golden end-to-end cases: each folder under tests/e2e/cases that holds a
// file named "stdout" is one run of the program.
//
//   args      arguments, one per line (absent: none)
//   stdin     what the user types (absent: nothing)
//   sim       the VANTOR_SIM setting, first line (absent: unset)
//   in/       files copied into the scratch directory the program runs in
//   stdout    the exact standard output expected, after the banner that
//             every run prints first (tests/e2e/banner): only a case whose
//             stdout starts with the banner compares it as part of the whole
//   expected/ files the run must leave in the scratch directory, compared exactly
//             (in .jsonl files, clock times and rates read as 0)
//   absent    names of files the run must not create, one per line
//   status    the exit status, when it is not 0 (as -strict gives)
//   program   "spacewire_zark_node": the far-end node runs instead, and its
//             stdout is compared whole (it prints no banner)
//   stderr    the exact standard error expected (absent: nothing)
//
// ZARK_UPDATE_GOLDEN=1 rewrites stdout and expected/ from what the program
// did; read every rewritten file before committing it.
//
// Every case whose settings a far-end node also has runs a second time over
// TCP: each attached device becomes a bridge to a node started for the case,
// which takes the far-end settings and the trace (listed in node_settings,
// which the capture test reads too), and the run must give the
// same output and files.  Cases that inject send or read faults (settings of
// the in-process adapter alone), attach no device or expect a "VANTOR_SIM:"
// complaint run only in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

#include "support/node_process.h"
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

// The banner's fixed lines, kept once rather than in every case's stdout.
std::string Banner() { return ReadWholeFile(fs::path(ZARK_SOURCE_DIR) / "tests" / "e2e" / "banner"); }

bool Updating()
{
    const char *value = std::getenv("ZARK_UPDATE_GOLDEN");
    return value != nullptr && std::string(value) == "1";
}

std::string Trimmed(std::string text)
{
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
    text.erase(std::find_if_not(text.rbegin(), text.rend(), blank).base(), text.end());
    return text;
}

// JSON Lines records carry the clock: times (quoted, from the year on) and
// rates are written as 0.
std::string WithoutClockTimes(const fs::path &name, std::string text)
{
    if (name.extension() != ".jsonl") {
        return text;
    }
    for (const char *key : {"handed_at", "collected_at", "start", "end", "duration_seconds", "transactions_per_second"}) {
        const std::string field = "\"" + std::string(key) + "\":";
        for (std::size_t at = text.find(field); at != std::string::npos; at = text.find(field, at + 1)) {
            const std::size_t value = at + field.size();
            if (text.compare(value, 1, "\"") != 0) {
                text.replace(value, text.find_first_of(",}", value) - value, "0");
            } else if (value + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[value + 1])) != 0) {
                text.replace(value, text.find('"', value + 1) + 1 - value, "\"0\"");
            }
        }
    }
    return text;
}

std::vector<std::string> SplitAt(const std::string &text, char separator)
{
    std::vector<std::string> pieces;
    std::istringstream in(text);
    for (std::string piece; std::getline(in, piece, separator);) {
        pieces.push_back(Trimmed(piece));
    }
    return pieces;
}

// How a case runs over TCP: the node's options, and the program's settings
// with "@" standing where each bridge's endpoint goes.
struct TcpPlan {
    std::vector<std::string> node_options;
    std::vector<std::string> devices; // N:T of each bridge, in link order
    std::vector<std::string> kept;    // the program's other settings
};

std::optional<TcpPlan> PlanOverTcp(const std::optional<std::string> &sim)
{
    // The far-end settings a node takes as options, listed once for every test that starts one.
    static const std::vector<std::string> node_settings =
        SplitAt(Trimmed(ReadWholeFile(fs::path(ZARK_SOURCE_DIR) / "tests" / "e2e" / "node_settings")), ' ');
    TcpPlan plan;
    std::string devices = "0:0";
    for (const std::string &item : SplitAt(sim.value_or(""), ';')) {
        if (item.empty()) {
            continue;
        }
        const std::size_t equals = item.find('=');
        if (equals == std::string::npos) {
            return std::nullopt;
        }
        std::string name = Trimmed(item.substr(0, equals));
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        const std::string value = Trimmed(item.substr(equals + 1));
        if (name == "send_status" || name == "read_status") {
            return std::nullopt;
        }
        if (name == "devices") {
            devices = value;
        } else if (std::ranges::find(node_settings, name) != node_settings.end()) {
            std::replace(name.begin(), name.end(), '_', '-');
            plan.node_options.push_back("--" + name + "=" + value);
        } else {
            plan.kept.push_back(item);
        }
    }
    plan.devices = SplitAt(devices, ',');
    if (devices.empty() || plan.devices.empty()) {
        return std::nullopt;
    }
    return plan;
}

std::string ProgramSettings(const TcpPlan &plan, const std::vector<std::uint16_t> &ports)
{
    std::string text = "devices=";
    for (std::size_t k = 0; k < plan.devices.size(); ++k) {
        text += (k == 0 ? "" : ",") + plan.devices[k] + "@127.0.0.1:" + std::to_string(ports[k]);
    }
    for (const std::string &item : plan.kept) {
        text += ";" + item;
    }
    return text;
}

std::optional<std::string> CaseSettings(const fs::path &dir)
{
    if (!fs::exists(dir / "sim")) {
        return std::nullopt;
    }
    const auto lines = ReadLines(dir / "sim");
    return lines.empty() ? std::string() : lines.front();
}

// A case that runs the far-end node in place of the program.
bool RunsTheNode(const fs::path &dir) { return fs::exists(dir / "program"); }

void RunCase(const fs::path &dir, bool over_tcp)
{
    ScratchDir scratch;
    ScratchDir node_log;
    std::optional<NodeProcess> node;
    if (fs::exists(dir / "in")) {
        fs::copy(dir / "in", scratch.path(), fs::copy_options::recursive);
    }
    ProgramOptions options;
    options.cwd = scratch.path();
    const bool node_runs = RunsTheNode(dir);
    if (node_runs) {
        EXPECT_EQ(Trimmed(ReadWholeFile(dir / "program")), "spacewire_zark_node");
        options.program = NodePath();
    }
    if (fs::exists(dir / "args")) {
        options.args = ReadLines(dir / "args");
    }
    if (fs::exists(dir / "stdin")) {
        options.input = ReadWholeFile(dir / "stdin");
    }
    options.vantor_sim = CaseSettings(dir);
    if (over_tcp) {
        const TcpPlan plan = *PlanOverTcp(options.vantor_sim);
        node.emplace(plan.node_options, scratch.path(), node_log / "node.log",
                     static_cast<int>(plan.devices.size()));
        ASSERT_TRUE(node->started()) << ReadWholeFile(node_log / "node.log");
        options.vantor_sim = ProgramSettings(plan, node->ports());
    }
    const ProgramRun run = RunProgram(options);
    if (node) {
        // Stopped before the files are compared, so that its trace is complete.
        EXPECT_EQ(node->Stop(), 0) << ReadWholeFile(node_log / "node.log");
    }
    ASSERT_FALSE(run.timed_out) << "output so far:\n" << run.out;
    const int status = fs::exists(dir / "status") ? std::stoi(Trimmed(ReadWholeFile(dir / "status"))) : 0;
    EXPECT_EQ(run.exit_status, status);
    EXPECT_EQ(run.err, fs::exists(dir / "stderr") ? ReadWholeFile(dir / "stderr") : "");

    if (fs::exists(dir / "absent")) {
        for (const auto &name : ReadLines(dir / "absent")) {
            EXPECT_FALSE(fs::exists(scratch.path() / name)) << name << " should not have been created";
        }
    }
    const std::string banner = Banner();
    ASSERT_FALSE(banner.empty());
    const std::string golden = ReadWholeFile(dir / "stdout");
    const bool whole = node_runs || golden.starts_with(banner);
    if (Updating() && !over_tcp) {
        WriteWholeFile(dir / "stdout",
                       whole || !run.out.starts_with(banner) ? run.out : run.out.substr(banner.size()));
    } else {
        EXPECT_EQ(run.out, whole ? golden : banner + golden);
    }
    if (!fs::exists(dir / "expected")) {
        return;
    }
    for (const auto &entry : fs::recursive_directory_iterator(dir / "expected")) {
        const auto name = fs::relative(entry.path(), dir / "expected");
        if (!entry.is_regular_file()) {
            continue;
        }
        ASSERT_TRUE(fs::exists(scratch.path() / name)) << name << " was not produced";
        const std::string produced = WithoutClockTimes(name, ReadWholeFile(scratch.path() / name));
        if (Updating() && !over_tcp) {
            WriteWholeFile(entry.path(), produced);
        } else {
            EXPECT_EQ(produced, ReadWholeFile(entry.path())) << "in " << name;
        }
    }
}

class GoldenCase : public testing::TestWithParam<std::string> {};

TEST_P(GoldenCase, MatchesGoldenOutput) { RunCase(CasesRoot() / GetParam(), false); }

class GoldenCaseOverTcp : public testing::TestWithParam<std::string> {};

TEST_P(GoldenCaseOverTcp, MatchesGoldenOutput) { RunCase(CasesRoot() / GetParam(), true); }

std::vector<std::string> CasesOverTcp()
{
    std::vector<std::string> cases;
    for (const std::string &name : FindCases()) {
        // The device library's complaints about its settings reach the
        // program's output; a node's go to its own log.
        const bool complains = ReadWholeFile(CasesRoot() / name / "stdout").find("VANTOR_SIM:") != std::string::npos;
        if (!complains && !RunsTheNode(CasesRoot() / name) && PlanOverTcp(CaseSettings(CasesRoot() / name))) {
            cases.push_back(name);
        }
    }
    return cases;
}

std::string CaseName(const testing::TestParamInfo<std::string> &info)
{
    std::string name = info.param;
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenCase, testing::ValuesIn(FindCases()), CaseName);
INSTANTIATE_TEST_SUITE_P(Cases, GoldenCaseOverTcp, testing::ValuesIn(CasesOverTcp()), CaseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(GoldenCase);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(GoldenCaseOverTcp);

} // namespace
