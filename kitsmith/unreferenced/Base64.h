// Base64 (RFC 2045 alphabet, "=" padding): a codec with an owned result, the line-based
// encoder and decoder of QBase64, and the in-memory stream they work on.
#pragma once

#include "support/KitUtilities.h"

#include <comutil.h>

#include <climits>
#include <cstddef>
#include <memory>
#include <string>

// Base64 text of the data with a line feed once a line reaches lineLength characters
// (<= 0: one line). A length of 0 takes the data as NUL-terminated text. Null for null data.
std::unique_ptr<char[]> Base64Encode(size_t length, const void* data, int lineLength);
// Decodes the alphabet characters of the text, skipping every other character but "=";
// output needs room for strlen(text) bytes. Returns the number of bytes written.
size_t Base64Decode(unsigned char* output, const char* text);

class Base64Codec {
 public:
  explicit Base64Codec(int lineLength = 0) : lineLength_(lineLength > 0 ? lineLength : INT_MAX) {}
  ~Base64Codec() = default;
  Base64Codec(const Base64Codec&) = delete;
  Base64Codec& operator=(const Base64Codec&) = delete;

  // The text, owned by the codec until the next conversion; null on failure.
  const char* Encode(const void* data, size_t length);
  // The bytes, owned by the codec until the next conversion; null for null or empty text.
  const unsigned char* Decode(const char* text);
  void Release();

  int DecodedLength() const { return decodedLength_; }
  int EncodedLength() const { return encodedLength_; }

 private:
  std::unique_ptr<char[]> result_;
  int decodedLength_ = 0;
  int encodedLength_ = 0;
  int lineLength_;
};

// Encodes a test file and decodes it back, reporting "Success n" / "Failure n" to the
// debugger output. True when both rounds succeed.
bool Base64SelfTest();

// A growable byte buffer read or written like a file.
class MemoryStream {
 public:
  // "r..." reads, anything else writes; a second letter "t" selects text mode.
  explicit MemoryStream(const char* mode);
  // A read stream over a copy of the bytes.
  MemoryStream(const char* mode, const void* bytes, size_t length);

  // Up to max - 1 characters through the first line feed; text mode turns a final CR LF into
  // LF. False at the end of the stream.
  bool ReadLine(char* line, size_t max);
  // The next byte, CR skipped in text mode; -1 at the end.
  int GetChar();
  void PutChar(char c);
  // Appends the printf-formatted text, cut to 4096 characters; the number of characters
  // written (0 when formatting fails).
  int Printf(const char* format, ...);
  bool Eof() const { return position_ >= length_; }

  const unsigned char* Data() const { return buffer_.get(); }
  size_t Length() const { return length_; }

 private:
  void Reserve(size_t capacity);

  std::unique_ptr<unsigned char[]> buffer_;
  size_t length_ = 0;
  size_t capacity_ = 0;
  size_t position_ = 0;
  int mode_ = 2;  // 1 read, 2 write
  bool text_ = false;
};

// Decodes Base64 lines as 6-bit groups into bytes; a character outside the alphabet ends
// the data.
class Base64LineDecoder {
 public:
  // Decodes from the line's first character that is not a space or tab up to a line feed,
  // NUL or space. False once the data has ended.
  template <typename PutByte>
  bool Line(const char* line, PutByte put);
  bool Ended() const { return ended_; }

 private:
  unsigned bits_ = 0;
  int count_ = 0;
  bool ended_ = false;
};

// The Base64 text of every byte that getByte gives (-1 ends), in lines of 60 characters that
// each end with a line feed.
template <typename GetByte, typename PutChar>
void EncodeBase64Lines(GetByte getByte, PutChar put);

class QBase64 {
 public:
  virtual ~QBase64() = default;
  static HeapBuff Decode(const char* text);
  static _bstr_t Encode(const void* data, size_t length);
};

int Base64Value(char c);  // 0..63, or -1 outside the alphabet
extern const char kBase64Alphabet[65];

template <typename PutByte>
bool Base64LineDecoder::Line(const char* line, PutByte put) {
  if (ended_) return false;
  while (*line == ' ' || *line == '\t') ++line;
  for (; *line && *line != '\n' && *line != ' '; ++line) {
    const int value = Base64Value(*line);
    if (value < 0) {
      ended_ = true;
      return false;
    }
    bits_ = (bits_ << 6) | static_cast<unsigned>(value);
    count_ += 6;
    if (count_ >= 8) {
      count_ -= 8;
      put(static_cast<unsigned char>(bits_ >> count_));
      bits_ &= (1u << count_) - 1;
    }
  }
  return true;
}

template <typename GetByte, typename PutChar>
void EncodeBase64Lines(GetByte getByte, PutChar put) {
  int column = 0;
  auto emit = [&](char c) {
    put(c);
    if (++column == 60) {
      put('\n');
      column = 0;
    }
  };
  for (;;) {
    int b[3];
    int n = 0;
    while (n < 3 && (b[n] = getByte()) >= 0) ++n;
    if (n == 0) break;
    for (int i = n; i < 3; ++i) b[i] = 0;
    emit(kBase64Alphabet[b[0] >> 2]);
    emit(kBase64Alphabet[((b[0] << 4) | (b[1] >> 4)) & 63]);
    if (n == 1) {  // 2 bits were left over
      emit('=');
      emit('=');
      break;
    }
    emit(kBase64Alphabet[((b[1] << 2) | (b[2] >> 6)) & 63]);
    if (n == 2) {  // 4 bits were left over
      emit('=');
      break;
    }
    emit(kBase64Alphabet[b[2] & 63]);
  }
  if (column) put('\n');
}
