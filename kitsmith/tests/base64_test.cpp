#include "unreferenced/Base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "KitTestSupport.h"

namespace {

// RFC 4648 section 10.
const std::pair<const char*, const char*> kVectors[] = {
    {"", ""},         {"f", "Zg=="},        {"fo", "Zm8="},         {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
};

std::string Decoded(const char* text) {
  std::vector<unsigned char> out(strlen(text) + 1);
  const size_t n = Base64Decode(out.data(), text);
  return std::string(reinterpret_cast<char*>(out.data()), n);
}

TEST(Base64, RfcVectorsBothWays) {
  for (const auto& [plain, encoded] : kVectors) {
    if (*plain) {
      auto text = Base64Encode(strlen(plain), plain, 0);
      ASSERT_TRUE(text);
      EXPECT_STREQ(text.get(), encoded);
    }
    EXPECT_EQ(Decoded(encoded), plain) << encoded;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(QBase64::Decode(encoded).Data()),
                          QBase64::Decode(encoded).Size()),
              plain);
    const std::string q = static_cast<const char*>(QBase64::Encode(plain, strlen(plain)));
    EXPECT_EQ(q, *plain ? std::string(encoded) + "\n" : "");
  }
}

TEST(Base64, DecodingSkipsOtherCharactersAndNeverWritesPastThreeQuarters) {
  EXPECT_EQ(Decoded("Zm9v\r\nYm Fy"), "foobar");
  EXPECT_EQ(Decoded(""), "");
  // Short last groups give only the bytes their characters complete.
  EXPECT_EQ(Decoded("Zm9vYg"), "foob");
  EXPECT_EQ(Decoded("Zm9vY"), "foo");
  EXPECT_EQ(Decoded("Z"), "");
  unsigned char guard[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(Base64Decode(guard, "QQ"), 1u);
  EXPECT_EQ(guard[1], 0xAA);
}

TEST(Base64, LineLengths) {
  std::vector<unsigned char> bytes(300);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);

  Base64Codec unbroken(0);
  const char* one = unbroken.Encode(bytes.data(), bytes.size());
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(strchr(one, '\n'), nullptr);
  EXPECT_EQ(unbroken.EncodedLength(), 400);

  Base64Codec mime(76);
  std::string text = mime.Encode(bytes.data(), bytes.size());
  size_t start = 0, lines = 0;
  for (size_t lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1, ++lines)
    EXPECT_EQ(lf - start, 76u);
  EXPECT_EQ(lines, 5u);
  EXPECT_EQ(text.size() - start, 400u - 5 * 76);

  const unsigned char* back = mime.Decode(text.c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(mime.DecodedLength(), 300);
  EXPECT_EQ(memcmp(back, bytes.data(), 300), 0);
  EXPECT_EQ(mime.Decode(""), nullptr);
  EXPECT_EQ(mime.DecodedLength(), 0);
  EXPECT_EQ(Base64Encode(0, nullptr, 0), nullptr);
  // A length of 0 takes the data as text.
  EXPECT_STREQ(Base64Encode(0, "foob", 0).get(), "Zm9vYg==");
}

TEST(QBase64, SixtyCharacterLinesRoundTrip) {
  std::vector<unsigned char> bytes(100);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(255 - i);
  const std::string text = static_cast<const char*>(QBase64::Encode(bytes.data(), bytes.size()));
  ASSERT_EQ(text.size(), 136u + 3);
  EXPECT_EQ(text[60], '\n');
  EXPECT_EQ(text[121], '\n');
  EXPECT_EQ(text.substr(text.size() - 3), "==\n");  // one byte left: "=="

  // Leading blanks, CR LF line ends; "=" ends the data.
  std::string indented = "  " + text.substr(0, 60) + "\r\n\t" + text.substr(61);
  indented += "QUJD\n";
  HeapBuff back = QBase64::Decode(indented.c_str());
  ASSERT_EQ(back.Size(), 100u);
  EXPECT_EQ(memcmp(back.Data(), bytes.data(), 100), 0);
}

TEST(MemoryStream, TextModeLinesAndCharacters) {
  const char bytes[] = "one\r\ntwo\nthree";
  MemoryStream text("rt", bytes, strlen(bytes));
  char line[16];
  ASSERT_TRUE(text.ReadLine(line, sizeof(line)));
  EXPECT_STREQ(line, "one\n");
  ASSERT_TRUE(text.ReadLine(line, 3));
  EXPECT_STREQ(line, "tw");
  ASSERT_TRUE(text.ReadLine(line, sizeof(line)));
  EXPECT_STREQ(line, "o\n");
  ASSERT_TRUE(text.ReadLine(line, sizeof(line)));
  EXPECT_STREQ(line, "three");
  EXPECT_TRUE(text.Eof());
  EXPECT_FALSE(text.ReadLine(line, sizeof(line)));

  MemoryStream chars("rt", "a\r\nb", 4);
  EXPECT_EQ(chars.GetChar(), 'a');
  EXPECT_EQ(chars.GetChar(), '\n');
  EXPECT_EQ(chars.GetChar(), 'b');
  EXPECT_EQ(chars.GetChar(), -1);

  MemoryStream out("wt");
  for (int i = 0; i < 5000; ++i) out.PutChar(i == 10 ? '\r' : 'x');
  EXPECT_EQ(out.Length(), 5001u);
  EXPECT_EQ(out.Data()[11], '\n');
}

// The self-test round-trips up to 10000 bytes of K:\Windows\Test\base64\test.bin through
// test.txt beside it; without the file it fails.
TEST(Base64SelfTest, RoundTripsTheTestFileOnDriveK) {
  TestDriveK drive;
  ASSERT_TRUE(drive.Mapped());
  for (const char* folder : {"K:\\Windows", "K:\\Windows\\Test", "K:\\Windows\\Test\\base64"})
    ASSERT_TRUE(CreateDirectoryA(folder, nullptr)) << folder;
  EXPECT_FALSE(Base64SelfTest());

  std::string bytes(12000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  WriteTextFile("K:\\Windows\\Test\\base64\\test.bin", bytes);
  EXPECT_TRUE(Base64SelfTest());
  const std::unique_ptr<char[]> expected = Base64Encode(10000, bytes.data(), 76);
  EXPECT_EQ(ReadTextFile("K:\\Windows\\Test\\base64\\test.txt"), expected.get());
}

// Formatted writes append at most 4096 characters each, across as many growths of the
// buffer as they need.
TEST(MemoryStream, FormattedWritesAppendAndAreCut) {
  MemoryStream out("wb");
  EXPECT_EQ(out.Printf("%s=%d;", "RP", 139), 7);
  EXPECT_EQ(out.Printf(nullptr), 0);
  const std::string longText(5000, 'y');
  EXPECT_EQ(out.Printf("%s", longText.c_str()), 4096);
  std::string expected = "RP=139;" + longText.substr(0, 4096);
  ASSERT_EQ(out.Length(), expected.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()), out.Length()), expected);

  MemoryStream many("wb");
  std::string all;
  for (int i = 0; i < 40; ++i) {
    const std::string piece(i % 2 ? 4096 : 1000 + i, static_cast<char>('a' + i % 26));
    ASSERT_EQ(many.Printf("%s", piece.c_str()), static_cast<int>(piece.size()));
    all += piece;
  }
  ASSERT_EQ(many.Length(), all.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(many.Data()), many.Length()), all);
}

}  // namespace
