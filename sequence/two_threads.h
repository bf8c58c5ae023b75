#pragma once
// Work split over the calling thread and one helper, for the pure per-pixel
// and per-value work of frame generation (the results do not depend on the
// split).
#include <exception>
#include <system_error>
#include <thread>

namespace tovimar {

// work(begin, end) for [0, split) on a helper thread and [split, count) on the
// calling thread; all on the calling thread when no thread can be started.
// An exception of either part is rethrown here once both have ended.
template <typename Work>
void OnTwoThreads(int count, int split, Work&& work) {
  std::exception_ptr helperError;
  std::thread helper;
  try {
    helper = std::thread([&work, &helperError, split] {
      try {
        work(0, split);
      } catch (...) {
        helperError = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    work(0, split);
  }
  try {
    work(split, count);
  } catch (...) {
    if (helper.joinable()) helper.join();
    throw;
  }
  if (helper.joinable()) helper.join();
  if (helperError) std::rethrow_exception(helperError);
}

}  // namespace tovimar
