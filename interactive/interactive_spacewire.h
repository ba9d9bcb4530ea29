// The interactive SpaceWire command/reply mode: the user types the bytes of a
// packet, it is sent, and every packet that arrives is shown until a key is
// pressed.
//
// Each line typed at the prompt is one of:
//   base=<base word>  or  b=<base word>   (either case) sets the default base
//   x                                     (either case, alone) ends the mode
//   anything else                         packet bytes in the data-value syntax;
//                                         an empty line sends nothing and listens
// Example, in base 16:  "01 02 fe" sends three bytes; "B=2" then shows
// received bytes in binary.  A number above a byte ("256") sends its low 8
// bits after a warning; with -strict nothing is sent and the prompt returns.
#ifndef ZARK_INTERACTIVE_INTERACTIVE_SPACEWIRE_H
#define ZARK_INTERACTIVE_INTERACTIVE_SPACEWIRE_H

#include "device/vantor_api.h"

// Runs the mode until the user leaves it or standard input ends.
void IS_RequestCommand(DeviceHandle device);

#endif
