#include "NovellFake.h"

NOVELLFAKE_EXPORT NWLocaleInfo* NWLlocaleconv(NWLocaleInfo* info) {
  if (FakeFails(L"NWLlocaleconv") || info == nullptr) return nullptr;
  info->country = kFakeCountry;
  info->codePage = kFakeCodePage;
  return info;
}

NOVELLFAKE_EXPORT NWStatus NWInitUnicodeTables(int32_t country, int32_t codePage) {
  if (FakeFails(L"NWInitUnicodeTables")) return kFakeFailure;
  if (country != kFakeCountry || codePage != kFakeCodePage) return kFakeFailure;
  FakeAdjust(L"NOVELLFAKE_LIVE_TABLES", 1);
  return 0;
}

NOVELLFAKE_EXPORT NWStatus NWFreeUnicodeTables() {
  FakeAdjust(L"NOVELLFAKE_LIVE_TABLES", -1);
  return 0;
}
