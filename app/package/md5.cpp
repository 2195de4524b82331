#include "app/package/md5.h"

#include <cstddef>
#include <string>

namespace zelk::app {
namespace {

constexpr std::size_t kBlockSize = 64;

// Per-step left rotations, four per round.
constexpr std::array<std::uint32_t, 16> kShifts{7, 12, 17, 22, 5, 9,  14, 20,
                                                4, 11, 16, 23, 6, 10, 15, 21};

// floor(abs(sin(i + 1)) * 2^32), as RFC 1321 tabulates them.
constexpr std::array<std::uint32_t, 64> kSines{
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

std::uint32_t RotateLeft(std::uint32_t value, std::uint32_t count) {
    return (value << count) | (value >> (32 - count));
}

std::uint32_t LoadLittleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

struct State {
    std::array<std::uint32_t, 4> words{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

    void Block(const std::uint8_t* block) {
        std::array<std::uint32_t, 16> x{};
        for (std::size_t i = 0; i < x.size(); ++i) {
            x[i] = LoadLittleEndian32(block + 4 * i);
        }
        std::uint32_t a = words[0];
        std::uint32_t b = words[1];
        std::uint32_t c = words[2];
        std::uint32_t d = words[3];
        for (std::size_t step = 0; step < 64; ++step) {
            std::uint32_t mixed = 0;
            std::size_t index = 0;
            const std::size_t round = step / 16;
            if (round == 0) {
                mixed = (b & c) | (~b & d);
                index = step;
            } else if (round == 1) {
                mixed = (b & d) | (c & ~d);
                index = (5 * step + 1) % 16;
            } else if (round == 2) {
                mixed = b ^ c ^ d;
                index = (3 * step + 5) % 16;
            } else {
                mixed = c ^ (b | ~d);
                index = (7 * step) % 16;
            }
            const std::uint32_t rotated =
                RotateLeft(a + mixed + kSines[step] + x[index], kShifts[round * 4 + step % 4]);
            a = d;
            d = c;
            c = b;
            b = b + rotated;
        }
        words[0] += a;
        words[1] += b;
        words[2] += c;
        words[3] += d;
    }
};

}  // namespace

Md5Digest Md5(std::string_view bytes) {
    State state;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t whole = bytes.size() - bytes.size() % kBlockSize;
    for (std::size_t offset = 0; offset < whole; offset += kBlockSize) {
        state.Block(data + offset);
    }

    // The rest, the 0x80 marker, zeros up to 8 bytes short of a block end,
    // and the length in bits, little-endian: one block, or two when fewer
    // than 9 bytes are left after the rest.
    std::array<std::uint8_t, 2 * kBlockSize> tail{};
    const std::size_t rest = bytes.size() - whole;
    for (std::size_t i = 0; i < rest; ++i) {
        tail[i] = data[whole + i];
    }
    tail[rest] = 0x80;
    const std::size_t tailSize = rest + 9 <= kBlockSize ? kBlockSize : 2 * kBlockSize;
    const std::uint64_t bitLength = static_cast<std::uint64_t>(bytes.size()) * 8u;
    for (std::size_t i = 0; i < 8; ++i) {
        tail[tailSize - 8 + i] = static_cast<std::uint8_t>(bitLength >> (8 * i));
    }
    for (std::size_t offset = 0; offset < tailSize; offset += kBlockSize) {
        state.Block(tail.data() + offset);
    }

    Md5Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        digest[i] = static_cast<std::uint8_t>(state.words[i / 4] >> (8 * (i % 4)));
    }
    return digest;
}

std::string Md5Hex(std::string_view bytes) {
    constexpr char kDigits[] = "0123456789abcdef";
    const Md5Digest digest = Md5(bytes);
    std::string hex;
    hex.reserve(2 * digest.size());
    for (const std::uint8_t byte : digest) {
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 0x0F]);
    }
    return hex;
}

}  // namespace zelk::app
