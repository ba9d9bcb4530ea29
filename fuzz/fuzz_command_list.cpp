// The whole preprocessing of a command list: comments, INCLUDELIST and
// ALIAS, with included files.
//
// Input: up to eight files separated by the line "===" ("\n===\n"); they are
// written into a scratch directory as a, b, c, ... h and a is read as the
// command list, so "#INCLUDELIST b;" includes the second.  Inputs holding a
// '/' that is not part of a comment marker are refused, so that no file
// outside the scratch directory can be named.  Texts are limited to
// kTextLimit characters, so that alias values that use each other cannot make
// one input cost gigabytes.
//
// The result and every message must be those of the literal, step-by-step
// reference of the preprocessing kept with the tests (an implementation
// written independently, slow and plain, given 2 seconds where it could take
// exponential time), unless the program refused a text
// as too long, for a NUL byte or because an included file is a directory
// ("." or "..", the only ones a name without '/' can reach) or cannot be
// read: refusals the reference does not make.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cmdlist/command_text.h"
#include "cmdlist/literal_reference.h"
#include "cmdlist/read_commands.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr std::string_view kFileSeparator = "\n===\n";
constexpr std::size_t kMostFiles = 8;
constexpr std::size_t kTextLimit = 1u << 16;
constexpr unsigned kReferenceSeconds = 2;
const char *const kNames[kMostFiles] = {"a", "b", "c", "d", "e", "f", "g", "h"};

using fuzz_support::Scratch;

// A '/' neither opening nor closing a comment could start a path.
bool HasLoneSlash(std::string_view input)
{
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (input[i] != '/') {
            continue;
        }
        const bool opens = i + 1 < input.size() && input[i + 1] == '*';
        const bool closes = i > 0 && input[i - 1] == '*';
        if (!opens && !closes) {
            return true;
        }
    }
    return false;
}

std::vector<std::string_view> SplitFiles(std::string_view input)
{
    std::vector<std::string_view> files;
    while (files.size() + 1 < kMostFiles) {
        const std::size_t at = input.find(kFileSeparator);
        if (at == std::string_view::npos) {
            break;
        }
        files.push_back(input.substr(0, at));
        input.remove_prefix(at + kFileSeparator.size());
    }
    files.push_back(input);
    return files;
}

// Standard output sent to one memory file, emptied before every call.
class StdoutCapture {
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        FUZZ_CHECK(saved_ >= 0);
        FUZZ_CHECK(ftruncate(File(), 0) == 0 && lseek(File(), 0, SEEK_SET) == 0);
        FUZZ_CHECK(dup2(File(), STDOUT_FILENO) >= 0);
    }
    ~StdoutCapture() { Restore(); }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    std::string Finish()
    {
        Restore();
        std::string text;
        char chunk[4096];
        off_t offset = 0;
        ssize_t got = 0;
        while ((got = pread(File(), chunk, sizeof chunk, offset)) > 0) {
            text.append(chunk, static_cast<std::size_t>(got));
            offset += got;
        }
        FUZZ_CHECK(got == 0);
        return text;
    }

private:
    static int File()
    {
        static const int file = memfd_create("zark_fuzz_stdout", MFD_CLOEXEC);
        FUZZ_CHECK(file >= 0);
        return file;
    }

    void Restore()
    {
        if (saved_ >= 0) {
            std::fflush(stdout);
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
            saved_ = -1;
        }
    }

    int saved_ = -1;
};

struct Outcome {
    std::optional<std::string> text;
    std::string messages;
};

Outcome Program()
{
    Outcome outcome;
    std::FILE *list = std::fopen("a", "r");
    FUZZ_CHECK(list != nullptr);
    StdoutCapture capture;
    IncludeChain chain;
    outcome.text = ReadCommands(list, &chain, 0);
    outcome.messages = capture.Finish();
    std::fclose(list);
    return outcome;
}

Outcome Reference()
{
    std::FILE *list = std::fopen("a", "r");
    FUZZ_CHECK(list != nullptr);
    std::vector<std::string> chain;
    Preprocessed literal = LiteralReadCommands(list, &chain, 0);
    std::fclose(list);
    return Outcome{std::move(literal.text), std::move(literal.messages)};
}

// Bytes of a string, length first, through a pipe.
void SendText(int pipe, const std::string &text)
{
    const std::uint64_t length = text.size();
    FUZZ_CHECK(write(pipe, &length, sizeof length) == static_cast<ssize_t>(sizeof length));
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t wrote = write(pipe, text.data() + sent, text.size() - sent);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        FUZZ_CHECK(wrote > 0);
        sent += static_cast<std::size_t>(wrote);
    }
}

bool ReceiveAll(int pipe, void *into, std::size_t size)
{
    auto *bytes = static_cast<char *>(into);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t read_now = read(pipe, bytes + got, size - got);
        if (read_now < 0 && errno == EINTR) {
            continue;
        }
        if (read_now <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(read_now);
    }
    return true;
}

