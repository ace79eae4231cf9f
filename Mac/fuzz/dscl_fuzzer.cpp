// libFuzzer target over the reader of the directory tool's listings, as the identity check
// uses it: the records, their groups, and the identity taken from them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "identity/UserIdent.h"
#include "identity/dscl_parser.h"
#include "support/Logging.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The cache files asked for are looked for in a folder of the run's own.
  static char folder[] = "/tmp/dscl-fuzz-XXXXXX";
  if (!mkdtemp(folder)) std::abort();
  std::atexit([] { std::filesystem::remove_all(folder); });
  setenv("HOME", folder, 1);
  LogHub<LogContext>::Get().SetDefaultLevel(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The tool's output as the agent holds it: a text ending at its first NUL.
  const std::string text(reinterpret_cast<const char*>(data), size);
  dscl_parser parser;
  const int count = parser.parse(text.c_str());
  // The form that takes the text over reads the same records, and lets go of the text only
  // when it found some.
  std::string taken = text;
  dscl_parser other;
  if (other.parse(std::move(taken)) != count || taken != (count ? "" : std::string(text.c_str()))) std::abort();
  const std::vector<dscl_rec> records = parser.records(), others = other.records();
  if (records.size() != others.size()) std::abort();
  for (size_t i = 0; i < records.size(); ++i) {
    const dscl_rec &a = records[i], &b = others[i];
    if (a.name != b.name || a.value != b.value || a.group != b.group) std::abort();
  }
  // Kept to a few names, the parser counts the same and places the same groups.
  dscl_parser kept({"RecordName", "UniqueID", "AppleMetaNodeLocation"});
  if (kept.parse(text.c_str()) != count) std::abort();
  const std::vector<dscl_rec> keptRecords = kept.records();
  size_t k = 0;
  for (const dscl_rec& rec : records) {
    if (rec.name != "RecordName" && rec.name != "UniqueID" && rec.name != "AppleMetaNodeLocation") continue;
    if (k >= keptRecords.size() || keptRecords[k].name != rec.name || keptRecords[k].value != rec.value ||
        keptRecords[k].group != rec.group)
      std::abort();
    ++k;
  }
  if (k != keptRecords.size()) std::abort();
  if (count == 0) return 0;  // the identity check only keeps such a text in a file
  // A group is looked up by halving: group indexes must never fall along the records.
  for (size_t i = 1; i < records.size(); ++i)
    if (records[i].group < records[i - 1].group) std::abort();
  static const LogSource log("dscl_fuzzer");
  UserIdent ident(log);
  ident.parse_dscl(text.c_str());
  return 0;
}
