// Text helpers of the tool's utility library: delimited fields, key=value lookups, trimming,
// integers in radix 2 to 16, registry writers and formatted output into a fixed buffer.
#pragma once

#include <windows.h>

#include <comutil.h>

#include <cstdarg>
#include <cstddef>
#include <string>

// Field n (0-based) of text split at the delimiter, cut to 4096 characters; "" when missing.
_bstr_t GetNthField(const char* text, int n, char delimiter, bool trim);
// As GetNthField, but a delimiter inside the first quoted stretch of each remaining text does
// not count (the first field uses quote, the later ones the double quote).
_bstr_t GetNthQuotedField(const char* text, int n, char delimiter, char quote);
// The first delimiter that is not inside the first quoted stretch; npos when there is none or
// the quote is not closed.
size_t FindDelimiterOutsideQuotes(const char* text, char delimiter, char quote);
int GetNthFieldAsInt(const char* text, int n, char delimiter);
double GetNthFieldAsDouble(const char* text, int n, char delimiter);
// Like GetNthField, any character of the set delimits and runs of them count as one.
_bstr_t GetNthToken(const char* text, int n, const char* delimiters, bool trim);
// The trimmed value after the "=" that follows the first occurrence of key, up to the first
// character of terminator.
_bstr_t GetKeyValue(const char* text, const char* key, const char* terminator);
int CountFields(const char* text, char delimiter);
_bstr_t TrimText(const char* text);

bool EnsureRegistryKey(HKEY root, const char* subKey);
bool WriteRegistryString(HKEY root, const char* subKey, const char* valueName, const char* text);
bool WriteRegistryInt(HKEY root, const char* subKey, const char* valueName, int value);
bool RegistryValueExists(HKEY root, const char* subKey, const char* valueName);

// The value's digits in radix 2 to 16 ("" for any other radix); also copied into buffer, when
// given, with room for 32 bytes.
std::string IntToText(int value, char* buffer = nullptr, int radix = 10);
// printf into a buffer of size characters, optionally ending it with CR LF; the length, or 0
// when nothing could be written.
int FormatToBuffer(char* buffer, size_t size, bool crlf, const char* format, ...);
// Ends the text with exactly one CR LF (cut first so that CR LF and the NUL fit); the new
// length.
int EnsureTrailingCrLf(char* buffer, size_t size);
