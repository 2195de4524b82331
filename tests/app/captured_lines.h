// The JSON lines a sink wrote, read back from a temporary file.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

namespace zelk::app {

class CapturedLines {
  public:
    CapturedLines() : file_(std::tmpfile()) {}
    ~CapturedLines() { std::fclose(file_); }
    CapturedLines(const CapturedLines&) = delete;
    CapturedLines& operator=(const CapturedLines&) = delete;
    std::FILE* File() { return file_; }
    std::vector<nlohmann::json> Events() {
        std::vector<nlohmann::json> events;
        std::rewind(file_);
        char line[8192];
        while (std::fgets(line, sizeof line, file_) != nullptr) {
            events.push_back(nlohmann::json::parse(line));  // throws on a broken line
        }
        return events;
    }

  private:
    std::FILE* file_;
};

}  // namespace zelk::app
