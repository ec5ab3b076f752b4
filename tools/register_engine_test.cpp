#include "register_engine.h"

#include <gtest/gtest.h>

#include <vector>

#include "device/frames.h"

namespace zelmo::sim {
namespace {

const std::string kEnq(1, kENQ);
const std::string kEot(1, kEOT);
const std::string kAck(1, kACK);
const std::string kNak(1, kNAK);

// The commands of a job, as the bridge sends them.
std::vector<std::string> Job(const std::vector<std::string>& itemFrames, double total) {
  std::vector<std::string> commands = {kEnq, BuildOpeningFrame()};
  commands.insert(commands.end(), itemFrames.begin(), itemFrames.end());
  for (const std::string& c : {kEot, kEnq, BuildOpeningFrame(), BuildTotalFrame(total), kEot}) {
    commands.push_back(c);
  }
  return commands;
}

std::vector<std::string> OneItemJob() {
  return Job({BuildItemFrame(1, "Sugar 1kg", "A", 12.5, 2)}, 25);
}

// Feeds each command byte by byte; the answer to each command, and whether it hung up.
struct Exchange {
  std::vector<std::string> answers;
  std::vector<bool> hangUps;
};
Exchange Feed(RegisterEngine& engine, const std::vector<std::string>& commands) {
  Exchange run;
  for (const std::string& command : commands) {
    std::string answer;
    bool hangUp = false;
    int completed = 0;
    for (char b : command) {
      const Answer a = engine.Take(b);
      answer += a.bytes;
      hangUp = hangUp || a.hangUp;
      completed += a.log.empty() ? 0 : 1;
    }
    EXPECT_EQ(completed, command == "noise" ? 0 : 1) << "a command is answered exactly once";
    run.answers.push_back(answer);
    run.hangUps.push_back(hangUp);
  }
  return run;
}

TEST(RegisterEngine, AWholeJobIsAcknowledgedAndPrinted) {
  RegisterEngine engine;
  const auto commands = Job({BuildItemFrame(1, "Млеко", "Б", 45.5, 2),
                             BuildItemFrame(1, "Шеќер во коцки од 1кг", "A", 0.125, 1.9996)},
                            91.25);
  const Exchange run = Feed(engine, commands);
  EXPECT_EQ(run.answers, std::vector<std::string>(commands.size(), kAck));
  EXPECT_TRUE(engine.complete());
  EXPECT_EQ(engine.commands(), static_cast<int>(commands.size()));

  const PrintedReceipt& receipt = engine.receipt();
  ASSERT_EQ(receipt.items.size(), 2u);
  EXPECT_EQ(receipt.items[0].name, "Млеко");
  EXPECT_EQ(receipt.items[0].taxGroup, "Б");
  EXPECT_EQ(receipt.items[0].amount, 9100);
  EXPECT_EQ(receipt.items[1].name, "Шеќер во коцки од");  // the register's 18 characters
  EXPECT_EQ(receipt.items[1].quantity, 2000);
  EXPECT_EQ(receipt.items[1].unitPrice, 12);
  EXPECT_EQ(receipt.total, 9125);
}

TEST(RegisterEngine, ABadFrameIsRefusedAndLeftOutOfTheReceipt) {
  RegisterEngine engine;
  std::string bad = BuildItemFrame(1, "Млеко", "B", 45.5, 2);
  bad[5] ^= 1;  // a byte changed on the line
  const Exchange run = Feed(engine, {kEnq, BuildOpeningFrame(), bad, "noise",
                                     BuildItemFrame(1, "Леб", "B", 30, 1), kEot});
  EXPECT_EQ(run.answers, (std::vector<std::string>{kAck, kAck, kNak, "", kAck, kAck}));
  ASSERT_EQ(engine.receipt().items.size(), 1u);
  EXPECT_EQ(engine.receipt().items[0].name, "Леб");
  EXPECT_EQ(engine.commands(), 5);  // noise between commands is not a command
  EXPECT_FALSE(engine.complete());  // no total yet
}

TEST(RegisterEngine, AFrameThatNeverEndsIsRefusedOnceAndTheLineRecovers) {
  RegisterEngine engine;
  std::string answers;
  for (char b : "\x02" + std::string(kMaxFrameBody + 10, 'A')) answers += engine.Take(b).bytes;
  EXPECT_EQ(answers, kNak);
  EXPECT_EQ(engine.Take(kENQ).bytes, kAck);
}

TEST(RegisterEngine, FaultsReplaceTheAnswersOfTheirCommands) {
  const std::string A = kAck, N = kNak, E = kEot;
  struct Case {
    const char* what;
    Faults faults;
    std::vector<std::string> answers;  // to ENQ, opening, item, EOT, ENQ, opening, total, EOT
    bool complete;
  };
  Faults nak, eot, silent, garbage;
  nak.nak = {3, 5};
  eot.eotForAck = true;
  silent.silentAfter = 2;
  garbage.garbage[1] = '\x30';
  garbage.garbage[8] = '\x15';
  const Case cases[] = {
      {"none", {}, {A, A, A, A, A, A, A, A}, true},
      {"NAK the 3rd and 5th", nak, {A, A, N, A, N, A, A, A}, true},
      {"EOT for ACK", eot, {E, E, E, E, E, E, E, E}, true},
      {"silent after 2", silent, {A, A, "", "", "", "", "", ""}, false},
      {"garbage for the 1st and 8th", garbage, {"0", A, A, A, A, A, A, N}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegisterEngine engine(c.faults);
    EXPECT_EQ(Feed(engine, OneItemJob()).answers, c.answers);
    EXPECT_EQ(engine.complete(), c.complete);
  }
}

TEST(RegisterEngine, NakedItemIsNotPrinted) {
  Faults faults;
  faults.nak = {3};
  RegisterEngine engine(faults);
  Feed(engine, OneItemJob());
  EXPECT_TRUE(engine.receipt().items.empty());
  EXPECT_EQ(engine.receipt().total, 2500);
}

TEST(RegisterEngine, ABurstOfNoiseComesBeforeTheAnswerAndNeverReleasesTheBridge) {
  Faults faults;
  faults.burst[2] = 300;
  RegisterEngine engine(faults);
  const Exchange run = Feed(engine, OneItemJob());
  ASSERT_EQ(run.answers[1].size(), 301u);
  EXPECT_EQ(run.answers[1].back(), kACK);
  EXPECT_EQ(run.answers[1].substr(0, 300).find_first_of(kAck + kEot), std::string::npos);
  EXPECT_EQ(run.answers[2], kAck);
}

TEST(RegisterEngine, HangsUpAfterTheChosenCommandIsAnswered) {
  Faults faults;
  faults.hangUpAfter = 2;
  RegisterEngine engine(faults);
  const Exchange run = Feed(engine, {kEnq, BuildOpeningFrame()});
  EXPECT_EQ(run.answers, (std::vector<std::string>{kAck, kAck}));
  EXPECT_EQ(run.hangUps, (std::vector<bool>{false, true}));
}

}  // namespace
}  // namespace zelmo::sim
