#include "unreferenced/Mime64.h"

#include "support/KitHolders.h"
#include "unreferenced/Base64.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kTempName[] = "$$$$$$$$.$$$";

void PrintUsage() {
  printf(
      "mime64 infile [outfile] [-option] [-option] etc.\n"
      "convert between binary and MIME BASE64 format\n"
      "  -e  encode to MIME base64 (default: decode)\n"
      "  -?  show this text\n"
      "  -r  allow the output to replace the input\n"
      "Without an output file, when encoding or with -r, the output replaces the input.\n");
}

bool StartsNoCase(const char* text, const char* prefix) { return _strnicmp(text, prefix, strlen(prefix)) == 0; }

// Only alphabet characters and "=", with trailing blanks allowed.
bool IsBase64Line(const char* line) {
  size_t end = strlen(line);
  while (end && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
  if (end == 0) return false;
  for (size_t i = 0; i < end; ++i)
    if (Base64Value(line[i]) < 0 && line[i] != '=') return false;
  return true;
}

// The "name" parameter of a Content-Type line, cut at the first character a file name
// should not hold.
std::string HeaderFileName(const char* line) {
  const char* p = line;
  for (; *p; ++p)
    if (StartsNoCase(p, "name=") && (p == line || !isalnum(static_cast<unsigned char>(p[-1])))) break;
  if (!*p) return "";
  p += 5;
  if (*p == '"') ++p;
  std::string name;
  for (; *p && (isalnum(static_cast<unsigned char>(*p)) || strchr("-./\\_~", *p)); ++p) name += *p;
  return name;
}

// A name from a header may only name a file in the current folder: its base name is kept,
// and ".." or a rooted name is refused ("" then).
std::string SafeBaseName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return "";
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/' || name[i] == '\\') {
      if (name.compare(start, i - start, "..") == 0) return "";
      start = i + 1;
    }
  }
  return name.substr(name.find_last_of("/\\") + 1);
}

bool SameFile(const std::string& a, const char* b) { return _stricmp(a.c_str(), b) == 0; }

// Closes an output file; false when a write or the close failed (a full disk), so that the
// input is never replaced by a cut copy.
bool CloseWritten(FileHolder& file) {
  const bool written = !ferror(file.Get());
  return file.Close() && written;
}

// The input gives way to the finished copy in one step: when that fails, both stay.
bool ReplaceInput(const char* inName) {
  if (MoveFileExA(kTempName, inName, MOVEFILE_REPLACE_EXISTING)) return true;
  printf("Couldn't replace %s\n", inName);
  return false;
}

int Encode(FileHolder& in, const char* inName, const char* outName) {
  const char* target = outName ? outName : kTempName;
  FileHolder out(fopen(target, "wt"));
  if (!out) {
    printf("Couldn't open %s for output\n", target);
    return -1;
  }
  fprintf(out.Get(), "Content-Type: text/plain; charset=US-ASCII; name=%s\nContent-transfer-encoding: base64\n\n",
          inName);
  EncodeBase64Lines([&] { return fgetc(in.Get()); }, [&](char c) { fputc(c, out.Get()); });
  in.Close();  // both closed before the input is replaced
  if (!CloseWritten(out)) {
    printf("Couldn't write %s\n", outName ? outName : inName);
    if (!outName) remove(kTempName);
    return -1;
  }
  if (!outName && !ReplaceInput(inName)) return -1;
  return 0;
}

struct Section {
  std::string name;       // output name, from the command line or the header
  bool named = false;     // a header or the command line gave a name
  bool notBase64 = false;
  bool skip = false;      // its Base64 lines are passed over
  bool started = false;   // a Base64 line was seen
  bool complete = false;  // its data ended normally
  size_t lineLength = 0;
  FILE* out = nullptr;    // own, or the output file given on the command line
  FileHolder own;
  std::string path;       // the file written
  Base64LineDecoder decoder;
};

class Decoder {
 public:
  Decoder(FileHolder& in, const char* inName, const char* outName, bool replace)
      : in_(in), inName_(inName), outName_(outName), replace_(replace) {}

  int Run() {
    if (outName_) {
      given_.Reset(fopen(outName_, "wb"));
      if (!given_) {
        printf("Couldn't open %s for output\n", outName_);
        return -1;
      }
      section_.name = outName_;
      section_.named = true;
    }
    char line[82];
    int status = 0;
    while (status == 0 && fgets(line, 81, in_.Get())) {
      line[strcspn(line, "\r\n")] = '\0';
      status = IsBase64Line(line) ? DataLine(line) : OtherLine(line);
    }
    if (status == 0) {
      if (section_.started && !section_.complete && !section_.skip)
        printf("Unexpected end of file encountered in %s\n", section_.name.c_str());
      EndSection();
    }
    in_.Close();  // closed before the input is replaced
    if (given_ && !CloseWritten(given_)) {
      printf("Couldn't write %s\n", outName_);
      writeFailed_ = true;
    }
    if (writeFailed_) status = -1;
    if (replacing_ && status == 0) {
      if (!ReplaceInput(inName_)) status = -1;
    } else if (replacing_) {
      remove(kTempName);  // a cut copy; the input stays as it was
    }
    return status;
  }

