#include "WfString.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "WfApp.h"

namespace {

const char kWhiteSpace[] = " \t\r\n\v\f";

int Clamp(int value, int low, int high) { return std::max(low, std::min(value, high)); }

}  // namespace

int CString::Compare(const char* text) const { return strcmp(s_.c_str(), text ? text : ""); }

int CString::CompareNoCase(const char* text) const { return _stricmp(s_.c_str(), text ? text : ""); }

int CString::Collate(const char* text) const { return strcoll(s_.c_str(), text ? text : ""); }

CString CString::Mid(int first) const { return Mid(first, GetLength()); }

CString CString::Mid(int first, int count) const {
  first = Clamp(first, 0, GetLength());
  count = Clamp(count, 0, GetLength() - first);
  return CString(s_.substr(first, count));
}

CString CString::Left(int count) const { return Mid(0, count); }

CString CString::Right(int count) const {
  count = Clamp(count, 0, GetLength());
  return CString(s_.substr(s_.size() - count));
}

int CString::Find(char ch, int start) const {
  if (start < 0 || start >= GetLength()) return -1;
  const size_t pos = s_.find(ch, start);
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const char* text, int start) const {
  if (!text || start < 0 || start > GetLength()) return -1;
  const size_t pos = s_.find(text, start);
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(char ch) const {
  const size_t pos = s_.rfind(ch);
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::FindOneOf(const char* chars) const {
  if (!chars || !*chars) return -1;
  const size_t pos = s_.find_first_of(chars);
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

CString& CString::MakeUpper() {
  CharUpperBuffA(s_.data(), static_cast<DWORD>(s_.size()));
  return *this;
}

CString& CString::MakeLower() {
  CharLowerBuffA(s_.data(), static_cast<DWORD>(s_.size()));
  return *this;
}

CString& CString::MakeReverse() {
  std::reverse(s_.begin(), s_.end());
  return *this;
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }
CString& CString::Trim(char ch) { return TrimRight(ch).TrimLeft(ch); }
CString& CString::Trim(const char* chars) { return TrimRight(chars).TrimLeft(chars); }
CString& CString::TrimLeft() { return TrimLeft(kWhiteSpace); }
CString& CString::TrimRight() { return TrimRight(kWhiteSpace); }

CString& CString::TrimLeft(char ch) {
  const char set[2] = {ch, 0};
  return ch ? TrimLeft(set) : *this;
}

CString& CString::TrimRight(char ch) {
  const char set[2] = {ch, 0};
  return ch ? TrimRight(set) : *this;
}

CString& CString::TrimLeft(const char* chars) {
  if (chars && *chars) s_.erase(0, std::min(s_.size(), s_.find_first_not_of(chars)));
  return *this;
}

CString& CString::TrimRight(const char* chars) {
  if (chars && *chars) {
    const size_t last = s_.find_last_not_of(chars);
    s_.erase(last == std::string::npos ? 0 : last + 1);
  }
  return *this;
}

int CString::Replace(char oldCh, char newCh) {
  int count = 0;
  for (char& c : s_)
    if (c == oldCh) {
      c = newCh;
      ++count;
    }
  return count;
}

int CString::Replace(const char* oldText, const char* newText) {
  if (!oldText || !*oldText) return 0;
  const std::string from(oldText), to(newText ? newText : "");
  int count = 0;
  for (size_t pos = s_.find(from); pos != std::string::npos; pos = s_.find(from, pos + to.size())) {
    s_.replace(pos, from.size(), to);
    ++count;
  }
  return count;
}

int CString::Remove(char ch) {
  const size_t before = s_.size();
  s_.erase(std::remove(s_.begin(), s_.end(), ch), s_.end());
  return static_cast<int>(before - s_.size());
}

int CString::Insert(int index, char ch) {
  s_.insert(s_.begin() + Clamp(index, 0, GetLength()), ch);
  return GetLength();
}

int CString::Insert(int index, const char* text) {
  if (text) s_.insert(Clamp(index, 0, GetLength()), text);
  return GetLength();
}

int CString::Delete(int index, int count) {
  if (index >= 0 && index < GetLength() && count > 0) s_.erase(index, count);
  return GetLength();
}

void CString::FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int needed = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed < 0) {
    s_.clear();
    return;
  }
  std::vector<char> buffer(needed + 1);
  vsnprintf(buffer.data(), buffer.size(), format, args);
  s_.assign(buffer.data(), needed);
}

void CString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void CString::AppendFormat(const char* format, ...) {
  CString tail;
  va_list args;
  va_start(args, format);
  tail.FormatV(format, args);
  va_end(args);
  s_ += tail.s_;
}

BOOL CString::LoadString(UINT id) {
  // The table stores 16-bit text; its entries are at most 4097 characters.
  const wchar_t* text = nullptr;
  const int length = ::LoadStringW(AfxGetResourceHandle(), id, reinterpret_cast<LPWSTR>(&text), 0);
  s_.clear();
  if (length <= 0 || !text) return FALSE;
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  s_.resize(bytes);
  WideCharToMultiByte(CP_ACP, 0, text, length, s_.data(), bytes, nullptr, nullptr);
  return TRUE;
}

char* CString::GetBuffer(int minLength) {
  if (minLength > GetLength()) s_.resize(minLength);
  return s_.data();
}

char* CString::GetBufferSetLength(int length) {
  s_.resize(std::max(length, 0));
  return s_.data();
}

void CString::ReleaseBuffer(int newLength) {
  if (newLength < 0) newLength = static_cast<int>(strlen(s_.c_str()));
  s_.resize(std::min<size_t>(newLength, s_.size()));
}
