// MD5 (RFC 1321), only for comparing a typed password with the digest the
// program stores; nothing here is meant to resist a determined attacker.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelk::app {

using Md5Digest = std::array<std::uint8_t, 16>;

// The 16 digest bytes of `bytes`, in the order RFC 1321 prints them.
Md5Digest Md5(std::string_view bytes);

// The 32 lower-case hexadecimal digits of the MD5 digest of `bytes`.
std::string Md5Hex(std::string_view bytes);

}  // namespace zelk::app
