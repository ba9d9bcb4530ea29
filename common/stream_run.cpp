#include "common/stream_run.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr auto kTick = std::chrono::milliseconds(250);
constexpr auto kQuietStart = std::chrono::seconds(1);

std::atomic<int> caught_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

std::atomic<long long> sent{0};
std::atomic<long long> received{0};
std::atomic<int> errors{0};

// Guarded by the lock of stdout, which both threads take to write there.
bool progress_shown = false;

struct sigaction previous_actions[std::size(kSignals)];

struct Monitor {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
};
std::unique_ptr<Monitor> monitor;

extern "C" void CatchSignal(int number) { caught_signal.store(number); }

void ErasePendingProgress()
{
    if (progress_shown) {
        std::fputs("\r\033[K", stdout);
        std::fflush(stdout);
        progress_shown = false;
    }
}

void DrawProgress()
{
    flockfile(stdout);
    std::printf("\r%lld commands sent, %lld received, %d errors\033[K", sent.load(), received.load(),
                errors.load());
    std::fflush(stdout);
    progress_shown = true;
    funlockfile(stdout);
}

void Watch(Monitor &watched, std::FILE *output, bool show_progress)
{
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock lock(watched.mutex);
    while (!watched.wake.wait_for(lock, kTick, [&] { return watched.stop; })) {
        if (output != nullptr) {
            std::fflush(output);
        }
        if (show_progress && std::chrono::steady_clock::now() - start >= kQuietStart) {
            DrawProgress();
        }
    }
}

} // namespace

void StreamRunBegin(std::FILE *output)
{
    caught_signal.store(0);
    sent.store(0);
    received.store(0);
    errors.store(0);
    struct sigaction action {};
    action.sa_handler = CatchSignal;
    sigemptyset(&action.sa_mask);
    // Once caught, the next one of the same kind ends the program: the way
    // out of a wait that the device library will not cut short.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        sigaction(kSignals[i], &action, &previous_actions[i]);
    }

    // The monitor thread never takes the signals: they reach the thread
    // that runs the list.
    sigset_t blocked;
    sigset_t previous_mask;
    sigemptyset(&blocked);
    for (int number : kSignals) {
        sigaddset(&blocked, number);
    }
    pthread_sigmask(SIG_BLOCK, &blocked, &previous_mask);
    monitor = std::make_unique<Monitor>();
    const bool show_progress = isatty(STDOUT_FILENO) != 0;
    monitor->thread = std::thread(Watch, std::ref(*monitor), output, show_progress);
    pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
}

void StreamRunEnd()
{
    if (monitor != nullptr) {
        {
            std::lock_guard lock(monitor->mutex);
            monitor->stop = true;
        }
        monitor->wake.notify_one();
        monitor->thread.join();
        monitor.reset();
    }
    flockfile(stdout);
    ErasePendingProgress();
    funlockfile(stdout);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        sigaction(kSignals[i], &previous_actions[i], nullptr);
    }
}

int StreamRunSignal() { return caught_signal.load(std::memory_order_relaxed); }

void ProgressSent() { sent.fetch_add(1, std::memory_order_relaxed); }
void ProgressReceived() { received.fetch_add(1, std::memory_order_relaxed); }
void ProgressErrors(int total) { errors.store(total, std::memory_order_relaxed); }

void ReportInterruption(long long commands_run, long long commands_in_list)
{
    ConsoleGuard console;
    const int number = StreamRunSignal();
    const char *name = number == SIGINT ? "SIGINT" : number == SIGTERM ? "SIGTERM" : number == SIGHUP ? "SIGHUP" : "a signal";
    std::printf("The run was interrupted by %s after %lld of %lld commands; the output so far is written.\n", name,
                commands_run, commands_in_list);
}

ConsoleGuard::ConsoleGuard(bool needed) : held_(needed)
{
    if (held_) {
        flockfile(stdout);
        ErasePendingProgress();
    }
}

ConsoleGuard::~ConsoleGuard()
{
    if (held_) {
        funlockfile(stdout);
    }
}
