// A whole run through the window's handlers, with the port, the operator and the end of the
// program replaced, and real files in a scratch folder.
#include "ui/frm_main.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/startup.h"
#include "device/frames.h"
#include "sys/paths.h"
#include "text/cp1251.h"
#include "ui/fakes_test.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using testing::FakePort;
using testing::FakeWindow;
using ::testing::HasSubstr;
using testing::RecordingEnd;

constexpr char kACK[] = "\x06";
constexpr char kEOT[] = "\x04";
constexpr char kNAK[] = "\x15";

class Run : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("zelmo-frm-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(folder_ / name, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(folder_ / name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void Settings(const std::string& lines) { Write(kIniFileName, "[Parametri]\r\n" + lines); }
  // Receipts are written in code page 1251, as point-of-sale programs write them.
  void Receipt(const std::string& utf8) { Write(kReceiptFileName, Utf8ToAnsi(utf8)); }

  FrmMain& Frm() {
    if (!frm_) {
      frm_ = std::make_unique<FrmMain>(window_, end_, folder_, [this](CommListener&) {
        auto p = std::make_unique<FakePort>();
        port_ = p.get();
        if (openError_) p->openError = openError_;
        return p;
      });
    }
    return *frm_;
  }

  // Runs one handler; the status the program ended with, if it ended.
  std::optional<ExitStatus> Do(const std::function<void(FrmMain&)>& handler) {
    return testing::StatusOf([&] { handler(Frm()); });
  }
  std::optional<ExitStatus> Load() {
    return Do([](FrmMain& f) { f.Form_Load(); });
  }
  std::optional<ExitStatus> Reply(const std::string& bytes) {
    port_->input = bytes;
    return Do([](FrmMain& f) { f.Comm_OnComm(comEvReceive); });
  }
  // Answers ACK until the run ends; the status it ended with.
  std::optional<ExitStatus> AckAll(int limit = 100000) {
    for (int i = 0; i < limit; ++i) {
      if (auto status = Reply(kACK)) return status;
    }
    return std::nullopt;
  }

  fs::path folder_;
  FakeWindow window_;
  RecordingEnd end_;
  FakePort* port_ = nullptr;
  std::optional<SerialError> openError_;
  std::unique_ptr<FrmMain> frm_;
};

// --- start-up ---------------------------------------------------------------------------------

TEST_F(Run, FirstRunWritesTheDefaultFileAndWaitsShown) {
  EXPECT_EQ(Load(), std::nullopt);
  EXPECT_EQ(Read(kIniFileName), "[Parametri]\r\nSeriska=1\r\nPrikaziForma=1\r\nDelimiter=;\r\n");
  EXPECT_TRUE(window_.shown);
  EXPECT_TRUE(port_->written.empty());
  EXPECT_EQ(port_->port, 1);
  EXPECT_EQ(port_->device, DefaultDevicePath(1));
  EXPECT_THAT(port_->calls,
              ElementsAre("CommPort", "Settings", "RTSEnable", "DTREnable", "Handshaking", "Open"));
  EXPECT_EQ(port_->settings, "9600,N,8,1");
  EXPECT_TRUE(port_->rts && port_->dtr && port_->open);
  EXPECT_EQ(port_->handshaking, 2);
  EXPECT_EQ(Frm().state().sDelimiter, ";");
  EXPECT_EQ(Frm().state().sClear, "");
  EXPECT_TRUE(window_.boxes.empty());
}

TEST_F(Run, AValidPortNumberIsUsedAndTheFileLeftAlone) {
  Settings("Seriska=3\r\nPrikaziForma=1\r\nDelimiter=;\r\n");
  const std::string before = Read(kIniFileName);
  Load();
  EXPECT_EQ(port_->port, 3);
  EXPECT_EQ(port_->device, DefaultDevicePath(3));
  EXPECT_EQ(Read(kIniFileName), before);
}

TEST_F(Run, AnInvalidPortNumberIsPutRightToOneInTheFile) {
  for (const std::string line : {"Seriska=COM3\r\n", "Seriska=03\r\n", "Seriska=5\r\n",
                                 "Seriska=\r\n", "", "Seriska=4 \r\nSeriska=2\r\n"}) {
    SCOPED_TRACE(line);
    frm_.reset();
    Settings(line + "PrikaziForma=1\r\n");
    Load();
    const bool kept = line.rfind("Seriska=4", 0) == 0;  // blanks around a value are not part of it
    EXPECT_EQ(port_->port, kept ? 4 : 1);
    EXPECT_EQ(Frm().state().sSeriska, kept ? "4" : "1");
    if (!kept) {
      EXPECT_THAT(Read(kIniFileName), HasSubstr("Seriska=1\r\n"));
    }
  }
}

