#include "app/package/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace zelk::app {
namespace {

struct Vector {
    std::string input;
    const char* digest;
};

TEST(Md5Test, RfcTestSuite) {
    const Vector vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Vector& vector : vectors) {
        EXPECT_EQ(Md5Hex(vector.input), vector.digest) << '"' << vector.input << '"';
    }
}

// Bytes of every value, high ones included, so that a sign-extended load shows.
std::string Pattern(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>((i * 37 + 11) & 0xFF);
    }
    return bytes;
}

// Around the lengths where the padding needs a second block, and past a
// whole block; digests from md5sum.
TEST(Md5Test, LengthsAroundThePaddingBoundaries) {
    const std::pair<std::size_t, const char*> cases[] = {
        {1, "13c8ffd977013703a701cf8e11deac65"},   {55, "d872aa0473a24da995ce4ac518ade767"},
        {56, "e23567645846677c205de80f9779081b"},  {57, "1fe5e4a27e12484d7203d0b60c21c51f"},
        {63, "4775b66278a8fc132ff80923378216cd"},  {64, "71e123b70c7aa64826fcfe472694cd1c"},
        {65, "5949948f26e35203661075214faa3966"},  {119, "87f72c7241c5fe218bb4df8c0aba3232"},
        {120, "bf240b8b7407fba3805adeec63a03b77"}, {127, "520bdc2dbab7c25d64263ffb242d9e98"},
        {128, "3e93b378458b77da96b2357c3bda8cc2"}, {1000, "c3cb8ae118768782aa1896d7fb2827ef"},
    };
    for (const auto& [length, digest] : cases) {
        EXPECT_EQ(Md5Hex(Pattern(length)), digest) << length << " bytes";
    }
}

TEST(Md5Test, RawDigestIsTheHexDigitsInOrder) {
    const Md5Digest digest = Md5("abc");
    EXPECT_EQ(digest.front(), 0x90);
    EXPECT_EQ(digest.back(), 0x72);
}

}  // namespace
}  // namespace zelk::app
