#include "app/help.h"

#include <cstdio>
#include <cstdlib>

namespace {

// The manual, one entry per output line.
const char *const kManual[] = {
    "",
    "SpaceWire ZARK Software                                 SpaceWire ZARK Software",
    "",
    "NAME",
    "        spacewire_zark_software - Software for sending and receiving raw",
    "                                  SpaceWire packets, and for performing RMAP",
    "                                  commands",
    "",
    "SYNOPSIS",
    "        spacewire_zark_software [OPTIONS]",
    "",
    "DESCRIPTION",
    "        The SpaceWire ZARK Software can be used to send and receive raw",
    "        SpaceWire packets, either entered and displayed at the command line, or",
    "        reading from command files and outputting received packets to an output",
    "        file.  It can also perform similar tasks using RMAP.  RMAP commands to",
    "        be performed may be entered at the command line, or supplied as a list",
    "        of commands in a command file.  The results of these operations can",
    "        then be displayed on the command line or output to a file.",
    "",
    "OPTIONS",
    "        The options can be given in any order.  Only the first character",
    "        following the hyphen is required for each argument.",
    "",
    "        -help     Display this help about the application, then exit.",
    "",
    "        -device=<device_num>",
    "                  If more than one SpaceWire device is connected to the PC in",
    "                  use, the number of the device to be used by the software to",
    "                  send and receive packets can be specified by providing its",
    "                  number.  The number of the first device connected is 0.",
    "",
    "        -mode=<mode>",
    "                  Sets the mode the software operates in, where <mode> is one",
    "                  of the following values:",
    "                  interactive_spacewire or iscr - Interactive SpaceWire",
    "                                                  Command/Reply Mode",
    "                  interactive_rmap or ircr      - Interactive RMAP",
    "                                                  Command/Reply Mode",
    "                  spacewire_command or scs      - SpaceWire Command Stream Mode",
    "                  rmap_command or rcs           - RMAP Command Stream Mode",
    "",
    "        -command_list=<file>",
    "                  Specify the path to a file containing a command list.  This",
    "                  argument is only valid in the command stream modes, and is",
    "                  ignored in the interactive modes.",
    "",
    "        -output=<file>",
    "                  Specify the path to a file where any output will be recorded.",
    "                  This argument is only valid in the command stream modes, and",
    "                  is ignored in the interactive modes.  The <file> may be left",
    "                  blank if no output file is required.",
    "",
    "        -timeout=<timeout>",
    "                  Sets the default timeout to be applied for any read",
    "                  operations, specified in seconds.  Values with a decimal",
    "                  point are permitted.  This argument is only valid in the",
    "                  command stream modes, and is ignored in the interactive",
    "                  modes.",
    "",
    "        -receive_buf=<size>",
    "                  Sets the size of the buffer to receive packets into, and",
    "                  therefore the maximum packet size to receive, when in the",
    "                  Interactive SpaceWire Command/Reply mode.  This argument is",
    "                  ignored in other modes.  The buffer size is specified in",
    "                  bytes.",
    "",
    "        -dump_cmdlist=<file>",
    "                  Specify the path to a file which will be updated to contain",
    "                  the command file to be used with all pre-processing",
    "                  performed.  This argument is only valid in the command",
    "                  stream modes, and is ignored in the interactive modes.",
    "",
    "AUTHOR",
    "        Written by the SpaceWire ZARK Software developers for engineers who",
    "        test SpaceWire units and RMAP targets at the bench.",
    "",
    "BUGS",
    "         There are no known bugs in this release.  Please report any bugs",
    "         found to the SpaceWire ZARK Software developers.",
    "",
    "                                  2012 Sep 03           SpaceWire ZARK Software",
};

} // namespace

void ShowHelp()
{
    for (const char *line : kManual) {
        std::puts(line);
    }
    std::fflush(stdout);
    std::exit(0);
}
