#include "cmdlist/literal_reference.h"

#include <cstdarg>
#include <cstring>
#include <strings.h>

namespace {

struct Literal {
    std::string messages;

    void Say(const char *format, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, format);
        char buffer[65536];
        std::vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
        messages += buffer;
    }
    void Line(const char *text) { Say("%s\n", text); }

    static bool White(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    static bool Sep(char c) { return White(c) || c == ':' || c == ';'; }
    // The text as a C string: one character past the end reads as the NUL.
    static char At(const std::string &text, std::size_t i) { return i < text.size() ? text[i] : '\0'; }

    std::optional<std::string> ReadCommands(std::FILE *file, std::vector<std::string> *chain, int depth)
    {
        std::string raw;
        char block[100];
        std::size_t got;
        while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
            raw.append(block, got);
        }
        std::string text;
        bool in_comment = false;
        std::size_t i = 0;
        while (i < raw.size()) {
            if (!in_comment && At(raw, i) == '/' && At(raw, i + 1) == '*') {
                in_comment = true;
                i += 2;
            } else if (in_comment && At(raw, i) == '*' && At(raw, i + 1) == '/') {
                in_comment = false;
                i += 2;
            } else {
                if (!in_comment) {
                    text.push_back(raw[i]);
                }
                ++i;
            }
        }
        if (in_comment) {
            Line("A comment in the input file has not been terminated.");
            return std::nullopt;
        }
        if (!ProcessDirectives(text, chain, depth)) {
            return std::nullopt;
        }
        return text;
    }

    bool ProcessDirectives(std::string &text, std::vector<std::string> *chain, int depth)
    {
        std::optional<std::string> first = FirstPass(text, chain, depth);
        if (!first) {
            return false;
        }
        std::optional<std::string> second = SecondPass(*first);
        if (!second) {
            return false;
        }
        text = *second;
        return true;
    }

    // Returns the name length, 0 on failure.
    std::size_t GetDirective(const std::string &text, std::size_t at, std::string &name)
    {
        name.clear();
        const char first = At(text, at);
        if (White(first) || first == ';') {
            return 0;
        }
        std::size_t n = 0;
        while (n < 100 && At(text, at + n) != '\0' && !White(At(text, at + n)) && At(text, at + n) != ';') {
            name.push_back(At(text, at + n));
            ++n;
        }
        const char next = At(text, at + n);
        if (next == '\0') {
            Say("Error reading directive, expected semi-colon before end of input: %s\n", name.c_str());
            return 0;
        }
        if (!White(next) && next != ';') {
            Say("Error reading directive, expected space or semi-colon before maximum directive length reached: "
                "%s\n",
                name.c_str());
            return 0;
        }
        return n;
    }

    std::size_t GetDirectiveArg(const std::string &text, std::size_t at, std::string &argument)
    {
        argument.clear();
        if (At(text, at) == ';') {
            return 0;
        }
        std::size_t n = 0;
        while (At(text, at + n) != ';' && At(text, at + n) != '\0') {
            argument.push_back(At(text, at + n));
            ++n;
        }
        if (At(text, at + n) == '\0') {
            Say("Error reading directive argument, expected semi-colon before end of input: %s\n", argument.c_str());
            return 0;
        }
        return n;
    }

    std::optional<std::string> FirstPass(const std::string &text, std::vector<std::string> *chain, int depth)
    {
        std::string out;
        std::string name;
        std::string argument;
        std::size_t i = 0;
        while (i < text.size()) {
            if (text[i] != '#') {
                out.push_back(text[i]);
                ++i;
                continue;
            }
            const std::size_t name_length = GetDirective(text, i + 1, name);
            if (name_length == 0) {
                return std::nullopt;
            }
            const std::size_t after_name = i + 1 + name_length;
            if (strcasecmp(name.c_str(), "INCLUDELIST") == 0) {
                if (At(text, after_name) == ';') {
                    Line("Error - missing argument for an INCLUDELIST directive in the input file.");
                    return std::nullopt;
                }
                const std::size_t argument_length = GetDirectiveArg(text, after_name, argument);
                if (argument_length == 0) {
                    return std::nullopt;
                }
                if (!ProcessIncludeDirective(argument, out, chain, depth)) {
                    return std::nullopt;
                }
                i = after_name + argument_length + 1;
            } else if (strcasecmp(name.c_str(), "ALIAS") == 0) {
                out += "#" + name;
                i = after_name;
            } else {
                Say("Error reading command list file in first pass, unrecognised directive %s\n", name.c_str());
                return std::nullopt;
            }
        }
        return out;
    }