TEST_F(Run, AFileWithoutTheSectionGetsItAndRunsHidden) {
  Write(kIniFileName, "[Other]\r\nx=1\r\n");
  Receipt("Леб;1;A;30\r\n");
  EXPECT_EQ(Load(), ExitStatus::kLoadFailed);  // no delimiter: the receipt cannot be split
  EXPECT_THAT(Read(kIniFileName), HasSubstr("[Other]\r\nx=1\r\n"));
  EXPECT_THAT(Read(kIniFileName), HasSubstr("[Parametri]\r\nSeriska=1\r\n"));
  EXPECT_TRUE(window_.hidden);
  EXPECT_EQ(window_.boxes.back().text, "Nemoze da se napolni.");
  EXPECT_EQ(window_.boxes.back().style, MsgStyle::kPlain);
  EXPECT_TRUE(port_->written.empty());
}

TEST_F(Run, ThePortsSectionMapsAPortNumberToItsDevice) {
  Write(kIniFileName,
        "[Parametri]\r\nSeriska=2\r\nPrikaziForma=1\r\n[Ports]\r\nCOM2=/dev/pts/77\r\n");
  Load();
  EXPECT_EQ(port_->port, 2);
  EXPECT_EQ(port_->device, "/dev/pts/77");
}

TEST_F(Run, HiddenModeWithoutAReceiptShowsTheHelpAndEnds) {
  Settings("Seriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\n");
  EXPECT_EQ(Load(), ExitStatus::kNoReceipt);
  ASSERT_EQ(window_.boxes.size(), 1u);
  EXPECT_EQ(window_.boxes[0].title, "Непостоечки фајл...");
  EXPECT_EQ(window_.boxes[0].style, MsgStyle::kInformation);
  const std::string& help = window_.boxes[0].text;
  EXPECT_EQ(help.rfind("Немате сметка за печатење.\r\n\r\nВо патеката '" + PathToUtf8(folder_) +
                           "\\' ставете ја сметката за печатење со назив 'Smetka.txt'",
                       0),
            0u);
  EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 9);
  EXPECT_THAT(help, ::testing::EndsWith("без празен простор."));
  EXPECT_TRUE(port_->written.empty());
}

TEST_F(Run, AStornoReceiptAloneIsRefusedWithThePortClosed) {
  Settings("PrikaziForma=0\r\n");
  Write(kStornoFileName, "x");
  EXPECT_EQ(Load(), ExitStatus::kStornoRefused);
  ASSERT_EQ(window_.boxes.size(), 1u);
  EXPECT_EQ(window_.boxes[0].text, "Сторното не е возможно.");
  EXPECT_EQ(window_.boxes[0].title, "Сторно сметка...");
  EXPECT_EQ(window_.boxes[0].style, MsgStyle::kInformation);
  EXPECT_FALSE(port_->open);
  EXPECT_TRUE(window_.unloaded);
  EXPECT_TRUE(fs::exists(folder_ / kStornoFileName));
  EXPECT_TRUE(port_->written.empty());
}

TEST_F(Run, ASaleReceiptBesideAStornoIsPrinted) {
  Settings("PrikaziForma=0\r\nDelimiter=;\r\n");
  Write(kStornoFileName, "x");
  Receipt("Леб;1;A;30\r\n");
  EXPECT_EQ(Load(), std::nullopt);
  EXPECT_EQ(Frm().state().iReceiptKind, 1);
  EXPECT_THAT(port_->written, ElementsAre("\x05"));
}

TEST_F(Run, APortThatWillNotOpenIsNamedWithItsReason) {
  openError_ = SerialError("/dev/ttyS0", "Permission denied", 13, "Додајте го корисникот");
  EXPECT_EQ(Load(), ExitStatus::kPortFailed);
  ASSERT_EQ(window_.boxes.size(), 1u);
  EXPECT_THAT(window_.boxes[0].text, HasSubstr("COM1"));
  EXPECT_THAT(window_.boxes[0].text, HasSubstr("/dev/ttyS0"));
  EXPECT_THAT(window_.boxes[0].text, HasSubstr("Permission denied"));
  EXPECT_THAT(window_.boxes[0].text, HasSubstr("Додајте го корисникот"));
  EXPECT_EQ(window_.boxes[0].style, MsgStyle::kError);
  EXPECT_FALSE(port_->open);
}

