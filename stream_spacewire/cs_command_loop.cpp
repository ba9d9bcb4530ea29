#include "stream_spacewire/cs_command_loop.h"

void CS_CommandLoop(DeviceHandle, std::FILE *, std::FILE *, std::FILE *)
{
}
