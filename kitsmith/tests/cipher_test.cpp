// The AES-128 wrapper, the lagged random generator and the MD5 digest.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "unreferenced/AesCipher.h"
#include "unreferenced/LaggedRandom.h"
#include "unreferenced/Md5Digest.h"

namespace {

std::vector<uint8_t> Hex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string Key(const std::string& hex) {
  const std::vector<uint8_t> bytes = Hex(hex);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

// FIPS-197 appendix B, and the all-zero key (an empty key text is zero-filled).
TEST(AesCipher, StandardVectorsBothWays) {
  struct Case {
    std::string keyHex, plainHex, cipherHex;
  } cases[] = {
      {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734", "3925841d02dc09fbdc118597196a0b32"},
      {"", "00000000000000000000000000000000", "66e94bd4ef8a2c3b884cfa59ca342b2e"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keyHex);
    const std::string key = Key(c.keyHex);
    const std::vector<uint8_t> plain = Hex(c.plainHex);
    std::vector<uint8_t> expected = Hex(c.cipherHex);
    expected.push_back(0);  // no padding

    AesCipher aes;
    const uint8_t* cipher = aes.Encrypt(key.c_str(), plain.data(), plain.size());
    ASSERT_NE(cipher, nullptr);
    ASSERT_EQ(aes.GetCipherLength(), 17u);
    EXPECT_EQ(std::vector<uint8_t>(cipher, cipher + 17), expected);
    EXPECT_EQ(aes.GetPadCount(), 0);

    AesCipher back;
    const char* decrypted = back.Decrypt(key.c_str(), expected.data(), expected.size());
    ASSERT_NE(decrypted, nullptr);
    EXPECT_EQ(0, std::memcmp(decrypted, plain.data(), 16));
    EXPECT_EQ(decrypted[16], 0);
    EXPECT_EQ(back.GetCipherLength(), 0u);
  }
}

TEST(AesCipher, PaddingRoundTrips) {
  const char* key = "3C7A0D95E21B84F6";
  for (size_t length : {1, 15, 16, 17, 31, 32, 33, 100}) {
    SCOPED_TRACE(length);
    std::string text;
    for (size_t i = 0; i < length; ++i) text += static_cast<char>('A' + i % 26);
    const size_t blocks = (length + 15) / 16;

    AesCipher aes;
    const uint8_t* cipher = aes.EncryptString(key, text.c_str());
    ASSERT_NE(cipher, nullptr);
    ASSERT_EQ(aes.GetCipherLength(), 16 * blocks + 1);
    EXPECT_EQ(aes.GetPadCount(), 16 * blocks - length);
    EXPECT_EQ(cipher[16 * blocks], 16 * blocks - length);

    AesCipher back;
    const char* plain = back.Decrypt(key, cipher, aes.GetCipherLength());
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(std::string(plain), text);
  }
}

TEST(AesCipher, RefusedCipherTextsLeaveErrorAndNoResult) {
  const char* padding = "Padding count invalid.  Possible input data corrupted or wrong length";
  AesCipher source;
  const uint8_t* good = source.EncryptString("key", "thirty-three bytes of plain text!");
  ASSERT_EQ(source.GetCipherLength(), 49u);
  std::vector<uint8_t> bytes(good, good + 49);

  struct Case {
    size_t length;
    int lastByte;  // -1: as it stands
  } cases[] = {{1, 0}, {2, 0}, {16, 0}, {18, 0}, {32, 0}, {34, 1}, {48, 0}, {17, 16}, {17, 255}, {49, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::vector<uint8_t> input(bytes.begin(), bytes.begin() + c.length);
    if (c.lastByte >= 0) input.back() = static_cast<uint8_t>(c.lastByte);
    AesCipher aes;
    EXPECT_EQ(aes.Decrypt("key", input.data(), input.size()), nullptr);
    EXPECT_STREQ(aes.GetErrorText(), padding);
  }

  AesCipher aes;
  EXPECT_EQ(aes.Decrypt("key", nullptr, 17), nullptr);
  EXPECT_STREQ(aes.GetErrorText(), "Cipher text null or empty string");
  EXPECT_EQ(aes.Decrypt("key", bytes.data(), 0), nullptr);
  EXPECT_STREQ(aes.GetErrorText(), "Cipher text null or empty string");
  // A good cipher text clears the error.
  EXPECT_STREQ(aes.Decrypt("key", bytes.data(), bytes.size()), "thirty-three bytes of plain text!");
  EXPECT_STREQ(aes.GetErrorText(), "");
}

TEST(AesCipher, KeyTextAndNullInputs) {
  AesCipher a, b;
  const uint8_t* longKey = a.EncryptString("0123456789abcdefIGNORED", "text");
  const uint8_t* key16 = b.EncryptString("0123456789abcdef", "text");
  EXPECT_EQ(0, std::memcmp(longKey, key16, 17));
  const std::string zeroFilled("ab\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16);
  EXPECT_EQ(0, std::memcmp(b.EncryptString("ab", "text"), a.Encrypt(zeroFilled.c_str(), "text", 4), 17));

  AesCipher aes;
  EXPECT_EQ(aes.EncryptString(nullptr, "text"), nullptr);
  EXPECT_EQ(aes.EncryptString("", "text"), nullptr);
  EXPECT_EQ(aes.EncryptString("key", nullptr), nullptr);
  EXPECT_EQ(aes.Encrypt("key", "text", 0), nullptr);
  EXPECT_EQ(aes.GetCipherLength(), 0u);
  EXPECT_EQ(aes.GetPadCount(), 0);
}

// The object's own results as inputs: its plain buffer is refused, its cipher text
// may be enciphered again (it is copied before the old buffers go).
TEST(AesCipher, OwnBuffersAsInput) {
  AesCipher aes;
  const uint8_t* once = aes.EncryptString("k", "hello");
  EXPECT_EQ(aes.Decrypt("k", once, aes.GetCipherLength()), nullptr);
  const uint8_t* twice = aes.Encrypt("k", once, aes.GetCipherLength());
  ASSERT_NE(twice, nullptr);
  ASSERT_EQ(aes.GetCipherLength(), 33u);
  const std::vector<uint8_t> outer(twice, twice + 33);

  AesCipher back;
  const char* inner = back.Decrypt("k", outer.data(), outer.size());
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(back.Encrypt("k", inner, 17), nullptr);
  const std::vector<uint8_t> first(inner, inner + 17);
  EXPECT_STREQ(back.Decrypt("k", first.data(), first.size()), "hello");
}

TEST(AesCipher, SelfTestReportsSuccess) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(AesSelfTest(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Success!\n");
}

// Sequences computed independently from the generator's definition.
TEST(LaggedRandom, SequenceForFixedSeeds) {
  const uint8_t text[] = {'K', 'i', 't', 's', 'm', 'i', 't', 'h'};
  LaggedRandomSeed(sizeof(text), text);
  const uint32_t expected[] = {0x06678c49, 0xd72bf47b, 0xab3f6f61, 0xe9821347, 0x34aecc68};
  for (uint32_t value : expected) EXPECT_EQ(LaggedRandomNext(), value);
  for (int i = 5; i < 999; ++i) LaggedRandomNext();
  EXPECT_EQ(LaggedRandomNext(), 0xfe072922u);

  // A negative first byte starts the mixer from its sign-extended value.
  const uint8_t high[] = {0xff, 0x01, 0x80};
  LaggedRandomSeed(sizeof(high), high);
  const uint32_t expectedHigh[] = {0xd3d22f98, 0xf90f1668, 0xa2b736cb, 0xa0725271, 0xe665d35c};
  for (uint32_t value : expectedHigh) EXPECT_EQ(LaggedRandomNext(), value);
}

TEST(LaggedRandom, EmptySeedReadsNothingAndGivesZeroState) {
  LaggedRandomSeed(0, nullptr);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(LaggedRandomNext(), 0u);
}

TEST(Md5Digest, Rfc1321Vectors) {
  struct Case {
    const char* text;
    const char* digest;
  } cases[] = {
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Md5Digest(c.text).Text(), c.digest);
    EXPECT_EQ(Md5Digest(std::string(c.text)).Text(), c.digest);
    EXPECT_EQ(Md5Digest(c.text, std::strlen(c.text), false).Text(), c.digest);
  }
}

TEST(Md5Digest, EmptyInputsAndNibbleOrder) {
  EXPECT_EQ(Md5Digest("", 0, false).Text(), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Digest("", 0, true).Text(), "4dd1c89df8002b409e089089ce8f24e7");
  EXPECT_EQ(Md5Digest("").Text(), "");
  EXPECT_EQ(Md5Digest(static_cast<const char*>(nullptr)).Text(), "");
  EXPECT_EQ(Md5Digest(std::string()).Text(), "");
  EXPECT_EQ(Md5Digest("a", 1, true).Text(), "c01c579b0c1f6b8a133c992e96776216");
  // A zero byte reads "00" either way.
  EXPECT_EQ(Md5Digest("38", 2, false).Text(), "a5771bce93e200c36f7cd9dfd0e5deaa");
  EXPECT_EQ(Md5Digest("38", 2, true).Text(), "5a77b1ec392e003cf6c79dfd0d5eedaa");
}
