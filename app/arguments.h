// The command line: options into the program-wide settings.
//
//   -device=N  -mode=M  -command_list=F  -output=F  -timeout=S  -receive_buf=B
//   -dump_cmdlist=F  -strict  -help
//
// Names are matched without regard to case and may be shortened to any
// prefix, as long as the whole argument has two characters or more; options
// are tried in the order above, so -d means -device and -du is the shortest
// -dump_cmdlist.  The value follows the first "=" in the same argument.
// Faulty arguments are reported and skipped; the later of two settings wins.
// A number followed by other text (-t=500ms), or no number at all, is used as
// far as it reads, with a warning; with -strict it ends the program (status 3).
//   spacewire_zark_software -d=1 -m=rcs -c=list.txt -o=out.txt -t=0.5
#ifndef ZARK_APP_ARGUMENTS_H
#define ZARK_APP_ARGUMENTS_H

#include <cstdint>

// The decimal integer at the start of text as strtol reads it, kept to its
// low 32 bits.
std::int32_t ReadInt(const char *text);
// The floating-point number at the start of text as strtod reads it.
double ReadDouble(const char *text);

void ProcessArguments(int argc, char **argv);

#endif
