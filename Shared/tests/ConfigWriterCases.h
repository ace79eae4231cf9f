// What the tool writes for a set of edited options, and what both agents' readers make of that
// text. The tool's test applies each case's edits, saves, compares the file with `read.text`
// and reads it back with its own reader; each agent's test reads `read.text` with its reader and
// checks `read` as for kConfigReaderCases. A case with `refused` set is one the tool must refuse
// to write, naming that option; no agent sees it.
#pragma once

#include "tests/ConfigReaderCases.h"

struct ConfigWriterCase {
  const wchar_t* edits;  // "ID=value" lines, as an editor sets them (any wide character)
  const char* refused;   // the option the tool refuses to write, or null
  ConfigReaderCase read;
};

// Runs of one letter for values at the agents' length limits (257 and 513 characters).
#define CFG_RUN64 "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
#define CFG_RUN256 CFG_RUN64 CFG_RUN64 CFG_RUN64 CFG_RUN64
#define CFG_RUN512 CFG_RUN256 CFG_RUN256

inline constexpr ConfigWriterCase kConfigWriterCases[] = {
    // Every number at its top; CS is always written as 2.
    {L"RP=65535\nLD=9999\nUT=255\nRH=-1\nRX=2147483647\nRW=-2147483648\nRM=4294967296.5\nLE=1\nLC=-1\nCR=99999\nCS=9",
     nullptr,
     {"CS[2] CR[99999] RP[65535] LD[9999] UT[255] RH[-1] RX[2147483647] RW[-2147483648] RM[4294967296.500000] LE[1] "
      "LC[-1] ",
      true, true,
      "CS=2\nCR=99999\nRP=65535\nLD=9999\nUT=255\nRH=4294967295\nRX=2147483647\nLE=1\nLC=4294967295", "",
      "RW=2147483648\nRM=4294967296.500000"}},
    // ... and at its bottom.
    {L"RP=0\nLD=0\nUT=0\nRH=0\nRX=0\nRW=0\nRM=-0.5\nLE=0\nLC=0\nCR=0",
     nullptr,
     {"CS[2] CR[0] RP[0] LD[0] UT[0] RH[0] RX[0] RW[0] RM[-0.500000] LE[0] LC[0] ", true, true, "CS=2", "",
      "RW=0\nRM=-0.500000"}},
    // Every text at the most an agent reads: all of it arrives (reading LF clears LE on the Mac).
    {L"RA=" CFG_RUN256 "a\nCF=" CFG_RUN512 "c\nUQ=" CFG_RUN256 "q\nUM=" CFG_RUN256 "m\nLF=" CFG_RUN512
     "f\nUU=" CFG_RUN512 "u\nUN=" CFG_RUN512 "n\nUG=" CFG_RUN512 "g\nUD=" CFG_RUN512 "d\nUL=" CFG_RUN512
     "l\nUC=" CFG_RUN512 "c\nWI=" CFG_RUN512 "w",
     nullptr,
     {"CS[2] CR[0] RA[" CFG_RUN256 "a] CF[" CFG_RUN512 "c] UQ[" CFG_RUN256 "q] UM[" CFG_RUN256 "m] LF[" CFG_RUN512
      "f] UU[" CFG_RUN512 "u] UN[" CFG_RUN512 "n] UG[" CFG_RUN512 "g] UD[" CFG_RUN512 "d] UL[" CFG_RUN512
      "l] UC[" CFG_RUN512 "c] WI[" CFG_RUN512 "w] ",
      true, true,
      "CS=2\nRA=" CFG_RUN256 "a\nUQ=" CFG_RUN256 "q\nUM=" CFG_RUN256 "m\nLF=" CFG_RUN512 "f", "",
      "CF=" CFG_RUN512 "c"}},
    // The characters the language gives a meaning elsewhere are plain text inside a value,
    // blanks at either end included.
    {L"RA=a;b,c{d}[e\nCF=\\\\srv\\share\\{x}.cfg\nUQ=cn={%1}, ou=[x;\nUM= {lead and trail} \n"
     L"LF=C:\\logs\\{a};[b,c.log\nUU=[\nUN={\nUG=}\nUD=;\nUL=,",
     nullptr,
     {"CS[2] CR[0] RA[a;b,c{d}[e] CF[\\\\srv\\share\\{x}.cfg] UQ[cn={%1}, ou=[x;] UM[ {lead and trail} ] "
      "LF[C:\\logs\\{a};[b,c.log] UU[[] UN[{] UG[}] UD[;] UL[,] ",
      true, true,
      "CS=2\nRA=a;b,c{d}[e\nUQ=cn={%1}, ou=[x;\nUM= {lead and trail} \nLF=C:\\logs\\{a};[b,c.log", "",
      "CF=\\\\srv\\share\\{x}.cfg"}},
    // Latin-1 text is written a byte per character.
    {L"RA=h\u00f4te.example\nUQ=cn=Zo\u00e9,ou=\u00c9quipe \u00ff\nLF=C:\\journ\u00e9" L"es.log",
     nullptr,
     {"CS[2] CR[0] RA[h\xf4te.example] UQ[cn=Zo\xe9,ou=\xc9quipe \xff] LF[C:\\journ\xe9" "es.log] ", true, true,
      "CS=2\nRA=h\xf4te.example\nUQ=cn=Zo\xe9,ou=\xc9quipe \xff\nLF=C:\\journ\xe9" "es.log", "", ""}},
    // Refused: characters the file's 8-bit text cannot hold (their low 8 bits would be "]" and
    // NUL), a "]", and values longer than an agent reads. One bad value stops the whole text.
    {L"UQ=ab\u015dcd", "UQ", {}},
    {L"RP=140\nRA=x\u0100y", "RA", {}},
    {L"UU=a]b", "UU", {}},
    {L"RA=" CFG_RUN256 "ab", "RA", {}},
    {L"UM=" CFG_RUN256 "ab", "UM", {}},
    {L"LF=" CFG_RUN512 "ab", "LF", {}},
    {L"WI=" CFG_RUN512 "ab", "WI", {}},
    {L"LD=10000", "LD", {}},
};

#undef CFG_RUN64
#undef CFG_RUN256
#undef CFG_RUN512
