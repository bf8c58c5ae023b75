#pragma once
// Work split over the calling thread and one helper, for the pure per-pixel
// and per-value work of frame generation (the results do not depend on the
// split).
#include <system_error>
#include <thread>

namespace tovimar {

// work(begin, end) for [0, split) on a helper thread and [split, count) on the
// calling thread; all on the calling thread when no thread can be started.
// work must not throw.
template <typename Work>
void OnTwoThreads(int count, int split, Work&& work) {
  std::thread helper;
  try {
    helper = std::thread([&work, split] { work(0, split); });
  } catch (const std::system_error&) {
    work(0, split);
  }
  work(split, count);
  if (helper.joinable()) helper.join();
}

}  // namespace tovimar
