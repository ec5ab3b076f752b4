// The GTK 3 front-end. Its event loop is GLib's main loop, which runs without the toolkit: GTK
// comes up only when the window is shown or a message box is needed, so a hidden run that asks
// nothing never opens the display and starts sending as fast as the console does.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "device/replies.h"
#include "sys/display.h"
#include "text/line_breaks.h"
#include "ui/front_end.h"
#include "ui/main_window-gtk.h"
#include "ui/message_box-gtk.h"

namespace zelmo {
namespace {

constexpr const char* kNoDisplayText = "Прозорецот не може да се прикаже: нема врска со екранот ";

// The console's way of showing a box, for a desktop that went away: lines on standard error,
// and a question nobody can see is answered No.
MsgAnswer PrintedBox(const std::string& text, MsgStyle style, const std::string& title) {
  const std::string lines = (title.empty() ? kAppTitle : title) + "\n" + StreamLines(text) + "\n";
  std::fputs(lines.c_str(), stderr);
  std::fflush(stderr);
  return style == MsgStyle::kQuestion ? MsgAnswer::kNo : MsgAnswer::kOk;
}

// GLib hands a signal to its loop, which takes it only when it turns: a signal that comes while a
// handler runs (start-up, say) would wait there. Ours sits in front of GLib's and marks the
// request at once, so that the job sees it before its next command; GLib's then does the rest.
std::atomic<bool> closeSignalled{false};
struct sigaction glibHandlers[NSIG];

void OnTerminatingSignal(int sig) {
  closeSignalled = true;
  const struct sigaction& glib = glibHandlers[sig];
  if (glib.sa_flags & SA_SIGINFO) return;  // GLib's handler takes the plain form
  if (glib.sa_handler != SIG_DFL && glib.sa_handler != SIG_IGN) glib.sa_handler(sig);
}

void MarkSignalsAtOnce() {
  closeSignalled = false;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction ours {};
    ours.sa_handler = OnTerminatingSignal;
    sigemptyset(&ours.sa_mask);
    ours.sa_flags = SA_RESTART;
    sigaction(sig, &ours, &glibHandlers[sig]);
  }
}

class GtkFrontEnd : public FrontEnd {
 public:
  GtkFrontEnd() {
    // A reader that went away must not kill us mid-job; the write error is enough.
    signal(SIGPIPE, SIG_IGN);
    // The user's character set, for window titles, and language, for the buttons of the boxes
    // and the system's reasons; set now, while we are the only thread. Numbers keep the decimal
    // point: LC_NUMERIC stays "C".
    setlocale(LC_CTYPE, "");
    setlocale(LC_MESSAGES, "");
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) g_unix_signal_add(sig, OnCloseSignal, this);
    MarkSignalsAtOnce();
  }

  ~GtkFrontEnd() override {
    Unload();
    while (g_source_remove_by_user_data(this)) {
    }
  }

  void Run(const WindowHandlers& handlers) override {
    handlers_ = handlers;
    loop_ = g_main_loop_new(nullptr, FALSE);
    Post([this] { handlers_.Form_Load(); });
    g_main_loop_run(loop_);
    g_main_loop_unref(loop_);
    loop_ = nullptr;
    // What ended a handler could not unwind through GLib; it goes on from here.
    if (failure_) std::rethrow_exception(failure_);
  }

  void Post(std::function<void()> task) override {
    std::lock_guard<std::mutex> lock(mu_);
    tasks_.push_back(std::move(task));
    ScheduleLocked();
  }

  // A close request while the box waits takes it away (RequestClose): the question has no
  // answer and the run ends as closed.
  MsgAnswer MsgBox(const std::string& text, MsgStyle style, const std::string& title) override {
    // Once the program is asked to close no new question waits for anyone; when a signal asked,
    // nothing may hold it at all and what is left to say goes to standard error. An operator who
    // closed the window still reads why the run ended.
    if (CloseRequested() && style == MsgStyle::kQuestion) throw DismissedByClose();
    if (closeSignalled || !ToolkitUp()) return PrintedBox(text, style, title);
    GtkWindow* parent = nullptr;
    if (widgets_ && gtk_widget_get_visible(widgets_->window)) parent = GTK_WINDOW(widgets_->window);
    const std::optional<MsgAnswer> answer = RunMessageBox(parent, text, style, title, &openBox_);
    if (!answer) throw DismissedByClose();
    return *answer;
  }

  void Show() override {
    if (!ToolkitUp()) throw std::runtime_error(kNoDisplayText + DisplayName());
    if (!widgets_) Build();
    gtk_widget_show_all(widgets_->window);
    gtk_window_present(GTK_WINDOW(widgets_->window));
  }

  void Hide() override {
    if (widgets_) gtk_widget_hide(widgets_->window);
  }

