// The files of a command-stream run.  The output and dump files are named at
// start-up but opened only once the list has got far enough, so that a list
// that is refused never empties the results of an earlier run.
#ifndef ZARK_COMMON_STREAM_FILES_H
#define ZARK_COMMON_STREAM_FILES_H

#include <cstdio>
#include <optional>
#include <string>

struct StreamFiles {
    std::FILE *command_list = nullptr;      // read from; closed by its owner
    std::optional<std::string> output_path; // none: results go to the console
    std::optional<std::string> dump_path;   // none: the list is not dumped
    std::optional<std::string> json_path;   // none: no JSON Lines record
    // Opened by the functions below; closed with CloseStreamFiles.  A caller
    // may set output itself instead of naming a path.
    std::FILE *output = nullptr;
    std::FILE *dump = nullptr;
    std::FILE *json = nullptr;
};

// False, after saying which, when the output or dump file is the command
// list itself or both name one file: writing would destroy the list or mix
// two results.  Checked before any file is opened for writing.
bool StreamFilesAreDistinct(const StreamFiles &files);

// Opens the dump file (when one is named) and writes the preprocessed list.
// A file that cannot be opened is reported and the run goes on without it.
void WriteStreamDump(StreamFiles &files, const std::string &text);

// Opens the output file when one is named and it is not open yet.  One that
// cannot be opened is reported; results then go to the console.  The JSON
// Lines file is opened with it (one that cannot be opened is reported, and
// the run goes on without it).
std::FILE *OpenStreamOutput(StreamFiles &files);

// Closes the output and dump files; a write that failed on the way (a full
// disk, say) is reported, since the results are then not all in the file.
// False after such a report.
bool CloseStreamFiles(StreamFiles &files);

// Prints the line saying that a command's data file could not be written.
void ReportDataFileFailure(int command_number, const std::string &path, int reason);

#endif
