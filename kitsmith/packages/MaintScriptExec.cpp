#include "packages/MaintScriptExec.h"

#include <windows.h>

#include <cctype>
#include <cstring>

#include "packages/DataFolders.h"
#include "logpane/LogPane.h"
#include "WinSupport.h"

namespace {

constexpr size_t kMinCodeDigits = 3;
constexpr size_t kMaxCodeDigits = 9;

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

}  // namespace

bool MaintScriptExec::SafeParameters(const std::string& parameters) {
  for (size_t i = 0; i < parameters.size();) {
    const char c = parameters[i];
    if (c == ' ') {
      ++i;
    } else if (c == '"') {
      const size_t close = parameters.find('"', i + 1);
      if (close == std::string::npos) return false;
      for (size_t k = i + 1; k < close; ++k)
        if (parameters[k] == '%' || IsControl(parameters[k])) return false;
      i = close + 1;
      if (i < parameters.size() && parameters[i] != ' ') return false;
    } else {
      for (; i < parameters.size() && parameters[i] != ' '; ++i)
        if (std::strchr("\"%&|<>^", parameters[i]) || IsControl(parameters[i])) return false;
    }
  }
  return true;
}

MaintScriptExec::MaintScriptExec(const std::string& script, const std::string& parameters,
                                 const std::string& workingFolder, bool verbose,
                                 const ProcessStarted& started)
    : verbose_(verbose) {
  if (!FileInfo(script).exists) {
    if (verbose_) LogLine() << "ERROR: Script " << script << " was not found";
    return;
  }
  // cmd expands %VAR% even inside quotes and runs what follows & or | outside them.
  if (std::strchr(script.c_str(), '%') || !SafeParameters(parameters)) {
    LogLine() << "ERROR: Script " << script
              << " not run: its path or parameters hold a quote, percent sign, command separator or control character";
    exitCode_ = -1;
    return;
  }
  const std::string commandLine = "/C \"\"" + script + "\" " + parameters + "\"";
  if (verbose_)
    LogLine() << "Executing script " << script << "\r\n    Parameters: " << parameters
              << "\r\n    Working dir: " << workingFolder;
  WriteReplayFile(script, commandLine, workingFolder);

  ConExecParams params;
  params.commandLine = commandLine;
  params.workingFolder = workingFolder;
  params.started = started;
  ConExec run(params);
  output_ = run.OutputText();
  // Without it a script that never started reads as one that printed no exit code.
  if (!run.Message().empty()) LogLine() << "ERROR: Script " << script << ": " << run.Message();
  exitCode_ = ParseExitCode(script, run.Status(), output_);
  if (verbose_) {
    LogLine() << output_;
    LogLine() << "::::: Script exited with code [" << exitCode_ << "] (" << (exitCode_ == 0 ? "success)" : "FAIL)")
              << ":::::\r\n";
  }
  ran_ = true;
}

int MaintScriptExec::ParseExitCode(const std::string& script, int status, const std::string& output) {
  if (status != 0) return status;
  const std::string base = PathParts(script).baseName;
  const size_t at = base.empty() ? std::string::npos : output.rfind(base);
  if (at != std::string::npos) {
    const size_t start = at + base.size() + 1;
    size_t digits = 0;
    while (start + digits < output.size() && std::isdigit(static_cast<unsigned char>(output[start + digits])))
      ++digits;
    if (digits >= kMinCodeDigits && digits <= kMaxCodeDigits) return std::stoi(output.substr(start, digits));
  }
  LogLine() << "ERROR: Can't parse exit code from script [" << script << "]";
  return -1;
}

void MaintScriptExec::WriteReplayFile(const std::string& script, const std::string& commandLine,
                                      const std::string& folder) {
  const size_t slash = script.rfind('\\');
  if (slash == std::string::npos) return;
  const std::string path = folder + "\\Test-" + script.substr(slash + 1);
  HandleHolder file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return;
  const std::string text = "%comspec% " + commandLine;
  DWORD written = 0;
  WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}