TEST_F(Run, AConfigurationThatCannotBeMadeOrReadEndsTheRun) {
  fs::create_directory(folder_ / kIniFileName);  // a folder where the file should be
  EXPECT_EQ(Load(), ExitStatus::kConfigError);
  EXPECT_THAT(window_.boxes.back().text, HasSubstr("Грешка во ini Фајлот."));
  EXPECT_FALSE(port_->open);

  frm_.reset();
  window_.boxes.clear();
  folder_ /= "missing";  // the default file cannot be written into a folder that is not there
  EXPECT_EQ(Load(), ExitStatus::kConfigError);
  // The file, then the system's reason for the call that failed (in the system's words).
  const std::string& text = window_.boxes.back().text;
  const std::size_t named = text.find("Zelmocfg.ini: ");
  ASSERT_NE(named, std::string::npos) << text;
  EXPECT_GT(text.size(), named + 14) << text;
  EXPECT_FALSE(fs::exists(folder_));
}

// --- the job ------------------------------------------------------------------------------------

class Job : public Run {
 protected:
  void Hidden(const std::string& receipt, const std::string& extra = "") {
    Settings("Seriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\n" + extra);
    Receipt(receipt);
  }
};

TEST_F(Job, EveryAckSendsTheNextCommandUntilTheTableIsUsedUp) {
  Hidden("Шеќер;2;A;12.5\r\nМлеко;1;Б;45.5\r\nХлеб;3;b;20\r\n");
  EXPECT_EQ(Load(), std::nullopt);
  EXPECT_EQ(Frm().state().iStepCount, 10);
  EXPECT_EQ(AckAll(), ExitStatus::kSent);
  const auto& w = port_->written;
  ASSERT_EQ(w.size(), 10u);
  EXPECT_EQ(w[0], "\x05");
  EXPECT_EQ(w[1], BuildOpeningFrame());
  EXPECT_EQ(w[2], BuildItemFrame(1, "Шеќер", "A", 12.5, 2));
  EXPECT_EQ(w[4], BuildItemFrame(1, "Хлеб", "b", 20, 3));
  EXPECT_EQ(w[5], "\x04");
  EXPECT_EQ(w[6], "\x05");
  EXPECT_EQ(w[7], BuildOpeningFrame());
  EXPECT_EQ(w[8], BuildTotalFrame(25 + 45.5 + 60));
  EXPECT_EQ(w[9], "\x04");
  EXPECT_THAT(window_.labels, ElementsAre("Ја печатам 1-та сметка", "Ја печатам 2-та сметка",
                                          "Ја печатам 3-та сметка"));
  // The reply that ends the run is not logged.
  EXPECT_EQ(window_.events, std::vector<std::string>(9, "ACK"));
  EXPECT_TRUE(fs::exists(folder_ / kReceiptFileName));  // Clear is not set
}

TEST_F(Job, RepliesOtherThanAckOrEotHoldTheJob) {
  Hidden("Леб;1;A;30\r\n");
  Load();
  EXPECT_EQ(Reply(kNAK), std::nullopt);
  EXPECT_EQ(Reply("\x09"), std::nullopt);
  EXPECT_EQ(Reply("0"), std::nullopt);
  EXPECT_EQ(Reply(""), std::nullopt);  // an empty read: no line
  EXPECT_EQ(port_->written.size(), 1u);
  EXPECT_THAT(window_.events, ElementsAre("NAK", "WACK", "KOD= 30-0"));
  EXPECT_EQ(Reply(kEOT), std::nullopt);
  EXPECT_EQ(Reply(std::string(kACK) + kEOT), std::nullopt);  // two replies in one read: one step
  EXPECT_EQ(port_->written.size(), 3u);
  EXPECT_EQ(Frm().state().iSendPos, 2);
  EXPECT_THAT(window_.events, ElementsAre("NAK", "WACK", "KOD= 30-0", "EOT", "ACK"));
}

