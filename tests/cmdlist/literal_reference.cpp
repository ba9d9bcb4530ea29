// A slow, literal rendering of command-list preprocessing, step by step as the
// program's behaviour is defined: whole-text buffers, a first pass that copies
// character by character, a second pass that collects the text backwards and
// applies each alias directive to everything behind it by moving the rest of
// the buffer.  It is the oracle the program's linear implementation is
// compared with; it prints nothing, collecting its messages instead.
#include "cmdlist/literal_reference.h"

#include <algorithm>
#include <strings.h>

namespace {

// The text as a C string: one character past the end reads as the NUL.
char At(const std::string &text, std::size_t i) { return i < text.size() ? text[i] : '\0'; }

struct Literal {
    std::string messages;

    // Records the message; false, or 0 where a length is returned.
    bool Fail(const std::string &line)
    {
        messages += line + "\n";
        return false;
    }

    bool ReadCommands(std::FILE *file, std::vector<std::string> *chain, int depth, std::string &result)
    {
        std::string raw;
        char block[100];
        for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) {
            raw.append(block, got);
        }
        // A comment runs from "/*" to the first "*/" that begins behind it.
        std::string text;
        for (std::size_t i = 0; i < raw.size();) {
            const std::size_t open = std::min(raw.find("/*", i), raw.size());
            text += raw.substr(i, open - i);
            if (open == raw.size()) {
                break;
            }
            const std::size_t close = raw.find("*/", open + 2);
            if (close == std::string::npos) {
                return Fail("A comment in the input file has not been terminated.");
            }
            i = close + 2;
        }
        std::string first;
        return FirstPass(text, chain, depth, first) && SecondPass(first, result);
    }

    // The name: up to 100 characters before white space, ";" or the end.
    // Its length; 0 on failure.
    std::size_t GetDirective(const std::string &text, std::size_t at, std::string &name)
    {
        const std::size_t end = std::min(text.find_first_of(" \t\r\n;", at), text.size());
        name = text.substr(at, std::min<std::size_t>(end - at, 100));
        if (name.empty() && end < text.size()) {
            return 0; // white space or ";" behind the "#": no message
        }
        if (end > at + name.size()) {
            return Fail("Error reading directive, expected space or semi-colon before maximum directive length "
                        "reached: " + name);
        }
        if (end == text.size()) {
            return Fail("Error reading directive, expected semi-colon before end of input: " + name);
        }
        return name.size();
    }

    // The argument: up to the next ";".  Its length; 0 when it is empty or on
    // failure.
    std::size_t GetDirectiveArg(const std::string &text, std::size_t at, std::string &argument)
    {
        const std::size_t end = std::min(text.find(';', at), text.size());
        argument = text.substr(at, end - at);
        if (end == text.size()) {
            return Fail("Error reading directive argument, expected semi-colon before end of input: " + argument);
        }
        return argument.size();
    }

    bool FirstPass(const std::string &text, std::vector<std::string> *chain, int depth, std::string &out)
    {
        std::string name, argument;
        for (std::size_t i = 0; i < text.size();) {
            if (text[i] != '#') {
                out.push_back(text[i++]);
                continue;
            }
            const std::size_t after_name = i + 1 + GetDirective(text, i + 1, name);
            if (after_name == i + 1) {
                return false;
            }
            if (strcasecmp(name.c_str(), "INCLUDELIST") == 0) {
                if (At(text, after_name) == ';') {
                    return Fail("Error - missing argument for an INCLUDELIST directive in the input file.");
                }
                if (GetDirectiveArg(text, after_name, argument) == 0 ||
                    !ProcessIncludeDirective(argument, out, chain, depth)) {
                    return false;
                }
                i = after_name + argument.size() + 1;
            } else if (strcasecmp(name.c_str(), "ALIAS") == 0) {
                out += "#" + name;
                i = after_name;
            } else {
                return Fail("Error reading command list file in first pass, unrecognised directive " + name);
            }
        }
        return true;
    }

