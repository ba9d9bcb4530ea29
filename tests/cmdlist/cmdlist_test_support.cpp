#include "cmdlist/cmdlist_test_support.h"

#include <cstdio>
#include <stdexcept>
#include <unistd.h>

namespace {

std::FILE *TemporaryFileHolding(const std::string &content)
{
    std::FILE *file = std::tmpfile();
    if (file == nullptr) {
        throw std::runtime_error("no temporary file");
    }
    std::fwrite(content.data(), 1, content.size(), file);
    std::rewind(file);
    return file;
}

std::string ReadAll(std::FILE *file)
{
    std::string text;
    char block[4096];
    std::size_t got;
    std::rewind(file);
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        text.append(block, got);
    }
    return text;
}

} // namespace

std::string CaptureStdout(const std::function<void()> &body)
{
    std::fflush(stdout);
    std::FILE *sink = std::tmpfile();
    const int saved = dup(STDOUT_FILENO);
    if (sink == nullptr || saved < 0 || dup2(fileno(sink), STDOUT_FILENO) < 0) {
        throw std::runtime_error("cannot capture standard output");
    }
    try {
        body();
    } catch (...) {
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        std::fclose(sink);
        throw;
    }
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string captured = ReadAll(sink);
    std::fclose(sink);
    return captured;
}

Preprocessed Preprocess(const std::string &content, IncludeChain *chain, int depth)
{
    std::FILE *file = TemporaryFileHolding(content);
    Preprocessed result;
    result.messages = CaptureStdout([&] { result.text = ReadCommands(file, chain, depth); });
    std::fclose(file);
    return result;
}

Preprocessed PreprocessLiterally(const std::string &content)
{
    std::FILE *file = TemporaryFileHolding(content);
    std::vector<std::string> chain;
    Preprocessed result = LiteralReadCommands(file, &chain, 0);
    std::fclose(file);
    return result;
}

InDirectory::InDirectory(const std::filesystem::path &dir) : saved_(std::filesystem::current_path())
{
    std::filesystem::current_path(dir);
}

InDirectory::~InDirectory()
{
    std::filesystem::current_path(saved_);
}
