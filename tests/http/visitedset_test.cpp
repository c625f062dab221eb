#include "http/visitedset.h"

#include <gtest/gtest.h>

#include <string>

#include "util/crc32.h"

namespace quorbit {

namespace {

TEST(VisitedUrlSet, AddressesWithTheSameCrcAreTwoAddresses) {
  const std::string first = "http://127.0.0.1:80/page389898.html";
  const std::string second = "http://127.0.0.1:80/page10024604.html";
  ASSERT_EQ(Crc32(first), Crc32(second));
  VisitedUrlSet set;
  EXPECT_TRUE(set.Add(first));
  EXPECT_FALSE(set.Contains(second));
  EXPECT_TRUE(set.Add(second));
  EXPECT_FALSE(set.Add(first));
  set.SetStoredPath(first, "/L/page389898.html");
  EXPECT_EQ(set.StoredPath(first), "/L/page389898.html");
  EXPECT_EQ(set.StoredPath(second), "");
  EXPECT_EQ(set.StoredPath("http://127.0.0.1:80/never.html"), "");
  EXPECT_EQ(set.Count(), 2u);
}

TEST(VisitedUrlSet, AFullSetTakesNoNewAddress) {
  VisitedUrlSet set(2);
  EXPECT_TRUE(set.Add("http://h:80/a"));
  EXPECT_FALSE(set.Full());
  EXPECT_TRUE(set.Add("http://h:80/b"));
  EXPECT_TRUE(set.Full());
  EXPECT_FALSE(set.Add("http://h:80/c"));
  EXPECT_FALSE(set.Contains("http://h:80/c"));
  // Nor does recording where a file went add its address.
  set.SetStoredPath("http://h:80/c", "/L/c");
  EXPECT_FALSE(set.Contains("http://h:80/c"));
  set.SetStoredPath("http://h:80/b", "/L/b");
  EXPECT_EQ(set.StoredPath("http://h:80/b"), "/L/b");
  EXPECT_EQ(set.Count(), 2u);
  EXPECT_FALSE(VisitedUrlSet().Full());
}

}  // namespace

}  // namespace quorbit
