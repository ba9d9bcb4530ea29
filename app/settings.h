// The program-wide settings: filled from the command line at start-up and
// read by the modes.  The text settings point into the program's arguments.
#ifndef ZARK_APP_SETTINGS_H
#define ZARK_APP_SETTINGS_H

// Base in which numbers without a prefix are read and in which numbers are
// shown (2, 8, 10 or 16).  The base commands of every mode change it.
extern int default_base;
// Bytes of the buffer each packet is received into in the interactive modes.
extern int receive_buffer_size;
// Device number from -device, -1 when none was given.
extern int specified_device;
// Read time-out in seconds from -timeout, -1.0 when none was given.
extern double timeout;
extern const char *specified_mode;
extern const char *specified_input_file;
extern const char *specified_output_file;
extern const char *specified_dump_output_file;
// -json=PATH: the JSON Lines record of a stream run; null when not asked for.
extern const char *specified_json_file;
// -strict: values that do not fit, and similar doubts, are errors instead of
// warnings, and the exit status tells how the run went.
extern bool strict_mode;

// Flags of OperatingMode and the four modes built from them.
enum OperatingModeFlags : int {
    MODE_FLAG_SPACEWIRE = 1,
    MODE_FLAG_RMAP = 2,
    MODE_FLAG_INTERACTIVE = 4,
    MODE_FLAG_STREAM = 8
};
using OperatingMode = int;
inline constexpr OperatingMode MODE_INTERACTIVE_SPACEWIRE = MODE_FLAG_INTERACTIVE | MODE_FLAG_SPACEWIRE;
inline constexpr OperatingMode MODE_INTERACTIVE_RMAP = MODE_FLAG_INTERACTIVE | MODE_FLAG_RMAP;
inline constexpr OperatingMode MODE_SPACEWIRE_STREAM = MODE_FLAG_STREAM | MODE_FLAG_SPACEWIRE;
inline constexpr OperatingMode MODE_RMAP_STREAM = MODE_FLAG_STREAM | MODE_FLAG_RMAP;

#endif
