#include "app/run_worker.h"

#include <utility>

RunWorker::RunWorker(QObject* parent) : QObject(parent), thread_([this] { Loop(); }) {}

RunWorker::~RunWorker() { Join(); }

void RunWorker::Join() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void RunWorker::Post(Task job) {
  ++outstanding_;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void RunWorker::Defer(Task task) { deferred_.push_back(std::move(task)); }

void RunWorker::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // the end, with nothing left in hand
    Task job = std::move(jobs_.front());
    jobs_.pop_front();
    inJob_ = true;
    lock.unlock();
    job();
    lock.lock();
    inJob_ = false;
    finished_.push_back(std::move(deferred_));
    deferred_.clear();
    idle_.notify_all();
    // Queued: dropped when this object is gone.
    QMetaObject::invokeMethod(this, [this] { Deliver(); }, Qt::QueuedConnection);
  }
}

void RunWorker::Wait() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && !inJob_; });
  }
  Deliver();
}

void RunWorker::Deliver() {
  std::vector<std::vector<Task>> batch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch.swap(finished_);
  }
  for (std::vector<Task>& tasks : batch) {
    --outstanding_;
    for (Task& task : tasks) task();
  }
}
