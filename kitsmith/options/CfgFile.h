// The loading and saving of configuration files, in the configuration language of CfgText.h.
#pragma once

#include "options/CfgText.h"

#include <string>

class CfgFile {
 public:
  // Resets the set to defaults and loads the file into it (source Config file); a file that
  // cannot be read leaves the set as it was.
  struct Load {
    Load(CfgSet& set, const std::string& path);
    bool success = false;
    std::wstring error;
  };
  // Writes the set's text to the file through a temporary file beside it, so that a failed
  // save leaves the old file whole.
  struct Save {
    Save(const CfgSet& set, const std::wstring& path);
    Save(const CfgSet& set, const std::string& path);
    bool success = false;
    std::wstring error;
  };
};
