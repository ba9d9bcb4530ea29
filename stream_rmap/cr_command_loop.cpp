#include "stream_rmap/cr_command_loop.h"

void CR_CommandLoop(DeviceHandle, std::FILE *, std::FILE *, std::FILE *)
{
}
