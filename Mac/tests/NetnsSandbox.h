// The black-box sandbox of tools/sandbox/netns-sandbox.sh for tests: a network namespace
// with a veth en0 holding an IPv4 address, the stand-in appliance on its loopback, and
// programs run there as nobody with a temporary HOME and the fake dscl first on PATH.
// Everything it made goes away with the object, also when the test failed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class NetnsSandbox {
 public:
  // Starts the appliance of this build tree with "--port 0" and these arguments.
  explicit NetnsSandbox(const std::vector<std::string>& applianceArgs = {});
  ~NetnsSandbox();
  NetnsSandbox(const NetnsSandbox&) = delete;
  NetnsSandbox& operator=(const NetnsSandbox&) = delete;

  // True when this machine cannot have the sandbox (not root): the test skips. Otherwise
  // a sandbox that is not Available() is a failure; Why() tells.
  bool Unsupported() const { return _unsupported; }
  bool Available() const { return _available; }
  const std::string& Why() const { return _why; }

  const std::string& Namespace() const { return _ns; }
  uint16_t Port() const { return _port; }          // the appliance's, on 127.0.0.1
  const std::string& Address() const { return _address; }  // en0's IPv4 address
  const std::string& Home() const { return _home; }        // HOME of the programs run

  // Starts the command as nobody inside the namespace, its standard output and error
  // into outputFile; dsclListing (may be empty) is what the fake dscl prints, env holds
  // further NAME=VALUE entries of its environment. The process id is the program's own:
  // signal it, then Wait for it.
  pid_t Start(const std::vector<std::string>& command, const std::string& dsclListing,
              const std::string& outputFile, const std::vector<std::string>& env = {});
  // The exit status, 128 + the signal when a signal ended it, or -1 while it still runs
  // after the given time.
  static int Wait(pid_t pid, double seconds);
  // Writes one notification name into HOME/.QelIdentra/notify; false when nothing reads.
  bool Notify(const std::string& name);
  // What the appliance printed so far: "listening on ..." and one JSON line per event.
  std::string ApplianceOutput() const;

  // The folder of this build tree's programs (beside the test program).
  static std::string BinDir();

 private:
  // Runs the script synchronously; its exit status.
  int Script(const std::vector<std::string>& arguments, const std::string& outputFile) const;

  std::string _dir;
  bool _unsupported = false;
  bool _available = false;
  std::string _why;
  std::string _ns;
  uint16_t _port = 0;
  std::string _address;
  std::string _home;
  std::string _applianceOut;
};
