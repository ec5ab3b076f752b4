// The headless front-end. One queue of tasks and the descriptors it watches are the event loop;
// standard input is read by a thread of its own, started only when a line is first needed, so a
// hidden run that asks nothing never touches it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "device/replies.h"
#include "sys/ready_wait.h"
#include "text/line_breaks.h"
#include "ui/close_requests.h"
#include "ui/front_end.h"

namespace zelmo {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// Empty and "y", "yes", "д", "да" in any case are Yes (the default button).
bool IsYes(const std::string& raw) {
  std::string answer = raw;
  while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
  const std::string a = Lower(answer);
  return a.empty() || a == "y" || a == "yes" || a == "д" || a == "Д" || a == "да" || a == "Да" ||
         a == "дА" || a == "ДА";
}

void PrintLines(std::FILE* to, const std::string& text) {
  std::fprintf(to, "%s\n", StreamLines(text).c_str());
}

class ConsoleFrontEnd : public FrontEnd {
 public:
  explicit ConsoleFrontEnd(ConsoleIo io) : io_(std::move(io)) {
    io_.watchCloseRequests([this] { OnCloseRequest(); });
  }

  // The reader uses this object: it must have seen the end of its input. (The program itself
  // never gets here with a reader running: every run ends through ProgramEnd.)
  ~ConsoleFrontEnd() override {
    if (reader_.joinable()) reader_.join();
  }

  void Run(const WindowHandlers& handlers) override {
    handlers_ = handlers;
    handlers_.Form_Load();
    for (;;) NextTask()();
  }

  void Post(std::function<void()> task) override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      tasks_.push_back(std::move(task));
    }
    cv_.notify_all();
    if (wait_) wait_->Wake();
  }

  // Only the loop's own thread watches; the port does it when it opens.
  bool WatchReadable(int fd, std::function<void()> ready) override {
    if (!wait_) return false;
    watches_.Readable(fd, std::move(ready));
    return true;
  }
  void WatchWritable(int fd, std::function<void()> ready) override {
    watches_.Writable(fd, std::move(ready));
  }
  void SetDeadline(int fd, std::chrono::steady_clock::time_point when,
                   std::function<void()> due) override {
    watches_.Deadline(fd, when, std::move(due));
  }
  void Unwatch(int fd) override { watches_.Remove(fd); }

  // A question is answered by the next line of input; a close request meanwhile takes it away.
  MsgAnswer MsgBox(const std::string& text, MsgStyle style, const std::string& title) override {
    std::fprintf(io_.err, "%s\n", title.empty() ? kAppTitle : title.c_str());
    PrintLines(io_.err, text);
    std::fflush(io_.err);
    if (style != MsgStyle::kQuestion) return MsgAnswer::kOk;
    const std::optional<std::string> line = NextLine();
    return line && IsYes(*line) ? MsgAnswer::kYes : MsgAnswer::kNo;
  }

  void Show() override {
    std::fprintf(io_.err, "%s\n", label_.c_str());
    std::fflush(io_.err);
    std::lock_guard<std::mutex> lock(mu_);
    shown_ = true;
    StartReaderLocked();
  }
  void Hide() override {}
  void Unload() override {}

  void SetLabel(const std::string& caption) override {
    label_ = caption;
    std::fprintf(io_.err, "%s\n", caption.c_str());
    std::fflush(io_.err);
  }

  void AddEvent(const std::string& line) override {
    std::fprintf(io_.out, "%s\n", OneLogLine(line).c_str());
    std::fflush(io_.out);
  }

  void SetPrintEnabled(bool enabled) override {
    std::lock_guard<std::mutex> lock(mu_);
    printEnabled_ = enabled;
  }

  bool CloseRequested() const override { return closeRequested_; }

 private:
  // From the watcher's thread: marked at once (a question waiting for input gives up), handled
  // on the loop in its turn.
  void OnCloseRequest() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      closeRequested_ = true;
    }
    cv_.notify_all();
    Post([this] { handlers_.Form_QueryUnload(); });
  }

  std::function<void()> NextTask() {
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mu_);
        if (!wait_) cv_.wait(lock, [this] { return !tasks_.empty(); });
        if (!tasks_.empty()) {
          std::function<void()> task = std::move(tasks_.front());
          tasks_.pop_front();
          return task;
        }
      }
      WaitForWork();
    }
  }

  // Sleeps until a task is posted, a watched descriptor is ready or a deadline comes, and runs
  // their callbacks here, on the loop's thread: a reply reaches its handler without a hand-over
  // between threads. A wait that fails for good throws, and the run ends.
  void WaitForWork() { watches_.WaitAndRun(*wait_); }

  // The next line of input for a question; nothing at the end of input.
  std::optional<std::string> NextLine() {
    std::unique_lock<std::mutex> lock(mu_);
    StartReaderLocked();
    cv_.wait(lock, [this] { return !lines_.empty() || inputEnded_ || closeRequested_; });
    if (closeRequested_) throw DismissedByClose();
    if (lines_.empty()) return std::nullopt;
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
  }

  void StartReaderLocked() {
    if (readerStarted_) return;
    try {
      reader_ = std::thread([this] { ReadInput(); });
    } catch (const std::system_error& e) {
      throw BoxUnavailable{e.what()};
    }
    readerStarted_ = true;
  }

  void ReadInput() {
    while (std::optional<std::string> line = io_.readLine()) {
      {
        std::lock_guard<std::mutex> lock(mu_);
        lines_.push_back(std::move(*line));
      }
      cv_.notify_all();
      Post([this] { OnInput(); });
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      inputEnded_ = true;
    }
    cv_.notify_all();
    Post([this] { OnInput(); });
  }

  // While the shown window waits for its button, a line is a press and the end of input is a
  // close request. Once the job runs, input is only read by questions.
  void OnInput() {
    std::unique_lock<std::mutex> lock(mu_);
    if (!shown_ || !printEnabled_) return;
    if (!lines_.empty()) {
      lines_.pop_front();
      lock.unlock();
      handlers_.btnPrint_Click();
    } else if (inputEnded_) {
      lock.unlock();
      handlers_.Form_QueryUnload();
    }
  }

  ConsoleIo io_;
  WindowHandlers handlers_;
  std::string label_ = kReadyText;
  // Nothing: the queue alone is waited on, and the port reads on a thread of its own.
  std::unique_ptr<ReadyWait> wait_ = ReadyWait::Make();
  Watches watches_;  // the loop's thread only

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
  std::deque<std::string> lines_;
  std::thread reader_;
  bool readerStarted_ = false;
  bool inputEnded_ = false;
  bool shown_ = false;
  bool printEnabled_ = true;
  std::atomic<bool> closeRequested_ = false;
};

}  // namespace

ConsoleIo StandardConsoleIo() {
  ConsoleIo io;
  io.readLine = []() -> std::optional<std::string> {
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return line;
  };
  io.out = stdout;
  io.err = stderr;
  io.watchCloseRequests = WatchCloseRequests;
  return io;
}

std::unique_ptr<FrontEnd> MakeConsoleFrontEnd(ProgramEnd&, ConsoleIo io) {
  return std::make_unique<ConsoleFrontEnd>(std::move(io));
}

}  // namespace zelmo
