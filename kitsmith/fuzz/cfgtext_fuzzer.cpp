// libFuzzer target over the tool's configuration language: a file's bytes are decoded and
// parsed as the loader does; the set is written, and the written text read back must give
// every written value again and write the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "options/CfgText.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  fprintf(stderr, "cfgtext_fuzzer: %s\n", what);
  abort();
}

// Writes the set; the text, or "" when the writer refused (then some written option must be
// one that cannot be written, and the error names it).
std::string Write(const CfgSet& set) {
  std::ostringstream out;
  const CfgWriter writer(set, out);
  if (writer.done) return out.str();
  Check(out.str().empty(), "a refused set wrote something");
  bool named = false;
  for (const auto& option : set)
    if (!WritableValueProblem(*option).empty() && writer.error.find(std::string("'") + option->id + "'") != std::string::npos)
      named = true;
  Check(named, "a refusal names no option that cannot be written");
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that any read beyond the bytes is caught.
  std::unique_ptr<unsigned char[]> bytes(new unsigned char[size ? size : 1]);
  if (size) std::memcpy(bytes.get(), data, size);
  const std::wstring text = DecodeConfigText(bytes.get(), size);

  CfgSet set;
  set.ResetToDefaults();
  const CfgParser parser(set, text.c_str(), AuthCfg::kConfigFile);
  Check(parser.success == parser.error.empty(), "success and error disagree");

  const std::string written = Write(set);
  if (written.empty()) return 0;

  const std::wstring reread = DecodeConfigText(reinterpret_cast<const unsigned char*>(written.data()), written.size());
  CfgSet loaded;
  loaded.ResetToDefaults();
  const CfgParser again(loaded, reread.c_str(), AuthCfg::kConfigFile);
  Check(again.success, "the written text does not parse");
  Check(again.warnings.str().empty(), "the written text holds an unknown option");
  // Both sets hold the same options in the same order.
  auto next = loaded.begin();
  for (const auto& option : set) {
    const AuthCfg::OptionThunkT* back = (next++)->get();
    if (std::strcmp(option->id, "CS") == 0) {
      Check(back->ToText() == L"2", "the schema is not 2");
      continue;
    }
    const bool written = option->source != AuthCfg::kDefault || std::strcmp(option->id, "CR") == 0;
    if (!written) {
      Check(back->source == AuthCfg::kDefault, "an option at its default was written");
      continue;
    }
    Check(back->ToText() == option->ToText(), "a written value reads back different");
    Check(back->source == AuthCfg::kConfigFile, "a written value reads back from no file");
  }
  Check(Write(loaded) == written, "the text read back writes different bytes");
  return 0;
}