TEST_F(Job, LineEventsAreLoggedWithoutMovingTheJob) {
  Hidden("Леб;1;A;30\r\n");
  Load();
  Reply(kACK);
  for (int16_t e : {1004, 3, 7, 1011, 1006}) Do([e](FrmMain& f) { f.Comm_OnComm(e); });
  EXPECT_THAT(window_.events, ElementsAre("ACK", "1004 (Framing Error)",
                                          "3 (Change in the CTS line.)1", "1006 (Data Lost.)"));
  EXPECT_EQ(port_->written.size(), 2u);
}

TEST_F(Job, ClearDeletesTheReceiptOnlyAfterTheLastReply) {
  Hidden("Леб;1;A;30\r\n", "Clear=1\r\n");
  Load();
  for (int i = 0; i < 7; ++i) Reply(kACK);
  EXPECT_TRUE(fs::exists(folder_ / kReceiptFileName));
  EXPECT_EQ(Reply(kACK), ExitStatus::kSent);
  EXPECT_FALSE(fs::exists(folder_ / kReceiptFileName));
}

TEST_F(Job, OnlyClearOneDeletes) {
  Hidden("Леб;1;A;30\r\n", "Clear=yes\r\n");
  Load();
  EXPECT_EQ(AckAll(), ExitStatus::kSent);
  EXPECT_TRUE(fs::exists(folder_ / kReceiptFileName));
}

TEST_F(Job, AReceiptThatCannotBeDeletedEndsWithItsOwnStatusAndTheOperatorTold) {
  Hidden("Леб;1;A;30\r\n", "Clear=1\r\n");
  Load();
  fs::remove(folder_ / kReceiptFileName);
  EXPECT_EQ(AckAll(), ExitStatus::kNotDeleted);
  EXPECT_THAT(window_.events.back(), HasSubstr("smetka.txt"));
  ASSERT_FALSE(window_.boxes.empty());
  EXPECT_THAT(window_.boxes.back().text,
              HasSubstr("Сметката е испечатена: не печатете ја повторно."));
  EXPECT_THAT(window_.boxes.back().text, HasSubstr(PathToUtf8(folder_ / kReceiptFileName)));
  EXPECT_EQ(port_->written.size(), 8u);
}

// A close request while a question waits takes the question away: the run ends as closed with
// nothing sent, whatever the question was, and the receipt stays.
TEST_F(Job, ACloseRequestWhileAQuestionWaitsEndsTheRunAsClosed) {
  Hidden("Леб;0;A;30\r\n", "Clear=1\r\n");
  window_.whileShown = [](const testing::Box& box) {
    if (box.style == MsgStyle::kQuestion) throw DismissedByClose();
  };
  EXPECT_EQ(Load(), ExitStatus::kClosedBeforeSend);
  EXPECT_TRUE(port_->written.empty());
  EXPECT_FALSE(port_->open);
  EXPECT_TRUE(fs::exists(folder_ / kReceiptFileName));
}

// A question that cannot be put to the operator at all (no thread to read the answer, no memory)
// is neither a Yes nor a No, and not the receipt's fault either: the program's failure, 1.
TEST_F(Job, AQuestionThatCannotBeAskedEndsAsTheProgramsFailure) {
  Hidden("Леб;0;A;30\r\n");
  window_.whileShown = [](const testing::Box& box) {
    if (box.style == MsgStyle::kQuestion) throw BoxUnavailable{"Resource temporarily unavailable"};
  };
  EXPECT_EQ(Load(), ExitStatus::kOther);
  EXPECT_THAT(window_.boxes.back().text, HasSubstr("Resource temporarily unavailable"));
  EXPECT_TRUE(port_->written.empty());
}

// A close request marked while start-up still ran (a signal during it) is taken before the
// first byte: closed before sending, not cut off.
TEST_F(Job, ACloseRequestMadeDuringStartUpEndsBeforeTheFirstByte) {
  Hidden("Леб;1;A;30\r\n");
  window_.closeRequested = true;
  EXPECT_EQ(Load(), ExitStatus::kClosedBeforeSend);
  EXPECT_TRUE(port_->written.empty());

  // With the enquiry alone out it is taken before the opening frame: still nothing sent.
  frm_.reset();
  window_.closeRequested = false;
  Load();
  window_.closeRequested = true;
  EXPECT_EQ(Reply(kACK), ExitStatus::kClosedBeforeSend);
  EXPECT_EQ(port_->written.size(), 1u);

  // Once a frame has gone out the same request cuts the job off, before the next command.
  frm_.reset();
  window_.closeRequested = false;
  Load();
  Reply(kACK);
  window_.closeRequested = true;
  EXPECT_EQ(Reply(kACK), ExitStatus::kCutOff);
  EXPECT_EQ(port_->written.size(), 2u);
  EXPECT_THAT(window_.boxes.back().text, HasSubstr("Проверете"));
}

