#include "StoredFiles.h"
#include "TargetFile.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <locale>
#include <sstream>

using namespace morvellan::offline;
namespace fs = std::filesystem;

namespace {

bool Parse(const std::string& text, SavedTarget& target, std::string& error, const std::string& label = "lbl")
{
  std::istringstream in(text);
  return ParseTarget(in, target, error, label);
}

const std::string kTwelve = "1 2 3 4 5 6 7 8 9 10 11 12";

TEST(TargetFile, WritesExactBytes)
{
  TempFolder tmp;
  StoredBalance b{-10.973, 0.0, 2.69, -0.0001, 1.0005, 123.4564, -5, 1e-9, 7.25, -7.25, 0.1, 9.9999};
  std::string error;
  ASSERT_TRUE(WriteTargetFile(tmp.Path() / "T", " Bright\nlight ", "from\r\nfile", b, error)) << error;
  const std::string expected = "Morvellan target 1\n"
                               "name= Bright light \n"
                               "source=from  file\n"
                               "balance=-10.973 0.000 2.690 -0.000 1.000 123.456 -5.000 0.000 7.250 -7.250 "
                               "0.100 10.000\n";
  EXPECT_EQ(ReadBytes(tmp.Path() / "T" / "Bright-light.mvtarget"), expected);
}

TEST(TargetFile, RefusesNonFiniteValues)
{
  TempFolder tmp;
  StoredBalance b{};
  b[4] = std::numeric_limits<double>::quiet_NaN();
  std::string error;
  EXPECT_FALSE(WriteTargetFile(tmp.Path(), "Bad", "", b, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(tmp.Path() / "Bad.mvtarget"));
}

TEST(ParseTarget, HeaderRules)
{
  SavedTarget t;
  std::string error;
  EXPECT_TRUE(Parse("Morvellan target 1\r\nbalance=" + kTwelve + "\r\n", t, error));
  for (const std::string bad : {"Morvellan target 1 \n", "morvellan target 1\n", "\nMorvellan target 1\n",
                                "\xEF\xBB\xBFMorvellan target 1\n", "", "Morvellan target 2\n"})
  {
    SavedTarget untouched;
    untouched.name = "keep";
    error.clear();
    EXPECT_FALSE(Parse(bad + "balance=" + kTwelve + "\n", untouched, error, "stem"));
    EXPECT_EQ(error, "not an Morvellan target: stem");
    EXPECT_EQ(untouched.name, "keep");
  }
}

TEST(ParseTarget, KeysAndValues)
{
  SavedTarget t;
  std::string error;
  ASSERT_TRUE(Parse("Morvellan target 1\n\nnoequals\nName=Other\n name=Other\nsource=s\nextra=1\n"
                    "balance=" + kTwelve + "\n",
                    t, error, "stem"));
  EXPECT_EQ(t.name, "stem");
  EXPECT_EQ(t.source, "s");
  EXPECT_DOUBLE_EQ(t.balance[11], 12.0);

  ASSERT_TRUE(Parse("Morvellan target 1\nname=\nbalance=" + kTwelve, t, error, "stem"));
  EXPECT_EQ(t.name, "stem");
  EXPECT_EQ(t.source, "");

  ASSERT_TRUE(Parse("Morvellan target 1\nname= a=b \nname=first\nname= a=b \nbalance=" + kTwelve, t, error));
  EXPECT_EQ(t.name, " a=b ");
}

TEST(ParseTarget, BalanceLineRules)
{
  SavedTarget t;
  std::string error;
  EXPECT_FALSE(Parse("Morvellan target 1\nname=x\nbalance=1 2 3 4 5 6 7 8 9 10 11\n", t, error, "stem"));
  EXPECT_EQ(error, "the target has no complete curve: stem");
  EXPECT_FALSE(Parse("Morvellan target 1\nname=x\n", t, error, "stem"));
  EXPECT_FALSE(Parse("Morvellan target 1\nbalance=" + kTwelve + "\nbalance=1 2\n", t, error));
  EXPECT_TRUE(Parse("Morvellan target 1\nbalance=1 2\nbalance=" + kTwelve + "\n", t, error));
  ASSERT_TRUE(Parse("Morvellan target 1\nbalance=" + kTwelve + " 13\n", t, error));
  EXPECT_DOUBLE_EQ(t.balance[0], 1.0);
  EXPECT_DOUBLE_EQ(t.balance[11], 12.0);

  ASSERT_TRUE(Parse("Morvellan target 1\nbalance=+1.5 \t2e1  -3.25e-1\t4 5 6 7 8 9 10 11 12\n", t, error));
  EXPECT_DOUBLE_EQ(t.balance[0], 1.5);
  EXPECT_DOUBLE_EQ(t.balance[1], 20.0);
  EXPECT_DOUBLE_EQ(t.balance[2], -0.325);

  EXPECT_FALSE(Parse("Morvellan target 1\nbalance=1,5 2 3 4 5 6 7 8 9 10 11 12\n", t, error));
  EXPECT_FALSE(Parse("Morvellan target 1\nbalance=nan 2 3 4 5 6 7 8 9 10 11 12\n", t, error));
  EXPECT_FALSE(Parse("Morvellan target 1\nbalance=1e999 2 3 4 5 6 7 8 9 10 11 12\n", t, error));
  EXPECT_FALSE(Parse("Morvellan target 1\nbalance=1 2 3 4 5 x 7 8 9 10 11 12\n", t, error));
}

// A locale with a decimal comma and digit grouping, as a host may install globally.
struct CommaPunct : std::numpunct<char>
{
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(ParseTarget, IgnoresTheProcessLocale)
{
  std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
  SavedTarget t;
  std::string error;
  const bool parsed = Parse("Morvellan target 1\nbalance=1.5 2 3 4 5 6 7 8 9 10 11 1234.5\n", t, error);
  StoredBalance b{};
  b[0] = 1234.5;
  const std::string text = FormatTargetText("n", "s", b);
  std::locale::global(saved);

  ASSERT_TRUE(parsed) << error;
  EXPECT_DOUBLE_EQ(t.balance[0], 1.5);
  EXPECT_DOUBLE_EQ(t.balance[11], 1234.5);
  EXPECT_NE(text.find("balance=1234.500 0.000"), std::string::npos) << text;
}

TEST(ReadTargetFile, ReportsFileProblems)
{
  TempFolder tmp;
  SavedTarget t;
  std::string error;
  EXPECT_FALSE(ReadTargetFile(tmp.Path() / "Gone.mvtarget", t, error));
  EXPECT_EQ(error, "not an Morvellan target: Gone");

  fs::path empty = tmp.Path() / "Empty.mvtarget";
  WriteBytes(empty, "");
  EXPECT_FALSE(ReadTargetFile(empty, t, error));
  EXPECT_EQ(error, "not an Morvellan target: Empty");

  fs::path big = tmp.Path() / "Big.mvtarget";
  WriteBytes(big, "Morvellan target 1\nbalance=" + kTwelve + "\n" + std::string(2 << 20, '\n'));
  EXPECT_FALSE(ReadTargetFile(big, t, error));
  EXPECT_EQ(error, "the file is larger than 1 MiB: Big.mvtarget");

  fs::path crlf = tmp.Path() / "Dos.mvtarget";
  WriteBytes(crlf, "Morvellan target 1\r\nsource=x\r\nbalance=" + kTwelve + "\r\n");
  ASSERT_TRUE(ReadTargetFile(crlf, t, error));
  EXPECT_EQ(t.name, "Dos");
  EXPECT_EQ(t.source, "x");
}

TEST(FactoryTargets, SixInTableOrder)
{
  auto targets = FactoryTargets();
  ASSERT_EQ(targets.size(), 6u);
  const char* names[] = {"Female speech", "Female vocals pop", "Female vocals rock",
                         "Male speech",   "Male vocals pop",   "Male vocals rock"};
  for (size_t i = 0; i < 6; ++i)
  {
    EXPECT_EQ(targets[i].name, names[i]);
    EXPECT_TRUE(targets[i].factory);
    EXPECT_TRUE(targets[i].source.empty());
    EXPECT_TRUE(targets[i].path.empty());
  }
  EXPECT_DOUBLE_EQ(targets[0].balance[0], -10.973);
  EXPECT_DOUBLE_EQ(targets[0].balance[11], -22.032);
  EXPECT_DOUBLE_EQ(targets[1].balance[3], 2.690);
  EXPECT_DOUBLE_EQ(targets[2].balance[5], 5.930);
  EXPECT_DOUBLE_EQ(targets[3].balance[9], -9.760);
  EXPECT_DOUBLE_EQ(targets[4].balance[7], -4.560);
  EXPECT_DOUBLE_EQ(targets[5].balance[11], -28.264);

  // Written back out, a factory target gives its table row with three decimals.
  std::string text = FormatTargetText(targets[3].name, "", targets[3].balance);
  EXPECT_NE(text.find("balance=-1.322 1.174 2.931 6.236 5.584 2.962 -0.038 -7.165 -10.511 -9.760 -10.371 -23.382\n"),
            std::string::npos);
}

} // namespace
