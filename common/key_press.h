// Waiting on a device read while any key press cuts the wait short.
#ifndef ZARK_COMMON_KEY_PRESS_H
#define ZARK_COMMON_KEY_PRESS_H

#include "device/vantor_api.h"

// Saves the console's attributes and switches it to single-key mode (no echo,
// no line editing, no signal characters).  Does nothing when standard input
// is not a terminal.
void INITIALISE_KEY_PRESS();
// Restores the attributes saved by INITIALISE_KEY_PRESS.
void STOP_RECEIVING_KEY_PRESSES();
// 1 when a key is waiting, else 0; never blocks.  Always 0 without a terminal.
int _kbhit();
// The next key as a signed 8-bit value; waits for one when none is held.
// -1 when standard input cannot be read.
int _getch();

// Polls every 10 ms until the read is no longer in progress or a key is
// pressed.  status receives the read's latest status; key_pressed says
// whether a key ended the wait.  When standard input is not a terminal and
// no -timeout was given, a second without the read completing ends the wait
// as a key press would.
void WaitOnKeyPressOrReadCompleting(DeviceHandle device, TransferId id, TransferStatus *status,
                                    bool *key_pressed);

// Single-key mode for the guard's lifetime.  A termination signal while it is
// on restores the console before the program ends.
class SingleKeyMode {
public:
    SingleKeyMode();
    ~SingleKeyMode();
    SingleKeyMode(const SingleKeyMode &) = delete;
    SingleKeyMode &operator=(const SingleKeyMode &) = delete;
};

#endif
