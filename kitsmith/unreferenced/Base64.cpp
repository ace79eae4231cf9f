#include "unreferenced/Base64.h"

#include "support/KitHolders.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

const char kBase64Alphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::unique_ptr<char[]> Base64Encode(size_t length, const void* data, int lineLength) {
  if (!data) return nullptr;
  const unsigned char* in = static_cast<const unsigned char*>(data);
  if (length == 0) length = strlen(static_cast<const char*>(data));
  const size_t line = lineLength > 0 ? static_cast<size_t>(lineLength) : static_cast<size_t>(INT_MAX);
  // Every group gives 4 characters; a line feed follows once a line reaches its length.
  const size_t groups = (length + 2) / 3;
  const size_t groupsPerLine = (line + 3) / 4;
  std::unique_ptr<char[]> text(new (std::nothrow) char[groups * 4 + groups / groupsPerLine + 1]);
  if (!text) return nullptr;
  char* out = text.get();
  size_t column = 0;
  for (size_t i = 0; i < length; i += 3) {
    const unsigned b0 = in[i];
    const bool has1 = i + 1 < length, has2 = i + 2 < length;
    const unsigned b1 = has1 ? in[i + 1] : 0;
    const unsigned b2 = has2 ? in[i + 2] : 0;
    *out++ = kBase64Alphabet[b0 >> 2];
    *out++ = kBase64Alphabet[((b0 << 4) | (b1 >> 4)) & 63];
    *out++ = has1 ? kBase64Alphabet[((b1 << 2) | (b2 >> 6)) & 63] : '=';
    *out++ = has2 ? kBase64Alphabet[b2 & 63] : '=';
    column += 4;
    if (column >= line) {
      *out++ = '\n';
      column = 0;
    }
  }
  *out = '\0';
  return text;
}

size_t Base64Decode(unsigned char* output, const char* text) {
  if (!text || !*text) return 0;
  std::string kept;
  for (const char* p = text; *p; ++p)
    if (Base64Value(*p) >= 0 || *p == '=') kept += *p;
  // A last group short of four characters gives only the bytes its characters complete, so
  // the output never exceeds three quarters of the text.
  size_t n = 0;
  for (size_t i = 0; i + 1 < kept.size(); i += 4) {
    const size_t have = std::min<size_t>(4, kept.size() - i);
    const char c2 = have > 2 ? kept[i + 2] : '=';
    const char c3 = have > 3 ? kept[i + 3] : '=';
    auto value = [](char c) { return static_cast<unsigned>(Base64Value(c) < 0 ? 63 : Base64Value(c)); };
    const unsigned a0 = value(kept[i]), a1 = value(kept[i + 1]), a2 = value(c2), a3 = value(c3);
    output[n++] = static_cast<unsigned char>((a0 << 2) | (a1 >> 4));
    if (c2 != '=') output[n++] = static_cast<unsigned char>((a1 << 4) | (a2 >> 2));
    if (c3 != '=') output[n++] = static_cast<unsigned char>((a2 << 6) | a3);
  }
  return n;
}

const char* Base64Codec::Encode(const void* data, size_t length) {
  Release();
  result_ = Base64Encode(length, data, lineLength_);
  if (!result_) return nullptr;
  decodedLength_ = static_cast<int>(length ? length : strlen(static_cast<const char*>(data)));
  encodedLength_ = static_cast<int>(strlen(result_.get()));
  return result_.get();
}

const unsigned char* Base64Codec::Decode(const char* text) {
  Release();
  if (!text || !*text) return nullptr;
  const size_t length = strlen(text);
  result_.reset(new (std::nothrow) char[length]);
  if (!result_) return nullptr;
  encodedLength_ = static_cast<int>(length);
  decodedLength_ = static_cast<int>(Base64Decode(reinterpret_cast<unsigned char*>(result_.get()), text));
  return reinterpret_cast<const unsigned char*>(result_.get());
}

void Base64Codec::Release() {
  result_.reset();
  decodedLength_ = 0;
  encodedLength_ = 0;
}

namespace {
std::vector<unsigned char> ReadUpTo(const char* path, size_t max) {
  std::vector<unsigned char> bytes(max);
  const FileHolder file(fopen(path, "rb"));
  if (!file) return {};
  bytes.resize(fread(bytes.data(), 1, max, file.Get()));
  return bytes;
}
}  // namespace