// The enquiry alone prints nothing: whatever ends the run while it is the only thing out (a close
// request, the line failing, the program's own failure) ends it as nothing sent, and leaves no
// journal. Once the register has answered it, the opening frame goes out, its journal written
// first, and the same endings are cut-offs that keep the journal.
TEST_F(Job, EndingsWithOnlyTheEnquiryOutAreNothingSentAndKeepNoJournal) {
  struct Case {
    const char* what;
    std::function<void(FrmMain&)> ending;
    ExitStatus beforeFrame;
  } cases[] = {
      {"a close request", [](FrmMain& f) { f.Form_QueryUnload(); }, ExitStatus::kClosedBeforeSend},
      {"the line fails", [](FrmMain& f) { f.Comm_OnLineFailure("hang-up"); },
       ExitStatus::kPortFailed},
      {"the program's own failure", [](FrmMain& f) { f.ResourceFailure("Cannot allocate memory"); },
       ExitStatus::kOther},
  };
  for (const Case& c : cases) {
    for (const bool answered : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (answered ? ", the enquiry answered" : ""));
      frm_.reset();
      fs::remove(folder_ / "smetka.jrn");
      window_.boxes.clear();
      Hidden("Леб;1;A;30\r\n", "Journal=1\r\n");
      EXPECT_EQ(Load(), std::nullopt);
      EXPECT_EQ(Frm().phase(), RunPhase::kEnquiring);
      EXPECT_FALSE(fs::exists(folder_ / "smetka.jrn"));
      if (answered) {
        EXPECT_EQ(Reply(kACK), std::nullopt);
        EXPECT_TRUE(fs::exists(folder_ / "smetka.jrn"));
        EXPECT_EQ(port_->written.size(), 2u);
      }
      EXPECT_EQ(Do(c.ending), answered ? ExitStatus::kCutOff : c.beforeFrame);
      const std::string told = window_.boxes.empty() ? "" : window_.boxes.back().text;
      EXPECT_EQ(told.find("Проверете") != std::string::npos, answered) << told;
      EXPECT_EQ(fs::exists(folder_ / "smetka.jrn"), answered);
      EXPECT_TRUE(fs::exists(folder_ / kReceiptFileName));
    }
  }
}

TEST_F(Job, AReceiptThatFailsToLoadSendsNothingAndStays) {
  const std::string receipt = "Леб;1;A;30\r\nБез данок;1;X;5\r\n";
  Hidden(receipt, "Clear=1\r\n");
  EXPECT_EQ(Load(), ExitStatus::kLoadFailed);
  EXPECT_EQ(window_.boxes.back().text, "Nemoze da se napolni.");
  EXPECT_TRUE(port_->written.empty());
  EXPECT_EQ(Read(kReceiptFileName), Utf8ToAnsi(receipt));
}

TEST_F(Job, AValueWithoutAPlaceInItsFieldRefusesTheReceiptNamingTheLine) {
  struct Case {
    std::string receipt, message;
  } cases[] = {
      {"a;1;A;1\r\nb;1000;A;1000000\r\n", "неисправна вредност во редот 2."},
      {"a;-1;A;1\r\n", "неисправна вредност во редот 1."},
      {"a;1;A;-0.5\r\n", "неисправна вредност во редот 1."},
      {"a;1;A;99999999\r\nb;1;A;99999999\r\n", "вкупниот износ е преголем."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.receipt);
    frm_.reset();
    window_.boxes.clear();
    Hidden(c.receipt);
    EXPECT_EQ(Load(), ExitStatus::kLoadFailed);
    EXPECT_EQ(window_.boxes.back().text, "Сметката не може да се испечати: " + c.message);
    EXPECT_EQ(window_.boxes.back().style, MsgStyle::kError);
    EXPECT_TRUE(port_->written.empty());
    EXPECT_EQ(Read(kReceiptFileName), Utf8ToAnsi(c.receipt));
  }
}

TEST_F(Job, ARefusedDefaultEndsBeforeAnythingIsSent) {
  Hidden("Леб;0;A;30\r\n");
  window_.answers = {MsgAnswer::kNo};
  EXPECT_EQ(Load(), ExitStatus::kOperatorRefused);
  EXPECT_TRUE(port_->written.empty());
  EXPECT_FALSE(port_->open);
}

