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
  EXPECT_EQ(ShowMessageBox(false, "text", "Title", EMsgBoxType::kYesNo), EMsgBoxResult::kNo);
  EXPECT_EQ(ShowMessageBox(false, "text", "Title", EMsgBoxType::kOK), EMsgBoxResult::kNoButton);
  EXPECT_TRUE(seen.empty());

  // An open editor reaches the stand-in dialog.
  EXPECT_EQ(ShowMessageBox(true, "Replace?", "Save preset", EMsgBoxType::kYesNo), EMsgBoxResult::kYes);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "Replace?");
  EXPECT_EQ(seen[0].title, "Save preset");
  EXPECT_EQ(seen[0].type, EMsgBoxType::kYesNo);
}

TEST(MessageBox, OnlyYesCountsAsConsent)
{
  EMsgBoxResult answer = EMsgBoxResult::kOK;
  ScopedMessageBoxHook hook([&](const MessageBoxCall&) { return answer; }, true);
  EXPECT_EQ(ShowMessageBox(false, "q", "t", EMsgBoxType::kYesNo), EMsgBoxResult::kNo);
  answer = EMsgBoxResult::kNoButton;
  EXPECT_EQ(ShowMessageBox(false, "q", "t", EMsgBoxType::kYesNo), EMsgBoxResult::kNo);
  answer = EMsgBoxResult::kYes;
  EXPECT_EQ(ShowMessageBox(false, "q", "t", EMsgBoxType::kYesNo), EMsgBoxResult::kYes);
  EXPECT_EQ(ShowMessageBox(false, "m", "t", EMsgBoxType::kOK), EMsgBoxResult::kOK);
}

} // namespace
