// The command line's exit status for each way a run can end; --help prints the table.
#pragma once

#include "engine/run_outcome.h"

namespace cli {

enum ExitCode : int {
    kExitCompleted = 0,
    kExitUsage = 2,
    kExitNoDevice = 3,
    kExitOutputOpen = 10,
    kExitInputOpen = 11,
    kExitIdentitySend = 12,
    kExitIdentityTimeout = 13,
    kExitIllegalDevice = 14,
    kExitNotInUpdateMode = 15,
    kExitBeginRefused = 16,
    kExitEraseTimeout = 17,
    kExitEraseRefused = 18,
    kExitWriteTimeout = 19,
    kExitWriteRefused = 20,
    kExitImageMissing = 21,
    kExitEndTimeout = 22,
    kExitInterrupted = 130,
};

int ExitCodeFor(rx::RunOutcome outcome);

// The table for --help.
const char* ExitCodeHelp();

}  // namespace cli
