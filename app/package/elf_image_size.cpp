#include "app/package/elf_image_size.h"

#include <algorithm>
#include <limits>

#include "hidtransport/byte_order.h"

namespace zelk::app {
namespace {

constexpr std::uint8_t kClass32 = 1;
constexpr std::uint8_t kClass64 = 2;
constexpr std::uint8_t kLittleEndian = 1;
constexpr std::uint32_t kSectionNull = 0;
constexpr std::uint32_t kSectionNoBits = 8;

// Where the fields sit in each class.
struct Layout {
    std::size_t headerSize;
    std::size_t phoffAt, shoffAt, phentsizeAt, phnumAt, shentsizeAt, shnumAt;
    std::size_t pOffsetAt, pFileSizeAt;
    std::size_t shTypeAt, shOffsetAt, shSizeAt;
    bool wide;  // 64-bit addresses and sizes
};

constexpr Layout kElf32{52, 0x1C, 0x20, 0x2A, 0x2C, 0x2E, 0x30, 4, 16, 4, 0x10, 0x14, false};
constexpr Layout kElf64{64, 0x20, 0x28, 0x36, 0x38, 0x3A, 0x3C, 8, 0x20, 4, 0x18, 0x20, true};

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
    return (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a)
               ? std::numeric_limits<std::uint64_t>::max()
               : a * b;
}

class Reader {
  public:
    Reader(std::span<const std::uint8_t> file, bool wide) : file_(file), wide_(wide) {}

    bool Has(std::uint64_t at, std::uint64_t size) const {
        return at <= file_.size() && size <= file_.size() - at;
    }
    std::uint16_t U16(std::uint64_t at) const { return ReadLe16(&file_[at]); }
    std::uint32_t U32(std::uint64_t at) const { return ReadLe32(&file_[at]); }
    // An address-sized field: 4 bytes in ELF32, 8 in ELF64.
    std::uint64_t Word(std::uint64_t at) const {
        if (!wide_) {
            return U32(at);
        }
        return static_cast<std::uint64_t>(U32(at)) |
               (static_cast<std::uint64_t>(U32(at + 4)) << 32);
    }
    std::size_t WordSize() const { return wide_ ? 8 : 4; }

  private:
    std::span<const std::uint8_t> file_;
    bool wide_;
};

}  // namespace

std::optional<std::uint64_t> ElfImageSize(std::span<const std::uint8_t> file) {
    if (file.size() < 6 || file[0] != 0x7F || file[1] != 'E' || file[2] != 'L' || file[3] != 'F' ||
        file[5] != kLittleEndian) {
        return std::nullopt;
    }
    const Layout* layout = nullptr;
    if (file[4] == kClass32) {
        layout = &kElf32;
    } else if (file[4] == kClass64) {
        layout = &kElf64;
    } else {
        return std::nullopt;
    }
    const Reader read(file, layout->wide);
    if (!read.Has(0, layout->headerSize)) {
        return std::nullopt;
    }
    const std::uint64_t phoff = read.Word(layout->phoffAt);
    const std::uint64_t shoff = read.Word(layout->shoffAt);
    const std::uint16_t phentsize = read.U16(layout->phentsizeAt);
    const std::uint16_t phnum = read.U16(layout->phnumAt);
    const std::uint16_t shentsize = read.U16(layout->shentsizeAt);
    std::uint64_t shnum = read.U16(layout->shnumAt);
    // With 0xFF00 sections or more the count moves to section 0's size field.
    if (shnum == 0 && shoff != 0 && read.Has(shoff, shentsize) &&
        shentsize >= layout->shSizeAt + read.WordSize()) {
        shnum = read.Word(shoff + layout->shSizeAt);
    }

    std::uint64_t end = layout->headerSize;
    const auto extend = [&end](std::uint64_t at, std::uint64_t size) {
        end = std::max(end, SaturatingAdd(at, size));
    };
    if (phnum != 0) {
        extend(phoff, SaturatingMultiply(phnum, phentsize));
        if (phentsize >= layout->pFileSizeAt + read.WordSize()) {
            for (std::uint64_t i = 0; i < phnum; ++i) {
                const std::uint64_t at = SaturatingAdd(phoff, i * phentsize);
                if (!read.Has(at, phentsize)) {
                    break;  // the table itself runs past the file: already counted
                }
                extend(read.Word(at + layout->pOffsetAt), read.Word(at + layout->pFileSizeAt));
            }
        }
    }
    if (shnum != 0 && shoff != 0) {
        extend(shoff, SaturatingMultiply(shnum, shentsize));
        if (shentsize >= layout->shSizeAt + read.WordSize()) {
            for (std::uint64_t i = 0; i < shnum; ++i) {
                const std::uint64_t at = SaturatingAdd(shoff, SaturatingMultiply(i, shentsize));
                if (!read.Has(at, shentsize)) {
                    break;
                }
                const std::uint32_t type = read.U32(at + layout->shTypeAt);
                if (type != kSectionNull && type != kSectionNoBits) {
                    extend(read.Word(at + layout->shOffsetAt), read.Word(at + layout->shSizeAt));
                }
            }
        }
    }
    return end;
}

}  // namespace zelk::app
