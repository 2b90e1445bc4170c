#include "tests/e2e/e2e_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <regex>
#include <sstream>

namespace e2e {

namespace {

// "identity-request 1, begin-update 1" into its counts.
std::map<std::string, long> Counts(const std::string& text) {
    std::map<std::string, long> counts;
    static const std::regex item("([a-z-]+) ([0-9]+)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), item);
         it != std::sregex_iterator(); ++it) {
        counts[(*it)[1]] = std::stol((*it)[2]);
    }
    return counts;
}

}  // namespace

std::string SimReport::Field(const std::string& key) const {
    const auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
}

long SimReport::Received(const std::string& kind) const {
    const auto found = received.find(kind);
    return found == received.end() ? 0 : found->second;
}

std::vector<SimReport> SimReports(const std::string& output) {
    std::vector<SimReport> reports;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos && !line.empty() && line.back() == ':') {
            reports.push_back({line.substr(0, line.size() - 1), {}, {}});
            continue;
        }
        if (reports.empty() || colon == std::string::npos) {
            continue;
        }
        SimReport& report = reports.back();
        const std::string key = line.substr(0, colon);
        const std::string value = line.substr(colon + 2);
        report.fields[key] = value;
        if (key == "received") {
            report.received = Counts(value);
        }
    }
    return reports;
}

std::vector<std::string> LogTexts(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    static const std::regex entry(
        "[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}     ([^\r\n]*)\r");
    std::vector<std::string> texts;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool whole = end != std::string::npos;
        const std::string line = text.substr(start, whole ? end - start : std::string::npos);
        std::smatch match;
        if (whole && std::regex_match(line, match, entry)) {
            texts.push_back(match[1]);
        } else {
            texts.push_back("malformed: " + line);
        }
        start = whole ? end + 1 : text.size();
    }
    return texts;
}

CTempFolder::CTempFolder() {
    std::string pattern = (std::filesystem::path(testing::TempDir()) / "rx300-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        m_path = pattern;
    }
}

CTempFolder::~CTempFolder() {
    if (!m_path.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
}

std::filesystem::path CTempFolder::WorkDir(const std::string& name) const {
    const std::filesystem::path dir = m_path / name;
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    std::ofstream(dir / "TEST_LOG.txt").flush();
    return dir;
}

}  // namespace e2e
