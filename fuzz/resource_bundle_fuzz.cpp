// Feeds arbitrary file bytes to the package reader and to the ELF size check
// that the Linux look-up runs on the same bytes, checking what callers rely
// on: a result that says why it failed, entries only on success, and an
// intact package that reads back the same after being written again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "app/package/elf_image_size.h"
#include "app/package/resource_bundle.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    (void)zelk::app::ElfImageSize(file);
    const zelk::app::BundleReadResult read = zelk::app::ReadBundle(file);
    Require(read.ok == (read.status == zelk::app::BundleStatus::Ok));
    Require(read.ok == read.error.empty());
    Require(read.ok || read.entries.empty());
    Require(read.executableSize <= size);
    const std::span<const std::uint8_t> program = zelk::app::StripBundle(file);
    Require(program.size() == (read.ok ? read.executableSize : size));
    if (read.ok) {
        const auto again = zelk::app::WriteBundle(program, read.entries);
        Require(again.has_value());
        const zelk::app::BundleReadResult reread = zelk::app::ReadBundle(*again);
        Require(reread.ok && reread.entries == read.entries &&
                reread.executableSize == read.executableSize);
    }
    return 0;
}
