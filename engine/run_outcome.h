// How an Execute or an update run ended, for front ends that report more than the window does
// (the command line's exit status).
#pragma once

namespace rx {

enum class RunOutcome {
    kNone,                // no run has ended yet
    kStarted,             // Execute started a run
    kCompleted,           // "Version update completed."
    kInProgress,          // Execute while a run is in progress
    kOutputOpenFailed,    // "Can't open MIDI Out device." at Execute
    kInputOpenFailed,     // "Can't open MIDI In device." at Execute
    kIdentitySendFailed,  // the Identity Request did not go out
    kIdentityTimeout,     // "Time out error(1)"
    kIllegalDevice,       // "Illegal device connected."
    kNotInUpdateMode,     // "Please use the firmware update mode."
    kBeginRefused,        // Begin Update answered with another failure status
    kEraseTimeout,        // "Time out error(3)"
    kEraseRefused,        // an Erase Range refused seven times
    kWriteTimeout,        // "Time out error(2)"
    kWriteRefused,        // a Write Block refused seven times
    kImageMissing,        // a firmware image could not be loaded
    kEndTimeout,          // no answer to End Update
    kClosed,              // the engine shut down during the run
};

}  // namespace rx
