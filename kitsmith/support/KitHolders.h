// Owners of the tool's system objects (the kernel-handle holder is shared with the agent).
#pragma once

#include "WinHolders.h"  // HandleHolder

#include <windows.h>

#include <commctrl.h>
#include <rpc.h>

#include <string>

// Owns one open registry key.
class RegKeyHolder {
 public:
  RegKeyHolder() = default;
  ~RegKeyHolder() { Close(); }
  RegKeyHolder(const RegKeyHolder&) = delete;
  RegKeyHolder& operator=(const RegKeyHolder&) = delete;

  HKEY Get() const { return key_; }
  // For the open and create calls to fill; closes what was held first.
  HKEY* Out() {
    Close();
    return &key_;
  }
  void Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
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
