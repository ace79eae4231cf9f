// Runs one console program hidden, with its standard output captured in a file, and waits
// for it. Also the path helpers of the script runner.
#pragma once

#include <sstream>
#include <string>

#include "WfPlatform.h"

struct ConExecParams {
  bool hide = true;
  std::string program;  // without ".exe" in it: the command interpreter
  std::string commandLine;
  std::string workingFolder;
  std::string stdinText;
  std::string stdoutPath;  // empty: a new unique file in the temporary folder
  ProcessStarted started;  // when set: told of the child before it runs
};

class ConExec {
 public:
  ConExec(const std::string& program, const std::string& commandLine, const std::string& workingFolder);
  explicit ConExec(const ConExecParams& params);
  // Deletes the standard-output file.
  virtual ~ConExec();
  ConExec(const ConExec&) = delete;
  ConExec& operator=(const ConExec&) = delete;

  // -1 until a child ran to its end, then its exit code.
  int Status() const { return status_; }
  // The failure of the last run, or of reading its output, or empty.
  std::string Message() const { return message_.str(); }
  // The captured standard output, read once (empty when the file cannot be read).
  const std::string& OutputText();

 private:
  int Run();

  ConExecParams params_;
  int status_ = -1;
  std::ostringstream message_;
  std::string output_;
  bool outputRead_ = false;
};

// Deletes the file, retrying every 200 ms until it is gone or limitMs has passed.
bool DeleteFileWithRetry(const std::string& path, unsigned limitMs);

// The system's command interpreter, never one from the search path: on the older system
// family (the high bit of the platform's system version) "command.com" in the Windows folder,
// else "cmd.exe" in the system directory; empty when it is missing. The runner itself always
// takes the system directory's cmd.exe.
std::string CommandInterpreterPath();

// A path cut into its parts (each at most 260 characters).
class PathParts {
 public:
  explicit PathParts(const std::string& path);

  std::string extension;  // after the last dot of the last component
  std::string baseName;
  char drive = 0;
  std::string folder;  // after the drive's colon, without a trailing backslash
  std::string fullPath;
  bool unc = false;
  bool valid = false;
};
