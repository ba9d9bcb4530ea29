#include "cmdlist/command_text.h"

#include <cstring>
#include <vector>

void PrintCommandTextTooLong()
{
    std::printf("Error - the command list would be longer than %zu characters.\n", command_text_limit);
}

bool CheckCommandTextLength(std::size_t length)
{
    if (length <= command_text_limit) {
        return true;
    }
    PrintCommandTextTooLong();
    return false;
}

namespace {

enum class CommentState {
    Text,        // outside a comment
    TextSlash,   // outside, a "/" held back in case a "*" follows
    Comment,     // inside a comment
    CommentStar, // inside, the last character was a "*"
};

// Appends the comment-free part of block to text, carrying the state across
// blocks so that a marker split between two reads still counts.
void StripComments(const char *block, std::size_t size, CommentState &state, std::string &text)
{
    std::size_t i = 0;
    while (i < size) {
        switch (state) {
        case CommentState::Text: {
            const void *slash = std::memchr(block + i, '/', size - i);
            const std::size_t end = slash ? static_cast<const char *>(slash) - block : size;
            text.append(block + i, end - i);
            i = end;
            if (i < size) {
                state = CommentState::TextSlash;
                ++i;
            }
            break;
        }
        case CommentState::TextSlash:
            if (block[i] == '*') {
                state = CommentState::Comment;
            } else {
                text.push_back('/');
                if (block[i] != '/') {
                    text.push_back(block[i]);
                    state = CommentState::Text;
                }
            }
            ++i;
            break;
        case CommentState::Comment: {
            const void *star = std::memchr(block + i, '*', size - i);
            if (star == nullptr) {
                i = size;
            } else {
                i = static_cast<const char *>(star) - block + 1;
                state = CommentState::CommentStar;
            }
            break;
        }
        case CommentState::CommentStar:
            if (block[i] == '/') {
                state = CommentState::Text;
            } else if (block[i] != '*') {
                state = CommentState::Comment;
            }
            ++i;
            break;
        }
    }
}

} // namespace

std::optional<std::string> ReadCommandText(std::FILE *file)
{
    std::string text;
    std::vector<char> block(kCommandReadBlock);
    CommentState state = CommentState::Text;
    unsigned long long offset = 0;
    for (;;) {
        const std::size_t got = std::fread(block.data(), 1, block.size(), file);
        if (got == 0) {
            break;
        }
        if (const void *nul = std::memchr(block.data(), '\0', got)) {
            std::printf("Error - the command list file holds a NUL byte (at byte %llu); "
                        "command lists must be text.\n",
                        offset + static_cast<unsigned long long>(static_cast<const char *>(nul) - block.data()));
            return std::nullopt;
        }
        offset += got;
        StripComments(block.data(), got, state, text);
        if (!CheckCommandTextLength(text.size())) {
            return std::nullopt;
        }
    }
    if (std::ferror(file)) {
        std::puts("Error - couldn't read the command list file.");
        return std::nullopt;
    }
    if (state == CommentState::TextSlash) {
        text.push_back('/');
    }
    if (state == CommentState::Comment || state == CommentState::CommentStar) {
        std::puts("A comment in the input file has not been terminated.");
        return std::nullopt;
    }
    if (!CheckCommandTextLength(text.size())) {
        return std::nullopt;
    }
    return text;
}
