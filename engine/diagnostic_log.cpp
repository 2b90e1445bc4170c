#include "engine/diagnostic_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace rx {

namespace {

constexpr const char* kLogTexts[] = {
    "Midi out error.",
    "Illegal device connected.",
    "Please use the firmware update mode.",
    "(Erase)Time Out Error.",
    "(CRC)Transfer error occurred.",
    "(Flash Write)Transfer error occurred.",
    "(Write)Time Out Error.",
};

}  // namespace

const char* LogText(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kLogTexts))) {
        return "";
    }
    return kLogTexts[index];
}

std::string FormatLogLine(int index, const std::tm& utc) {
    char line[100] = {};
    std::snprintf(line, sizeof line, "%04d/%02d/%02d %02d:%02d:%02d     %s\r\n", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour + 9, utc.tm_min, utc.tm_sec,
                  LogText(index));
    return line;
}

void WriteLog(int index) {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    const std::string line = FormatLogLine(index, utc);

    // No O_CREAT: a missing file stays missing. O_APPEND keeps each line whole when several
    // copies of the program log into the same directory.
    int fd = ::open(kLogFileName, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        [[maybe_unused]] ssize_t written = ::write(fd, line.data(), line.size());
    }
    ::close(fd);
}

}  // namespace rx
