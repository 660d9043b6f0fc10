#include "platform/x11/x11_clipboard_thread.h"

#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>

namespace lumivane::platform::x11 {

ClipboardThread::ClipboardThread(SelectionWindow& window, Handler& handler)
    : window_(window), handler_(handler), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ClipboardThread::~ClipboardThread() {
  stop();
}

bool ClipboardThread::start() {
  if (!wake_)
    return false;
  thread_ = std::thread([this] { run(); });
  loopThread_ = thread_.get_id();
  return true;
}

void ClipboardThread::stop() {
  if (!thread_.joinable())
    return;
  stopping_.store(true);
  wake();
  thread_.join();
}

bool ClipboardThread::post(Task task) {
  {
    std::lock_guard lock(tasksMutex_);
    if (!accepting_)
      return false;
    tasks_.push_back(std::move(task));
  }
  wake();
  return true;
}

void ClipboardThread::wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof one);
}

bool ClipboardThread::runTasks() {
  std::deque<Task> tasks;
  {
    std::lock_guard lock(tasksMutex_);
    tasks.swap(tasks_);
  }
  for (auto& task : tasks)
    task(true);
  return !tasks.empty();
}

void ClipboardThread::run() {
  // A server that goes away must end this loop, not the host: with SIGPIPE
  // blocked here, writing to its closed socket fails instead.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

  while (!stopping_.load()) {
    bool busy = runTasks();
    while (auto event = window_.nextEvent()) {
      handler_.dispatch(*event);
      busy = true;
    }
    const auto next = handler_.expire(SteadyClock::now());
    if (!window_.alive())
      break;
    if (busy)
      continue;
    window_.wait(next, wake_.get());
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(wake_.get(), &count, sizeof count);
  }
  handler_.ending();
  std::deque<Task> left;
  {
    std::lock_guard lock(tasksMutex_);
    accepting_ = false;
    left.swap(tasks_);
  }
  for (auto& task : left)
    task(false);
}

}  // namespace lumivane::platform::x11
