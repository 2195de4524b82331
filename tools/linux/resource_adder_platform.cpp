// Linux: the resources travel as a package appended to the ELF file.
#include "tools/resource_adder_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "app/package/elf_image_size.h"
#include "app/package/resource_bundle.h"
#include "tools/resource_adder_arguments.h"

namespace zelk::tools {
namespace {

namespace fs = std::filesystem;

std::string Show(const fs::path& path) {
    return path.string();
}

WriteResult Failed(WriteOutcome outcome, std::string error) {
    return {outcome, std::move(error)};
}

// Why the updater's bytes cannot simply be repackaged, or nothing.
std::optional<std::string> UpdaterProblem(const std::vector<std::uint8_t>& bytes) {
    const app::BundleReadResult read = app::ReadBundle(bytes);
    const std::optional<std::uint64_t> image = app::ElfImageSize(bytes);
    if (read.ok) {
        // Only the last package is replaced: anything between the program and
        // it (a stale package, say) would be carried into the copy, which the
        // updater then refuses as damaged.
        if (image && *image < read.executableSize) {
            return "has " + std::to_string(read.executableSize - *image) +
                   " bytes between its program and its package; package a clean build instead";
        }
        if (image && *image > read.executableSize) {
            return "carries a package that overlaps its program; package a clean build instead";
        }
        return std::nullopt;
    }
    if (read.status != app::BundleStatus::NoBundle) {
        return "carries a damaged package (" + read.error + "); package a clean build instead";
    }
    if (image && *image > bytes.size()) {
        return "is cut short: its ELF headers need " + std::to_string(*image) + " bytes, it has " +
               std::to_string(bytes.size());
    }
    if (image && *image < bytes.size()) {
        return "has " + std::to_string(bytes.size() - *image) +
               " bytes after its program that are no intact package; package a clean build "
               "instead";
    }
    return std::nullopt;
}

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// Makes the rename itself durable; a failure here loses nothing written.
void SyncDirectory(const fs::path& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::vector<fs::path> ProgramArguments(int argc, char** argv) {
    std::vector<fs::path> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return arguments;
}

WriteResult WritePackagedCopy(const fs::path& updater,
                              const std::vector<std::uint8_t>& updaterBytes, const fs::path& output,
                              const std::vector<PackageResource>& resources) {
    if (const std::optional<std::string> problem = UpdaterProblem(updaterBytes)) {
        return Failed(WriteOutcome::BadUpdater, Show(updater) + " (UPDATER): " + *problem);
    }
    struct stat updaterStat {};
    if (::stat(updater.c_str(), &updaterStat) != 0) {
        return Failed(WriteOutcome::BadUpdater,
                      Show(updater) + " (UPDATER): " + std::strerror(errno));
    }
    std::vector<app::BundleEntry> entries;
    for (const PackageResource& resource : resources) {
        entries.push_back({resource.type, resource.id, resource.bytes});
    }
    const std::optional<std::vector<std::uint8_t>> packaged =
        app::WriteBundle(app::StripBundle(updaterBytes), entries);
    if (!packaged) {
        return Failed(WriteOutcome::WriteFailed, "the package cannot hold these resources");
    }

    std::string temp = output.string() + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return Failed(WriteOutcome::WriteFailed,
                      Show(output) + ": cannot create a file beside it: " + std::strerror(errno));
    }
    // The copy runs as the updater does; set-id bits are not carried over.
    const mode_t mode = updaterStat.st_mode & 0777;
    const char* step = nullptr;
    int error = 0;
    const auto fail = [&step, &error](const char* what) {
        if (step == nullptr) {
            step = what;
            error = errno;
        }
    };
    if (::fchmod(fd, mode) != 0) {
        fail("cannot set its permissions");
    } else if (!WriteAll(fd, *packaged)) {
        fail("cannot write it");
    } else if (::fsync(fd) != 0) {
        fail("cannot flush it to disk");
    }
    if (::close(fd) != 0) {
        fail("cannot close it");
    }
    if (step == nullptr && ::rename(temp.c_str(), output.c_str()) != 0) {
        fail("cannot put it in place");
    }
    if (step != nullptr) {
        ::unlink(temp.c_str());
        return Failed(WriteOutcome::WriteFailed,
                      Show(output) + ": " + step + ": " + std::strerror(error));
    }
    SyncDirectory(output.has_parent_path() ? output.parent_path() : fs::path("."));
    return {WriteOutcome::Written, {}};
}

std::optional<std::string> ProgramFormatProblem(std::span<const std::uint8_t> bytes) {
    return ElfProgramProblem(bytes);
}

}  // namespace zelk::tools
