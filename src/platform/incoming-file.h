// A file that arrives over the network into a folder that others write into: written under a
// hidden name that the scan never takes, and given its own name only once it is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vellumora {

class IncomingFile {
 public:
  IncomingFile() = default;
  IncomingFile(IncomingFile&& other) noexcept;
  IncomingFile& operator=(IncomingFile&& other) noexcept;
  IncomingFile(const IncomingFile&) = delete;
  IncomingFile& operator=(const IncomingFile&) = delete;
  // A file that was never committed is removed.
  ~IncomingFile();

  // Opens `folder` once (all later steps work on that descriptor, whatever happens to the
  // path) and creates a new file `hiddenPrefix` + random letters in it, exclusively and
  // without following a link. Invalid, with the cause in *error, when that fails.
  static IncomingFile Create(const std::string& folder, std::string_view hiddenPrefix,
                             std::string* error);
  // True when `name` is exactly a hidden name that Create makes with `hiddenPrefix`: the
  // prefix, then its number of random letters and nothing else.
  static bool IsHiddenName(std::string_view name, std::string_view hiddenPrefix);

  bool valid() const { return fd_ >= 0; }
  bool Write(const void* data, std::size_t size);
  // Flushes the data to disk and gives the file the first name of candidate(1),
  // candidate(2), ... that is free (an existing file is never replaced); candidate returns ""
  // when it has no more. The name taken goes to *finalName. False, with the cause in *error,
  // when the file could not be completed; it is removed then.
  bool Commit(const std::function<std::string(int)>& candidate, std::string* finalName,
              std::string* error);
  // Removes the file now.
  void Discard();

 private:
  int dirFd_ = -1;
  int fd_ = -1;
  std::string hiddenName_;
};

}  // namespace vellumora
