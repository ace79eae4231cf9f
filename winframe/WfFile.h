// Text files line by line, as the grid saves and loads them.
//   CStdioFile  Open(name, flags) with modeRead or modeWrite | modeCreate (text mode:
//               "\n" is written as CR LF, and a CR before LF is dropped on reading);
//               ReadString reads a whole line of any length (without its line end),
//               FALSE at the end of the file; WriteString; Close; IsOpen.
//               Failures after opening throw CFileException with the system error code.
#pragma once

#include <windows.h>

#include <cstdio>

#include "WfObject.h"
#include "WfString.h"

class CFileException : public CException {
  DECLARE_DYNAMIC(CFileException)
 public:
  explicit CFileException(DWORD error = 0) : m_lOsError(error) {}
  // Shows the system's text for the error in a message box.
  void ReportError() const;
  DWORD m_lOsError;
};

class CStdioFile {
 public:
  enum OpenFlags : UINT { modeRead = 0x0000, modeWrite = 0x0001, modeCreate = 0x1000, typeText = 0x4000 };

  CStdioFile() = default;
  ~CStdioFile() {
    if (file_) std::fclose(file_);
  }
  CStdioFile(const CStdioFile&) = delete;
  CStdioFile& operator=(const CStdioFile&) = delete;

  // FALSE when the file cannot be opened; the error goes into `error` when given.
  BOOL Open(const char* name, UINT flags, CFileException* error = nullptr);
  BOOL IsOpen() const { return file_ != nullptr; }
  BOOL ReadString(CString& line);
  void WriteString(const char* text);
  void Close();

 private:
  FILE* file_ = nullptr;
};
