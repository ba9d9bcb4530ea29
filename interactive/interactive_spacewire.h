// The interactive SpaceWire command/reply mode.
#ifndef ZARK_INTERACTIVE_INTERACTIVE_SPACEWIRE_H
#define ZARK_INTERACTIVE_INTERACTIVE_SPACEWIRE_H

#include "device/vantor_api.h"

// Runs the mode until the user leaves it.
void IS_RequestCommand(DeviceHandle device);

#endif
