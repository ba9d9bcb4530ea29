// Finding, choosing and opening the SpaceWire-USB adapter.
#ifndef ZARK_APP_DEVICE_OPENING_H
#define ZARK_APP_DEVICE_OPENING_H

#include "device/vantor_api.h"

// Opens device number (negative: none given), or lists the attached devices
// and lets the user choose.  Ends the program with status 0 when no usable
// device is attached.  The open device has header and network modes off and,
// when -timeout was given, its read time-out set.
DeviceHandle OpenDevice(int number);

#endif
