// The optional diagnostic log: failures are appended to TEST_LOG.txt in the working directory,
// but only when that file already exists; the program never creates it.
#pragma once

#include <ctime>
#include <string>

namespace rx {

enum LogIndex {
    kLogMidiOutError = 0,
    kLogIllegalDevice = 1,
    kLogUseUpdateMode = 2,
    kLogEraseTimeout = 3,
    kLogCrcError = 4,
    kLogFlashWriteError = 5,
    kLogWriteTimeout = 6,
};

constexpr const char* kLogFileName = "TEST_LOG.txt";

const char* LogText(int index);

// The line for `index` at the UTC time `utc`, with its CR LF end. The hour is UTC + 9 with no
// carry into the date (09 to 32): existing logs and the tools that read them use that form.
std::string FormatLogLine(int index, const std::tm& utc);

// Appends the line for `index` to TEST_LOG.txt if the file exists; never fails its caller.
void WriteLog(int index);

}  // namespace rx
