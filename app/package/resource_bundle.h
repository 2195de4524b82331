// The package appended to a Linux executable: the resources that a Windows
// build carries as resources of its .exe (type name, numeric id, bytes) travel
// as a bundle at the end of the file. The layout is in docs/embedded-package.md.
// Portable: no OS calls, every field read and written little-endian by hand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zelk::app {

inline constexpr std::size_t kBundleTrailerSize = 32;
inline constexpr std::uint32_t kBundleVersion = 1;
inline constexpr std::size_t kBundleEntryHeaderSize = 12;
// The longest type name, in bytes as stored.
inline constexpr std::size_t kBundleMaxTypeBytes = 1024;

// How a type name is stored.
enum class TypeNameEncoding : std::uint8_t { Utf8 = 1, Utf16Le = 2 };

struct BundleEntry {
    std::u16string type;
    std::uint32_t id = 0;
    std::vector<std::uint8_t> bytes;
    friend bool operator==(const BundleEntry&, const BundleEntry&) = default;
};

enum class BundleStatus {
    Ok,
    NoBundle,            // the file does not end in a bundle trailer
    UnsupportedVersion,  // a trailer of a format this reader does not know
    Truncated,           // the trailer counts more bytes than the file has
    Inconsistent,        // the sizes, counts or names inside do not add up
    DigestMismatch,      // bytes of the bundle were altered
    Unreadable,          // ReadBundleFile only: the file could not be read
};

struct BundleReadResult {
    bool ok = false;
    BundleStatus status = BundleStatus::NoBundle;
    std::vector<BundleEntry> entries;  // empty unless ok
    std::string error;                 // one line for people, empty when ok
    // Bytes before the bundle: the program itself. The whole file when there
    // is no bundle; 0 when the bundle is damaged (nothing is known then).
    std::size_t executableSize = 0;
};

// Reads the bundle at the end of a file's bytes. Never reads outside `file`,
// whatever its trailer claims.
BundleReadResult ReadBundle(std::span<const std::uint8_t> file);
// The same for a file on disk, read whole.
BundleReadResult ReadBundleFile(const std::filesystem::path& path);

// The executable followed by a bundle of `entries`, in the order given.
// Nothing when an entry cannot be stored: an empty type name, one longer than
// kBundleMaxTypeBytes in both forms, 4 GiB of bytes or more, or the same type
// and id twice.
// Type names are stored as UTF-8, or as UTF-16LE when they hold a lone
// surrogate or only that form fits.
std::optional<std::vector<std::uint8_t>> WriteBundle(std::span<const std::uint8_t> executable,
                                                     const std::vector<BundleEntry>& entries);

// The program part of a file: everything before an intact bundle, else the
// whole file (check ReadBundle first to tell a damaged bundle from none).
std::span<const std::uint8_t> StripBundle(std::span<const std::uint8_t> file);

// Whether two type names match: ASCII letters compare without case, as
// Windows compares resource type names.
bool SameResourceType(std::u16string_view a, std::u16string_view b);

// CRC-32 (reflected, polynomial 0xEDB88320, initial and final XOR 0xFFFFFFFF),
// continuing from `crc` (0 to start).
std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

}  // namespace zelk::app
