// The logons that appliances acknowledged, and whether a logoff must go before the next
// logon. Each agent keeps one record for its process, under its own lock, with its own
// kind of text (Text: std::string or std::wstring).
#pragma once

#include <cstdint>
#include <map>

template <class Text>
struct AcceptedLogon {
  Text peer;          // the appliance's address text
  Text local;         // the local address the logon came from, without port
  uint32_t hash = 0;  // the identity hash of the logon
};

// Keyed by the appliance's address text.
template <class Text>
using AcceptedLogons = std::map<Text, AcceptedLogon<Text>>;

// True unless the appliance acknowledged a logon from this local address with this identity
// hash: the appliance may still hold an older logon from here.
template <class Text>
bool LogoffBeforeLogon(const AcceptedLogons<Text>& accepted, const Text& peer, const Text& local, uint32_t hash) {
  const auto it = accepted.find(peer);
  return it == accepted.end() || it->second.local != local || it->second.hash != hash;
}

// Keeps the first acknowledged logon of each appliance; a later one never replaces it.
template <class Text>
void RecordAcceptedLogon(AcceptedLogons<Text>& accepted, const Text& peer, const Text& local, uint32_t hash) {
  accepted.try_emplace(peer, AcceptedLogon<Text>{peer, local, hash});
}
