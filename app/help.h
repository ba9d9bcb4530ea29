// The program's manual.
#ifndef ZARK_APP_HELP_H
#define ZARK_APP_HELP_H

// Prints the manual and ends the program with status 0.
[[noreturn]] void ShowHelp();

#endif
