// The configuration texts that both agents' readers are tested against, read by this
// agent's reader: the shared reader cases, and the tool's written files.
#include <gtest/gtest.h>

#include <cwchar>
#include <fstream>
#include <string>

#include "TestSupport.h"
#include "config/ConfigInit.h"
#include "tests/ConfigReaderCases.h"
#include "tests/ConfigWriterCases.h"

namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += static_cast<char>(c);
  return out;
}

std::string Field(const std::string& key) {
  const AgentConfig& c = g_Config;
  if (key == "RA") return Narrow(c.RA);
  if (key == "LF") return Narrow(c.LF);
  if (key == "CF") return Narrow(c.CF);
  if (key == "UQ") return Narrow(c.Identity.UserDNTemplate.value);
  if (key == "UM") return Narrow(c.Identity.ComputerDNTemplate.value);
  if (key == "RP") return std::to_string(c.RP);
  if (key == "UT") return std::to_string(c.UT);
  if (key == "RM") return std::to_string(c.RM);
  const std::pair<const char*, uint32_t> numbers[] = {{"RH", c.RH}, {"RX", c.RX}, {"RW", c.RW}, {"NP", c.NP},
                                                      {"LE", c.LE}, {"LC", c.LC}, {"LD", c.LD}, {"CS", c.CS},
                                                      {"CR", c.CR}};
  for (const auto& [name, value] : numbers)
    if (key == name) return std::to_string(value);
  ADD_FAILURE() << "no field for key " << key;
  return "";
}

// Each file the tool writes, read as the agent reads its configuration file (from the ANSI
// code page, through CF).
TEST(ConfigCross, FilesTheToolWrites) {
  ScratchDir dir("configcross");
  const std::wstring path = dir / L"Idagent.cfg";
  for (const ConfigWriterCase& c : kConfigWriterCases) {
    if (c.refused) continue;
    const ConfigReaderCase& read = c.read;
    std::ofstream(path.c_str(), std::ios::binary) << read.text;
    g_Config = AgentConfig{};
    wcscpy(g_Config.CF, path.c_str());
    EXPECT_EQ(SUCCEEDED(ConfigInit::ReadConfigFile()), read.windowsOk) << read.text;
    for (const auto& [key, value] : ConfigReaderExpectations(read, false))
      EXPECT_EQ(Field(key), value) << read.text << " key " << key;
  }
}

TEST(ConfigCross, SharedReaderCases) {
  for (const ConfigReaderCase& c : kConfigReaderCases) {
    g_Config = AgentConfig{};
    const std::string text = c.text;
    const std::wstring wide(text.begin(), text.end());
    EXPECT_EQ(SUCCEEDED(ConfigInit::Parse(wide.c_str(), wide.size(), false)), c.windowsOk) << text;
    for (const auto& [key, value] : ConfigReaderExpectations(c, false))
      EXPECT_EQ(Field(key), value) << text << " key " << key;
  }
}

}  // namespace
