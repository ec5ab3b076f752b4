// The operating system failing under the real program, one call at a time, through strace's
// fault injection. Each case names the call it means to fail and checks in strace's own log that
// the fault hit that call: a fault that missed its target fails the case instead of passing it.
// Whatever fails, nothing is lost: the receipt stays byte for byte unless the whole job went
// out, the settings file is untouched or whole with nothing beside it, and the line holds the
// whole job, nothing (with a "nothing sent" status) or a prefix of it (with 10).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e_common.h"
#include "harness.h"

namespace e2e {
namespace {

const std::string kQuestionReceipt = "Bread;0;A;30\r\n";  // asks for the missing quantity
const std::string kDefaultIni = "[Parametri]\r\nSeriska=1\r\nPrikaziForma=1\r\nDelimiter=;\r\n";
constexpr std::size_t kWholeJobBytes = 1 + 45 + 69 + 69 + 1 + 1 + 45 + 69 + 1;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// strace's lines for the faults it injected.
std::vector<std::string> Injected(const std::string& log) {
  std::vector<std::string> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (Has(line, "(INJECTED)")) lines.push_back(line);
  }
  return lines;
}

struct Traced {
  Finished run;
  std::string log;
};

// zelmo --console --dir <scratch> under strace with `options` (its -e and -P); input closed
// unless `keepInput`, in which case the run is ended by closing it after `wait`.
Traced RunTraced(const Scratch& scratch, const std::vector<std::string>& options,
                 bool keepInput = false) {
  const fs::path log =
      scratch.dir().parent_path() / (scratch.dir().filename().string() + ".strace");
  std::vector<std::string> argv = {"/usr/bin/strace", "-f", "-qq", "-y", "-o", log.string()};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), {ZelmoBin(), "--console", "--dir", scratch.dir().string()});
  Process zelmo(argv, "", !keepInput);
  Traced t{zelmo.Wait(20s), ReadFile(log)};
  fs::remove(log);
  return t;
}

struct Case {
  std::string name;
  std::function<void(const Scratch&, const std::string& device)> layout;
  std::vector<std::string> strace;  // the fault, as strace options; PATH stands for the folder
  std::string target;               // in the injected call's line
  int status;
  std::string message;             // on standard error
  bool printed = false;            // the whole job went out
  std::string receipt = kReceipt;  // as it was laid out
  std::string sent = "";           // what reached the register when the job did not go out
};

std::vector<std::string> WithFolder(std::vector<std::string> options, const fs::path& folder) {
  for (std::string& option : options) {
    const std::size_t at = option.find("PATH");
    if (at != std::string::npos) option.replace(at, 4, folder.string());
  }
  return options;
}

void Hidden(const Scratch& s, const std::string& device) {
  s.Config(device, kHiddenClear);
  s.Write("smetka.txt", kReceipt);
}

void NoSettings(const Scratch& s, const std::string&) {
  s.Write("smetka.txt", kReceipt);
}

void HiddenJournal(const Scratch& s, const std::string& device) {
  s.Config(device, kHiddenClear + "Journal=1\r\n");
  s.Write("smetka.txt", kReceipt);
}

