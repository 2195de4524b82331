#include "engine/image_files.h"

#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <utility>

namespace zelk::engine {

std::int32_t ReadExactly(std::istream& in, std::uint32_t size, std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> buffer(size);
    in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(size));
    if (static_cast<std::uint64_t>(in.gcount()) != size) {
        return -3;
    }
    bytes.swap(buffer);
    return 0;
}

std::int32_t ReadWholeFile(std::u16string_view path, std::vector<std::uint8_t>& bytes) {
    try {
        // Converting a UTF-16 string gives the native form on every platform
        // (UTF-8 on Linux, wide on Windows).
        const std::filesystem::path file{std::u16string(path)};
        std::error_code ec;
        // A directory (or a device, or a pipe) opens on some platforms and
        // then reads as nothing useful; only regular files are images.
        if (file.empty() || !std::filesystem::is_regular_file(file, ec) || ec) {
            return -1;
        }
        std::ifstream in(file, std::ios::in | std::ios::binary);
        if (!in.is_open()) {
            return -1;
        }
        // The size comes from the opened file, not from a second look-up by name.
        in.seekg(0, std::ios::end);
        const std::streamoff end = in.tellg();
        if (!in || end < 0) {
            return -1;
        }
        if (static_cast<std::uint64_t>(end) > std::numeric_limits<std::uint32_t>::max()) {
            return -1;
        }
        if (end == 0) {
            return -2;
        }
        in.seekg(0, std::ios::beg);
        if (!in) {
            return -1;
        }
        return ReadExactly(in, static_cast<std::uint32_t>(end), bytes);
    } catch (const std::exception&) {
        // An unconvertible path or no memory for the contents.
        return -1;
    }
}

std::int32_t ReadOfferFile(ImageEntry& entry, std::u16string_view path) {
    std::vector<std::uint8_t> bytes;
    const std::int32_t result = ReadWholeFile(path, bytes);
    if (result != 0) {
        return result;
    }
    entry.OfferSize = static_cast<std::uint32_t>(bytes.size());
    if (bytes.size() != kOfferFileSize) {
        return -1;
    }
    entry.OfferBank = static_cast<std::uint32_t>((bytes[12] >> 4) & 0x03);
    entry.Offer = std::move(bytes);
    return 0;
}

std::int32_t ReadPayloadFile(ImageEntry& entry, std::u16string_view path) {
    std::vector<std::uint8_t> bytes;
    const std::int32_t result = ReadWholeFile(path, bytes);
    if (result != 0) {
        return result;
    }
    entry.RecordCount = static_cast<std::uint32_t>(bytes.size() / kPayloadRecordSize);
    if (bytes.size() % kPayloadRecordSize != 0) {
        return -2;
    }
    // A record that says it carries no data, or more than a block holds, is
    // not a block a device can take: refuse the image before anything is sent.
    for (std::size_t offset = 0; offset < bytes.size(); offset += kPayloadRecordSize) {
        const std::uint8_t length = RecordLength(bytes.data() + offset);
        if (length == 0 || length > kPayloadDataSize) {
            return kBadRecordLength;
        }
    }
    entry.Records = std::move(bytes);
    return 0;
}

}  // namespace zelk::engine
