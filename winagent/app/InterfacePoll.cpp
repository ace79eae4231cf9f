#include "app/InterfacePoll.h"

#include "platform/AgentPlatform.h"
#include "support/Holders.h"
#include "support/Logging.h"

// One poll, shared by its thread and the waiting main-loop thread.
struct InterfacePoll::Run {
  explicit Run(AgentPlatform& p) : platform(p) {}
  AgentPlatform& platform;
  std::vector<uint32_t> addresses;
  HandleHolder thread;
};

DWORD WINAPI InterfacePoll::ThreadMain(void* parameter) {
  const std::unique_ptr<std::shared_ptr<Run>> run(static_cast<std::shared_ptr<Run>*>(parameter));
  TracePrintf(TC_Socket, 4, L"Checking for network interface changes.\n");
  (*run)->addresses = (*run)->platform.InterfaceAddresses();
  return 0;
}

std::optional<std::vector<uint32_t>> InterfacePoll::Take(DWORD waitMs) {
  if (late_) {
    if (WaitForSingleObject(late_->thread.Get(), 0) != WAIT_OBJECT_0) {
      // The previous poll still hangs: one stuck thread is enough.
      TracePrintf(TC_Socket, 1, L"Timed out while polling for interfaces.\n");
      return std::nullopt;
    }
    late_.reset();
  }

  auto run = std::make_shared<Run>(platform_);
  auto* parameter = new std::shared_ptr<Run>(run);
  run->thread.Reset(CreateThread(nullptr, 0, &InterfacePoll::ThreadMain, parameter, 0, nullptr));
  if (!run->thread.Valid()) {
    delete parameter;
    return std::nullopt;
  }
  if (WaitForSingleObject(run->thread.Get(), waitMs) != WAIT_OBJECT_0) {
    TracePrintf(TC_Socket, 1, L"Timed out while polling for interfaces.\n");
    late_ = std::move(run);
    return std::nullopt;
  }
  return std::move(run->addresses);
}