TEST(OsFaults, EachInjectedFaultEndsWithItsStatusAndReasonAndNothingLost) {
  const Case cases[] = {
      {"the settings file cannot be examined",
       Hidden,
       {"-P", "PATH/Zelmocfg.ini", "-e", "inject=newfstatat,statx:error=EIO:when=1"},
       "Zelmocfg.ini",
       6,
       "Грешка во ini Фајлот.\n"},
      {"the default file's write finds the disk full",
       NoSettings,
       {"-e", "trace=write", "-e", "inject=write:error=ENOSPC:when=1"},
       "Zelmocfg.ini.",
       6,
       "No space left on device"},
      {"the default file cannot be flushed to the disk",
       NoSettings,
       {"-e", "trace=fsync", "-e", "inject=fsync:error=EIO:when=1"},
       "Zelmocfg.ini.",
       6,
       "Input/output error"},
      {"the default file cannot be renamed into place",
       NoSettings,
       {"-e", "trace=rename,renameat,renameat2", "-e",
        "inject=rename,renameat,renameat2:error=EXDEV:when=1"},
       "Zelmocfg.ini",
       6,
       "Invalid cross-device link"},
      {"the settings file's second look fails",
       Hidden,
       {"-P", "PATH/Zelmocfg.ini", "-e", "inject=newfstatat,statx:error=EIO:when=2+"},
       "Zelmocfg.ini",
       6,
       "Zelmocfg.ini: Input/output error"},
      // Only a journal that is not there means none.
      {"the journal cannot be opened",
       HiddenJournal,
       {"-P", "PATH/smetka.jrn", "-e", "inject=openat:error=EACCES:when=1"},
       "smetka.jrn",
       1,
       "smetka.jrn: open: Permission denied"},
      {"the journal cannot be read",
       [](const Scratch& s, const std::string& device) {
         HiddenJournal(s, device);
         s.Write("smetka.jrn", "sha256=" + std::string(64, '0') + "\r\n");
       },
       {"-e", "trace=read", "-e", "inject=read:error=EIO:when=1", "-P", "PATH/smetka.jrn"},
       "smetka.jrn",
       1,
       "smetka.jrn: read: Input/output error"},
      // The journal is written once the enquiry is answered: the enquiry alone went out.
      {"the journal cannot be renamed into place",
       HiddenJournal,
       {"-e", "trace=rename,renameat,renameat2", "-e",
        "inject=rename,renameat,renameat2:error=EXDEV:when=1"},
       "smetka.jrn",
       1,
       "Дневникот на печатењето (Journal=1) не може да се води: ништо не е испратено.",
       false,
       kReceipt,
       "\x05"},
      {"the journal's folder cannot be flushed",
       HiddenJournal,
       {"-e", "trace=fsync", "-e", "inject=fsync:error=EIO:when=2"},
       "<PATH>",
       1,
       "smetka.jrn: fsync folder: Input/output error",
       false,
       kReceipt,
       "\x05"},
      {"the receipt cannot be looked for",
       Hidden,
       {"-P", "PATH/smetka.txt", "-e", "inject=newfstatat,statx:error=EACCES:when=1"},
       "smetka.txt",
       3,
       "Permission denied"},
      {"the printed receipt cannot be deleted",
       Hidden,
       {"-P", "PATH/smetka.txt", "-e", "inject=unlink,unlinkat:error=EBUSY:when=1"},
       "smetka.txt",
       9,
       "не печатете ја повторно",
       true},
      {"no thread can be made",
       Hidden,
       {"-e", "trace=clone,clone3", "-e", "inject=clone,clone3:error=EAGAIN:when=1"},
       "clone",
       1,
       "Resource temporarily unavailable"},
      {"the loop's wake-up cannot be made",
       Hidden,
       {"-e", "trace=eventfd2", "-e", "inject=eventfd2:error=EMFILE:when=1"},
       "eventfd2",
       1,
       "Too many open files"},
      {"the port's wake-up pipe cannot be made",
       Hidden,
       {"-e", "trace=pipe2", "-e", "inject=pipe2:error=EMFILE:when=1"},
       "pipe2",
       1,
       "Too many open files"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    Register reg(scratch);
    c.layout(scratch, reg.device());
    const fs::path ini = scratch.dir() / "Zelmocfg.ini";
    const bool hadIni = fs::exists(ini);
    const std::string iniBefore = ReadFile(ini);
    const std::vector<std::string> names = Names(scratch.dir());

    const Traced t = RunTraced(scratch, WithFolder(c.strace, scratch.dir()));
    const std::string target = WithFolder({c.target}, scratch.dir()).front();
    reg.process().Signal(SIGTERM);
    reg.Wait();

    const std::vector<std::string> injected = Injected(t.log);
    ASSERT_FALSE(injected.empty()) << "the fault never happened:\n" << t.log.substr(0, 4000);
    EXPECT_TRUE(Has(injected.front(), target))
        << "the fault hit another call: " << injected.front();
    if (std::getenv("ZELMO_SHOW_FAULTS")) std::fprintf(stderr, "%s\n", injected.front().c_str());
    EXPECT_EQ(t.run.status, c.status) << t.run.err;
    EXPECT_TRUE(Has(t.run.err, c.message)) << t.run.err;

    const std::string received = reg.Received();
    if (c.printed) {
      EXPECT_EQ(received.size(), kWholeJobBytes);
    } else {
      EXPECT_EQ(received, c.sent) << "a run that ends with " << c.status << " sends nothing";
      EXPECT_EQ(scratch.Read("smetka.txt"), c.receipt);
    }
    if (c.status != 9) {
      EXPECT_EQ(Names(scratch.dir()), names) << "nothing made, nothing left beside the files";
    }
    if (hadIni) {
      EXPECT_EQ(ReadFile(ini), iniBefore);
    } else if (fs::exists(ini)) {
      EXPECT_EQ(ReadFile(ini), kDefaultIni);
    }
  }
}

// How many mmap() calls the program makes up to and including its first thread's stack: counted
// on a run that ends at once (its port missing), since the count comes before any file is read.
int FirstStackMapping() {
  Scratch scratch;
  scratch.Config("/dev/zelmo-no-such-port", kHiddenClear);
  const Traced t = RunTraced(scratch, {"-e", "trace=mmap"});
  std::istringstream in(t.log);
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    if (!Has(line, "mmap(")) continue;
    ++count;
    if (Has(line, "MAP_STACK")) return count;
  }
  return 0;
}

