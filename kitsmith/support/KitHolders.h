// Owners of the tool's system objects (the kernel-handle and registry-key holders are shared
// with the agent).
#pragma once

#include "WinHolders.h"  // HandleHolder, KeyHolder

#include <windows.h>

#include <commctrl.h>
#include <rpc.h>

#include <cstdio>
#include <string>

// Owns one stdio file. Close answers whether the close (and so the last write) succeeded.
class FileHolder {
 public:
  FileHolder() = default;
  explicit FileHolder(FILE* file) : file_(file) {}
  ~FileHolder() { Close(); }
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;
  FileHolder(FileHolder&& other) noexcept : file_(other.file_) { other.file_ = nullptr; }
  FileHolder& operator=(FileHolder&& other) noexcept {
    if (this != &other) {
      Close();
      file_ = other.file_;
      other.file_ = nullptr;
    }
    return *this;
  }

  FILE* Get() const { return file_; }
  explicit operator bool() const { return file_ != nullptr; }
  // Closes the held file and takes over another.
  void Reset(FILE* file = nullptr) {
    Close();
    file_ = file;
  }
  bool Close() {
    const bool closed = !file_ || fclose(file_) == 0;
    file_ = nullptr;
    return closed;
  }

 private:
  FILE* file_ = nullptr;
};

// Owns one file search; data holds the current entry.
class FindHolder {
 public:
  explicit FindHolder(const std::string& pattern) : find_(FindFirstFileA(pattern.c_str(), &data)) {}
  ~FindHolder() {
    if (Valid()) FindClose(find_);
  }
  FindHolder(const FindHolder&) = delete;
  FindHolder& operator=(const FindHolder&) = delete;
  bool Valid() const { return find_ != INVALID_HANDLE_VALUE; }
  bool Next() { return FindNextFileA(find_, &data) != FALSE; }

  WIN32_FIND_DATAA data = {};

 private:
  HANDLE find_;
};

// Owns an image list until Release hands it on (to a list view that destroys its own).
class ImageListHolder {
 public:
  explicit ImageListHolder(HIMAGELIST list) : list_(list) {}
  ~ImageListHolder() {
    if (list_) ImageList_Destroy(list_);
  }
  ImageListHolder(const ImageListHolder&) = delete;
  ImageListHolder& operator=(const ImageListHolder&) = delete;
  HIMAGELIST Get() const { return list_; }
  HIMAGELIST Release() {
    HIMAGELIST list = list_;
    list_ = nullptr;
    return list;
  }

 private:
  HIMAGELIST list_;
};

// Owns a string the RPC runtime allocated.
class RpcStringHolder {
 public:
  RpcStringHolder() = default;
  ~RpcStringHolder() {
    if (text_) RpcStringFreeA(&text_);
  }
  RpcStringHolder(const RpcStringHolder&) = delete;
  RpcStringHolder& operator=(const RpcStringHolder&) = delete;
  RPC_CSTR* Out() { return &text_; }
  const char* Get() const { return reinterpret_cast<const char*>(text_); }

 private:
  RPC_CSTR text_ = nullptr;
};
