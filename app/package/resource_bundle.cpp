#include "app/package/resource_bundle.h"

#include <algorithm>
#include <array>
#include <exception>
#include <fstream>
#include <limits>

#include "app/text/text_encoding.h"
#include "hidtransport/byte_order.h"

namespace zelk::app {
namespace {

constexpr std::array<std::uint8_t, 8> kMagic{'Z', 'E', 'L', 'K', 'P', 'A', 'C', 'K'};
// Offsets inside the trailer.
constexpr std::size_t kVersionAt = 0;
constexpr std::size_t kCountAt = 4;
constexpr std::size_t kBundleSizeAt = 8;
constexpr std::size_t kReservedAt = 16;
constexpr std::size_t kCrcAt = 20;
constexpr std::size_t kMagicAt = 24;
// The digest covers the bundle up to its own field.
constexpr std::size_t kUndigestedTail = kBundleTrailerSize - kCrcAt;
// Programs of this project are a few MiB; a file far beyond that is not one.
constexpr std::uintmax_t kMaxFileSize = 1u << 30;

std::uint64_t ReadLe64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(ReadLe32(p)) |
           (static_cast<std::uint64_t>(ReadLe32(p + 4)) << 32);
}

void AppendLe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void AppendLe64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    for (int shift = 0; shift < 64; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::u16string DecodeUtf16Le(std::span<const std::uint8_t> bytes) {
    std::u16string out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        out.push_back(static_cast<char16_t>(ReadLe16(&bytes[i])));
    }
    return out;
}

BundleReadResult Failure(BundleStatus status, std::string error) {
    BundleReadResult result;
    result.status = status;
    result.error = std::move(error);
    return result;
}

bool ContainsEntry(const std::vector<BundleEntry>& entries, std::u16string_view type,
                   std::uint32_t id) {
    for (const BundleEntry& entry : entries) {
        if (entry.id == id && SameResourceType(entry.type, type)) {
            return true;
        }
    }
    return false;
}

// Walks the entries of a bundle whose digest held. `region` is the bundle
// without its trailer.
BundleReadResult ParseEntries(std::span<const std::uint8_t> region, std::uint32_t count) {
    // Every entry takes at least its header: a count beyond that is false, and
    // checking it first keeps a forged count from reserving memory.
    if (count > region.size() / kBundleEntryHeaderSize) {
        return Failure(BundleStatus::Inconsistent, "the package counts " + std::to_string(count) +
                                                       " entries, more than its size can hold");
    }
    BundleReadResult result;
    result.entries.reserve(count);
    std::size_t at = 0;
    for (std::uint32_t index = 0; index < count; ++index) {
        const std::string which = "package entry " + std::to_string(index);
        if (region.size() - at < kBundleEntryHeaderSize) {
            return Failure(BundleStatus::Inconsistent, which + " runs past the package's end");
        }
        const std::uint8_t* header = &region[at];
        const std::uint8_t encoding = header[0];
        const std::uint16_t typeBytes = ReadLe16(header + 2);
        const std::uint32_t id = ReadLe32(header + 4);
        const std::uint32_t size = ReadLe32(header + 8);
        at += kBundleEntryHeaderSize;
        if (header[1] != 0) {
            return Failure(BundleStatus::Inconsistent, which + " has a nonzero reserved byte");
        }
        if (typeBytes == 0 || typeBytes > kBundleMaxTypeBytes) {
            return Failure(BundleStatus::Inconsistent,
                           which + " has a type name of " + std::to_string(typeBytes) + " bytes");
        }
        if (region.size() - at < typeBytes ||
            region.size() - at - typeBytes < static_cast<std::uint64_t>(size)) {
            return Failure(BundleStatus::Inconsistent, which + " runs past the package's end");
        }
        const std::span<const std::uint8_t> name = region.subspan(at, typeBytes);
        BundleEntry entry;
        if (encoding == static_cast<std::uint8_t>(TypeNameEncoding::Utf8)) {
            std::optional<std::u16string> decoded = DecodeUtf8Strict(
                std::string_view(reinterpret_cast<const char*>(name.data()), name.size()));
            if (!decoded) {
                return Failure(BundleStatus::Inconsistent,
                               which + " has a type name that is not UTF-8");
            }
            entry.type = std::move(*decoded);
        } else if (encoding == static_cast<std::uint8_t>(TypeNameEncoding::Utf16Le)) {
            if (typeBytes % 2 != 0) {
                return Failure(BundleStatus::Inconsistent,
                               which + " has a UTF-16 type name of an odd byte count");
            }
            entry.type = DecodeUtf16Le(name);
        } else {
            return Failure(
                BundleStatus::Inconsistent,
                which + " has an unknown type name encoding " + std::to_string(encoding));
        }
        at += typeBytes;
        entry.id = id;
        const std::span<const std::uint8_t> data = region.subspan(at, size);
        entry.bytes.assign(data.begin(), data.end());
        at += size;
        if (ContainsEntry(result.entries, entry.type, entry.id)) {
            return Failure(BundleStatus::Inconsistent,
                           which + " repeats a type and id that came before");
        }
        result.entries.push_back(std::move(entry));
    }
    if (at != region.size()) {
        return Failure(BundleStatus::Inconsistent, "the package holds " +
                                                       std::to_string(region.size() - at) +
                                                       " bytes that belong to no entry");
    }
    result.ok = true;
    result.status = BundleStatus::Ok;
    return result;
}

}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t value = n;
            for (int bit = 0; bit < 8; ++bit) {
                value = (value & 1u) != 0 ? 0xEDB88320u ^ (value >> 1) : value >> 1;
            }
            entries[n] = value;
        }
        return entries;
    }();
    crc = ~crc;
    for (const std::uint8_t byte : bytes) {
        crc = table[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
    }
    return ~crc;
}