// A thread whose stack cannot be mapped cannot be made: the program's failure, 1, nothing sent.
TEST(OsFaults, AThreadStackThatCannotBeMappedEndsWithOne) {
  const int stack = FirstStackMapping();
  ASSERT_GT(stack, 0) << "no thread stack was mapped";
  Scratch scratch;
  Register reg(scratch);
  Hidden(scratch, reg.device());
  const Traced t = RunTraced(scratch, {"-e", "trace=mmap", "-e",
                                       "inject=mmap:error=ENOMEM:when=" + std::to_string(stack)});
  reg.process().Signal(SIGTERM);
  reg.Wait();
  const std::vector<std::string> injected = Injected(t.log);
  ASSERT_FALSE(injected.empty());
  EXPECT_TRUE(Has(injected.front(), "MAP_STACK"))
      << "the fault hit another mapping: " << injected.front();
  EXPECT_EQ(t.run.status, 1) << t.run.err;
  EXPECT_TRUE(Has(t.run.err, "Програмата не може да продолжи.")) << t.run.err;
  EXPECT_EQ(reg.Received(), "");
  EXPECT_EQ(scratch.Read("smetka.txt"), kReceipt);
}

// The loop's wait failing for good must end the run instead of spinning: the program's failure,
// 1, while nothing was sent, and still while the enquiry alone was out (it prints nothing).
TEST(OsFaults, AWaitThatFailsForGoodEndsTheRun) {
  for (const bool shown : {true, false}) {
    SCOPED_TRACE(shown ? "shown, waiting for the button" : "hidden, sending");
    Scratch scratch;
    // Hidden, the register answers at a slow line's pace, so that the loop waits with the
    // first command out.
    Register reg(scratch,
                 shown ? std::vector<std::string>{} : std::vector<std::string>{"--baud", "300"});
    scratch.Config(reg.device(), std::string("Seriska=1\r\nPrikaziForma=") + (shown ? "1" : "0") +
                                     "\r\nDelimiter=;\r\nClear=1\r\n");
    scratch.Write("smetka.txt", kReceipt);
    const Traced t =
        RunTraced(scratch, {"-e", "trace=poll", "-e", "inject=poll:error=ENOMEM:when=1+"},
                  /*keepInput=*/true);
    reg.process().Signal(SIGTERM);
    reg.Wait();

    const std::vector<std::string> injected = Injected(t.log);
    ASSERT_FALSE(injected.empty()) << t.log.substr(0, 4000);
    EXPECT_TRUE(Has(injected.front(), "eventfd")) << "the loop's own wait: " << injected.front();
    EXPECT_EQ(t.run.status, 1) << t.run.err;
    EXPECT_TRUE(Has(t.run.err, "Cannot allocate memory")) << t.run.err;
    EXPECT_FALSE(Has(t.run.err, "Проверете дали сметката е испечатена")) << t.run.err;
    const std::string received = reg.Received();
    EXPECT_EQ(received, shown ? "" : "\x05") << "nothing, or the enquiry alone";
    EXPECT_EQ(scratch.Read("smetka.txt"), kReceipt);
  }
}

// --- close requests ----------------------------------------------------------------------------

// The program strace started, once it runs (strace forks short-lived children of its own to try
// what the kernel offers).
pid_t TracedZelmo(pid_t strace) {
  const fs::path zelmo = fs::canonical(ZelmoBin());
  for (int i = 0; i < 1000; ++i) {
    std::ifstream children("/proc/" + std::to_string(strace) + "/task/" + std::to_string(strace) +
                           "/children");
    for (pid_t child = 0; children >> child;) {
      std::error_code ec;
      if (fs::read_symlink("/proc/" + std::to_string(child) + "/exe", ec) == zelmo) return child;
    }
    std::this_thread::sleep_for(10ms);
  }
  return 0;
}

