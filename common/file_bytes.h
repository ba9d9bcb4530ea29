// Reading every byte of a file named in a data value.
#ifndef ZARK_COMMON_FILE_BYTES_H
#define ZARK_COMMON_FILE_BYTES_H

#include <cstdint>
#include <string>
#include <vector>

// Appends every byte of the regular file at path (relative to the current
// directory) to out.  False, with out as it was, when the file cannot be
// opened, is not a regular file (a directory, FIFO or device is refused
// rather than waited on), cannot be read to its end, or would make out longer
// than a data value can be (its count is a signed 32-bit number).
bool AppendFileBytes(const std::string &path, std::vector<std::uint8_t> &out);

#endif
