// Faults end to end: the real bridge against a register that misbehaves, and against receipt and
// settings files that are broken or hostile. A receipt is money: whatever goes wrong, it is never
// printed twice, never cut off without the operator being told, never deleted unless it was sent,
// and nothing the bridge is given can crash it or hold it before it sends.
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "e2e_common.h"
#include "harness.h"

namespace e2e {
namespace {

using std::chrono::steady_clock;

constexpr char kENQ = '\x05';
constexpr int kJobCommands = 9;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Repeat(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

// What the register receives for `receipt` when nothing goes wrong: the yardstick for a job that
// was cut off (a prefix of it) or that had to share its port (all of it, once).
std::string WholeJob(const std::string& receipt) {
  HiddenJob job({}, receipt);
  const Finished run = RunZelmo(job.scratch);
  job.reg.Wait();
  EXPECT_EQ(run.status, 0) << run.err;
  return job.reg.Received();
}

// Lets the register end and gives back what it received.
std::string StopRegister(Register& reg) {
  reg.process().Signal(SIGTERM);
  reg.Wait();
  return reg.Received();
}

// --- the line ----------------------------------------------------------------------------------

// The line drops at some point of a job: the register hangs up, or the device goes away with it
// (killed after answering k commands). Once the first command has gone out the register may hold
// part of the receipt: the run says so and ends with 10, and the receipt stays for a check,
// byte for byte. Only a drop after the last answer leaves a printed (and deleted) receipt.
TEST(LineFaults, ALineThatDropsMidJobCutsItOffAndKeepsTheReceipt) {
  const std::string whole = WholeJob(kReceipt);
  struct Case {
    std::string name;
    std::vector<std::string> options;
    int killAfter;  // answers before the register is killed; 0: it hangs up by itself
    int status;
  } cases[] = {
      {"hang-up after the first answer", {"--hangup-after", "1"}, 0, 10},
      {"hang-up among the items", {"--hangup-after", "3"}, 0, 10},
      {"hang-up before the last answer", {"--hangup-after", "8"}, 0, 10},
      {"hang-up after the last answer", {"--hangup-after", "9"}, 0, 0},
      {"device gone after the first answer", {"--silent-after", "1"}, 1, 10},
      {"device gone among the items", {"--silent-after", "4"}, 4, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HiddenJob job(c.options);
    Process zelmo(job.Console());
    if (c.killAfter > 0) {
      ASSERT_TRUE(zelmo.WaitForOutput(Repeat("ACK\n", c.killAfter)));
      job.reg.process().Signal(SIGKILL);
    }
    const Finished run = zelmo.Wait(10s);
    job.reg.Wait();
    EXPECT_EQ(run.status, c.status) << run.err;
    const std::string received = job.reg.Received();
    EXPECT_EQ(whole.substr(0, received.size()), received) << "only the job's own bytes, in order";
    if (c.status == 0) {
      EXPECT_EQ(received, whole);
      EXPECT_FALSE(job.scratch.Exists("smetka.txt"));
      continue;
    }
    EXPECT_TRUE(Has(run.err, "Врската со фискалната каса е прекината.")) << run.err;
    EXPECT_TRUE(Has(run.err, "Проверете дали сметката е испечатена пред повторно печатење."));
    EXPECT_EQ(job.scratch.Read("smetka.txt"), kReceipt);
  }
}

// Replies that release nothing: the job waits on its first command, each reply is one line of
// the log (whatever bytes it holds), and a close request then ends the run as closed before
// sending: the enquiry alone went out, and it prints nothing.
TEST(LineFaults, RepliesOtherThanAckHoldTheJobWithOneLogLineEach) {
  std::vector<std::string> nakAll;
  for (int k = 1; k <= kJobCommands; ++k) nakAll.insert(nakAll.end(), {"--nak", std::to_string(k)});
  struct Case {
    std::string name;
    std::vector<std::string> options;
    std::string start;      // how the line starts
    std::size_t minLength;  // the reply's bytes are all in it, shown
  } cases[] = {
      {"NAK on every command", nakAll, "NAK", 3},
      {"a NUL", {"--garbage", "1:00"}, "KOD= 0-", 8},
      {"a line feed", {"--garbage", "1:0A"}, "KOD= A-", 8},
      {"a carriage return", {"--garbage", "1:0D"}, "KOD= D-", 8},
      {"a Cyrillic letter", {"--garbage", "1:FF"}, "KOD= FF-я", 10},
      // Noise bytes with the ACK behind them in the same read: only the first byte counts.
      {"a burst of 1000 bytes", {"--burst", "1:1000"}, "KOD= ", 1005},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HiddenJob job(c.options);
    Process zelmo(job.Console());
    ASSERT_TRUE(zelmo.WaitForOutput("\n"));
    EXPECT_FALSE(zelmo.WaitForOutput("never", 300ms));  // still waiting
    zelmo.Signal(SIGTERM);
    const Finished run = zelmo.Wait();
    EXPECT_EQ(run.status, 8) << run.err;
    EXPECT_EQ(StopRegister(job.reg), std::string(1, kENQ));
    EXPECT_EQ(job.scratch.Read("smetka.txt"), kReceipt);

    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    const std::string& line = lines[0];
    EXPECT_EQ(line.rfind(c.start, 0), 0u) << line;
    EXPECT_GE(line.size(), c.minLength) << line;
    for (const char ch : line) {
      ASSERT_TRUE(static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7F)
          << "a raw control byte in the log: " << static_cast<int>(ch);
    }
  }
}

// --- running the bridge measured -----------------------------------------------------------------

// A child's peak as the kernel counts it starts from the test's own memory at the fork, so it is
// an upper bound; under AddressSanitizer, whose allocator holds on to freed memory, that start is
// too high to bound anything (and ThreadSanitizer's shadow memory dwarfs it): memory is measured
// in plain builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMeasureMemory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kMeasureMemory = false;
#else
constexpr bool kMeasureMemory = true;
#endif
#else
constexpr bool kMeasureMemory = true;
#endif

struct Measured {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
  long peakKb = 0;  // the bridge's own peak resident memory
  std::chrono::milliseconds took{};
};

constexpr uid_t kNobody = 65534;

// Root passes every permission check; an operator's account does not. So the permission cases
// run the bridge as "nobody" when the tests run as root, and as the test's own user otherwise.
bool DropToNobody() {
  return geteuid() == 0;
}

std::string ReadBack(FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  std::fclose(file);
  return text;
}

// zelmo --console --dir <scratch> with its input closed, timed, its peak memory taken from the
// kernel's account of it; killed after `timeout`.
Measured RunMeasured(const Scratch& scratch, bool asNobody = false,
                     std::chrono::milliseconds timeout = 20s) {
  const std::string bin = ZelmoBin(), dir = scratch.dir().string();
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const auto start = steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in, 0);
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    if (asNobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
      _exit(126);
    }
    execl(bin.c_str(), bin.c_str(), "--console", "--dir", dir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in);
  Measured m;
  int raw = 0;
  rusage usage{};
  for (pid_t done = 0; done != pid;) {
    done = wait4(pid, &raw, WNOHANG, &usage);
    if (done < 0 && errno != EINTR) break;
    if (steady_clock::now() - start > timeout) kill(pid, SIGKILL);
    if (done != pid) std::this_thread::sleep_for(2ms);
  }
  m.took = std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - start);
  m.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  m.peakKb = usage.ru_maxrss;
  m.out = ReadBack(out);
  m.err = ReadBack(err);
  return m;
}

// What a path was before a run: its kind, and its bytes when it is a file we can afford to read.
struct Snapshot {
  fs::file_type type = fs::file_type::none;
  std::uintmax_t size = 0;
  std::string bytes;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const fs::path& path) {
  std::error_code ec;
  Snapshot s;
  s.type = fs::symlink_status(path, ec).type();
  if (s.type != fs::file_type::regular) return s;
  s.size = fs::file_size(path, ec);
  if (s.size <= (64u << 20)) {
    std::ifstream in(path, std::ios::binary);
    s.bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  return s;
}

void Sparse(const fs::path& path, std::uintmax_t size) {
  std::ofstream(path, std::ios::binary).close();
  fs::resize_file(path, size);
}

// The bridge's peak memory with a one-line receipt: what every run needs before its input.
long BaselineKb() {
  static const long baseline = [] {
    Scratch scratch;
    Register reg(scratch);
    scratch.Config(reg.device(), kHiddenClear);
    scratch.Write("smetka.txt", "Bread;1;A;30\r\n");
    const Measured m = RunMeasured(scratch);
    reg.Wait();
    EXPECT_EQ(m.status, 0) << m.err;
    return m.peakKb;
  }();
  return baseline;
}

// --- receipt files -------------------------------------------------------------------------------

// Broken and hostile receipts. Each ends in time and in memory that follow its input, with its
// message and status; one that does not load sends nothing and stays, with Clear=1. A pipe, a
// device or a file of zeros of any size cannot hold the bridge or fill its memory.
TEST(ReceiptFaults, EachBrokenReceiptEndsWithItsMessageNothingSentNothingDeleted) {
  const std::string lines32767 = Repeat("Item;1;A;1\r\n", 32767);
  struct Case {
    std::string name;
    std::function<void(const fs::path&)> make;
    int status;
    long extraKb;  // peak memory allowed above a one-line run
    bool nobody = false;
  } cases[] = {
      {"empty", [](auto& p) { std::ofstream{p}; }, 0, 4 << 10},
      {"a blank line", [](auto& p) { std::ofstream(p) << "Bread;1;A;30\r\n\r\nMilk;1;A;2\r\n"; }, 3,
       4 << 10},
      {"NUL bytes",
       [](auto& p) { std::ofstream(p) << std::string("Bread;1;A;30\r\nMi\0lk;1;A;2\r\n", 27); }, 3,
       4 << 10},
      {"invalid UTF-8 after a byte order mark",
       [](auto& p) {
         std::ofstream(p) << "\xEF\xBB\xBF"
                             "Bread;1;A;30\r\n\xC3\x28;1;A;2\r\n";
       },
       3, 4 << 10},
      {"a 10 MB line without a delimiter",
       [](auto& p) { std::ofstream(p) << std::string(10'000'000, 'x'); }, 3, 80 << 10},
      {"a 10 MB number",
       [](auto& p) { std::ofstream(p) << "x;1" + std::string(10'000'000, '0') + ";A;1\r\n"; }, 3,
       80 << 10},
      {"32767 lines: too many steps for the job", [&](auto& p) { std::ofstream(p) << lines32767; },
       3, 16 << 10},
      {"32768 lines", [&](auto& p) { std::ofstream(p) << lines32767 << "Item;1;A;1\r\n"; }, 3,
       16 << 10},
      {"256 MB of zeros", [](auto& p) { Sparse(p, 256u << 20); }, 3, 8 << 10},
      {"a folder", [](auto& p) { fs::create_directory(p); }, 3, 4 << 10},
      {"a pipe", [](auto& p) { mkfifo(p.c_str(), 0666); }, 3, 4 << 10},
      {"a link to /dev/zero", [](auto& p) { fs::create_symlink("/dev/zero", p); }, 3, 4 << 10},
      {"no read permission",
       [](auto& p) {
         std::ofstream(p) << "Bread;1;A;30\r\n";
         fs::permissions(p, fs::perms::owner_write);
       },
       3, 4 << 10, DropToNobody()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    Register reg(scratch);
    scratch.Config(reg.device(), kHiddenClear);
    const fs::path receipt = scratch.dir() / "smetka.txt";
    c.make(receipt);
    if (c.nobody) chmod(reg.device().c_str(), 0666);  // the operator's account may use the port
    const Snapshot before = Take(receipt);
    const Measured m = RunMeasured(scratch, c.nobody);
    const std::string received = StopRegister(reg);

    EXPECT_EQ(m.status, c.status) << m.err;
    EXPECT_LT(m.took, 5s) << "a receipt must not hold the bridge";
    if (kMeasureMemory) {
      EXPECT_LT(m.peakKb - BaselineKb(), c.extraKb) << m.peakKb << " kB";
    }
    if (c.status == 0) {
      EXPECT_EQ(received.size(), 1u + 45 + 1 + 1 + 45 + 69 + 1);  // seven commands, no item
      EXPECT_FALSE(scratch.Exists("smetka.txt"));
      continue;
    }
    EXPECT_TRUE(Has(m.err, "Zelmo\nNemoze da se napolni.\n")) << m.err;
    EXPECT_EQ(received, "");
    EXPECT_TRUE(Take(receipt) == before) << "the receipt must stay as it was";
  }
}

// A line of 10 MB with four fields is a receipt line like any other: its name is cut.
TEST(ReceiptFaults, ATenMegabyteNameIsCutAndPrinted) {
  Scratch scratch;
  Register reg(scratch);
  scratch.Config(reg.device(), kHiddenClear);
  scratch.Write("smetka.txt", std::string(10'000'000, 'x') + ";1;A;1\r\n");
  const Measured m = RunMeasured(scratch);
  reg.Wait();
  EXPECT_EQ(m.status, 0) << m.err;
  EXPECT_LT(m.took, 5s);
  if (kMeasureMemory) {
    EXPECT_LT(m.peakKb - BaselineKb(), 80 << 10) << m.peakKb << " kB";
  }
  const std::string received = reg.Received();
  EXPECT_EQ(received.size(), 1u + 45 + 69 + 1 + 1 + 45 + 69 + 1);
  EXPECT_TRUE(Has(received, "Dq1" + std::string(18, 'x') + "A")) << "the name cut to its field";
}

// --- configuration -------------------------------------------------------------------------------

// Settings that cannot be made, read or trusted: the operator is told which file and why, the
// run ends with 6 before the port is opened, and nothing is half-written: the folder holds what
// it held, the settings file (if any) its bytes, the receipt is kept.
TEST(ConfigFaults, EachBrokenConfigurationEndsWithAClearErrorAndNothingWritten) {
  struct Case {
    std::string name;
    // Lays out the folder; `device` is the register's port.
    std::function<void(const Scratch&, const std::string& device)> make;
    std::string reason;  // in the message, after the file's path
    bool nobody = false;
  } cases[] = {
      {"a read-only folder where the default file should go",
       [](const Scratch& s, auto&) { fs::permissions(s.dir(), fs::perms(0555)); },
       "Permission denied", DropToNobody()},
      {"a folder", [](const Scratch& s, auto&) { fs::create_directory(s.dir() / "Zelmocfg.ini"); },
       "Is a directory"},
      {"no read permission",
       [](const Scratch& s, auto& device) {
         s.Config(device, kHiddenClear);
         fs::permissions(s.dir() / "Zelmocfg.ini", fs::perms::owner_write);
       },
       "Permission denied", DropToNobody()},
      {"a 1 MB line",
       [](const Scratch& s, auto& device) {
         s.Config(device, kHiddenClear + "Napomena=" + std::string(1 << 20, 'x') + "\r\n");
       },
       "line 6 is longer than 1024 bytes"},
      {"binary junk",
       [](const Scratch& s, auto&) {
         std::string junk(4096, '\0');
         for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>(i * 7919 % 251);
         s.Write("Zelmocfg.ini", junk);
       },
       "line 1 holds the byte 00h, which is not text"},
      {"a pipe", [](const Scratch& s, auto&) { mkfifo((s.dir() / "Zelmocfg.ini").c_str(), 0666); },
       "not a plain file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    Register reg(scratch);
    scratch.Write("smetka.txt", kReceipt);
    c.make(scratch, reg.device());
    if (c.nobody) chmod(reg.device().c_str(), 0666);
    const fs::path ini = scratch.dir() / "Zelmocfg.ini";
    const Snapshot before = Take(ini);
    const std::vector<std::string> names = Names(scratch.dir());
    const Measured m = RunMeasured(scratch, c.nobody);
    fs::permissions(scratch.dir(), fs::perms(0755));

    EXPECT_EQ(m.status, 6) << m.err;
    EXPECT_TRUE(Has(m.err, "Zelmo\nГрешка во ini Фајлот.\n" + ini.string())) << m.err;
    EXPECT_TRUE(Has(m.err, c.reason)) << m.err;
    EXPECT_LT(m.took, 5s);
    EXPECT_EQ(StopRegister(reg), "");
    EXPECT_TRUE(Take(ini) == before) << "the settings file must stay as it was";
    EXPECT_EQ(Names(scratch.dir()), names) << "nothing half-written beside it";
    EXPECT_EQ(scratch.Read("smetka.txt"), kReceipt);
  }
}

// A port number that is put right but cannot be stored (a read-only file, or a read-only folder)
// is no reason to stop: the run goes on with port 1 and says on standard error and in the event
// list that the correction was not stored. The file keeps its bytes.
TEST(ConfigFaults, APortNumberThatCannotBeStoredIsUsedAllTheSame) {
  for (const bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "a read-only folder" : "a read-only file");
    Scratch scratch;
    Register reg(scratch);
    // Clear stays off: a read-only folder could not let the receipt go either.
    scratch.Write("Zelmocfg.ini",
                  "[Parametri]\r\nSeriska=COM3\r\nPrikaziForma=0\r\nDelimiter=;\r\n"
                  "[Ports]\r\nCOM1=" +
                      reg.device() + "\r\n");
    scratch.Write("smetka.txt", kReceipt);
    const fs::path ini = scratch.dir() / "Zelmocfg.ini";
    fs::permissions(folder ? scratch.dir() : ini, fs::perms(folder ? 0555 : 0444));
    chmod(reg.device().c_str(), 0666);
    const Snapshot before = Take(ini);
    const Measured m = RunMeasured(scratch, DropToNobody());
    reg.Wait();
    fs::permissions(scratch.dir(), fs::perms(0755));

    EXPECT_EQ(m.status, 0) << m.err;
    const std::string note = "Поправката Seriska=1 не може да се зачува во " + ini.string();
    EXPECT_TRUE(Has(m.err, note)) << m.err;
    EXPECT_TRUE(Has(m.out, note)) << m.out;
    EXPECT_EQ(reg.Received(), WholeJob(kReceipt));
    EXPECT_TRUE(Take(ini) == before);
  }
}

// A large settings file that is text all the same is read as settings, in time and in memory
// that follow its size: every one of the start-up's reads goes through the whole file.
TEST(ConfigFaults, ALargeTextConfigurationIsReadInTimeAndMemoryInProportion) {
  Scratch scratch;
  Register reg(scratch);
  std::string comments;
  for (int i = 0; i < 100'000; ++i) comments += "; napomena " + std::to_string(i) + "\r\n";
  scratch.Config(reg.device(), comments + kHiddenClear);  // 2.2 MB, the keys at its end
  scratch.Write("smetka.txt", kReceipt);
  const Measured m = RunMeasured(scratch);
  reg.Wait();
  EXPECT_EQ(m.status, 0) << m.err;
  EXPECT_LT(m.took, 5s);
  if (kMeasureMemory) {
    EXPECT_LT(m.peakKb - BaselineKb(), 32 << 10) << m.peakKb << " kB";
  }
  EXPECT_FALSE(scratch.Exists("smetka.txt"));
}

// --- a second bridge -----------------------------------------------------------------------------

// Whether process `pid` holds the advisory lock on `device`: the bridge's sign that the port is
// its own. Looked up in /proc, so that the test itself never takes the lock from it.
bool HoldsPort(pid_t pid, const std::string& device) {
  const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fds, ec)) {
    if (fs::read_symlink(entry.path(), ec) != device) continue;
    std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" +
                       entry.path().filename().string());
    std::stringstream text;
    text << info.rdbuf();
    if (Has(text.str(), "FLOCK")) return true;
  }
  return false;
}

bool WaitUntil(const std::function<bool()>& ready, std::chrono::milliseconds timeout = 10s) {
  const auto deadline = steady_clock::now() + timeout;
  while (!ready()) {
    if (steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// The point of a POS program starting the bridge twice: the second is told the port is in use
// and ends with nothing sent and nothing deleted; the first goes on and prints its receipt once,
// byte for byte.
TEST(SecondBridge, IsRefusedThePortWhileTheFirstWaitsOrPrints) {
  const std::string whole = WholeJob(kReceipt);
  for (const bool midJob : {false, true}) {
    SCOPED_TRACE(midJob ? "while the first prints" : "while the first waits for its button");
    Scratch scratch;
    // Mid-job the register answers at the pace of a slow line, so that the job is still going
    // when the second bridge comes.
    Register reg(scratch,
                 midJob ? std::vector<std::string>{"--baud", "2400"} : std::vector<std::string>{});
    scratch.Config(reg.device(), "Seriska=1\r\nPrikaziForma=1\r\nDelimiter=;\r\nClear=1\r\n");
    scratch.Write("smetka.txt", kReceipt);
    Process first({ZelmoBin(), "--console", "--dir", scratch.dir().string()}, "", false);
    ASSERT_TRUE(WaitUntil([&] { return HoldsPort(first.pid(), reg.device()); }));
    if (midJob) {
      first.Write("\n");  // the print button
      ASSERT_TRUE(first.WaitForOutput("ACK\n"));
    }

    const Finished second = RunZelmo(scratch);
    EXPECT_EQ(second.status, 7) << second.err;
    EXPECT_TRUE(Has(second.err, "COM1")) << second.err;
    EXPECT_TRUE(Has(second.err, reg.device())) << second.err;
    EXPECT_TRUE(Has(second.err, "in use by another program")) << second.err;
    EXPECT_EQ(second.out, "") << "the second bridge saw no reply";
    EXPECT_TRUE(HoldsPort(first.pid(), reg.device())) << "the first keeps its port";
    EXPECT_TRUE(scratch.Exists("smetka.txt"));

    if (!midJob) first.Write("\n");
    const Finished run = first.Wait();
    reg.Wait();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(reg.Received(), whole) << "the first job, once, byte for byte";
    EXPECT_FALSE(scratch.Exists("smetka.txt"));
  }
}

}  // namespace
}  // namespace e2e
