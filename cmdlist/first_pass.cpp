// The first pass splices included files in.  Inclusion nests as deep as the
// include chain goes, so the files being read are kept on an explicit stack
// rather than on the call stack.
#include <cstdio>
#include <vector>

#include "cmdlist/command_text.h"
#include "cmdlist/directives.h"
#include "cmdlist/include_directive.h"

namespace {

struct IncludeFrame {
    std::string text;    // the file's comment-free text
    std::size_t pos = 0; // where the pass goes on in text
    std::string out;     // what the pass has built so far
    int depth = 0;
    OwnedFile file;   // open while deeper files are read
    std::string name; // as written in the directive; empty for the first file
};

enum class StepResult { Finished, Included, Failed };

// Runs the pass over frame until its text ends, an inclusion starts (the
// opened file is left in *included) or something fails.
StepResult FirstPassStep(IncludeFrame &frame, IncludeChain *chain, const IncludeNamesInUse &in_use,
                         std::optional<IncludedFile> &included)
{
    const std::string_view text = frame.text;
    for (;;) {
        const std::size_t hash = text.find('#', frame.pos);
        const std::size_t copy_end = hash == std::string_view::npos ? text.size() : hash;
        if (!CheckCommandTextLength(frame.out.size() + (copy_end - frame.pos))) {
            return StepResult::Failed;
        }
        frame.out.append(text, frame.pos, copy_end - frame.pos);
        frame.pos = copy_end;
        if (hash == std::string_view::npos) {
            return StepResult::Finished;
        }
        const std::optional<std::string_view> name = GetDirective(text, hash + 1);
        if (!name) {
            return StepResult::Failed;
        }
        const std::size_t name_end = hash + 1 + name->size();
        if (IsIncludeDirective(*name)) {
            if (text[name_end] == ';') {
                std::puts("Error - missing argument for an INCLUDELIST directive in the input file.");
                return StepResult::Failed;
            }
            const std::optional<std::string_view> argument = GetDirectiveArg(text, name_end);
            if (!argument) {
                return StepResult::Failed;
            }
            frame.pos = name_end + argument->size() + 1;
            included = ProcessIncludeDirective(*argument, chain, frame.depth, in_use);
            return included ? StepResult::Included : StepResult::Failed;
        }
        if (IsAliasDirective(*name)) {
            if (!CheckCommandTextLength(frame.out.size() + 1 + name->size())) {
                return StepResult::Failed;
            }
            frame.out.push_back('#');
            frame.out.append(*name);
            frame.pos = name_end;
            continue;
        }
        std::printf("Error reading command list file in first pass, unrecognised directive %.*s\n",
                    static_cast<int>(name->size()), name->data());
        return StepResult::Failed;
    }
}

} // namespace

std::optional<std::string> ProcessDirectivesFirstPass(const std::string &text, IncludeChain *chain, int depth)
{
    IncludeNamesInUse in_use;
    if (chain != nullptr) {
        const std::size_t outer = std::min(chain->size(), static_cast<std::size_t>(depth > 0 ? depth : 0));
        for (std::size_t i = 0; i < outer; ++i) {
            ++in_use[FoldCase((*chain)[i])];
        }
    }

    std::vector<IncludeFrame> frames;
    frames.emplace_back();
    frames.back().text = text;
    frames.back().depth = depth;

    // Drops the innermost frame, which has failed, and every frame around it;
    // each inclusion on the way reports its file, innermost first.
    auto fail = [&]() -> std::optional<std::string> {
        while (frames.size() > 1) {
            std::printf("Error reading commands from included file %s\n", frames.back().name.c_str());
            frames.pop_back();
        }
        return std::nullopt;
    };

    for (;;) {
        IncludeFrame &frame = frames.back();
        std::optional<IncludedFile> included;
        switch (FirstPassStep(frame, chain, in_use, included)) {
        case StepResult::Failed:
            return fail();
        case StepResult::Included: {
            IncludeFrame child;
            child.depth = frame.depth + 1;
            child.name = std::move(included->name);
            child.file = std::move(included->file);
            std::optional<std::string> child_text = ReadCommandText(child.file.get());
            frames.push_back(std::move(child));
            if (!child_text) {
                return fail();
            }
            frames.back().text = std::move(*child_text);
            ++in_use[FoldCase(frames.back().name)];
            break;
        }
        case StepResult::Finished: {
            if (frames.size() == 1) {
                return std::move(frame.out);
            }
            std::optional<std::string> result = ProcessDirectivesSecondPass(frame.out);
            if (!result) {
                return fail();
            }
            const std::string folded = FoldCase(frame.name);
            if (--in_use[folded] == 0) {
                in_use.erase(folded);
            }
            frames.pop_back();
            IncludeFrame &parent = frames.back();
            if (!CheckCommandTextLength(parent.out.size() + result->size())) {
                return fail();
            }
            parent.out += *result;
            break;
        }
        }
    }
}
