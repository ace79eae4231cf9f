// The loading and saving of configuration files, in the configuration language of CfgText.h.
#pragma once

#include "options/CfgText.h"

#include <string>
#include <vector>

class CfgFile {
 public:
  // Resets the set to defaults and loads the file into it (source Config file); a file that
  // cannot be read leaves the set as it was. A value its option refuses is left out, the
  // option keeping its default (or what the file set before), and the log names both; the
  // rest of the file loads.
  struct Load {
    Load(CfgSet& set, const std::string& path);
    bool success = false;
    std::wstring error;
    std::vector<CfgRefusal> refused;
  };
  // Before a file is written over: one there that cannot be read or parsed is copied (or,
  // when it cannot even be read, renamed) to "<path>.unreadable-N", with the lowest N that no
  // earlier kept file has, and the log says where. A missing file, or one that loads, is left
  // alone. Success is false only when such a file could not be kept: it must not be written.
  struct KeepUnreadable {
    explicit KeepUnreadable(const std::string& path);
    bool success = false;
    std::string kept;
  };
  // What the tool's reader makes of a configuration file, as a digest (16 hexadecimal digits)
  // of the ID and value of every option the file sets: files that configure alike have the
  // same one, whatever their line ends, encoding or comments. Empty for a missing file or one
  // that does not parse. Nothing is logged.
  static std::string Fingerprint(const std::string& path);
  // Writes the set's text to the file through a temporary file beside it, so that a failed
  // save leaves the old file whole.
  struct Save {
    Save(const CfgSet& set, const std::wstring& path);
    Save(const CfgSet& set, const std::string& path);
    bool success = false;
    std::wstring error;
  };
};
