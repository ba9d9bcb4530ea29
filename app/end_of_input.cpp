#include "app/end_of_input.h"

#include <cstdio>
#include <cstdlib>

void EndOfInputExit()
{
    std::puts("\nStandard input has ended, exiting.");
    std::fflush(stdout);
    std::exit(0);
}
