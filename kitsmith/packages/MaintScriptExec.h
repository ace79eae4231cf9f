// Runs one package script through the command interpreter, logs it, and reads its exit code
// from the interpreter's status and the script's output.
#pragma once

#include <string>

#include "packages/ConExec.h"

class MaintScriptExec {
 public:
  // started, when set, is told of the interpreter before it runs the script.
  MaintScriptExec(const std::string& script, const std::string& parameters,
                  const std::string& workingFolder, bool verbose,
                  const ProcessStarted& started = {});
  virtual ~MaintScriptExec() = default;

  bool Ran() const { return ran_; }
  int ExitCode() const { return exitCode_; }
  const std::string& OutputText() const { return output_; }
  bool Succeeded() const { return ran_ && exitCode_ == 0; }

  // A non-zero status as it is; with 0, the three or more digits that follow the last mention
  // of the script's base name and one more character; otherwise -1 (logged).
  static int ParseExitCode(const std::string& script, int status, const std::string& output);
  // Parameters are blank-separated, each bare or in one pair of double quotes; nothing the
  // interpreter would expand or take as a command separator.
  static bool SafeParameters(const std::string& parameters);

 private:
  // "Test-<script name>" in the working folder: the command line for running it by hand.
  static void WriteReplayFile(const std::string& script, const std::string& commandLine, const std::string& folder);

  bool ran_ = false;
  int exitCode_ = 0;
  std::string output_;
  bool verbose_;
};
