// Small helpers shared by the fuzz targets.
#pragma once

#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zelk::fuzz {

// A broken invariant is a crash, so the fuzzer keeps the input that broke it.
inline void Require(bool condition, const char* what) {
    if (!condition) {
        // Through the sanitizers' report channel, which stays open when the
        // fuzzer is told to close the program's own output.
        __sanitizer_report_error_summary((std::string("invariant broken: ") + what).c_str());
        std::abort();
    }
}

// A directory of this process's own, made once and removed at exit, for the
// targets whose parser reads a file by name.
inline const std::filesystem::path& ScratchDirectory() {
    // Never destroyed: the exit handler that removes the directory runs after
    // the static objects made later than its registration are gone.
    static const std::filesystem::path& directory = *[] {
        auto* made = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                               ("zelk_fuzz_" + std::to_string(::getpid())));
        std::filesystem::create_directories(*made);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchDirectory(), ignored);
        });
        return made;
    }();
    return directory;
}

// Writes the input to `name` in the scratch directory, replacing it.
inline std::filesystem::path WriteScratchFile(std::string_view name, const std::uint8_t* data,
                                              std::size_t size) {
    const std::filesystem::path path = ScratchDirectory() / std::string(name);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Require(file != nullptr, "scratch file can be created");
    Require(size == 0 || std::fwrite(data, 1, size, file) == size, "scratch file is written");
    std::fclose(file);
    return path;
}

// The input as a program's command line: `program`, then the input's
// NUL-separated parts (a trailing empty part dropped), as argc/argv.
class CommandLine {
  public:
    CommandLine(const char* program, const std::uint8_t* data, std::size_t size)
        : arguments_{program} {
        std::string current;
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == 0) {
                arguments_.push_back(current);
                current.clear();
            } else {
                current.push_back(static_cast<char>(data[i]));
            }
        }
        if (!current.empty()) {
            arguments_.push_back(current);
        }
        for (std::string& argument : arguments_) {
            argv_.push_back(argument.data());
        }
        argv_.push_back(nullptr);
    }
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    int Argc() const { return static_cast<int>(arguments_.size()); }
    char** Argv() { return argv_.data(); }

  private:
    std::vector<std::string> arguments_;
    std::vector<char*> argv_;
};

// Takes input bytes from the front, zero once they run out.
class ByteReader {
  public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() {
        if (size_ == 0) {
            return 0;
        }
        --size_;
        return *data_++;
    }
    std::uint16_t Word() {
        const std::uint16_t low = Byte();
        return static_cast<std::uint16_t>(low | (Byte() << 8));
    }
    const std::uint8_t* Rest() const { return data_; }
    std::size_t RestSize() const { return size_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace zelk::fuzz
