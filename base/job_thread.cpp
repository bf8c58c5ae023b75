#include "base/job_thread.h"

#include <pthread.h>
#include <signal.h>

#include <system_error>
#include <utility>

namespace tovimar {

StopSignalsBlocked::StopSignalsBlocked() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous_);
}

StopSignalsBlocked::~StopSignalsBlocked() {
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

JobThread::JobThread() {
  const StopSignalsBlocked blocked;  // the new thread inherits the mask
  try {
    thread_ = std::thread([this] { Loop(); });
  } catch (const std::system_error&) {
    // No thread: Submit runs the jobs itself.
  }
}

JobThread::~JobThread() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void JobThread::Submit(std::function<void()> job) {
  Wait();
  if (!thread_.joinable()) {
    job();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = std::move(job);
    busy_ = true;
  }
  changed_.notify_all();
}

void JobThread::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !busy_; });
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

void JobThread::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || busy_; });
    if (stop_) return;
    std::function<void()> job = std::move(job_);
    lock.unlock();
    std::exception_ptr error;
    try {
      job();
    } catch (...) {
      error = std::current_exception();
    }
    job = nullptr;  // what the job holds goes before it counts as done
    lock.lock();
    error_ = error;
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace tovimar
