// Opening the files a user names, without ever blocking: a FIFO that nobody
// writes to or reads from would otherwise stop the program at the open.
#ifndef ZARK_COMMON_FILE_OPEN_H
#define ZARK_COMMON_FILE_OPEN_H

#include <cstdio>

// For reading text; null when it cannot be opened or is a directory.  A FIFO
// nobody writes to reads as empty.
std::FILE *OpenForReading(const char *path);

// For writing, created if missing: emptied first (truncate) or appended to.
// Null when it cannot be opened, including a FIFO that nobody reads.
std::FILE *OpenForWriting(const char *path, bool truncate);

#endif
