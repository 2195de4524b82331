// Reading offer and payload files into an ImageEntry. Paths are UTF-16; files
// are opened read-only in binary mode and never created. Results are codes,
// never exceptions.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string_view>
#include <vector>

#include "engine/image_entry.h"

namespace zelk::engine {

// Reads the whole of a regular file into bytes.
//   0  success
//  -1  the file cannot be opened: missing, not a regular file (a directory),
//      a path that does not convert, or a size of 4 GiB or more
//  -2  the file is empty
//  -3  fewer bytes arrived than the file's size promised
// bytes is left as it was unless the result is 0.
std::int32_t ReadWholeFile(std::u16string_view path, std::vector<std::uint8_t>& bytes);

// Reads exactly size bytes from in: 0, or -3 when the stream ends or fails
// early. bytes is left as it was unless the result is 0.
std::int32_t ReadExactly(std::istream& in, std::uint32_t size, std::vector<std::uint8_t>& bytes);

// ReadWholeFile's failures pass through. Otherwise OfferSize takes the file's
// size; anything but 16 bytes is -1 and leaves Offer alone. A 16-byte file
// replaces Offer and sets OfferBank from byte 12 bits 4-5.
std::int32_t ReadOfferFile(ImageEntry& entry, std::u16string_view path);

// What ReadPayloadFile returns for a record whose length byte is 0 or above 52.
inline constexpr std::int32_t kBadRecordLength = -4;

// ReadWholeFile's failures pass through, leaving RecordCount alone. Otherwise
// RecordCount takes size / 57 even when the size is then refused: a size that
// is not a whole number of records is -2, and a record whose length byte is 0
// or above 52 is kBadRecordLength; both leave Records alone.
std::int32_t ReadPayloadFile(ImageEntry& entry, std::u16string_view path);

}  // namespace zelk::engine
