#include "common/stream_files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>

#include "common/file_open.h"
#include "common/stream_run.h"

namespace {

std::FILE *OpenNamed(const std::string &path, const char *kind, const char *consequence)
{
    std::FILE *file = OpenForWriting(path.c_str(), true);
    if (file == nullptr) {
        const int reason = errno != 0 ? errno : EIO;
        ConsoleGuard console;
        std::printf("Cannot open %s file '%s': %s; %s\n", kind, path.c_str(), std::strerror(reason), consequence);
    }
    return file;
}

bool Close(std::FILE *&file, const std::optional<std::string> &path, const char *kind)
{
    if (file == nullptr) {
        return true;
    }
    // A write that failed earlier leaves the error flag; its errno is gone by
    // now, so the flush at the close usually tells the reason again.
    const bool failed_before = std::ferror(file) != 0;
    errno = 0;
    const bool closed = std::fclose(file) == 0;
    const int reason = errno != 0 ? errno : EIO;
    file = nullptr;
    if ((failed_before || !closed) && path) {
        std::printf("Error writing %s file '%s': %s; it does not hold everything.\n", kind, path->c_str(),
                    std::strerror(reason));
        return false;
    }
    return true;
}

struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
};

FileIdentity IdentityOf(const std::string &path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return {};
    }
    return {true, info.st_dev, info.st_ino};
}

bool SameFile(const FileIdentity &a, const FileIdentity &b)
{
    return a.exists && b.exists && a.device == b.device && a.inode == b.inode;
}

// Two names of files that may not exist yet: one file when their paths agree
// once made absolute and normal.
bool SamePath(const std::string &a, const std::string &b)
{
    std::error_code error;
    const auto first = std::filesystem::weakly_canonical(std::filesystem::absolute(a, error), error);
    const auto second = std::filesystem::weakly_canonical(std::filesystem::absolute(b, error), error);
    return !error && first == second;
}

} // namespace

bool StreamFilesAreDistinct(const StreamFiles &files)
{
    FileIdentity list;
    struct stat info {};
    if (files.command_list != nullptr && fstat(fileno(files.command_list), &info) == 0) {
        list = {true, info.st_dev, info.st_ino};
    }
    const auto is_list = [&list](const std::optional<std::string> &path, const char *kind) {
        if (path && SameFile(IdentityOf(*path), list)) {
            std::printf("Error: the %s file '%s' is the command list file; the list is not run.\n", kind,
                        path->c_str());
            return true;
        }
        return false;
    };
    if (is_list(files.output_path, "output") || is_list(files.dump_path, "dump") ||
        is_list(files.json_path, "JSON")) {
        return false;
    }
    const auto same = [](const std::optional<std::string> &a, const std::optional<std::string> &b,
                         const char *names) {
        if (!a || !b) {
            return false;
        }
        const FileIdentity first = IdentityOf(*a);
        if (SameFile(first, IdentityOf(*b)) || (!first.exists && SamePath(*a, *b))) {
            std::printf("Error: %s are the same file '%s'; the list is not run.\n", names, a->c_str());
            return true;
        }
        return false;
    };
    return !same(files.output_path, files.dump_path, "the output file and the dump file") &&
           !same(files.output_path, files.json_path, "the output file and the JSON file") &&
           !same(files.dump_path, files.json_path, "the dump file and the JSON file");
}

void WriteStreamDump(StreamFiles &files, const std::string &text)
{
    if (!files.dump_path || files.dump != nullptr) {
        return;
    }
    files.dump = OpenNamed(*files.dump_path, "dump", "the preprocessed command list is not written.");
    if (files.dump != nullptr && !text.empty()) {
        std::fwrite(text.data(), 1, text.size(), files.dump);
    }
}

std::FILE *OpenStreamOutput(StreamFiles &files)
{
    if (files.output == nullptr && files.output_path) {
        files.output = OpenNamed(*files.output_path, "output", "the output goes to the console.");
    }
    if (files.json == nullptr && files.json_path) {
        files.json = OpenNamed(*files.json_path, "JSON", "no JSON Lines record is kept.");
    }
    return files.output;
}

bool CloseStreamFiles(StreamFiles &files)
{
    const bool output_kept = Close(files.output, files.output_path, "output");
    const bool dump_kept = Close(files.dump, files.dump_path, "dump");
    const bool json_kept = Close(files.json, files.json_path, "JSON");
    return output_kept && dump_kept && json_kept;
}

void ReportDataFileFailure(int command_number, const std::string &path, int reason)
{
    ConsoleGuard console;
    std::printf("Cannot write the data of command %d to file '%s': %s.\n", command_number, path.c_str(),
                std::strerror(reason));
}