  void Unload() override {
    if (!widgets_) return;
    gtk_widget_destroy(widgets_->window);
    widgets_.reset();
  }

  void SetLabel(const std::string& caption) override {
    label_ = caption;
    if (widgets_) gtk_label_set_text(GTK_LABEL(widgets_->lblInfo), caption.c_str());
  }

  // ListOfEvents is never shown; integrators read its lines on standard output.
  void AddEvent(const std::string& line) override {
    events_.push_back(line);
    std::fprintf(stdout, "%s\n", OneLogLine(line).c_str());
    std::fflush(stdout);
  }

  void SetPrintEnabled(bool enabled) override {
    printEnabled_ = enabled;
    if (widgets_) gtk_widget_set_sensitive(widgets_->btnPrint, enabled);
  }

  bool CloseRequested() const override { return closeRequested_ || closeSignalled; }

 private:
  bool ToolkitUp() {
    if (!toolkitTried_) {
      toolkitTried_ = true;
      // GTK would switch the whole locale at once, numbers included, and with other threads
      // running; the constructor already took what the desktop needs.
      gtk_disable_setlocale();
      toolkitUp_ = gtk_init_check(nullptr, nullptr);
      if (toolkitUp_) SetProgramIcon();
    }
    return toolkitUp_;
  }

  void Build() {
    widgets_ = BuildMainWindow();
    gtk_label_set_text(GTK_LABEL(widgets_->lblInfo), label_.c_str());
    gtk_widget_set_sensitive(widgets_->btnPrint, printEnabled_);
    g_signal_connect(widgets_->window, "delete-event", G_CALLBACK(OnDeleteEvent), this);
    g_signal_connect(widgets_->btnPrint, "clicked", G_CALLBACK(OnPrintClicked), this);
  }

  void ScheduleLocked() {
    if (scheduled_ || tasks_.empty() || failed_) return;
    scheduled_ = true;
    g_idle_add_full(G_PRIORITY_DEFAULT, OnTasks, this, nullptr);
  }

  // One task per turn of the loop, and none while a handler waits in a message box's own loop:
  // handlers run one at a time to completion.
  void RunNextTask() {
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> lock(mu_);
      scheduled_ = false;
      if (busy_ || failed_ || tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    busy_ = true;
    try {
      task();
    } catch (...) {
      failure_ = std::current_exception();
      if (loop_) g_main_loop_quit(loop_);
      // Post reads this from other threads: no more tasks are scheduled once a handler failed.
      std::lock_guard<std::mutex> lock(mu_);
      failed_ = true;
    }
    busy_ = false;
    std::lock_guard<std::mutex> lock(mu_);
    ScheduleLocked();
  }

  static gboolean OnTasks(gpointer self) {
    static_cast<GtkFrontEnd*>(self)->RunNextTask();
    return G_SOURCE_REMOVE;
  }

  static gboolean OnCloseSignal(gpointer self) {
    static_cast<GtkFrontEnd*>(self)->RequestClose();
    return G_SOURCE_CONTINUE;
  }

  // The close box: the request is ours to handle, GTK must not destroy the window itself.
  static gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<GtkFrontEnd*>(self)->RequestClose();
    return TRUE;
  }

  static void OnPrintClicked(GtkButton*, gpointer self) {
    auto* me = static_cast<GtkFrontEnd*>(self);
    me->Post([me] { me->handlers_.btnPrint_Click(); });
  }

  // Marked at once, so that the job sends nothing more; a box waiting for the operator is taken
  // away; the close request itself is handled in its turn.
  void RequestClose() {
    closeRequested_ = true;
    if (openBox_) DismissMessageBox(openBox_);
    Post([this] { handlers_.Form_QueryUnload(); });
  }

  WindowHandlers handlers_;
  GMainLoop* loop_ = nullptr;
  bool busy_ = false;  // a handler is running
  std::exception_ptr failure_;
  std::atomic<bool> closeRequested_ = false;
  GtkWidget* openBox_ = nullptr;  // the message box a handler waits on

  std::mutex mu_;
  std::deque<std::function<void()>> tasks_;
  bool scheduled_ = false;
  bool failed_ = false;  // a handler let an exception escape (failure_ holds it)

  bool toolkitTried_ = false, toolkitUp_ = false;
  std::optional<MainWidgets> widgets_;
  std::string label_ = kReadyText;
  bool printEnabled_ = true;
  std::vector<std::string> events_;  // ListOfEvents
};

}  // namespace

}  // namespace zelmo

// The module's entry point, looked up by name when zelmo loads the desktop front-end.
extern "C" __attribute__((visibility("default"))) zelmo::FrontEnd* ZelmoMakeGtkFrontEnd() {
  // Decided from the environment alone: opening the display is left to the first window.
  if (zelmo::DisplayName().empty()) return nullptr;
  return new zelmo::GtkFrontEnd();
}
