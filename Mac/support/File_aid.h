// Files as the agent uses them: whole-file reads, appending writes and a folder search.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "support/Basetypes.h"
#include "support/XCFString.h"

namespace File_aid {

enum OpenMode : int32_t { kRead = 1, kAppend = 2 };

// Larger files are not read, and a tool's output past it is refused: a directory record
// with a photo printed in hex comes to a few MiB.
constexpr int64_t kMaxReadSize = 16 * 1024 * 1024;

template <class T>
class File {
 public:
  explicit File(const char* name = nullptr, int32_t mode = kRead) {
    SetFilename(name);
    if (!_name.empty()) Open(mode);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  virtual ~File() { Close(); }

  // Mode kRead reads; every other mode appends, creating the file when missing.
  bool Open(int32_t mode);
  // False when a write on the stream failed or closing it did (buffered bytes not
  // written); true when all went through or nothing was open.
  bool Close();
  void SetFilename(const char* name) { _name = name ? name : ""; }
  const std::string& Filename() const { return _name; }
  bool IsOpen() const { return _stream != nullptr; }
  FILE* Stream() const { return _stream; }
  int Descriptor() const { return _stream ? fileno(_stream) : -1; }
  // Length in bytes; -1 without an open stream.
  int64_t GetSize();
  // Reads the whole file into Contents() with a terminator after it and closes the stream.
  // Returns the bytes read: 0 without an open stream, -1 when the file is larger than
  // kMaxReadSize, cannot be read, or the memory is refused.
  int64_t Read();
  const HeapBuff<T>& Contents() const { return _contents; }

 protected:
  std::string _name;
  FILE* _stream = nullptr;
  HeapBuff<T> _contents;
};

class AnsiTextFile : public File<char> {
 public:
  using File<char>::File;
  // Formats into at most 4094 characters and writes them when open; returns the length.
  int Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

// The first of count folder texts (each ending in "/") in which name exists, and its
// position in index; no hit: the empty string and index -1.
XCFString FindFileInPathList(const char* name, const char* const* folders, int32_t count, int32_t* index);
// The whole file as a string; one that cannot be opened or read: the empty string and -2.
XCFString ReadTextFile(const char* path, int32_t* error);
// Appends text to the file (created when missing); false with -2 when it cannot be opened
// or written.
bool WriteTextFile(const char* path, const char* text, int32_t* error);

}  // namespace File_aid
