#pragma once
// A thread of its own for the viewer's slow work (frame steps), so that the
// windows keep repainting while a frame is drawn. Jobs run one after another
// in the order posted. A job never touches a widget: what it has for the
// windows it hands over with Defer, and these run later on the posting
// thread, in order, after the job has finished.
#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class RunWorker : public QObject {
  Q_OBJECT
 public:
  using Task = std::function<void()>;

  explicit RunWorker(QObject* parent = nullptr);
  ~RunWorker() override;  // Join()

  // Waits for the jobs in hand and ends the thread; what they deferred is
  // dropped. Nothing may be posted afterwards.
  void Join();

  // From the posting (UI) thread.
  void Post(Task job);
  // Jobs posted whose deferred work has not run yet.
  bool Busy() const { return outstanding_ > 0; }
  // Blocks until every posted job has finished, then runs what they deferred.
  void Wait();

  // From a job, on the worker: `task` runs on the posting thread once this
  // job has finished.
  void Defer(Task task);
  bool OnWorker() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  void Loop();
  void Deliver();

  std::mutex mutex_;
  std::condition_variable wake_;  // a job was posted, or the end
  std::condition_variable idle_;  // a job has finished
  std::deque<Task> jobs_;
  std::vector<std::vector<Task>> finished_;  // the deferred work of each finished job
  bool inJob_ = false;
  bool quit_ = false;
  std::vector<Task> deferred_;  // of the running job; the worker's own
  int outstanding_ = 0;         // the posting thread's own
  std::thread thread_;
};
