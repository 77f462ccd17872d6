// Thread message queues on POSIX: PostThreadMessageA appends to the target thread's queue,
// GetMessageA blocks on the caller's own queue until a message arrives.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "Platform.h"

namespace Win {

namespace {

struct Queue {
  std::mutex lock;
  std::condition_variable arrived;
  std::deque<MSG> messages;
};

struct Queues {
  std::mutex lock;
  std::map<DWORD, std::shared_ptr<Queue>> byThread;
};

Queues& queues() {
  static Queues* q = new Queues;  // threads may still post while statics are destroyed
  return *q;
}

bool ThreadAlive(DWORD id) {
  return ::access(("/proc/self/task/" + std::to_string(id)).c_str(), F_OK) == 0;
}

std::shared_ptr<Queue> QueueOf(DWORD id) {
  Queues& q = queues();
  std::lock_guard<std::mutex> g(q.lock);
  auto& slot = q.byThread[id];
  if (!slot) slot = std::make_shared<Queue>();
  return slot;
}

// A thread's queue goes away with the thread, so a later thread given the same id starts empty.
struct QueueOwner {
  DWORD id = 0;
  ~QueueOwner() {
    if (!id) return;
    Queues& q = queues();
    std::lock_guard<std::mutex> g(q.lock);
    q.byThread.erase(id);
  }
};
thread_local QueueOwner queueOwner;

DWORD TickCount() {
  return DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
                   .count());
}

}  // namespace

// A message posted before the thread first waits for one is kept for it (Windows would refuse
// it while the thread has no queue yet, and a WM_QUIT sent right after the thread's start
// would be lost).
BOOL PostThreadMessageA(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (threadId == 0 || !ThreadAlive(threadId)) return 0;
  {
    Queues& q = queues();
    std::lock_guard<std::mutex> g(q.lock);
    if (q.byThread.size() > 64) {
      for (auto it = q.byThread.begin(); it != q.byThread.end();)
        it = ThreadAlive(it->first) ? std::next(it) : q.byThread.erase(it);
    }
  }
  std::shared_ptr<Queue> queue = QueueOf(threadId);
  {
    std::lock_guard<std::mutex> g(queue->lock);
    queue->messages.push_back(MSG{0, msg, wParam, lParam, TickCount()});
  }
  queue->arrived.notify_all();
  return 1;
}

BOOL GetMessageA(MSG* msg, HWND /*wnd*/, UINT filterMin, UINT filterMax) {
  if (!msg) return -1;
  const DWORD self = GetCurrentThreadId();
  queueOwner.id = self;
  std::shared_ptr<Queue> queue = QueueOf(self);
  auto wanted = [&](const MSG& m) {
    return (filterMin == 0 && filterMax == 0) || m.message == WM_QUIT ||
           (m.message >= filterMin && m.message <= filterMax);
  };
  std::unique_lock<std::mutex> lk(queue->lock);
  for (;;) {
    for (auto it = queue->messages.begin(); it != queue->messages.end(); ++it) {
      if (wanted(*it)) {
        *msg = *it;
        queue->messages.erase(it);
        return msg->message == WM_QUIT ? 0 : 1;
      }
    }
    queue->arrived.wait(lk);
  }
}

}  // namespace Win
