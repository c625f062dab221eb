// URL splitting, stored names, escapes, request encoding, header fields,
// chunk sizes and server dates.
#include <gtest/gtest.h>

#include <cstdint>

#include "http/httpclient.h"
#include "httptestsupport.h"

namespace quorbit {

namespace {

struct Split {
  std::string host, baseUrl, directory, file;
};

Split SplitOf(std::string_view url) {
  RecordingHttpSession session;
  Str255 host = SplitUrl(session, url);
  return {host.Str(), session.BaseUrl().Str(), session.Directory().Str(), session.file.Str()};
}

TEST(SplitUrl, SeparatesHostDirectoryAndFile) {
  Split s = SplitOf("HtTp://www.example.test/a/b/c.htm?x=1#top");
  EXPECT_EQ(s.host, "www.example.test");
  EXPECT_EQ(s.baseUrl, "http://www.example.test");
  EXPECT_EQ(s.directory, "/a/b/");
  EXPECT_EQ(s.file, "c.htm?x=1#top");

  s = SplitOf("bare.host");  // no prefix, no "/"
  EXPECT_EQ(s.baseUrl, "bare.host");
  EXPECT_EQ(s.directory, "/");
  EXPECT_EQ(s.file, "");

  s = SplitOf("host:8080/docs/");  // the port stays part of the host
  EXPECT_EQ(s.host, "host:8080");
  EXPECT_EQ(s.directory, "/docs/");
  EXPECT_EQ(s.file, "");
}

TEST(StoredFileName, DerivesNamesFromFileOrDirectory) {
  EXPECT_EQ(StoredFileName("", "/").Str(), "index.html");
  EXPECT_EQ(StoredFileName("", "/docs/").Str(), "docs.html");
  EXPECT_EQ(StoredFileName("", "/a/docs/").Str(), "docs.html");
  EXPECT_EQ(StoredFileName("b.htm?x=1#top", "/a/").Str(), "b.htm");
  EXPECT_EQ(StoredFileName("b.htm#top?x", "/a/").Str(), "b.htm");
  EXPECT_EQ(StoredFileName("my%20file.txt", "/").Str(), "my file.txt");
}

TEST(StoredFileName, NeverLeavesTheDirectory) {
  EXPECT_EQ(StoredFileName("..%2F..%2Fescape", "/").Str(), ".._.._escape");
  EXPECT_EQ(StoredFileName("a%5Cb", "/").Str(), "a_b");
  EXPECT_EQ(StoredFileName("a%00b", "/").Str(), "a_b");
  EXPECT_EQ(StoredFileName("%2e%2e", "/").Str(), "__");
  EXPECT_EQ(StoredFileName("%2E", "/").Str(), "_");
  EXPECT_EQ(StoredFileName("%252F", "/").Str(), "_");  // decoded twice, still safe
  EXPECT_EQ(StoredFileName("", "/x/../").Str(), "...html");
  EXPECT_EQ(SafeFileName("...").Str(), "...");  // an ordinary name
}

TEST(DecodeEscapes, ReplacesEveryPercentAndEnds) {
  EXPECT_EQ(DecodeEscapes("a%41%42c").Str(), "aABc");
  EXPECT_EQ(DecodeEscapes("%2541").Str(), "A");  // the decoded "%" is decoded again
  EXPECT_EQ(DecodeEscapes("end%").Str(), std::string("end\0", 4));
  EXPECT_EQ(DecodeEscapes("%%%").Str().size(), 1u);  // "%" + "%%" is one byte
}

TEST(EncodeRequestText, EscapesBytesThatCouldBreakTheRequest) {
  EXPECT_EQ(EncodeRequestText("/a b\r\nHost: x").Str(), "/a%20b%0D%0AHost:%20x");
  EXPECT_EQ(EncodeRequestText("/\x7F\xE9?q=1#f%41").Str(), "/%7F%E9?q=1#f%41");
}

TEST(ParseHeaderField, NameEndsAtTheColonAndWhiteSpaceAroundTheValueGoes) {
  struct Row {
    std::string_view line;
    bool isField;
    std::string_view name, value;
  };
  const Row rows[] = {
      {"Content-Length: 5", true, "Content-Length", "5"},
      {"Content-Length:5", true, "Content-Length", "5"},
      {"content-length:\t 5 \t", true, "content-length", "5"},
      {"Server:", true, "Server", ""},
      {"X-Empty: \t ", true, "X-Empty", ""},
      {"Date: Sun, 06 Nov 1994 08:49:37 GMT", true, "Date", "Sun, 06 Nov 1994 08:49:37 GMT"},
      {"Location: http://a.test:8080/x", true, "Location", "http://a.test:8080/x"},
      {"Content-Type: text/html ; charset=x", true, "Content-Type", "text/html ; charset=x"},
      {"Content-Length : 5", false, "", ""},  // white space before the colon
      {" Content-Length: 5", false, "", ""},  // a folded continuation line
      {"\tContent-Length: 5", false, "", ""},
      {": 5", false, "", ""},
      {"no colon at all", false, "", ""},
      {"", false, "", ""},
  };
  for (const Row& row : rows) {
    std::string_view name = "unset", value = "unset";
    EXPECT_EQ(ParseHeaderField(row.line, name, value), row.isField) << row.line;
    if (!row.isField) continue;
    EXPECT_EQ(name, row.name) << row.line;
    EXPECT_EQ(value, row.value) << row.line;
  }
}

TEST(ParseContentLength, TakesPlainDecimalsOfAnySizeThatFits) {
  EXPECT_EQ(ParseContentLength("0"), 0);
  EXPECT_EQ(ParseContentLength("007"), 7);
  EXPECT_EQ(ParseContentLength("3221225472"), 3221225472LL);  // 3 GiB
  EXPECT_EQ(ParseContentLength("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(ParseContentLength("9223372036854775808"), -1);
  for (std::string_view bad : {"", "-5", "+5", "5 5", "5,5", "0x10", "12abc", " 5"}) {
    EXPECT_EQ(ParseContentLength(bad), -1) << bad;
  }
}

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

PackedDateTime Packed(int y, int mo, int d, int h, int mi, int s) {
  DateTimeParts p;
  p.year = y, p.month = mo, p.day = d, p.hour = h, p.minute = mi, p.second = s;
  return PackDateTime(p);
}

TEST(ParseHttpDate, ReadsBothFormsAsWritten) {
  PackedDateTime want = Packed(1994, 11, 6, 8, 49, 37);
  EXPECT_EQ(ParseHttpDate("SUN, 06 NOV 1994 08:49:37 GMT"), want);
  EXPECT_EQ(ParseHttpDate("SUNDAY, 06-NOV-94 08:49:37 GMT"), want);
  EXPECT_EQ(ParseHttpDate("SUN, 06 NOV 1994 08:49:37 PST"), want);  // no zone conversion
}

TEST(ParseHttpDate, TwoDigitYearsAndInvalidDates) {
  EXPECT_EQ(ParseHttpDate("MON, 01-JAN-80 00:00:00 GMT"), Packed(2080, 1, 1, 0, 0, 0));
  EXPECT_EQ(ParseHttpDate("THU, 01-JAN-81 00:00:00 GMT"), Packed(1981, 1, 1, 0, 0, 0));
  EXPECT_EQ(ParseHttpDate("SUN NOV  6 08:49:37 1994"), 0u);  // asctime form
  EXPECT_EQ(ParseHttpDate("SUN, 31 APR 2020 10:00:00 GMT"), 0u);
  EXPECT_EQ(ParseHttpDate("SUN, 06 NOV 1994 65546:49:37 GMT"), 0u);  // no wrap to 10 h
  EXPECT_EQ(ParseHttpDate(""), 0u);
  EXPECT_EQ(ParseHttpDate("GARBAGE"), 0u);
}

}  // namespace

}  // namespace quorbit
