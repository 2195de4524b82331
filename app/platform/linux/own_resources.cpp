// The package appended to the running program (see resource_bundle.h). The
// file is read and checked once per process; every look-up answers from that.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "app/package/elf_image_size.h"
#include "app/package/resource_bundle.h"
#include "app/platform/platform.h"

namespace zelk::app::platform {
namespace {

struct OwnPackage {
    // Found: the bundle is intact. NotFound: the program carries none.
    // Unusable: it carries one that is damaged, or the file cannot be read.
    ResourceLookup state = ResourceLookup::Unusable;
    std::vector<BundleEntry> entries;
};

// The running program's file, mapped read-only: only the pages that are
// looked at (the trailer and the package at the end, or the ELF headers) are
// ever read into memory, not the whole program with its debug information.
class MappedProgram {
  public:
    MappedProgram() {
        // The kernel's link opens the program that runs, even when its file
        // has been renamed or replaced since.
        const int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return;
        }
        struct stat info {};
        if (::fstat(fd, &info) == 0 && info.st_size > 0) {
            void* at = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ,
                              MAP_PRIVATE, fd, 0);
            if (at != MAP_FAILED) {
                data_ = static_cast<const std::uint8_t*>(at);
                size_ = static_cast<std::size_t>(info.st_size);
            }
        }
        ::close(fd);
    }
    ~MappedProgram() {
        if (data_ != nullptr) {
            ::munmap(const_cast<std::uint8_t*>(data_), size_);
        }
    }
    MappedProgram(const MappedProgram&) = delete;
    MappedProgram& operator=(const MappedProgram&) = delete;

    bool ok() const { return data_ != nullptr; }
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

  private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

OwnPackage LoadOwnPackage() {
    const MappedProgram program;
    if (!program.ok()) {
        return {};
    }
    const std::span<const std::uint8_t> file = program.bytes();
    BundleReadResult read = ReadBundle(file);
    OwnPackage package;
    const std::optional<std::uint64_t> image = ElfImageSize(file);
    if (read.ok) {
        // The package starts where the program's image ends. Bytes between
        // the two (an earlier package left in place, say) are no part of
        // either, so the file is not what its packager wrote.
        if (image && *image != read.executableSize) {
            return package;
        }
        package.state = ResourceLookup::Found;
        package.entries = std::move(read.entries);
        return package;
    }
    if (read.status != BundleStatus::NoBundle) {
        return package;
    }
    // No trailer. Bytes beyond what the ELF headers account for are a package
    // whose end was cut off; a program without a package ends with its image.
    if (image && *image != file.size()) {
        return package;
    }
    package.state = ResourceLookup::NotFound;
    return package;
}

const OwnPackage& Package() {
    static const OwnPackage package = LoadOwnPackage();
    return package;
}

}  // namespace

ResourceLookup FindOwnResource(std::u16string_view type, int id, std::vector<std::uint8_t>& bytes) {
    const OwnPackage& package = Package();
    if (package.state != ResourceLookup::Found) {
        return package.state;
    }
    if (id < 0) {
        return ResourceLookup::NotFound;
    }
    for (const BundleEntry& entry : package.entries) {
        if (entry.id == static_cast<std::uint32_t>(id) && SameResourceType(entry.type, type)) {
            if (entry.bytes.empty()) {
                return ResourceLookup::Unusable;
            }
            bytes = entry.bytes;
            return ResourceLookup::Found;
        }
    }
    return ResourceLookup::NotFound;
}

}  // namespace zelk::app::platform
