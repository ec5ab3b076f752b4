#include "device/sequence.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "device/frames.h"

namespace zelmo {
namespace {

const std::string kEnq(1, '\x05');
const std::string kEot(1, '\x04');

JobSteps JobOf(std::vector<StepItem> items, double total) {
  JobSteps state;
  state.iReceiptKind = 1;
  state.iStepCount = static_cast<int16_t>(items.size() + 7);
  state.aItems = std::move(items);
  state.dTotal = total;
  return state;
}

std::string ItemFrame(const StepItem& item) {
  return BuildItemFrame(1, item.sName, item.sTaxCode, item.dUnitPrice, item.dQuantity);
}

std::vector<std::string> Steps(const JobSteps& state, int from, int to) {
  std::vector<std::string> out;
  for (int s = from; s <= to; ++s) out.push_back(GetStepCommand(state, static_cast<int16_t>(s)));
  return out;
}

TEST(SequenceTest, EmptyReceiptReadsNoItem) {
  // aItems left over from an earlier job must not be read.
  JobSteps state = JobOf({}, 0);
  state.aItems = {{"stale", 1, "A", 1e12}};
  const std::vector<std::string> expected = {
      kEnq, BuildOpeningFrame(), kEot, kEnq, BuildOpeningFrame(), BuildTotalFrame(0), kEot, ""};
  EXPECT_EQ(Steps(state, 0, 7), expected);
}

TEST(SequenceTest, OneItem) {
  const StepItem sugar{"Sugar 1kg", 2, "A", 12.5};
  const JobSteps state = JobOf({sugar}, 25);
  const std::vector<std::string> expected = {kEnq, BuildOpeningFrame(), ItemFrame(sugar),    kEot,
                                             kEnq, BuildOpeningFrame(), BuildTotalFrame(25), kEot};
  EXPECT_EQ(Steps(state, 0, 7), expected);
  EXPECT_EQ(GetStepCommand(state, 8), "");
}

TEST(SequenceTest, ThreeItemsInFileOrder) {
  const std::vector<StepItem> items = {
      {"one", 1, "A", 1}, {"two", 2, "B", 2}, {"three", 3, "a", 3}};
  const JobSteps state = JobOf(items, 14);
  const std::vector<std::string> expected = {kEnq,
                                             BuildOpeningFrame(),
                                             ItemFrame(items[0]),
                                             ItemFrame(items[1]),
                                             ItemFrame(items[2]),
                                             kEot,
                                             kEnq,
                                             BuildOpeningFrame(),
                                             BuildTotalFrame(14),
                                             kEot};
  EXPECT_EQ(Steps(state, 0, 9), expected);
  for (int s : {10, 50, -1, 32767, -32768}) {
    EXPECT_EQ(GetStepCommand(state, static_cast<int16_t>(s)), "") << s;
  }
}

TEST(SequenceTest, EarlierRowWinsWhenRowsCoincide) {
  JobSteps state = JobOf({}, 0);
  state.iStepCount = 6;  // step 1 is also N - 5
  EXPECT_EQ(GetStepCommand(state, 1), BuildOpeningFrame());
  EXPECT_EQ(GetStepCommand(state, 2), kEnq);  // N - 4
  EXPECT_EQ(GetStepCommand(state, 5), kEot);
}

TEST(SequenceTest, ErrorsPassThrough) {
  // A price too wide for its field.
  const JobSteps wide = JobOf({{"x", 1, "A", 1e9}}, 1);
  EXPECT_THROW(GetStepCommand(wide, 2), FieldRangeError);
  EXPECT_NO_THROW(GetStepCommand(wide, 1));

  // A step count that promises more items than were loaded.
  JobSteps missing = JobOf({{"x", 1, "A", 1}}, 1);
  missing.iStepCount = 9;
  EXPECT_THROW(GetStepCommand(missing, 3), std::out_of_range);
}

}  // namespace
}  // namespace zelmo
