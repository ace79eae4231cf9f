// The conversions behind _bstr_t that the compiler's runtime declares but does not provide.
#include <windows.h>

#include <comutil.h>
#include <oleauto.h>
namespace _com_util {

BSTR WINAPI ConvertStringToBSTR(const char* source) {
  if (!source) return nullptr;
  const int length = MultiByteToWideChar(CP_ACP, 0, source, -1, nullptr, 0);
  if (length <= 0) return nullptr;
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
  if (!text) _com_issue_error(E_OUTOFMEMORY);
  MultiByteToWideChar(CP_ACP, 0, source, -1, text, length);
  return text;
}

// The caller frees the result with delete[].
char* WINAPI ConvertBSTRToString(BSTR source) {
  if (!source) return nullptr;
  const int length = WideCharToMultiByte(CP_ACP, 0, source, static_cast<int>(SysStringLen(source)) + 1, nullptr, 0,
                                         nullptr, nullptr);
  if (length <= 0) return nullptr;
  char* text = new char[length];
  WideCharToMultiByte(CP_ACP, 0, source, static_cast<int>(SysStringLen(source)) + 1, text, length, nullptr, nullptr);
  return text;
}

}  // namespace _com_util
