// AES-128 (electronic code book) over byte strings, with a trailing pad-count byte.
//
// Cipher text: n = ceil(length / 16) enciphered blocks of the zero-padded plain
// text, then one byte holding the number of zero bytes added (0..15).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class AesCipher {
 public:
  AesCipher() = default;
  AesCipher(const AesCipher&) = delete;
  AesCipher& operator=(const AesCipher&) = delete;

  // The key text's first 16 bytes are the key as they stand, zero-filled when shorter.
  // Null when the key text is null or empty or the text is null.
  const uint8_t* EncryptString(const char* key, const char* text);
  // The result stays owned by the object until the next operation or Clear.
  const uint8_t* Encrypt(const char* key, const void* bytes, size_t length);
  // The NUL-terminated plain text, or null with the error text set.
  const char* Decrypt(const char* key, const uint8_t* cipher, size_t length);

  void Clear();
  size_t GetCipherLength() const;
  uint8_t GetPadCount() const;
  const char* GetErrorText() const { return error_; }

 private:
  void SetError(const char* text);

  std::unique_ptr<uint8_t[]> plain_;
  size_t length_ = 0;
  std::unique_ptr<uint8_t[]> cipher_;
  char error_[256] = {};
};

// Round trip of a fixed text, reporting on standard output. Always 0.
int AesSelfTest();
