#include "cli/exit_codes.h"

namespace cli {

int ExitCodeFor(rx::RunOutcome outcome) {
    using rx::RunOutcome;
    switch (outcome) {
        case RunOutcome::kCompleted:
            return kExitCompleted;
        case RunOutcome::kOutputOpenFailed:
            return kExitOutputOpen;
        case RunOutcome::kInputOpenFailed:
            return kExitInputOpen;
        case RunOutcome::kIdentitySendFailed:
            return kExitIdentitySend;
        case RunOutcome::kIdentityTimeout:
            return kExitIdentityTimeout;
        case RunOutcome::kIllegalDevice:
            return kExitIllegalDevice;
        case RunOutcome::kNotInUpdateMode:
            return kExitNotInUpdateMode;
        case RunOutcome::kBeginRefused:
            return kExitBeginRefused;
        case RunOutcome::kEraseTimeout:
            return kExitEraseTimeout;
        case RunOutcome::kEraseRefused:
            return kExitEraseRefused;
        case RunOutcome::kWriteTimeout:
            return kExitWriteTimeout;
        case RunOutcome::kWriteRefused:
            return kExitWriteRefused;
        case RunOutcome::kImageMissing:
            return kExitImageMissing;
        case RunOutcome::kEndTimeout:
            return kExitEndTimeout;
        case RunOutcome::kClosed:
            return kExitInterrupted;
        case RunOutcome::kNone:
        case RunOutcome::kStarted:
        case RunOutcome::kInProgress:
            break;
    }
    return 1;  // a run that ended without saying how is never a success
}

const char* ExitCodeHelp() {
    return "Exit status:\n"
           "  0    the update completed (\"Version update completed.\")\n"
           "  2    bad command line\n"
           "  3    no MIDI IN or MIDI OUT device selected, or no such device\n"
           "  10   \"Can't open MIDI Out device.\" (the output did not open)\n"
           "  11   \"Can't open MIDI In device.\"\n"
           "  12   \"Can't open MIDI Out device.\" (the Identity Request did not go out)\n"
           "  13   \"Time out error(1)\": no answer to the Identity Request\n"
           "  14   \"Illegal device connected.\"\n"
           "  15   \"Please use the firmware update mode.\"\n"
           "  16   \"Transfer error occurred.\": Begin Update refused\n"
           "  17   \"Time out error(3)\": an erase was not confirmed in time\n"
           "  18   \"Transfer error occurred.\": an erase was refused 7 times\n"
           "  19   \"Time out error(2)\": a block was not acknowledged after 7 tries\n"
           "  20   \"Transfer error occurred.\": a block was refused 7 times in a row\n"
           "  21   \"Transfer error occurred.\": a firmware image could not be loaded\n"
           "  22   \"Transfer error occurred.\": no answer to End Update\n"
           "  130  interrupted (Ctrl-C): the run was stopped\n"
           "  1    any other failure\n";
}

}  // namespace cli
