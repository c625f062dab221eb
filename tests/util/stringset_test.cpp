#include "util/stringset.h"

#include <gtest/gtest.h>

#include <string>

namespace quorbit {

namespace {

std::string Url(int i) {
  return "HTTP://HOST/PAGE" + std::to_string(i) + ".HTML";
}

TEST(CrcStringSet, MembershipIsByExactTextAndLookupsAddNothing) {
  CrcStringSet set;
  EXPECT_FALSE(set.Contains(""));
  EXPECT_FALSE(set.Contains(""));
  EXPECT_EQ(set.Count(), 0u);
  set.Add("");
  EXPECT_TRUE(set.Contains(""));
  set.Add("HTTP://A/B.HTML");
  set.Add("HTTP://A/B.HTML");
  EXPECT_EQ(set.Count(), 3u);
  EXPECT_FALSE(set.Contains("http://a/b.html"));

  CrcStringSet adding(true);
  EXPECT_FALSE(adding.Contains("NAME.TXT"));
  EXPECT_TRUE(adding.Contains("NAME.TXT"));
}

TEST(CrcStringSet, EntriesAcrossBlocksAndBeyond32768AreFound) {
  CrcStringSet set;
  for (int i = 1; i <= 1024; ++i) set.Add(Url(i));
  EXPECT_FALSE(set.Contains(Url(1025)));
  set.Add(Url(1025));  // the first entry of the second block
  EXPECT_TRUE(set.Contains(Url(1024)) && set.Contains(Url(1025)));
  for (int i = 1026; i <= 40000; ++i) set.Add(Url(i));
  EXPECT_EQ(set.Count(), 40000u);
  for (int i : {1, 32768, 32769, 40000}) EXPECT_TRUE(set.Contains(Url(i))) << i;
  EXPECT_FALSE(set.Contains(Url(40001)));
}

}  // namespace

}  // namespace quorbit
