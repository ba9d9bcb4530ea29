#include "common/value_notes.h"

#include <cstdio>

#include "app/settings.h"

namespace {

// where: "command 2, Key" or "Destination Key"; refusal: what follows the
// doubt in a strict error.
bool Report(const std::string &where, std::span<const ValueNote> notes, const char *refusal)
{
    for (const ValueNote &note : notes) {
        if (note.width == 0) {
            std::printf("%s: %s: %s is a base prefix alone and adds no byte", strict_mode ? "Error" : "Warning",
                        where.c_str(), note.item.c_str());
            if (!note.used.empty()) {
                std::printf("; the byte is written %s", note.used.c_str());
            }
            std::fputs(strict_mode ? refusal : ".", stdout);
            std::fputs("\n", stdout);
        } else if (strict_mode) {
            std::printf("Error: %s: %s does not fit in %d bits%s\n", where.c_str(), note.item.c_str(), note.width,
                        refusal);
        } else {
            std::printf("Warning: %s: %s does not fit in %d bits; %s is used.\n", where.c_str(), note.item.c_str(),
                        note.width, note.used.c_str());
        }
    }
    return notes.empty() || !strict_mode;
}

} // namespace

bool ReportListValueNotes(std::int32_t number, std::string_view property, std::span<const ValueNote> notes)
{
    if (notes.empty()) {
        return true;
    }
    return Report("command " + std::to_string(number) + ", " + std::string(property), notes, ".");
}

bool ReportListDoubt(std::int32_t number, std::string_view where, const std::string &doubt,
                     const std::string &outcome)
{
    const bool say_outcome = !strict_mode && !outcome.empty();
    std::printf("%s: command %d%s%.*s: %s%s%s.\n", strict_mode ? "Error" : "Warning", static_cast<int>(number),
                where.empty() ? "" : ", ", static_cast<int>(where.size()), where.data(), doubt.c_str(),
                say_outcome ? "; " : "", say_outcome ? outcome.c_str() : "");
    return !strict_mode;
}

bool ReportPromptValueNotes(std::string_view field, std::span<const ValueNote> notes)
{
    return Report(std::string(field), notes, "; please enter it again.");
}
