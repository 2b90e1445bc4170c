#include "engine/diagnostic_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "log_dir.h"

namespace {

std::tm Utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

struct LineCase {
    std::tm utc;
    int index;
    const char* line;
};

TEST(DiagnosticLog, LineShowsUtcDateWithHourPlusNineAndNoCarry) {
    const LineCase cases[] = {
        {Utc(2012, 5, 1, 20, 15, 7), 0, "2012/05/01 29:15:07     Midi out error.\r\n"},
        {Utc(2026, 12, 31, 23, 30, 0), 3, "2026/12/31 32:30:00     (Erase)Time Out Error.\r\n"},
        {Utc(2026, 1, 2, 0, 5, 0), 6, "2026/01/02 09:05:00     (Write)Time Out Error.\r\n"},
        {Utc(2026, 3, 4, 5, 6, 9), 5,
         "2026/03/04 14:06:09     (Flash Write)Transfer error occurred.\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rx::FormatLogLine(c.index, c.utc), c.line);
    }
}

TEST(DiagnosticLog, TextsAreTheFixedSeven) {
    const char* expected[] = {"Midi out error.",
                              "Illegal device connected.",
                              "Please use the firmware update mode.",
                              "(Erase)Time Out Error.",
                              "(CRC)Transfer error occurred.",
                              "(Flash Write)Transfer error occurred.",
                              "(Write)Time Out Error."};
    for (int i = 0; i < 7; ++i) {
        EXPECT_STREQ(rx::LogText(i), expected[i]);
    }
}

TEST(DiagnosticLog, MissingFileIsNeverCreated) {
    ScopedLogDir dir(false);
    rx::WriteLog(rx::kLogMidiOutError);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "TEST_LOG.txt"));
}

TEST(DiagnosticLog, ExistingFileGetsLinesAppendedInOrder) {
    ScopedLogDir dir;
    rx::WriteLog(rx::kLogCrcError);
    rx::WriteLog(rx::kLogCrcError);
    rx::WriteLog(rx::kLogWriteTimeout);
    const std::vector<std::string> expected = {
        "(CRC)Transfer error occurred.", "(CRC)Transfer error occurred.", "(Write)Time Out Error."};
    EXPECT_EQ(dir.Texts(), expected);
    const std::string contents = dir.Contents();
    EXPECT_EQ(contents.substr(contents.size() - 2), "\r\n");
}

TEST(DiagnosticLog, DirectoryOfThatNameIsLeftAlone) {
    ScopedLogDir dir(false);
    std::filesystem::create_directory(dir.Path() / "TEST_LOG.txt");
    rx::WriteLog(rx::kLogMidiOutError);
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "TEST_LOG.txt"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path() / "TEST_LOG.txt"));
}

}  // namespace
