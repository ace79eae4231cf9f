// MD5 digest of a byte string as 32 lower-case hexadecimal digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Md5Digest {
 public:
  // lowNibbleFirst reverses the two digits of every byte.
  Md5Digest(const void* bytes, size_t length, bool lowNibbleFirst);
  // The text stays empty for a null or empty input.
  explicit Md5Digest(const char* text);
  explicit Md5Digest(const std::string& text);

  const std::string& Text() const { return text_; }

 private:
  void Compute(const uint8_t* bytes, size_t length, bool lowNibbleFirst);
  void Update(const uint8_t* bytes, size_t length);
  void Transform();

  std::string text_;
  uint8_t block_[64] = {};
  uint32_t bits_[2] = {};  // message length in bits, low word first
  uint32_t state_[4] = {};
};
