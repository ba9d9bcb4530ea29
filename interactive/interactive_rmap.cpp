#include "interactive/interactive_rmap.h"

void IR_MenuLoop(DeviceHandle)
{
}
