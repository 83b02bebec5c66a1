// The registry's rules: PINs, requests, declines and removals.
#include "mobile/client-registry.h"

#include <random>

#include "kernel/kernel.h"

namespace vellumora {

ClientState StateOfPin(std::string_view pin) {
  if (pin == kDeclineMarker) return ClientState::kDeclined;
  if (pin.size() != 6 || pin[0] < '1' || pin[0] > '9') return ClientState::kRequested;
  for (char c : pin)
    if (c < '0' || c > '9') return ClientState::kRequested;
  return ClientState::kRegistered;
}

const char* StateName(ClientState state) {
  switch (state) {
    case ClientState::kRequested:
      return "requested";
    case ClientState::kRegistered:
      return "registered";
    case ClientState::kDeclined:
      return "declined";
  }
  return "";
}

std::string NewPin() {
  // Every PIN from the system's random source: a generator seeded with the time would hand
  // two clients accepted in the same second the same PIN.
  thread_local std::random_device random;
  std::uniform_int_distribution<int> digits(100000, 999999);
  return std::to_string(digits(random));
}

std::vector<ClientRecord> ClientRegistry::Snapshot() const {
  std::lock_guard lock(kernel_.registryLock);
  std::vector<ClientRecord> records;
  for (std::size_t i = 0; i < kernel_.clientNames.size(); ++i) {
    ClientRecord r;
    r.name = kernel_.clientNames[i];
    if (i < kernel_.clientPins.size()) r.pin = kernel_.clientPins[i];
    if (i < kernel_.clientStates.size()) r.address = kernel_.clientStates[i];
    if (i < kernel_.clientChannels.size()) r.channels = kernel_.clientChannels[i];
    records.push_back(std::move(r));
  }
  return records;
}

namespace {

int32_t FindLocked(const C_Kernel& k, std::string_view name) {
  for (std::size_t i = 0; i < k.clientNames.size(); ++i)
    if (SameTextIgnoringCase(k.clientNames[i], name)) return static_cast<int32_t>(i);
  return -1;
}

// Every list reaches every client, so that an index is valid in all four.
void AlignLocked(C_Kernel& k) {
  const std::size_t n = k.clientNames.size();
  k.clientPins.resize(n);
  k.clientStates.resize(n);
  k.clientChannels.resize(n);
}

bool IsRow(const C_Kernel& k, int32_t row) {
  return row >= 0 && static_cast<std::size_t>(row) < k.clientNames.size();
}

}  // namespace

int32_t ClientRegistry::Find(std::string_view name) const {
  std::lock_guard lock(kernel_.registryLock);
  return FindLocked(kernel_, name);
}

bool ClientRegistry::IssueNewPin(int32_t row) {
  {
    std::lock_guard lock(kernel_.registryLock);
    if (!IsRow(kernel_, row)) return false;
    AlignLocked(kernel_);
    kernel_.clientPins[row] = NewPin();
  }
  if (pinIssued) pinIssued(row);
  return true;
}

bool ClientRegistry::Decline(int32_t row) {
  std::lock_guard lock(kernel_.registryLock);
  if (!IsRow(kernel_, row)) return false;
  AlignLocked(kernel_);
  kernel_.clientPins[row] = kDeclineMarker;
  return true;
}

bool ClientRegistry::Remove(int32_t row) {
  std::lock_guard lock(kernel_.registryLock);
  if (!IsRow(kernel_, row)) return false;
  AlignLocked(kernel_);
  kernel_.clientNames.erase(kernel_.clientNames.begin() + row);
  kernel_.clientPins.erase(kernel_.clientPins.begin() + row);
  kernel_.clientStates.erase(kernel_.clientStates.begin() + row);
  kernel_.clientChannels.erase(kernel_.clientChannels.begin() + row);
  return true;
}

bool ClientRegistry::SetChannels(int32_t row, const std::string& channels) {
  std::lock_guard lock(kernel_.registryLock);
  if (!IsRow(kernel_, row)) return false;
  AlignLocked(kernel_);
  kernel_.clientChannels[row] = channels;
  return true;
}

bool ClientRegistry::DropShortNames() {
  std::lock_guard lock(kernel_.registryLock);
  AlignLocked(kernel_);
  bool dropped = false;
  for (std::size_t i = kernel_.clientNames.size(); i-- > 0;) {
    if (TrimLine(kernel_.clientNames[i]).size() >= 2) continue;
    kernel_.clientNames.erase(kernel_.clientNames.begin() + static_cast<std::ptrdiff_t>(i));
    kernel_.clientPins.erase(kernel_.clientPins.begin() + static_cast<std::ptrdiff_t>(i));
    kernel_.clientStates.erase(kernel_.clientStates.begin() + static_cast<std::ptrdiff_t>(i));
    kernel_.clientChannels.erase(kernel_.clientChannels.begin() + static_cast<std::ptrdiff_t>(i));
    dropped = true;
  }
  return dropped;
}

HelloResult ClientRegistry::LookUp(const HelloLine& hello, const std::string& address,
                                   int32_t maxRequests) {
  HelloResult result;
  std::lock_guard lock(kernel_.registryLock);
  AlignLocked(kernel_);
  const int32_t i = FindLocked(kernel_, hello.name);
  if (i < 0) {
    // Control characters would break the one-entry-per-line list files apart.
    if (TrimLine(hello.name).size() < 2 || HasControlCharacters(hello.name)) return result;
    int32_t waiting = 0;
    for (const std::string& pin : kernel_.clientPins)
      if (StateOfPin(pin) == ClientState::kRequested) ++waiting;
    if (waiting >= maxRequests) return result;
    kernel_.clientStates.push_back(address);
    kernel_.clientNames.push_back(hello.name);
    kernel_.clientPins.push_back(kRequestPin);
    kernel_.clientChannels.push_back("1");
    result.listsChanged = true;
    result.addressChanged = true;
    return result;
  }
  std::string& pin = kernel_.clientPins[i];
  if (pin != kDeclineMarker) {
    if (hello.pin == kRequestPin) {
      result.listsChanged = pin != kRequestPin;
      pin = kRequestPin;
    } else if (pin == hello.pin && StateOfPin(pin) == ClientState::kRegistered) {
      result.index = i;
    } else if (StateOfPin(pin) == ClientState::kRegistered) {
      result.wrongPin = true;
    }
  }
  if (kernel_.clientStates[i] != address) {
    kernel_.clientStates[i] = address;
    result.addressChanged = true;
  }
  return result;
}

}  // namespace vellumora
