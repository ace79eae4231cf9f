#include "WfFile.h"

#include <cerrno>
#include <string>

#include "WfApp.h"

IMPLEMENT_DYNAMIC(CFileException, CException)

void CFileException::ReportError() const {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 m_lOsError, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  AfxMessageBox(text ? text : "File error", MB_OK | MB_ICONEXCLAMATION);
  if (text) LocalFree(text);
}

BOOL CStdioFile::Open(const char* name, UINT flags, CFileException* error) {
  Close();
  const bool writing = (flags & modeWrite) != 0;
  // Text mode: the C library turns "\n" into CR LF and back.
  file_ = std::fopen(name, writing ? ((flags & modeCreate) ? "wt" : "r+t") : "rt");
  if (!file_ && error) error->m_lOsError = GetLastError() ? GetLastError() : static_cast<DWORD>(errno);
  return file_ != nullptr;
}

BOOL CStdioFile::ReadString(CString& line) {
  if (!file_) return FALSE;
  std::string text;
  char buffer[1024];
  bool any = false;
  while (std::fgets(buffer, sizeof(buffer), file_)) {
    any = true;
    text += buffer;
    if (!text.empty() && text.back() == '\n') break;
  }
  if (std::ferror(file_)) throw CFileException(static_cast<DWORD>(errno));
  if (!any) return FALSE;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  line = CString(text);
  return TRUE;
}

void CStdioFile::WriteString(const char* text) {
  if (!file_ || std::fputs(text, file_) < 0) throw CFileException(static_cast<DWORD>(errno));
}

void CStdioFile::Close() {
  if (!file_) return;
  const bool failed = std::fclose(file_) != 0;
  file_ = nullptr;
  if (failed) throw CFileException(static_cast<DWORD>(errno));
}