    bool ProcessIncludeDirective(const std::string &argument, std::string &out, std::vector<std::string> *chain,
                                 int depth)
    {
        std::size_t i = 0;
        while (i < argument.size() && White(argument[i])) {
            ++i;
        }
        if (i == argument.size()) {
            Line("Error reading argument of INCLUDELIST directive - missing argument?");
            return false;
        }
        std::string name;
        if (argument[i] == '"') {
            ++i;
            if (i == argument.size()) {
                Line("Error reading argument of INCLUDELIST directive - missing argument?");
                return false;
            }
            for (; i < argument.size(); ++i) {
                if (argument[i] == '"') {
                    break;
                }
                if (argument[i] == '\\' && At(argument, i + 1) == '"') {
                    name.push_back('"');
                    ++i;
                } else {
                    name.push_back(argument[i]);
                }
            }
        } else {
            name = argument.substr(i);
        }
        if (chain == nullptr) {
            Say("Error processing INCLUDELIST directive - can't check for recursive include of file %s\n",
                name.c_str());
            return false;
        }
        for (int k = 0; k < depth && k < static_cast<int>(chain->size()); ++k) {
            if (strcasecmp((*chain)[k].c_str(), name.c_str()) == 0) {
                Say("Error processing INCLUDELIST directive - recursive include of file %s\n", name.c_str());
                return false;
            }
        }
        if (static_cast<int>(chain->size()) <= depth) {
            chain->resize(depth + 1);
        }
        (*chain)[depth] = name;
        std::FILE *file = std::fopen(name.c_str(), "r");
        if (file == nullptr) {
            Say("Error processing INCLUDELIST directive - unable to open specified file %s\n", name.c_str());
            return false;
        }
        std::optional<std::string> included = ReadCommands(file, chain, depth + 1);
        if (!included) {
            Say("Error reading commands from included file %s\n", name.c_str());
            std::fclose(file);
            return false;
        }
        std::fclose(file);
        out += *included;
        return true;
    }

    std::optional<std::string> SecondPass(const std::string &text)
    {
        std::string collection; // the text behind the scan, last character first
        std::string name;
        std::string argument;
        for (std::size_t i = text.size(); i-- > 0;) {
            if (text[i] != '#') {
                collection.push_back(text[i]);
                continue;
            }
            const std::size_t name_length = GetDirective(text, i + 1, name);
            if (name_length == 0) {
                return std::nullopt;
            }
            if (strcasecmp(name.c_str(), "ALIAS") != 0) {
                Say("Error reading command list file in second pass, unrecognised directive %s\n", name.c_str());
                return std::nullopt;
            }
            if (At(text, i + 1 + name_length) == ';') {
                Line("Error - missing argument for an ALIAS directive in the input file.");
                return std::nullopt;
            }
            const std::size_t argument_length = GetDirectiveArg(text, i + 1 + name_length, argument);
            if (argument_length == 0) {
                return std::nullopt;
            }
            std::vector<char> buffer(argument.begin(), argument.end());
            buffer.push_back('\0');
            if (!ProcessAliasDirective(buffer, argument_length, collection)) {
                Say("An error occurred when trying to process alias %s\n", buffer.data());
                return std::nullopt;
            }
        }
        return std::string(collection.rbegin(), collection.rend());
    }

    bool ProcessAliasDirective(std::vector<char> &argument, std::size_t length, std::string &collection)
    {
        // The program refuses a directive that holds another one; taken
        // literally, its removal would swallow text behind it.
        if (std::memchr(argument.data(), '#', length) != nullptr) {
            Line("Error processing alias directive - another directive begins before its semi-colon");
            return false;
        }
        int name_at = -1;
        bool name_open = false;
        bool equals = false;
        int value_at = -1;
        for (std::size_t i = 0; i < length && value_at < 0; ++i) {
            const char c = argument[i];
            if (White(c)) {
                if (name_open) {
                    argument[i] = '\0';
                    name_open = false;
                }
            } else if (c == '=') {
                if (!equals) {
                    if (name_at < 0) {
                        Line("Error processing alias directive - no alias before =");
                        return false;
                    }
                    if (name_open) {
                        argument[i] = '\0';
                        name_open = false;
                    }
                    equals = true;
                }
            } else if (name_at < 0) {
                name_at = static_cast<int>(i);
                name_open = true;
            } else if (equals) {
                value_at = static_cast<int>(i);
            }
        }
        if (value_at < 0) {
            if (name_at < 0) {
                Line("Error processing alias directive - no alias found");
            } else if (!equals) {
                Line("Error processing alias directive - no equals character found");
            } else {
                Line("Error processing alias directive - no alias value found");
            }
            return false;
        }
        const std::string alias_name(argument.data() + name_at);
        const std::string value(argument.data() + value_at, length - value_at);
        const std::size_t removed = length + 7;
        collection.resize(collection.size() > removed ? collection.size() - removed : 0);
        return ReplaceAliasOccurences(alias_name, value, collection);
    }

    // The whole word that begins at position, compared with the name spelled
    // backwards (so a name holding ":" matches no word).
    bool IsAlias(const std::string &name, const std::string &collection, std::size_t position)
    {
        std::size_t end = position;
        while (end < collection.size() && !Sep(collection[end])) {
            ++end;
        }
        return collection.substr(position, end - position) == std::string(name.rbegin(), name.rend());
    }

    void ReplaceAlias(std::size_t name_length, const std::string &value, std::string &collection, std::size_t &position)
    {
        const std::string rest = collection.substr(position + name_length);
        collection.resize(position);
        collection.append(value.rbegin(), value.rend());
        collection += rest;
        position += value.size();
    }

    bool ReplaceAliasOccurences(const std::string &name, const std::string &value, std::string &collection)
    {
        std::size_t position = 0;
        bool word_start = true;
        while (position < collection.size()) {
            if (Sep(collection[position])) {
                word_start = true;
                ++position;
            } else if (word_start && IsAlias(name, collection, position)) {
                ReplaceAlias(name.size(), value, collection, position);
                word_start = false;
            } else {
                while (position < collection.size() && !Sep(collection[position])) {
                    ++position;
                }
                word_start = false;
            }
        }
        return true;
    }
};

} // namespace

Preprocessed LiteralReadCommands(std::FILE *file, std::vector<std::string> *chain, int depth)
{
    Literal literal;
    std::optional<std::string> text = literal.ReadCommands(file, chain, depth);
    return {std::move(text), std::move(literal.messages)};
}
