#include "cmdlist/include_directive.h"

#include "common/white_space.h"
#include "common/file_open.h"

std::string FoldCase(std::string_view name)
{
    std::string folded(name);
    for (char &c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

std::optional<std::string> GetIncludeFileName(std::string_view argument)
{
    std::size_t i = 0;
    while (i < argument.size() && IsWhiteSpace(argument[i])) {
        ++i;
    }
    if (i == argument.size()) {
        return std::nullopt;
    }
    if (argument[i] != '"') {
        return std::string(argument.substr(i));
    }
    ++i;
    if (i == argument.size()) {
        return std::nullopt;
    }
    std::string name;
    while (i < argument.size() && argument[i] != '"') {
        if (argument[i] == '\\' && i + 1 < argument.size() && argument[i + 1] == '"') {
            ++i;
        }
        name.push_back(argument[i]);
        ++i;
    }
    return name;
}

std::optional<IncludedFile> ProcessIncludeDirective(std::string_view argument, IncludeChain *chain, int depth,
                                                    const IncludeNamesInUse &in_use)
{
    std::optional<std::string> name = GetIncludeFileName(argument);
    if (!name) {
        std::puts("Error reading argument of INCLUDELIST directive - missing argument?");
        return std::nullopt;
    }
    if (chain == nullptr) {
        std::printf("Error processing INCLUDELIST directive - can't check for recursive include of file %s\n",
                    name->c_str());
        return std::nullopt;
    }
    if (in_use.contains(FoldCase(*name))) {
        std::printf("Error processing INCLUDELIST directive - recursive include of file %s\n", name->c_str());
        return std::nullopt;
    }
    const std::size_t entry = depth > 0 ? static_cast<std::size_t>(depth) : 0;
    if (chain->size() <= entry) {
        chain->resize(entry + 1);
    }
    (*chain)[entry] = *name;
    OwnedFile file(OpenForReading(name->c_str()));
    if (!file) {
        std::printf("Error processing INCLUDELIST directive - unable to open specified file %s\n", name->c_str());
        return std::nullopt;
    }
    return IncludedFile{std::move(file), std::move(*name)};
}
