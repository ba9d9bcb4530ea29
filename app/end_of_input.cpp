#include "app/end_of_input.h"

#include <cstdio>
#include <cstdlib>

#include "app/settings.h"
#include "common/run_outcome.h"

void EndOfInputExit(bool after_prompt)
{
    if (after_prompt) {
        std::putchar('\n');
    }
    std::puts("Standard input has ended, exiting.");
    std::fflush(stdout);
    std::exit(strict_mode ? RUN_STARTUP_FAILED : 0);
}
