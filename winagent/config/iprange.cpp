#include <winsock2.h>

#include "config/iprange.h"

#include <cwchar>

#include "support/Logging.h"
#include "support/Utilities.h"

namespace {

// Check and assertion records carry this file name and fixed line numbers that readers of
// the log look for.
constexpr char kSource[] = "iprange.cpp";
constexpr int kLineEmptyToken = 93;
constexpr int kLineBadAddress = 96;
constexpr int kLineNoDefault = 253;

// Longest text between the parentheses of one group.
constexpr size_t kMaxGroup = 513;


}  // namespace

bool IsChainDelimiter(wchar_t c) { return c != L'\0' && std::wcschr(L" ;+-_=,?~`|!@#$%^&*", c) != nullptr; }

HRESULT ParseChainAddress(const std::wstring& token, ChainAddress& out) {
  out = {};
  // Some conversions refuse the broadcast address as ambiguous; it is a valid range end.
  if (token == L"255.255.255.255") {
    out.address = 0xFFFFFFFFu;
    return S_OK;
  }
  WinsockScope winsock;
  sockaddr_in address = {};
  int length = sizeof(address);
  std::wstring text(token);
  if (WSAStringToAddressW(text.data(), AF_INET, nullptr, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return ResultFromWin32(static_cast<DWORD>(WSAGetLastError()));
  out.address = address.sin_addr.s_addr;
  out.port = ntohs(address.sin_port);
  return S_OK;
}

BackupChains& BackupChains::Instance() {
  static BackupChains instance;
  return instance;
}

void BackupChains::Clear() {
  chains_.clear();
  defaultPresent_ = false;
}

void BackupChains::ParseList(const wchar_t* text) {
  if (!text) return;
  const wchar_t* p = text;
  while (*p == L'(') {
    const wchar_t* start = p + 1;
    const wchar_t* close = start;
    while (*close && *close != L')' && static_cast<size_t>(close - start) <= kMaxGroup) ++close;
    if (*close != L')' || static_cast<size_t>(close - start) > kMaxGroup) return;
    if (FAILED(ParseChain(std::wstring(start, close).c_str()))) return;
    p = close + 1;
    if (IsChainDelimiter(*p)) ++p;
  }
}

HRESULT BackupChains::ParseChain(const wchar_t* text) {
  const wchar_t* p = text ? text : L"";
  std::wstring token;
  auto readToken = [&] {
    token.clear();
    while (*p && !IsChainDelimiter(*p)) token += *p++;
  };

  BackupChain chain;
  for (ChainAddress* range : {&chain.rangeStart, &chain.rangeEnd}) {
    if (!*p) return E_FAIL;
    readToken();
    ParseChainAddress(token, *range);  // a range bound that does not convert stays 0
    if (*p) ++p;
  }

  while (*p) {
    readToken();
    if (token.empty()) return TraceCheckAt(kSource, kLineEmptyToken, E_INVALIDARG);
    ChainAddress server;
    const HRESULT hr = ParseChainAddress(token, server);
    if (FAILED(hr)) return TraceCheckAt(kSource, kLineBadAddress, hr);
    chain.servers.push_back(server);
    if (*p) ++p;
  }

  chains_.push_back(std::move(chain));
  return S_OK;
}

void BackupChains::RemoveDefault() {
  if (!defaultPresent_) return;
  defaultPresent_ = false;
  if (chains_.empty()) {
    TraceAssertAt(kSource, kLineNoDefault);
    return;
  }
  chains_.pop_back();
}

void BackupChains::Assemble(const AgentConfig& config) {
  Clear();
  ParseList(config.BackupChains);
  RemoveDefault();
  if (config.RA[0] == L'\0') return;
  // Every character of RA the reader accepts goes in: a cut could end the chain inside an address.
  const std::wstring text = L"0.0.0.0;255.255.255.255;" + std::wstring(config.RA);
  // The flag marks a chain that is really there, so RemoveDefault never takes a configured one.
  if (SUCCEEDED(ParseChain(text.c_str()))) defaultPresent_ = true;
}
