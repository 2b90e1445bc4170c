// Runs a test in a fresh working directory, optionally with TEST_LOG.txt switched on.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class ScopedLogDir {
  public:
    explicit ScopedLogDir(bool withLog = true) {
        char pattern[] = "/tmp/rx300-test-XXXXXX";
        m_dir = mkdtemp(pattern);
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(m_dir);
        if (withLog) {
            std::ofstream("TEST_LOG.txt");
        }
    }
    ~ScopedLogDir() {
        std::filesystem::current_path(m_previous);
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    std::string Contents() const {
        std::ifstream in(m_dir / "TEST_LOG.txt", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // The text of every line, without time stamp and line end.
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        std::istringstream in(Contents());
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            texts.push_back(line.size() > 24 ? line.substr(24) : line);
        }
        return texts;
    }
    const std::filesystem::path& Path() const { return m_dir; }

  private:
    std::filesystem::path m_dir;
    std::filesystem::path m_previous;
};
