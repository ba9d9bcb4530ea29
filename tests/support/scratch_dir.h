// A private directory for one test or one fuzz target, removed with
// everything in it afterwards.
#ifndef ZARK_TESTS_SUPPORT_SCRATCH_DIR_H
#define ZARK_TESTS_SUPPORT_SCRATCH_DIR_H

#include <filesystem>
#include <string>

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::filesystem::path operator/(const std::string &name) const { return path_ / name; }
    void Write(const std::string &name, const std::string &content) const;
    std::string Read(const std::string &name) const;
    bool Exists(const std::string &name) const;

private:
    std::filesystem::path path_;
};

// Makes a directory the current one for as long as this lives.
struct InDirectory {
    const std::filesystem::path saved = std::filesystem::current_path();
    explicit InDirectory(const std::filesystem::path &dir) { std::filesystem::current_path(dir); }
    ~InDirectory() { std::filesystem::current_path(saved); }
};

std::string ReadWholeFile(const std::filesystem::path &path);
void WriteWholeFile(const std::filesystem::path &path, const std::string &content);

#endif
