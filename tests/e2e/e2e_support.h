// What the end-to-end tests read back from the programs: rx300-sim's reports and the lines of
// TEST_LOG.txt.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace e2e {

// One report of rx300-sim: its heading ("End Update 1 answered", "stopped by SIGTERM") and its
// "key: value" lines, with the received counts taken apart.
struct SimReport {
    std::string heading;
    std::map<std::string, std::string> fields;
    std::map<std::string, long> received;

    // Empty, and 0, for what the report does not hold.
    std::string Field(const std::string& key) const;
    long Received(const std::string& kind) const;
};

// Every report in rx300-sim's stdout, in order.
std::vector<SimReport> SimReports(const std::string& output);

// The texts of TEST_LOG.txt's lines, each checked against "YYYY/MM/DD HH:MM:SS     TEXT\r\n";
// a line that does not fit is returned whole, prefixed "malformed: ".
std::vector<std::string> LogTexts(const std::filesystem::path& file);

// A fresh folder for one test, removed with everything in it when the object goes.
class CTempFolder {
  public:
    CTempFolder();
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // A sub-folder holding an empty TEST_LOG.txt, to run one program in.
    std::filesystem::path WorkDir(const std::string& name) const;

  private:
    std::filesystem::path m_path;
};

}  // namespace e2e