bool Base64SelfTest() {
  const char* binPath = "K:\\Windows\\Test\\base64\\test.bin";
  const char* textPath = "K:\\Windows\\Test\\base64\\test.txt";
  const std::vector<unsigned char> bytes = ReadUpTo(binPath, 10000);
  Base64Codec codec(76);
  const char* text = codec.Encode(bytes.data(), bytes.size());
  FileHolder out(fopen(textPath, "wb"));
  if (out && text) fwrite(text, 1, strlen(text), out.Get());
  out.Close();  // read back below
  const size_t encoded = text ? strlen(text) : 0;
  std::vector<unsigned char> decoded(encoded + 1);
  const size_t n = text ? Base64Decode(decoded.data(), text) : 0;
  const bool first = !bytes.empty() && n == bytes.size() && memcmp(decoded.data(), bytes.data(), n) == 0;
  OutputDebugStringA(first ? "Success 1\n" : "Failure 1\n");

  std::vector<unsigned char> textBack = ReadUpTo(textPath, 20000);
  textBack.push_back(0);
  const unsigned char* again = codec.Decode(reinterpret_cast<const char*>(textBack.data()));
  const size_t length = static_cast<size_t>(codec.DecodedLength());
  const bool second = again && length <= bytes.size() && memcmp(again, bytes.data(), length) == 0;
  OutputDebugStringA(second ? "Success 2\n" : "Failure 2\n");
  return first && second;
}

MemoryStream::MemoryStream(const char* mode) {
  mode_ = (mode && (mode[0] == 'r' || mode[0] == 'R')) ? 1 : 2;
  text_ = mode && mode[0] && (mode[1] == 't' || mode[1] == 'T');
  Reserve(4096);
}

MemoryStream::MemoryStream(const char* mode, const void* bytes, size_t length) : MemoryStream(mode) {
  Reserve(length);
  if (length) memcpy(buffer_.get(), bytes, length);
  length_ = length;
}

void MemoryStream::Reserve(size_t capacity) {
  if (capacity <= capacity_) return;
  std::unique_ptr<unsigned char[]> grown(new unsigned char[capacity]);
  if (length_) memcpy(grown.get(), buffer_.get(), length_);
  buffer_ = std::move(grown);
  capacity_ = capacity;
}

bool MemoryStream::ReadLine(char* line, size_t max) {
  if (max == 0 || Eof()) return false;
  size_t n = 0;
  while (n + 1 < max && position_ < length_) {
    const char c = static_cast<char>(buffer_[position_++]);
    line[n++] = c;
    if (c == '\n') break;
  }
  if (text_ && n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n') {
    line[n - 2] = '\n';
    --n;
  }
  line[n] = '\0';
  return true;
}

int MemoryStream::GetChar() {
  while (position_ < length_) {
    const unsigned char c = buffer_[position_++];
    if (!(text_ && c == '\r')) return c;
  }
  return -1;
}

void MemoryStream::PutChar(char c) {
  const size_t needed = length_ + 2;
  if (needed > capacity_) Reserve(std::max<size_t>(capacity_ * 2, std::max<size_t>(needed, 4096)));
  buffer_[length_++] = static_cast<unsigned char>(c);
  if (text_ && c == '\r') buffer_[length_++] = '\n';
  position_ = length_;
}

int MemoryStream::Printf(const char* format, ...) {
  constexpr size_t kMostPerCall = 4096;
  if (!format) return 0;
  // The formatter also writes a terminating NUL after the longest text.
  if (capacity_ - length_ <= kMostPerCall) Reserve(capacity_ + 8192);
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(reinterpret_cast<char*>(buffer_.get() + length_), kMostPerCall + 1, format, args);
  va_end(args);
  if (n < 0) return 0;
  const size_t written = std::min(static_cast<size_t>(n), kMostPerCall);  // n counts what did not fit too
  length_ += written;
  position_ = length_;
  return static_cast<int>(written);
}

HeapBuff QBase64::Decode(const char* text) {
  MemoryStream in("rt", text, text ? strlen(text) : 0);
  MemoryStream out("wb");
  Base64LineDecoder decoder;
  char line[4097];
  auto put = [&](unsigned char b) { out.PutChar(static_cast<char>(b)); };
  while (in.ReadLine(line, sizeof(line)) && decoder.Line(line, put)) continue;
  return HeapBuff(out.Length(), out.Data());
}

_bstr_t QBase64::Encode(const void* data, size_t length) {
  MemoryStream in("rb", data, data ? length : 0);
  std::string text;
  EncodeBase64Lines([&] { return in.GetChar(); }, [&](char c) { text += c; });
  return _bstr_t(text.c_str());
}
