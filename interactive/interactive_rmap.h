// The interactive RMAP command/reply mode: a menu of RMAP transactions.
//
// The menu takes one word per answer (the rest of its line is dropped):
//   r  read      w  write      m  read/modify/write
//   b  change the default base (a base word is then asked)
//   f  delete all fixed fields
//   x  exit, as does any longer word that begins with x
// Letters in either case.  Example: "w" runs a write; "B" then "10" shows
// every later prompt and reply in decimal.
#ifndef ZARK_INTERACTIVE_INTERACTIVE_RMAP_H
#define ZARK_INTERACTIVE_INTERACTIVE_RMAP_H

#include "device/vantor_api.h"

// Runs the menu until the user leaves it or standard input ends.
void IR_MenuLoop(DeviceHandle device);

#endif
