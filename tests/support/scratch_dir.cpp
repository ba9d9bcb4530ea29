#include "support/scratch_dir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>
#include <vector>

ScratchDir::ScratchDir()
{
    // Memory-backed where the machine has it and TMPDIR does not say
    // otherwise: fuzz targets write files on every run, and a disk would set
    // their pace.
    const char *chosen = std::getenv("TMPDIR");
    std::filesystem::path base = chosen == nullptr || *chosen == '\0'
                                     ? (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp")
                                     : std::filesystem::temp_directory_path();
    std::string pattern = (base / "zark_test_XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("cannot create a scratch directory");
    }
    path_ = buffer.data();
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void ScratchDir::Write(const std::string &name, const std::string &content) const
{
    WriteWholeFile(path_ / name, content);
}

std::string ScratchDir::Read(const std::string &name) const { return ReadWholeFile(path_ / name); }

bool ScratchDir::Exists(const std::string &name) const { return std::filesystem::exists(path_ / name); }

std::string ReadWholeFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteWholeFile(const std::filesystem::path &path, const std::string &content)
{
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}
