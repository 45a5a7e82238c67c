// Reading the run's log and writing its settings, on both platforms (declared in e2e.h).
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "support/e2e.h"
#include "support/temp_dir.h"

namespace brimlet::test {

LogFileContent ReadLog(const std::string& path) {
    LogFileContent log;
    log.raw = ReadFile(path);
    std::size_t pos = 0;
    while (pos < log.raw.size()) {
        std::size_t end = log.raw.find("\r\n", pos);
        if (end == std::string::npos) {
            end = log.raw.size();
            log.lastLineEnded = false;
        }
        const std::string line = log.raw.substr(pos, end - pos);
        pos = end + 2;
        if (line.rfind('#', 0) == 0 || line.rfind("---", 0) == 0) {
            log.header.push_back(line);
            continue;
        }
        LogColumns cols;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', start);
            cols.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
            if (tab == std::string::npos) {
                break;
            }
            start = tab + 1;
        }
        log.entries.push_back(cols);
    }
    return log;
}

std::vector<LogColumns> CheckedEntries(const LogFileContent& log) {
    EXPECT_TRUE(log.lastLineEnded) << "log line without CR LF at the end: " << log.raw;
    std::vector<LogColumns> out;
    for (const LogColumns& cols : log.entries) {
        std::string line;
        for (const std::string& c : cols) {
            line += c;
            line += '\t';
        }
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "line break in entry: " << line;
        EXPECT_EQ(cols.size(), 7u) << "entry without seven columns: " << line;
        if (cols.size() == 7) {
            out.emplace_back(cols.begin() + 1, cols.end());
        }
    }
    return out;
}

std::string FindLogFile(const std::string& dir) {
    const std::string logDir = dir + "/Log";
    std::string found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(logDir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0) {
            found = logDir;
            found += "/";
            found += name;
        }
    }
    return found;
}

std::vector<std::string> EntryTexts(const LogFileContent& log) {
    std::vector<std::string> out;
    for (const auto& cols : log.entries) {
        std::string s;
        for (std::size_t i = 1; i < cols.size(); ++i) {
            if (i > 1) {
                s += "|";
            }
            s += cols[i];
        }
        out.push_back(s);
    }
    return out;
}

void WriteIni(const std::string& dir, const std::vector<std::string>& lines) {
#ifdef _WIN32
    std::error_code ec;
    std::filesystem::create_directory(dir + "/Ini", ec);
#else
    ::mkdir((dir + "/Ini").c_str(), 0755);
#endif
    std::string content = "[Brimlet]\r\n";
    for (const auto& l : lines) {
        content += l + "\r\n";
    }
    WriteFile(dir + "/Ini/dbstring.Ini", content);
#ifndef _WIN32
    // As installed: the password is not for every local user to read.
    ::chmod((dir + "/Ini/dbstring.Ini").c_str(), 0640);
#endif
}

}  // namespace brimlet::test
