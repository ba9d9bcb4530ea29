#include "app/end_of_input.h"

#include <cstdio>
#include <cstdlib>

void EndOfInputExit(bool after_prompt)
{
    if (after_prompt) {
        std::putchar('\n');
    }
    std::puts("Standard input has ended, exiting.");
    std::fflush(stdout);
    std::exit(0);
}
