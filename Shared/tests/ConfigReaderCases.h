// One set of configuration texts that both agents' readers are tested against.
// Each text is parsed into a zeroed record. "both" lists the values both readers
// must hold afterwards, one KEY=value per line; every key of kCommonConfigKeys that
// is not listed must hold its zero value ("" or 0). "mac" and "windows" list where
// the two readers differ by design: their key sets, widths and side effects.
#pragma once

#include <map>
#include <sstream>
#include <string>

struct ConfigReaderCase {
  const char* text;
  bool macOk;
  bool windowsOk;
  const char* both;
  const char* mac;
  const char* windows;
};

// Keys both readers know, checked in every case.
inline constexpr const char* kCommonConfigKeys[] = {"RA", "RP", "RH", "RX", "NP", "LE", "LF",
                                                    "LC", "LD", "CS", "CR", "UT", "UQ", "UM"};

inline constexpr ConfigReaderCase kConfigReaderCases[] = {
    {"RA[10.0.0.1]", true, true, "RA=10.0.0.1", "", ""},
    {"ra[10.0.0.1] rp[140]", true, true, "RA=10.0.0.1\nRP=140", "", ""},
    {";RA[10.0.0.1]RP[140]", true, true, "RP=140", "", ""},
    {"RA [10.0.0.1]", false, false, "", "", ""},
    {"RP[140]R", false, false, "RP=140", "", ""},
    {"RA[10.0.0.1", false, false, "", "", ""},
    {"{comment}RP[140]", true, true, "RP=140", "", ""},
    {"RP[140]{RH[500]", true, true, "RP=140", "", ""},
    {"XX[1]RP[140]", true, true, "RP=140", "", ""},
    {"CR[12]CS[34]", true, true, "CR=12\nCS=34", "", ""},
    {"CR[1234567890]", true, true, "CR=1234567890", "", ""},
    {"LE[10]", true, true, "LE=10", "", ""},
    {"LE[100]RP[1]", false, false, "", "", ""},
    {"LC[3221225471]RH[-1]RX[ +42x]", true, true, "LC=3221225471\nRH=4294967295\nRX=42", "", ""},
    {"RP[70000]", true, true, "RP=4464", "", ""},
    {"LD[9]UT[3]", true, true, "LD=9\nUT=3", "", ""},
    {"UQ[cn=%1,ou=x]UM[cn=%1]", true, true, "UQ=cn=%1,ou=x\nUM=cn=%1", "", ""},
    // Ten digits and more: the Mac reader cuts a 64-bit value, the Windows one saturates.
    {"RH[99999999999]", true, true, "", "RH=1215752191", "RH=4294967295"},
    // Reading LF sets LE on the Mac only.
    {"LE[1]LF[x.log]", true, true, "LF=x.log", "LE=0", "LE=1"},
    // NP is 8 bits wide on the Mac, 16 on Windows.
    {"NP[-1]", true, true, "", "NP=255", "NP=65535"},
    // UT takes 4 characters on the Mac, 5 on Windows.
    {"UT[65535]", false, true, "", "", "UT=-1"},
    // Keys only one reader knows are skipped by the other.
    {"RW[5]CF[x.cfg]RR[6]RT[7]", true, true, "", "RR=6\nRT=7", "RW=5\nCF=x.cfg"},
};

// KEY=value lines into the map; a later line for the same key wins.
inline void AddConfigExpectations(std::map<std::string, std::string>& into, const std::string& lines) {
  std::istringstream stream(lines);
  for (std::string line; std::getline(stream, line);) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) into[line.substr(0, equals)] = line.substr(equals + 1);
  }
}

// What one reader's record must hold after the case: every common key at its zero value,
// then the case's values for both readers, then those for this reader.
inline std::map<std::string, std::string> ConfigReaderExpectations(const ConfigReaderCase& c, bool mac) {
  std::map<std::string, std::string> expected;
  for (const std::string key : kCommonConfigKeys) {
    const bool isText = key == "RA" || key == "LF" || key == "UQ" || key == "UM";
    expected[key] = isText ? "" : "0";
  }
  AddConfigExpectations(expected, c.both);
  AddConfigExpectations(expected, mac ? c.mac : c.windows);
  return expected;
}
