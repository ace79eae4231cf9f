// CString: 8-bit text in the system code page (the A-family Win32 calls).
//   construction from const char*, (const char*, length), (char, repeat), std::string
//   GetLength IsEmpty Empty GetAt SetAt operator[] GetString operator LPCSTR
//   = += + == != < > <= >= (with CString and const char*)
//   Compare CompareNoCase Collate
//   Mid Left Right Find(char|text, start) ReverseFind FindOneOf
//   MakeUpper MakeLower MakeReverse Trim TrimLeft TrimRight (white space, a char, or a set)
//   Replace Remove Insert Delete
//   Format FormatV AppendFormat (printf formats; pass CString arguments as GetString())
//   LoadString(id) from the program's string table
//   GetBuffer(min) / GetBufferSetLength / ReleaseBuffer(len = up to the first NUL)
// Positions are zero-based ints; -1 means "not found".
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

class CString {
 public:
  CString() = default;
  CString(const char* text) : s_(text ? text : "") {}
  CString(const char* text, int length) : s_(text ? std::string(text, length > 0 ? length : 0) : std::string()) {}
  CString(char ch, int repeat = 1) : s_(repeat > 0 ? repeat : 0, ch) {}
  explicit CString(const std::string& text) : s_(text) {}

  int GetLength() const { return static_cast<int>(s_.size()); }
  BOOL IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }
  char GetAt(int index) const { return s_.at(index); }
  void SetAt(int index, char ch) { s_.at(index) = ch; }
  char operator[](int index) const { return s_.at(index); }
  const char* GetString() const { return s_.c_str(); }
  operator const char*() const { return s_.c_str(); }
  const std::string& Str() const { return s_; }

  CString& operator=(const char* text) { s_ = text ? text : ""; return *this; }
  CString& operator=(char ch) { s_.assign(1, ch); return *this; }
  CString& operator+=(const CString& text) { s_ += text.s_; return *this; }
  CString& operator+=(const char* text) { if (text) s_ += text; return *this; }
  CString& operator+=(char ch) { s_ += ch; return *this; }

  friend CString operator+(const CString& a, const CString& b) { return CString(a.s_ + b.s_); }
  friend CString operator+(const CString& a, const char* b) { CString r(a); r += b; return r; }
  friend CString operator+(const char* a, const CString& b) { CString r(a); r += b; return r; }
  friend CString operator+(const CString& a, char b) { CString r(a); r += b; return r; }
  friend CString operator+(char a, const CString& b) { CString r(a); r += b; return r; }

  friend bool operator==(const CString& a, const CString& b) { return a.s_ == b.s_; }
  friend bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
  friend bool operator==(const char* a, const CString& b) { return b.Compare(a) == 0; }
  friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
  friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
  friend bool operator!=(const char* a, const CString& b) { return !(a == b); }
  friend bool operator<(const CString& a, const CString& b) { return a.Compare(b) < 0; }
  friend bool operator>(const CString& a, const CString& b) { return a.Compare(b) > 0; }
  friend bool operator<=(const CString& a, const CString& b) { return a.Compare(b) <= 0; }
  friend bool operator>=(const CString& a, const CString& b) { return a.Compare(b) >= 0; }

  // Byte order (strcmp); CompareNoCase and Collate as the C runtime's _stricmp and strcoll.
  int Compare(const char* text) const;
  int CompareNoCase(const char* text) const;
  int Collate(const char* text) const;

  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  CString Left(int count) const;
  CString Right(int count) const;

  int Find(char ch, int start = 0) const;
  int Find(const char* text, int start = 0) const;
  int ReverseFind(char ch) const;
  int FindOneOf(const char* chars) const;

  CString& MakeUpper();
  CString& MakeLower();
  CString& MakeReverse();
  CString& Trim();
  CString& Trim(char ch);
  CString& Trim(const char* chars);
  CString& TrimLeft();
  CString& TrimLeft(char ch);
  CString& TrimLeft(const char* chars);
  CString& TrimRight();
  CString& TrimRight(char ch);
  CString& TrimRight(const char* chars);

  // Each returns the number of replacements or removals.
  int Replace(char oldCh, char newCh);
  int Replace(const char* oldText, const char* newText);
  int Remove(char ch);
  // Each returns the new length.
  int Insert(int index, char ch);
  int Insert(int index, const char* text);
  int Delete(int index, int count = 1);

  void Format(const char* format, ...);
  void FormatV(const char* format, va_list args);
  void AppendFormat(const char* format, ...);

  // FALSE (and the text emptied) when the string table has no entry.
  BOOL LoadString(UINT id);

  // A writable buffer of at least minLength characters plus a terminator;
  // ReleaseBuffer(-1) takes the text up to the first NUL.
  char* GetBuffer(int minLength = 0);
  char* GetBufferSetLength(int length);
  void ReleaseBuffer(int newLength = -1);

 private:
  std::string s_;
};
