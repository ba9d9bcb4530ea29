// Choosing the mode and opening the command-stream modes' files.
#ifndef ZARK_APP_MODE_SELECTION_H
#define ZARK_APP_MODE_SELECTION_H

#include <cstdio>

#include "app/settings.h"

// The mode named by text (interactive_spacewire/iscr, interactive_rmap/ircr,
// spacewire_command/scs, rmap_command/rcs, case ignored), or the user's
// answers to two one-letter questions.
OperatingMode GetMode(const char *text);

// The command-list file, from path or asked for until one opens.
std::FILE *GetInputCommandFile(const char *path);
// The output file, from path or asked for; null for none ("" or " ").
std::FILE *GetOutputCommandFile(const char *path);
// The dump file, from path only; null for none.
std::FILE *GetDumpCommandOutputFile(const char *path);

#endif