bool ReceiveText(int pipe, std::string &text)
{
    std::uint64_t length = 0;
    if (!ReceiveAll(pipe, &length, sizeof length) || length > (std::uint64_t{1} << 32)) {
        return false;
    }
    text.resize(length);
    return ReceiveAll(pipe, text.data(), text.size());
}

// The reference runs in a helper process, given kReferenceSeconds per list:
// applying aliases from the last directive back, it can take exponential
// time on a list whose first directive the program rejects at once.  The
// helper is started while the fuzzer is still small, since forking costs
// more the larger the process; one that runs out of time is killed and
// started again.
class ReferenceHelper {
public:
    ~ReferenceHelper() { Stop(); }

    void Start()
    {
        int requests[2];
        int replies[2];
        FUZZ_CHECK(pipe(requests) == 0 && pipe(replies) == 0);
        std::fflush(nullptr);
        pid_ = fork();
        FUZZ_CHECK(pid_ >= 0);
        if (pid_ == 0) {
            close(requests[1]);
            close(replies[0]);
            Serve(requests[0], replies[1]);
        }
        close(requests[0]);
        close(replies[1]);
        to_helper_ = requests[1];
        from_helper_ = replies[0];
    }

    // Nothing when the reference ran out of time.
    std::optional<Outcome> Run()
    {
        if (pid_ < 0) {
            Start();
        }
        const char request = 1;
        ssize_t wrote = -1;
        while ((wrote = write(to_helper_, &request, 1)) < 0 && errno == EINTR) {
        }
        FUZZ_CHECK(wrote == 1);
        // libFuzzer's own alarm interrupts the wait every second.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kReferenceSeconds);
        int polled = -1;
        while (polled < 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{from_helper_, POLLIN, 0};
            polled = poll(&ready, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
            FUZZ_CHECK(polled >= 0 || errno == EINTR);
        }
        if (polled == 0) {
            Stop();
            return std::nullopt;
        }
        Outcome reference;
        char has_text = 0;
        std::string text;
        FUZZ_CHECK(ReceiveAll(from_helper_, &has_text, 1) && ReceiveText(from_helper_, text) &&
                   ReceiveText(from_helper_, reference.messages));
        if (has_text != 0) {
            reference.text = std::move(text);
        }
        return reference;
    }

private:
    [[noreturn]] static void Serve(int requests, int replies)
    {
        FUZZ_CHECK(chdir(Scratch().path().c_str()) == 0);
        char request = 0;
        while (read(requests, &request, 1) == 1) {
            const Outcome reference = Reference();
            const char has_text = reference.text ? 1 : 0;
            FUZZ_CHECK(write(replies, &has_text, 1) == 1);
            SendText(replies, reference.text.value_or(std::string()));
            SendText(replies, reference.messages);
        }
        _exit(0);
    }

    void Stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            close(to_helper_);
            close(from_helper_);
        }
        pid_ = -1;
    }

    pid_t pid_ = -1;
    int to_helper_ = -1;
    int from_helper_ = -1;
};

ReferenceHelper &Helper()
{
    static ReferenceHelper helper;
    return helper;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Scratch();
    command_text_limit = kTextLimit;
    Helper().Start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    if (HasLoneSlash(input)) {
        return -1;
    }
    // Files are written only where they change: the file system, not the
    // code under test, would otherwise take most of the time.
    static std::optional<std::string> written[kMostFiles];
    const std::vector<std::string_view> files = SplitFiles(input);
    for (std::size_t i = 0; i < kMostFiles; ++i) {
        if (i < files.size()) {
            if (!written[i] || *written[i] != files[i]) {
                Scratch().Write(kNames[i], std::span<const std::uint8_t>(
                                               reinterpret_cast<const std::uint8_t *>(files[i].data()), files[i].size()));
                written[i] = std::string(files[i]);
            }
        } else if (written[i]) {
            FUZZ_CHECK(std::remove((Scratch() / kNames[i]).string().c_str()) == 0);
            written[i].reset();
        }
    }

    const fuzz_support::InsideDirectory inside(Scratch());
    const Outcome program = Program();
    if (program.text) {
        FUZZ_CHECK(program.text->size() <= kTextLimit);
    }
    if (program.messages.find("would be longer than") != std::string::npos ||
        program.messages.find("holds a NUL byte") != std::string::npos ||
        program.messages.find("couldn't read the command list file") != std::string::npos ||
        program.messages.find("unable to open specified file .\n") != std::string::npos ||
        program.messages.find("unable to open specified file ..\n") != std::string::npos) {
        return 0;
    }
    const std::optional<Outcome> in_time = Helper().Run();
    if (!in_time) {
        return 0;
    }
    const Outcome &reference = *in_time;
    if (program.messages != reference.messages || program.text != reference.text) {
        std::fprintf(stderr, "program:   %s [%s]\nreference: %s [%s]\n", program.text ? "text" : "none",
                     program.messages.c_str(), reference.text ? "text" : "none", reference.messages.c_str());
    }
    FUZZ_CHECK(program.messages == reference.messages);
    FUZZ_CHECK(program.text == reference.text);
    return 0;
}
