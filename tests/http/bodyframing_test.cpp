// Chunk-size lines of chunked bodies.
#include "http/bodyframing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

namespace quorbit {

namespace {

TEST(ParseChunkSize, ReadsTheHexadecimalSizeBeforeAnyExtension) {
  EXPECT_EQ(ParseChunkSize("0"), 0);
  EXPECT_EQ(ParseChunkSize("1388"), 5000);
  EXPECT_EQ(ParseChunkSize("fF;name=x"), 255);
  EXPECT_EQ(ParseChunkSize("1 ;ext"), 1);
  EXPECT_EQ(ParseChunkSize("100000000"), 4294967296LL);  // beyond 32 bits
  EXPECT_EQ(ParseChunkSize("7fffffffffffffff"), INT64_MAX);
  for (std::string_view bad : {"", "8000000000000000", "-5", "+5", " 5", ";x", "x5"}) {
    EXPECT_EQ(ParseChunkSize(bad), -1) << bad;
  }
}

}  // namespace

}  // namespace quorbit
