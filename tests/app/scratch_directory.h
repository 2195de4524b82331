// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace zelk::app {

class ScratchDirectory {
  public:
    // `name` ends up in the path, so a test can give it a blank.
    explicit ScratchDirectory(const std::string& name = "zelk-app-test") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    // Empty when the directory could not be made.
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace zelk::app
