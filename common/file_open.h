// Opening the files a user names, without ever blocking: a FIFO that nobody
// writes to or reads from would otherwise stop the program at the open.
#ifndef ZARK_COMMON_FILE_OPEN_H
#define ZARK_COMMON_FILE_OPEN_H

#include <cstdint>
#include <cstdio>
#include <span>

// For reading text; null when it cannot be opened or is a directory (errno
// tells why).  A FIFO
// nobody writes to reads as empty.
std::FILE *OpenForReading(const char *path);

// For writing, created if missing: emptied first (truncate) or appended to.
// Null when it cannot be opened, including a FIFO that nobody reads; errno
// then tells why (EISDIR for a directory).
std::FILE *OpenForWriting(const char *path, bool truncate);

// Appends bytes to the file at path, created if missing, and closes it.
// 0 when every byte was written, otherwise the errno value that tells why.
int AppendBytesToFile(const char *path, std::span<const std::uint8_t> bytes);

#endif
