#include "base/parallel_chunks.h"

#include "base/job_thread.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace tovimar {
namespace {

// One ForEachChunk call; the helper may still hold it after the call ends
// (it then finds no chunk left).
struct Job {
  const std::function<void(int)>* work = nullptr;  // valid while chunks are unclaimed
  int count = 0;
  std::atomic<int> next{0};
  std::atomic<int> done{0};
  std::atomic<bool> failed{false};
  std::mutex errorMutex;
  std::exception_ptr error;

  void RunChunks() {
    for (int c = next.fetch_add(1); c < count; c = next.fetch_add(1)) {
      if (!failed.load(std::memory_order_relaxed)) {
        try {
          (*work)(c);
        } catch (...) {
          std::lock_guard<std::mutex> lock(errorMutex);
          if (!error) error = std::current_exception();
          failed.store(true);
        }
      }
      done.fetch_add(1, std::memory_order_acq_rel);
      done.notify_all();
    }
  }
};

class Helper {
 public:
  Helper() : process_(getpid()), state_(std::make_unique<State>()) {
    const StopSignalsBlocked blocked;  // the helper never takes a stop signal
    try {
      state_->thread = std::thread([state = state_.get()] { state->Loop(); });
    } catch (const std::system_error&) {
      // No helper: the caller does every chunk.
    }
  }
  ~Helper() {
    if (process_ != getpid()) {
      // A process forked from the one that started the helper has no helper
      // thread: its state (a wait on it) is left as it is, neither joined nor
      // destroyed, either of which would wait for ever.
      static_cast<void>(state_.release());
      return;
    }
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->stop = true;
    }
    state_->wake.notify_one();
    if (state_->thread.joinable()) state_->thread.join();
  }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;

  void Offer(const std::shared_ptr<Job>& job) {
    // In a forked process the caller does every chunk.
    if (!state_->thread.joinable() || process_ != getpid()) return;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->job = job;
    }
    state_->wake.notify_one();
  }

 private:
  struct State {
    void Loop() {
      std::unique_lock<std::mutex> lock(mutex);
      for (;;) {
        wake.wait(lock, [this] { return stop || job != nullptr; });
        if (stop) return;
        const std::shared_ptr<Job> taken = std::move(job);
        job.reset();
        lock.unlock();
        taken->RunChunks();
        lock.lock();
      }
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::shared_ptr<Job> job;
    bool stop = false;
    std::thread thread;
  };

  pid_t process_;  // the process whose thread the helper is
  std::unique_ptr<State> state_;
};

}  // namespace

void ForEachChunk(int count, const std::function<void(int)>& work) {
  if (count <= 0) return;
  auto job = std::make_shared<Job>();
  job->work = &work;
  job->count = count;
  if (count > 1) {
    static Helper helper;
    helper.Offer(job);
  }
  job->RunChunks();
  // Only chunks the helper has begun are left: sleep until it ends them
  // (spinning would take the processor from it on a busy machine).
  for (int d = job->done.load(std::memory_order_acquire); d < count; d = job->done.load(std::memory_order_acquire))
    job->done.wait(d, std::memory_order_acquire);
  // The error leaves the job before it is thrown: the helper may drop the
  // last reference to the job at any time, and must not destroy the
  // exception while this thread handles it.
  std::exception_ptr error;
  {
    std::lock_guard<std::mutex> lock(job->errorMutex);
    error = std::exchange(job->error, nullptr);
  }
  if (error) std::rethrow_exception(error);
}

}  // namespace tovimar
