// The settle-time bookkeeping of the completeness test, shared by every back end.
#include "platform/file-completeness.h"

#include <utility>

namespace vellumora {

namespace {
// Entries of files that were not looked at for this long are dropped: longer than the longest
// channel interval (9999 s), so a slow channel's second look still finds its first one.
constexpr int64_t kForgetAfterMs = 12LL * 3600 * 1000;
constexpr int64_t kPruneEveryMs = 10LL * 60 * 1000;
}  // namespace

CompletenessTracker::CompletenessTracker(Probe probe, int64_t settleMs)
    : probe_(std::move(probe)), settleMs_(settleMs) {}

CompletenessTracker::Result CompletenessTracker::Check(const std::string& path, int64_t nowMs) {
  Forget(nowMs);
  FileProbe p = probe_(path);
  switch (p.state) {
    case WriteProbe::kSole:
      watched_.erase(path);
      return {true, p.size, p.identity, std::move(p.file)};
    case WriteProbe::kOpenElsewhere:
    case WriteProbe::kNotWritable:
      watched_.erase(path);
      return {false, p.size, p.identity, {}};
    case WriteProbe::kNoLeases:
      break;
  }
  auto [it, inserted] = watched_.try_emplace(path);
  Watch& w = it->second;
  if (inserted || w.size != p.size || w.mtimeNs != p.mtimeNs) {
    w = Watch{p.size, p.mtimeNs, nowMs, nowMs};
    return {false, p.size, p.identity, {}};
  }
  w.lastLookMs = nowMs;
  // The entry stays while the file does: a file whose output failed is taken again at the
  // next look without settling anew. The dispatcher forgets it once the file is disposed of.
  if (nowMs - w.unchangedSinceMs < settleMs_) return {false, p.size, p.identity, {}};
  return {true, p.size, p.identity, std::move(p.file)};
}

void CompletenessTracker::Done(const std::string& path) {
  watched_.erase(path);
}

void CompletenessTracker::Forget(int64_t nowMs) {
  if (nowMs - lastPruneMs_ < kPruneEveryMs) return;
  lastPruneMs_ = nowMs;
  std::erase_if(watched_, [nowMs](const auto& entry) {
    return nowMs - entry.second.lastLookMs > kForgetAfterMs;
  });
}

}  // namespace vellumora