// Whether the thread `pid` is in openat() of `path`: its call and arguments from /proc, the path
// read out of its memory (the thread stands still while strace holds it there).
bool InOpenOf(pid_t pid, const std::string& path) {
  constexpr int kOpenat = 257;
  std::ifstream syscall("/proc/" + std::to_string(pid) + "/syscall");
  int number = -1;
  std::string dirfd, address;
  if (!(syscall >> number >> dirfd >> address) || number != kOpenat) return false;
  const int mem = open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY);
  if (mem < 0) return false;
  char text[256] = {};
  const ssize_t n =
      pread(mem, text, sizeof text - 1, static_cast<off_t>(std::stoull(address, nullptr, 16)));
  close(mem);
  return n > 0 && std::string(text) == path;
}

// A terminating signal while start-up still runs (held here at the opening of the port) is a
// close request before anything was sent: 8, however quickly the job would have started.
TEST(CloseRequests, ASignalDuringStartUpEndsAsClosedBeforeSending) {
  // The desktop front-end too: hidden and without a question it never opens the display, so a
  // display name that leads nowhere is enough to have it chosen.
  for (const bool desktop : {false, true}) {
    SCOPED_TRACE(desktop ? "desktop front-end" : "console");
    Scratch scratch;
    Register reg(scratch);
    Hidden(scratch, reg.device());
    const fs::path log =
        scratch.dir().parent_path() / (scratch.dir().filename().string() + ".strace");
    std::vector<std::string> argv = {"/usr/bin/strace",
                                     "-f",
                                     "-qq",
                                     "-o",
                                     log.string(),
                                     "-P",
                                     reg.device(),
                                     "-e",
                                     "inject=openat:delay_enter=3000000:when=1",
                                     ZelmoBin()};
    if (!desktop) argv.push_back("--console");
    argv.insert(argv.end(), {"--dir", scratch.dir().string()});
    if (desktop) setenv("DISPLAY", ":424242", 1);
    Process zelmo(argv);
    if (desktop) unsetenv("DISPLAY");
    const pid_t child = TracedZelmo(zelmo.pid());
    ASSERT_GT(child, 0);
    bool held = false;
    for (int i = 0; i < 1000 && !held; ++i) {
      held = InOpenOf(child, reg.device());
      if (!held) std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(held) << "start-up never reached the port";
    kill(child, SIGTERM);
    const Finished run = zelmo.Wait();
    const std::string traced = ReadFile(log);
    fs::remove(log);
    reg.process().Signal(SIGTERM);
    reg.Wait();
    EXPECT_TRUE(Has(traced, "openat(AT_FDCWD, \"" + reg.device())) << traced.substr(0, 2000);
    EXPECT_EQ(run.status, 8) << run.err;
    EXPECT_EQ(reg.Received(), "");
    EXPECT_EQ(scratch.Read("smetka.txt"), kReceipt);
  }
}

// A close request while a question waits for the operator takes the question away: 8, nothing
// sent. Once the job is sending the same request cuts it off, and the operator is told what to
// check.
TEST(CloseRequests, ASignalWhileAQuestionWaitsOrAJobRunsEndsTheRunAtOnce) {
  for (const bool question : {true, false}) {
    SCOPED_TRACE(question ? "a question waits" : "the job runs");
    Scratch scratch;
    Register reg(scratch,
                 question ? std::vector<std::string>{} : std::vector<std::string>{"--nak", "2"});
    scratch.Config(reg.device(), kHiddenClear);
    scratch.Write("smetka.txt", question ? "Bread;0;A;30\r\n" : kReceipt);
    Process zelmo({ZelmoBin(), "--console", "--dir", scratch.dir().string()}, "", false);
    if (question) {
      ASSERT_TRUE(zelmo.WaitForError("Дали сакате да биде доделена вредноста 1?"));
    } else {
      ASSERT_TRUE(zelmo.WaitForOutput("NAK\n"));
    }
    zelmo.Signal(question ? SIGHUP : SIGINT);
    const Finished run = zelmo.Wait(10s);
    reg.process().Signal(SIGTERM);
    reg.Wait();
    EXPECT_EQ(run.status, question ? 8 : 10) << run.err;
    EXPECT_EQ(scratch.Read("smetka.txt"), question ? "Bread;0;A;30\r\n" : kReceipt);
    if (question) {
      EXPECT_EQ(reg.Received(), "");
      continue;
    }
    EXPECT_EQ(reg.Received().size(), 1u + 45) << "the first two commands, then nothing";
    EXPECT_TRUE(Has(run.err, "Печатењето е прекинато: програмата е затворена.")) << run.err;
    EXPECT_TRUE(Has(run.err, "Проверете дали сметката е испечатена пред повторно печатење."));
  }
}

}  // namespace
}  // namespace e2e
