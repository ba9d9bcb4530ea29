// How a mode's run ended, which -strict turns into the exit status.
#ifndef ZARK_COMMON_RUN_OUTCOME_H
#define ZARK_COMMON_RUN_OUTCOME_H

enum RunOutcome : int {
    RUN_SUCCEEDED = 0,
    RUN_COUNTED_ERRORS = 1,
    RUN_LIST_REFUSED = 2,   // reading, preprocessing, parsing or expanding failed: nothing was sent
    RUN_STARTUP_FAILED = 3, // no usable device, or input ended at a start-up question
};

#endif