bool SameResourceType(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    const auto fold = [](char16_t c) {
        return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
    };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) {
            return false;
        }
    }
    return true;
}

BundleReadResult ReadBundle(std::span<const std::uint8_t> file) {
    if (file.size() < kBundleTrailerSize) {
        BundleReadResult none = Failure(BundleStatus::NoBundle, "the file carries no package");
        none.executableSize = file.size();
        return none;
    }
    const std::span<const std::uint8_t> trailer = file.last(kBundleTrailerSize);
    if (!std::equal(kMagic.begin(), kMagic.end(), trailer.begin() + kMagicAt)) {
        BundleReadResult none = Failure(BundleStatus::NoBundle, "the file carries no package");
        none.executableSize = file.size();
        return none;
    }
    const std::uint32_t version = ReadLe32(&trailer[kVersionAt]);
    if (version != kBundleVersion) {
        return Failure(BundleStatus::UnsupportedVersion,
                       "the package has format version " + std::to_string(version) +
                           ", this program reads version " + std::to_string(kBundleVersion));
    }
    const std::uint32_t count = ReadLe32(&trailer[kCountAt]);
    const std::uint64_t bundleSize = ReadLe64(&trailer[kBundleSizeAt]);
    if (bundleSize < kBundleTrailerSize) {
        return Failure(BundleStatus::Inconsistent, "the package says it is " +
                                                       std::to_string(bundleSize) +
                                                       " bytes, less than its own trailer");
    }
    if (bundleSize > file.size()) {
        return Failure(BundleStatus::Truncated,
                       "the package says it is " + std::to_string(bundleSize) +
                           " bytes but the file has only " + std::to_string(file.size()));
    }
    const std::span<const std::uint8_t> bundle = file.last(static_cast<std::size_t>(bundleSize));
    const std::uint32_t stored = ReadLe32(&trailer[kCrcAt]);
    if (Crc32(bundle.first(bundle.size() - kUndigestedTail)) != stored) {
        return Failure(BundleStatus::DigestMismatch,
                       "the package's bytes do not match its CRC-32: it was altered");
    }
    if (ReadLe32(&trailer[kReservedAt]) != 0) {
        return Failure(BundleStatus::Inconsistent, "the package trailer's reserved field is set");
    }
    BundleReadResult result = ParseEntries(bundle.first(bundle.size() - kBundleTrailerSize), count);
    if (result.ok) {
        result.executableSize = file.size() - bundle.size();
    }
    return result;
}

