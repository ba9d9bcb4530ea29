// Choosing the mode and opening the command-stream modes' files.
#ifndef ZARK_APP_MODE_SELECTION_H
#define ZARK_APP_MODE_SELECTION_H

#include <cstdio>
#include <optional>
#include <string>

#include "app/settings.h"

// The mode named by text (interactive_spacewire/iscr, interactive_rmap/ircr,
// spacewire_command/scs, rmap_command/rcs, case ignored), or the user's
// answers to two one-letter questions.
OperatingMode GetMode(const char *text);

// The command-list file, from path or asked for until one opens.
std::FILE *GetInputCommandFile(const char *path);
// The output file's path, from path or asked for; none for "" or " ".  It is
// opened only once the list has been accepted.
std::optional<std::string> GetOutputCommandFile(const char *path);
// The dump file's path, from path only; none when not given.
std::optional<std::string> GetDumpCommandOutputFile(const char *path);

#endif