 private:
  int DataLine(const char* line) {
    Section& s = section_;
    if (s.skip || s.complete) return 0;
    if (!s.started) {
      s.started = true;
      if (s.notBase64) {
        printf("Section %s not MIME base64\n", s.name.c_str());
        s.skip = true;
        return 0;
      }
      const int status = OpenOutput();
      if (status != 0 || s.skip) return status;
      s.lineLength = strlen(line);
    }
    s.decoder.Line(line, [&](unsigned char b) { fputc(b, s.out); });
    if (s.decoder.Ended() || strchr(line, '=') || strlen(line) < s.lineLength) s.complete = true;
    return 0;
  }

  int OpenOutput() {
    Section& s = section_;
    if (s.named && given_ && sections_ == 0) {
      s.out = given_.Get();
    } else {
      if (!s.named) {
        if (sections_ > 0) {
          printf("No filename given for subsequent section\n");
          return -1;
        }
        s.name = inName_;
      }
      if (SameFile(s.name, inName_)) {
        if (!replace_) {
          printf("No output file given or output same as input.\n");
          s.skip = true;
          return 0;
        }
        if (replacing_) {
          printf("More than one output file named %s\n", s.name.c_str());
          return -1;
        }
        replacing_ = true;
        s.path = kTempName;
      } else {
        s.path = s.name;
      }
      s.own.Reset(fopen(s.path.c_str(), "wb"));
      s.out = s.own.Get();
      if (!s.out) {
        printf("Couldn't open %s for output\n", s.name.c_str());
        return -1;
      }
    }
    ++sections_;
    printf("Creating %s\n", s.name.c_str());
    return 0;
  }

  int OtherLine(const char* line) {
    Section& s = section_;
    if (!*line) {
      if (s.started && !s.complete && !s.skip) {
        printf("Unexpected end of section in %s\n", s.name.c_str());
        s.complete = true;
      }
      return 0;
    }
    if (StartsNoCase(line, "Content-Type")) {
      if (s.started) {
        EndSection();
        section_ = Section();
      }
      const std::string raw = HeaderFileName(line);
      if (raw.empty()) return 0;
      const std::string name = SafeBaseName(raw);
      section_.named = true;
      section_.name = name.empty() ? raw : name;
      if (name.empty()) {
        printf("Refusing output name %s\n", raw.c_str());
        section_.skip = true;
      }
    } else if (StartsNoCase(line, "Content-transfer-encoding")) {
      const char* value = strchr(line, ':');
      value = value ? value + 1 : line + strlen(line);
      while (*value == ' ' || *value == '\t') ++value;
      if (!StartsNoCase(value, "base64")) s.notBase64 = true;
    }
    return 0;
  }

  void EndSection() {
    Section& s = section_;
    const bool hadOutput = s.named || s.started;
    if (s.own && !CloseWritten(s.own)) {
      printf("Couldn't write %s\n", s.name.c_str());
      writeFailed_ = true;
    }
    s.out = nullptr;
    if (hadOutput && !s.started && !s.skip) {
      printf("No MIME base64 lines found in %s\n", s.name.c_str());
      if (s.named && given_ && sections_ == 0) {
        given_.Close();
        remove(outName_);
      }
    }
  }

  FileHolder& in_;
  const char* inName_;
  const char* outName_;
  bool replace_;
  FileHolder given_;
  bool replacing_ = false;
  bool writeFailed_ = false;
  int sections_ = 0;
  Section section_;
};

}  // namespace

int Mime64Main(int argc, char** argv) {
  bool encode = false, help = false, replace = false;
  const char* inName = nullptr;
  const char* outName = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] == '-') {
      switch (arg[1]) {
        case 'e': case 'E': encode = true; break;
        case '?': help = true; break;
        case 'r': case 'R': replace = true; break;
        default: break;
      }
    } else if (!inName) {
      inName = arg;
    } else if (!outName) {
      outName = arg;
    }
  }
  if (!inName || help) {
    PrintUsage();
    if (!inName) return 0;
  }
  FileHolder in(fopen(inName, encode ? "rb" : "rt"));
  if (!in) {
    printf("%s file not found\n", inName);
    return -1;
  }
  if (encode) return Encode(in, inName, outName);
  return Decoder(in, inName, outName, replace).Run();
}
