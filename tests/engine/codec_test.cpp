#include "engine/base64.h"
#include "engine/hex_text.h"
#include "engine/message_digest.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// All 256 byte values, so NULs and bytes >= 0x80 are covered.
std::string AllBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<char>(i));
    }
    return bytes;
}

} // namespace

TEST(HexText, TwoUpperCaseDigitsPerByte) {
    struct Case {
        std::string bytes;
        std::string hex;
    };
    const Case cases[] = {
        {"", ""},
        {"\x0A\xFF", "0AFF"},
        {"\x00\x7F\x80\xab"s, "007F80AB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MakeHex(c.bytes), c.hex);
        EXPECT_EQ(MakeHex(c.bytes.data(), c.bytes.size()), c.hex);
    }
    const std::string hex = MakeHex(AllBytes());
    ASSERT_EQ(hex.size(), 512u);
    EXPECT_EQ(hex.substr(0, 6), "000102");
    EXPECT_EQ(hex.substr(506), "FDFEFF");
}

TEST(Base64, EncodesAndDecodesTheStandardVectors) {
    struct Case {
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        // The last two letters of the alphabet, with no URL-safe substitutes.
        {"\xFB\xFF\xBF", "+/+/"},
        {"\x00\x00"s, "AAA="},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Base64Encode(c.bytes), c.text);
        EXPECT_EQ(Base64DecodeChecked(c.text), c.bytes) << c.text;
        EXPECT_EQ(Base64Decode(c.text), c.bytes) << c.text;
    }
}

TEST(Base64, EveryByteValueAndEveryTailLengthRoundTrips) {
    const std::string bytes = AllBytes();
    for (std::size_t length = 250; length <= bytes.size(); ++length) {
        const std::string prefix = bytes.substr(0, length);
        const std::string text = Base64Encode(prefix);
        EXPECT_EQ(text.size() % 4, 0u);
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(Base64DecodeChecked(text), prefix) << length;
    }
}

TEST(Base64, InvalidTextIsRejectedWithoutReadingPastIt) {
    const std::string cases[] = {
        "Z",          // length 1
        "=",          // padding alone
        "Zg=",        // length not a multiple of four
        "====",       // a group of padding only
        "Z===",       // three padding characters
        "Zm=v",       // padding in the middle of a group
        "Zg==Zm9v",   // padding before the last group
        "Zh==",       // bits after the last byte
        "Zm9=",       // bits after the last byte
        "Zm9v\r\nYm", // line break
        "Zm9-",       // URL-safe alphabet
        "Zm 9",       // space
        "Zm9\x80",    // byte >= 0x80
        "Zm9\0"s,     // NUL
        "\xFF\xFF\xFF\xFF",
    };
    for (const std::string& text : cases) {
        // An exact-size heap copy, so the address sanitizer sees any read past the end.
        const std::vector<char> exact(text.begin(), text.end());
        const std::string_view view(exact.data(), exact.size());
        EXPECT_EQ(Base64DecodeChecked(view), std::nullopt) << text;
        EXPECT_EQ(Base64Decode(view), "") << text;
    }
}

namespace {

struct DigestCase {
    const char* name;
    std::function<std::unique_ptr<IMessageDigest>()> make;
    std::string input;
    const char* hex;
};

std::vector<DigestCase> DigestCases() {
    const auto md5 = [] { return std::make_unique<CMD5>(); };
    const auto sha = [] { return std::make_unique<CSHA>(); };
    return {
        // RFC 1321 test suite.
        {"MD5", md5, "", "D41D8CD98F00B204E9800998ECF8427E"},
        {"MD5", md5, "a", "0CC175B9C0F1B6A831C399E269772661"},
        {"MD5", md5, "abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"MD5", md5, "message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"MD5", md5, "abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"MD5", md5,
         "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
        // FIPS 180-1 examples.
        {"SHA-1", sha, "", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        {"SHA-1", sha, "abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"SHA-1", sha, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {"SHA-1", sha, std::string(1000000, 'a'), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
    };
}

} // namespace

TEST(MessageDigest, KnownVectorsInOnePieceAndInManyPieces) {
    for (const DigestCase& c : DigestCases()) {
        const std::string label = std::string(c.name) + " of " + c.input.substr(0, 20);
        auto whole = c.make();
        whole->AddData(c.input.data(), c.input.size());
        EXPECT_EQ(MakeHex(whole->FinalDigest()), c.hex) << label;

        // Uneven pieces cross the 64-byte block boundaries at changing offsets.
        auto pieces = c.make();
        std::size_t offset = 0;
        for (std::size_t size = 1; offset < c.input.size(); size = size * 2 + 1) {
            const std::size_t take = std::min(size, c.input.size() - offset);
            pieces->AddData(c.input.data() + offset, take);
            offset += take;
        }
        EXPECT_EQ(MakeHex(pieces->FinalDigest()), c.hex) << label << " in pieces";
    }
}

TEST(MessageDigest, AfterTheDigestDataIsIgnoredAndTheDigestRepeats) {
    for (const DigestCase& c : DigestCases()) {
        if (c.input != "abc") {
            continue;
        }
        auto digest = c.make();
        digest->AddData("abc", 3);
        const std::string first = digest->FinalDigest();
        digest->AddData("more", 4);
        EXPECT_EQ(digest->FinalDigest(), first) << c.name;
        EXPECT_EQ(MakeHex(first), c.hex) << c.name;
    }
}
