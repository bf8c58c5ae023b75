#pragma once
// One job at a time on a thread of its own: a frame's files written while
// the next frame is drawn, a camera's rendering context kept on one thread.
// The thread never takes the stop signals (SIGINT, SIGTERM): they reach the
// thread that checks for them, and the jobs here are not interrupted.
#include <signal.h>

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace tovimar {

// While it lives, this thread does not take the stop signals (SIGINT,
// SIGTERM); a thread started meanwhile inherits that mask, so the signals
// reach the thread that checks for them and never a worker.
class StopSignalsBlocked {
 public:
  StopSignalsBlocked();
  ~StopSignalsBlocked();
  StopSignalsBlocked(const StopSignalsBlocked&) = delete;
  StopSignalsBlocked& operator=(const StopSignalsBlocked&) = delete;

 private:
  sigset_t previous_;  // the caller's mask
};

class JobThread {
 public:
  JobThread();
  // Waits for the job in hand; an error of it is dropped (call Wait first).
  ~JobThread();
  JobThread(const JobThread&) = delete;
  JobThread& operator=(const JobThread&) = delete;

  // Waits for the job before (rethrowing its exception, and then `job` is
  // not started), then starts `job`. Without a thread (none could be
  // started) the job runs here.
  void Submit(std::function<void()> job);
  // Waits for the job in hand; rethrows its exception, once.
  void Wait();

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> job_;
  bool busy_ = false;
  bool stop_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace tovimar
