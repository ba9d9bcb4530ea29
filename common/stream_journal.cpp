#include "common/stream_journal.h"

#include <vector>

#include "app/settings.h"

namespace {

struct Times {
    std::int64_t handed = 0;
    std::int64_t collected = 0;
};

struct Journal {
    std::FILE *file = nullptr;
    JsonLine line;
    JournalCounts counts;
    std::int64_t start = 0;
    std::vector<Times> times; // by position in run order; both 0 until handed or collected
};

Journal journal;

} // namespace

void JournalBegin(std::FILE *file)
{
    journal = Journal{};
    journal.file = file;
    journal.start = MicrosecondsNow();
}

bool JournalOn() { return journal.file != nullptr; }

namespace {

Times &TimesOf(std::uint64_t run)
{
    if (run >= journal.times.size()) {
        journal.times.resize(run + 1);
    }
    return journal.times[run];
}

} // namespace

void JournalHanded(std::uint64_t run)
{
    if (JournalOn()) {
        TimesOf(run).handed = MicrosecondsNow();
    }
}

void JournalCollected(std::uint64_t run)
{
    if (JournalOn()) {
        // The first collection counts: a result collected early is only looked at again later.
        std::int64_t &collected = TimesOf(run).collected;
        if (collected == 0) {
            collected = MicrosecondsNow();
        }
    }
}

JsonLine &JournalCommand(std::uint64_t run, int number, const char *kind)
{
    JsonLine &line = journal.line;
    line.Begin();
    line.Number("command", std::int64_t{number});
    line.Text("kind", kind);
    if (run < journal.times.size() && (journal.times[run].handed != 0 || journal.times[run].collected != 0)) {
        const Times &times = journal.times[run];
        if (times.handed != 0) {
            line.Time("handed_at", times.handed);
        }
        line.Time("collected_at", times.collected != 0 ? times.collected : MicrosecondsNow());
    }
    return line;
}

void JournalWrite()
{
    journal.line.End();
    WriteJsonLine(journal.file, journal.line);
}

JournalCounts &JournalCount() { return journal.counts; }

void JournalEnd(bool interrupted)
{
    const JournalCounts &counts = journal.counts;
    if (JournalOn()) {
        const std::int64_t end = MicrosecondsNow();
        const double seconds = static_cast<double>(end - journal.start) / 1e6;
        JsonLine &line = journal.line;
        line.Begin();
        line.Boolean("summary", true);
        line.Number("commands", std::int64_t{counts.commands});
        line.Number("errors", std::int64_t{counts.errors});
        line.Number("replies", std::int64_t{counts.replies});
        line.Number("timeouts", std::int64_t{counts.timeouts});
        line.Boolean("interrupted", interrupted);
        line.Time("start", journal.start);
        line.Time("end", end);
        line.Number("duration_seconds", seconds);
        line.Number("transactions_per_second", seconds > 0 ? static_cast<double>(counts.commands) / seconds : 0.0);
        line.End();
        WriteJsonLine(journal.file, line);
    }
    if (JournalOn() || strict_mode) {
        std::printf("Summary: %lld commands, %lld errors, %lld replies, %lld time-outs.\n", counts.commands,
                    counts.errors, counts.replies, counts.timeouts);
    }
    journal.times = {};
    journal.file = nullptr;
}
