// spacewire_zark_node: the simulated far end of a SpaceWire link, served over
// TCP as SSDTP2 (options in node_options.h).
#include <atomic>
#include <csignal>
#include <cstdio>

#include "node_options.h"
#include "node_server.h"

namespace {

std::atomic<bool> stop_requested{false};

void RequestStop(int) { stop_requested.store(true); }

} // namespace

int main(int argc, char **argv)
{
    const vantor_node::ParsedOptions parsed = vantor_node::ParseNodeOptions(argc, argv);
    if (parsed.outcome != vantor_node::ParseOutcome::Run) {
        const bool failed = parsed.outcome == vantor_node::ParseOutcome::Fail;
        std::fputs(parsed.message.c_str(), failed ? stderr : stdout);
        return failed ? 2 : 0;
    }
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return vantor_node::RunNode(parsed.options, stop_requested);
}
