#include "MessageBox.h"

#include <gtest/gtest.h>

#include <vector>

using namespace iplug;

namespace {

TEST(MessageBox, ClosedEditorDropsMessagesAndSaysNo)
{
  std::vector<MessageBoxCall> seen;
  ScopedMessageBoxHook hook(
      [&](const MessageBoxCall& call) {
        seen.push_back(call);
        return EMsgBoxResult::kYes;
      },
      false);
  MessageBoxes boxes;
  std::vector<EMsgBoxResult> answers;
  const auto record = [&](EMsgBoxResult r) { answers.push_back(r); };
  boxes.Show(false, 0, {"text", "Title", EMsgBoxType::kYesNo}, record);
  boxes.Show(false, 0, {"text", "Title", EMsgBoxType::kOK}, record);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(answers, std::vector<EMsgBoxResult>{EMsgBoxResult::kNo});

  // An open editor reaches the stand-in dialog, whose answer waits for the next poll.
  answers.clear();
  boxes.Show(true, 0, {"Replace?", "Save preset", EMsgBoxType::kYesNo}, record);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "Replace?");
  EXPECT_EQ(seen[0].title, "Save preset");
  EXPECT_EQ(seen[0].type, EMsgBoxType::kYesNo);
  EXPECT_TRUE(answers.empty());
  EXPECT_TRUE(boxes.QuestionOpen());
  boxes.Poll();
  EXPECT_EQ(answers, std::vector<EMsgBoxResult>{EMsgBoxResult::kYes});
  EXPECT_FALSE(boxes.QuestionOpen());
}

TEST(MessageBox, OnlyYesCountsAsConsent)
{
  EMsgBoxResult answer = EMsgBoxResult::kOK;
  ScopedMessageBoxHook hook([&](const MessageBoxCall&) { return answer; }, true);
  MessageBoxes boxes;
  for (EMsgBoxResult given : {EMsgBoxResult::kOK, EMsgBoxResult::kNoButton, EMsgBoxResult::kNo, EMsgBoxResult::kYes})
  {
    answer = given;
    EMsgBoxResult got = EMsgBoxResult::kNoButton;
    boxes.Show(false, 0, {"q", "t", EMsgBoxType::kYesNo}, [&](EMsgBoxResult r) { got = r; });
    boxes.Poll();
    EXPECT_EQ(got, given == EMsgBoxResult::kYes ? EMsgBoxResult::kYes : EMsgBoxResult::kNo);
  }
}

TEST(MessageBox, OneQuestionAtATimeAndAnOpenOneIsDroppedWithTheEditor)
{
  ScopedMessageBoxHook hook([](const MessageBoxCall&) { return std::nullopt; }, true);
  MessageBoxes boxes;
  std::vector<int> answered;
  boxes.Show(false, 0, {"first?", "t", EMsgBoxType::kYesNo}, [&](EMsgBoxResult r) {
    answered.push_back(r == EMsgBoxResult::kYes ? 1 : 0);
  });
  // A second question while the first is up is declined at once; a message still shows.
  boxes.Show(false, 0, {"second?", "t", EMsgBoxType::kYesNo}, [&](EMsgBoxResult r) {
    answered.push_back(r == EMsgBoxResult::kYes ? 21 : 20);
  });
  boxes.Show(false, 0, {"note", "t", EMsgBoxType::kOK}, nullptr);
  EXPECT_EQ(answered, std::vector<int>{20});
  boxes.Poll();
  EXPECT_EQ(answered, std::vector<int>{20});
  hook.Answer(EMsgBoxResult::kYes);
  boxes.Poll();
  EXPECT_EQ(answered, (std::vector<int>{20, 1}));

  // Dropped: the answer never arrives, even when given afterwards.
  boxes.Show(false, 0, {"third?", "t", EMsgBoxType::kYesNo}, [&](EMsgBoxResult) { answered.push_back(3); });
  boxes.DropAll();
  EXPECT_FALSE(boxes.QuestionOpen());
  hook.Answer(EMsgBoxResult::kYes);
  boxes.Poll();
  EXPECT_EQ(answered, (std::vector<int>{20, 1}));
}

} // namespace