TEST_F(Job, ALongReceiptGrowsTheTable) {
  std::string receipt;
  for (int i = 1; i <= 60; ++i) receipt += "Ставка " + std::to_string(i) + ";1;A;1\r\n";
  Hidden(receipt);
  Load();
  EXPECT_EQ(AckAll(), ExitStatus::kSent);
  EXPECT_EQ(port_->written.size(), 67u);
  EXPECT_EQ(window_.labels.back(), "Ја печатам 60-та сметка");
  EXPECT_EQ(port_->written[62], "\x04");
}

TEST_F(Job, AnEmptyReceiptSendsSevenCommands) {
  Hidden("");
  Load();
  EXPECT_EQ(AckAll(), ExitStatus::kSent);
  EXPECT_EQ(port_->written.size(), 7u);
  EXPECT_EQ(port_->written[5], BuildTotalFrame(0));
  EXPECT_TRUE(window_.labels.empty());
}

// --- shown mode, close requests and a failing line
// ------------------------------------------------

TEST_F(Job, ShownModeWaitsForTheButtonAndIgnoresStrayAcks) {
  Settings("Seriska=1\r\nPrikaziForma=1\r\nDelimiter=;\r\n");
  Receipt("Леб;1;A;30\r\n");
  Load();
  EXPECT_EQ(Reply(kACK), std::nullopt);
  EXPECT_TRUE(port_->written.empty());
  EXPECT_THAT(window_.events, ElementsAre("ACK"));
  Do([](FrmMain& f) { f.btnPrint_Click(); });
  EXPECT_FALSE(window_.printEnabled);
  Reply(kACK);
  Do([](FrmMain& f) { f.btnPrint_Click(); });  // a second press must not restart the receipt
  EXPECT_EQ(port_->written.size(), 2u);
  EXPECT_EQ(Frm().state().iSendPos, 1);
}

TEST_F(Job, ACloseRequestReportsWhetherSendingHadBegun) {
  Settings("PrikaziForma=1\r\nDelimiter=;\r\n");
  Receipt("Леб;1;A;30\r\n");
  Load();
  EXPECT_EQ(Do([](FrmMain& f) { f.Form_QueryUnload(); }), ExitStatus::kClosedBeforeSend);
  EXPECT_FALSE(port_->open);

  frm_.reset();
  Load();
  Do([](FrmMain& f) { f.btnPrint_Click(); });
  Reply(kACK);
  EXPECT_EQ(Do([](FrmMain& f) { f.Form_QueryUnload(); }), ExitStatus::kCutOff);
  EXPECT_FALSE(port_->open);
  EXPECT_TRUE(window_.unloaded);
  EXPECT_TRUE(fs::exists(folder_ / kReceiptFileName));
}

TEST_F(Job, ALineThatFailsMidJobTellsTheOperatorToCheckTheRegister) {
  Hidden("Леб;1;A;30\r\n", "Clear=1\r\n");
  Load();
  Reply(kACK);
  EXPECT_EQ(Do([](FrmMain& f) { f.Comm_OnLineFailure("hang-up"); }), ExitStatus::kCutOff);
  EXPECT_EQ(window_.boxes.back().text,
            "Врската со фискалната каса е прекината.\r\nhang-up\r\n"
            "Проверете дали сметката е испечатена пред повторно печатење.");
  EXPECT_FALSE(port_->open);
  EXPECT_TRUE(fs::exists(folder_ / kReceiptFileName));
}

TEST_F(Job, AWriteThatFailsReportsWhetherAnythingWentOut) {
  Hidden("Леб;1;A;30\r\n");
  openError_.reset();
  Frm();
  port_->failWriteAt = 0;
  EXPECT_EQ(Load(), ExitStatus::kPortFailed);
  EXPECT_THAT(window_.boxes.back().text, ::testing::Not(HasSubstr("Проверете")));

  frm_.reset();
  Frm();
  port_->failWriteAt = 3;
  Load();
  EXPECT_EQ(AckAll(), ExitStatus::kCutOff);
  EXPECT_THAT(window_.boxes.back().text, HasSubstr("Проверете"));
  EXPECT_EQ(port_->written.size(), 3u);
}

}  // namespace
}  // namespace zelmo
