// The registry of mobile clients, engine side: the kernel's four index-aligned lists (name,
// PIN, last address, allowed channels), changed only under the kernel's registryLock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mobile/wire-lines.h"

namespace vellumora {

class C_Kernel;

inline constexpr char kRequestPin[] = "???";        // registration asked for, not decided
inline constexpr char kDeclineMarker[] = "000000";  // declined: never logs in

enum class ClientState { kRequested, kRegistered, kDeclined };
// A six-digit PIN from 100000 is registered, the decline marker declined, anything else a
// request.
ClientState StateOfPin(std::string_view pin);
const char* StateName(ClientState state);

// A new login PIN, 100000 to 999999, from the system's random source.
std::string NewPin();

struct ClientRecord {
  std::string name;
  std::string pin;
  std::string address;
  std::string channels;
};

// What a hello found.
struct HelloResult {
  int32_t index = -1;      // the client, when its PIN was right
  bool wrongPin = false;   // a registered client's name with another PIN
  bool listsChanged = false;    // a request was entered or renewed: the files are due
  bool addressChanged = false;  // the client's known address changed
};

class ClientRegistry {
 public:
  explicit ClientRegistry(C_Kernel& kernel) : kernel_(kernel) {}

  std::vector<ClientRecord> Snapshot() const;
  // The index of the client of that name, ignoring letter case; -1 when none.
  int32_t Find(std::string_view name) const;

  // Gives client `row` a new PIN and passes the row to pinIssued (the running server sends
  // the client its user data). False when there is no such row. The files are not written.
  bool IssueNewPin(int32_t row);
  bool Decline(int32_t row);
  bool Remove(int32_t row);
  bool SetChannels(int32_t row, const std::string& channels);
  // Deletes every client whose trimmed name is shorter than 2 characters; true when any went.
  bool DropShortNames();

  // The hello of `hello.name` with `hello.pin` from `address`. An unknown name of at least 2
  // characters without control characters is entered as a request with channel 1, unless
  // `maxRequests` requests are waiting already. A declined client stays declined; "???" from
  // a registered client makes it a request again.
  HelloResult LookUp(const HelloLine& hello, const std::string& address, int32_t maxRequests);

  // Called with the row whose PIN IssueNewPin changed.
  std::function<void(int32_t)> pinIssued;

 private:
  C_Kernel& kernel_;
};

}  // namespace vellumora
