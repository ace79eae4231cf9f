#include "app/ClientRestart.h"

#include <memory>
#include <optional>
#include <string>

#include "platform/AgentPlatform.h"
#include "platform/AppShutdown.h"
#include "platform/ServiceMode.h"
#include "client/V7kClient.h"
#include "support/Logging.h"
#include "support/Utilities.h"

void ClientRestart::StartAll(UserIdentification* identification) {
  V7kClientRegistry& registry = V7kClientRegistry::Instance();
  LockHolder hold(registry.Lock());
  registry.StopAll();
  if (AppShutdown::IsShutdownRequested(250)) return;

  for (const std::wstring& entry : SplitText(config_.RA, L';')) {
    if (IsBlankEntry(entry)) continue;
    const std::optional<ApplianceAddress> address = ParseApplianceEntry(entry, config_.RP, EntryPort::Digits);
    if (!address) {
      TracePrintf(TC_Socket, 0, L"Web filter address '%s' names no host or no valid port; skipped.\n",
                  entry.c_str());
      continue;
    }
    const int32_t number = counter_++;
    auto client = std::make_unique<V7kClient>(number, identification, config_, platform_);
    V7kClient* started = client.get();
    // A client already registered under this host goes to the stopping list.
    registry.Register(address->host, std::move(client));
    registry.Cleanup();
    started->SetAddress(address->host, address->port);
    started->StartThread();
    started->WaitStarted(platform_.mainTimings.clientStartWaitMs);
    TracePrintf(TC_Socket, 1, L"V7kClient(%d) thread '%s' has been started.\n", number, entry.c_str());
  }
}

bool ClientRestart::FindMissingClient() {
  V7kClientRegistry& registry = V7kClientRegistry::Instance();
  LockHolder hold(registry.Lock());
  for (const std::wstring& entry : SplitText(config_.RA, L';')) {
    const std::optional<ApplianceAddress> address = ParseApplianceEntry(entry, config_.RP, EntryPort::Digits);
    if (!address) continue;  // never started
    V7kClient* client = registry.Find(address->host);
    if (client && !client->HasEnded()) continue;
    TsMain(1) << L"No FSM for web filter at " << entry << L", restarting all...";
    ServiceModeExit(platform_, 3000);
    return true;
  }
  return false;
}
