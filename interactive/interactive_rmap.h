// The interactive RMAP command/reply mode.
#ifndef ZARK_INTERACTIVE_INTERACTIVE_RMAP_H
#define ZARK_INTERACTIVE_INTERACTIVE_RMAP_H

#include "device/vantor_api.h"

// Runs the menu until the user leaves it.
void IR_MenuLoop(DeviceHandle device);

#endif