    bool ProcessIncludeDirective(const std::string &argument, std::string &out, std::vector<std::string> *chain,
                                 int depth)
    {
        std::size_t i = argument.find_first_not_of(" \t\r\n");
        if (i == std::string::npos || argument.substr(i) == "\"") {
            return Fail("Error reading argument of INCLUDELIST directive - missing argument?");
        }
        std::string name = argument.substr(i);
        if (name[0] == '"') {
            name.clear();
            for (++i; i < argument.size() && argument[i] != '"'; ++i) {
                if (argument[i] == '\\' && At(argument, i + 1) == '"') {
                    ++i; // \" stands for a quote; any other backslash stays
                }
                name.push_back(argument[i]);
            }
        }
        for (int k = 0; k < depth && k < static_cast<int>(chain->size()); ++k) {
            if (strcasecmp((*chain)[k].c_str(), name.c_str()) == 0) {
                return Fail("Error processing INCLUDELIST directive - recursive include of file " + name);
            }
        }
        chain->resize(std::max(chain->size(), static_cast<std::size_t>(depth) + 1));
        (*chain)[depth] = name;
        const OpenFile file(std::fopen(name.c_str(), "r"), std::fclose);
        if (!file) {
            return Fail("Error processing INCLUDELIST directive - unable to open specified file " + name);
        }
        std::string included;
        if (!ReadCommands(file.get(), chain, depth + 1, included)) {
            return Fail("Error reading commands from included file " + name);
        }
        out += included;
        return true;
    }

    bool SecondPass(const std::string &text, std::string &out)
    {
        std::string collection; // the text behind the scan, last character first
        std::string name, argument;
        for (std::size_t i = text.size(); i-- > 0;) {
            if (text[i] != '#') {
                collection.push_back(text[i]);
                continue;
            }
            const std::size_t after_name = i + 1 + GetDirective(text, i + 1, name);
            if (after_name == i + 1) {
                return false;
            }
            if (strcasecmp(name.c_str(), "ALIAS") != 0) {
                return Fail("Error reading command list file in second pass, unrecognised directive " + name);
            }
            if (At(text, after_name) == ';') {
                return Fail("Error - missing argument for an ALIAS directive in the input file.");
            }
            if (GetDirectiveArg(text, after_name, argument) == 0) {
                return false;
            }
            if (!ProcessAliasDirective(argument, collection)) {
                return Fail("An error occurred when trying to process alias " + std::string(argument.c_str()));
            }
        }
        out.assign(collection.rbegin(), collection.rend());
        return true;
    }

    // Parses the argument by its rules: white space before the name skipped,
    // the name ended by white space or "=", anything up to the first "="
    // ignored, the value from the first character behind it that is neither
    // white space nor "=".  Writes a terminator behind the name into the
    // argument, which the caller's message then shows.
    bool ProcessAliasDirective(std::string &argument, std::string &collection)
    {
        const std::size_t length = argument.size(), none = std::string::npos;
        // The program refuses a directive that holds another one; taken
        // literally, its removal would swallow text behind it.
        if (argument.find('#') != none) {
            return Fail("Error processing alias directive - another directive begins before its semi-colon");
        }
        const std::size_t name_at = argument.find_first_not_of(" \t\r\n");
        if (name_at == none || argument[name_at] == '=') {
            return Fail(name_at == none ? "Error processing alias directive - no alias found"
                                        : "Error processing alias directive - no alias before =");
        }
        const std::size_t name_end = std::min(argument.find_first_of(" \t\r\n=", name_at), length);
        const std::size_t equals = argument.find('=', name_end);
        const std::size_t value_at = equals == none ? none : argument.find_first_not_of(" \t\r\n=", equals);
        const std::string name = argument.substr(name_at, name_end - name_at);
        if (name_end < length) {
            argument[name_end] = '\0';
        }
        if (value_at == none) {
            return Fail(equals == none ? "Error processing alias directive - no equals character found"
                                       : "Error processing alias directive - no alias value found");
        }
        // "ALIAS", the argument, the ";" and the one character behind it, if any.
        collection.resize(collection.size() - std::min(collection.size(), length + 7));
        ReplaceAliasOccurences(name, argument.substr(value_at), collection);
        return true;
    }

    // Every whole word of the collection that is the name spelled backwards
    // becomes the value spelled backwards, the rest of the collection moved
    // behind it; the inserted value is not searched again.  White space, ":"
    // and ";" separate words.
    static void ReplaceAliasOccurences(const std::string &name, const std::string &value, std::string &collection)
    {
        const std::string reversed_name(name.rbegin(), name.rend()), reversed_value(value.rbegin(), value.rend());
        for (std::size_t position = 0; position < collection.size();) {
            const std::size_t end = std::min(collection.find_first_of(" \t\r\n:;", position), collection.size());
            if (end > position && collection.compare(position, end - position, reversed_name) == 0) {
                collection.replace(position, end - position, reversed_value);
                position += value.size();
            } else {
                position = end > position ? end : end + 1;
            }
        }
    }
};

} // namespace

Preprocessed LiteralReadCommands(std::FILE *file, std::vector<std::string> *chain, int depth)
{
    Literal literal;
    std::string text;
    const bool read = literal.ReadCommands(file, chain, depth, text);
    return {read ? std::optional<std::string>(text) : std::nullopt, literal.messages};
}