BundleReadResult ReadBundleFile(const std::filesystem::path& path) {
    try {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec) || ec) {
            return Failure(BundleStatus::Unreadable, "not a readable regular file");
        }
        std::ifstream in(path, std::ios::in | std::ios::binary);
        if (!in.is_open()) {
            return Failure(BundleStatus::Unreadable, "cannot be opened");
        }
        in.seekg(0, std::ios::end);
        const std::streamoff end = in.tellg();
        if (!in || end < 0 || static_cast<std::uintmax_t>(end) > kMaxFileSize) {
            return Failure(BundleStatus::Unreadable, "has no size that can be read whole");
        }
        in.seekg(0, std::ios::beg);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(end));
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(end));
        if (in.gcount() != end) {
            return Failure(BundleStatus::Unreadable, "ended before its size was read");
        }
        return ReadBundle(bytes);
    } catch (const std::exception&) {
        return Failure(BundleStatus::Unreadable, "cannot be read (out of memory)");
    }
}

std::optional<std::vector<std::uint8_t>> WriteBundle(std::span<const std::uint8_t> executable,
                                                     const std::vector<BundleEntry>& entries) {
    if (entries.size() > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> out(executable.begin(), executable.end());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const BundleEntry& entry = entries[i];
        if (entry.bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
            return std::nullopt;
        }
        for (std::size_t k = 0; k < i; ++k) {
            if (entries[k].id == entry.id && SameResourceType(entries[k].type, entry.type)) {
                return std::nullopt;
            }
        }
        std::vector<std::uint8_t> name;
        TypeNameEncoding encoding = TypeNameEncoding::Utf8;
        const std::optional<std::string> utf8 = EncodeUtf8Strict(entry.type);
        if (utf8 && utf8->size() <= kBundleMaxTypeBytes) {
            name.assign(utf8->begin(), utf8->end());
        } else {
            encoding = TypeNameEncoding::Utf16Le;
            for (const char16_t unit : entry.type) {
                AppendLe16(name, unit);
            }
        }
        if (name.empty() || name.size() > kBundleMaxTypeBytes) {
            return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>(encoding));
        out.push_back(0);
        AppendLe16(out, static_cast<std::uint16_t>(name.size()));
        AppendLe32(out, entry.id);
        AppendLe32(out, static_cast<std::uint32_t>(entry.bytes.size()));
        out.insert(out.end(), name.begin(), name.end());
        out.insert(out.end(), entry.bytes.begin(), entry.bytes.end());
    }
    const std::size_t bundleStart = executable.size();
    const std::uint64_t bundleSize = out.size() - bundleStart + kBundleTrailerSize;
    AppendLe32(out, kBundleVersion);
    AppendLe32(out, static_cast<std::uint32_t>(entries.size()));
    AppendLe64(out, bundleSize);
    AppendLe32(out, 0);
    const std::uint32_t crc = Crc32(std::span<const std::uint8_t>(out).subspan(bundleStart));
    AppendLe32(out, crc);
    out.insert(out.end(), kMagic.begin(), kMagic.end());
    return out;
}

std::span<const std::uint8_t> StripBundle(std::span<const std::uint8_t> file) {
    const BundleReadResult read = ReadBundle(file);
    if (read.ok) {
        return file.first(read.executableSize);
    }
    return file;
}

}  // namespace zelk::app
