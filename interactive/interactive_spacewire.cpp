#include "interactive/interactive_spacewire.h"

void IS_RequestCommand(DeviceHandle)
{
}
