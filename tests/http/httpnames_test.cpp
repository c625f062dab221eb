// URL splitting, stored names and escapes.
#include <gtest/gtest.h>

#include "http/httpget.h"
#include "httptestsupport.h"

namespace quorbit {

namespace {

struct Split {
  std::string host, baseUrl, directory, file;
};

Split SplitOf(std::string_view url) {
  RecordingHttpSession session;
  std::string host = SplitUrl(session, url);
  return {host, session.BaseUrl(), session.Directory(), session.file};
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
  EXPECT_EQ(StoredFileName("", "/"), "index.html");
  EXPECT_EQ(StoredFileName("", "/docs/"), "docs.html");
  EXPECT_EQ(StoredFileName("", "/a/docs/"), "docs.html");
  EXPECT_EQ(StoredFileName("b.htm?x=1#top", "/a/"), "b.htm");
  EXPECT_EQ(StoredFileName("b.htm#top?x", "/a/"), "b.htm");
  EXPECT_EQ(StoredFileName("my%20file.txt", "/"), "my file.txt");
}

TEST(StoredFileName, NeverLeavesTheDirectory) {
  EXPECT_EQ(StoredFileName("..%2F..%2Fescape", "/"), ".._.._escape");
  EXPECT_EQ(StoredFileName("a%5Cb", "/"), "a_b");
  EXPECT_EQ(StoredFileName("a%00b", "/"), "a_b");
  EXPECT_EQ(StoredFileName("%2e%2e", "/"), "__");
  EXPECT_EQ(StoredFileName("%2E", "/"), "_");
  EXPECT_EQ(StoredFileName("%252F", "/"), "_");  // decoded twice, still safe
  EXPECT_EQ(StoredFileName("", "/x/../"), "...html");
  EXPECT_EQ(SafeFileName("..."), "...");  // an ordinary name
}

TEST(DecodeEscapes, ReplacesEveryPercentAndEnds) {
  EXPECT_EQ(DecodeEscapes("a%41%42c"), "aABc");
  EXPECT_EQ(DecodeEscapes("%2541"), "A");  // the decoded "%" is decoded again
  EXPECT_EQ(DecodeEscapes("end%"), std::string("end\0", 4));
  EXPECT_EQ(DecodeEscapes("%%%").size(), 1u);  // "%" + "%%" is one byte
  EXPECT_EQ(DecodeEscapes(std::string(300, 'a') + "%41"), std::string(300, 'a') + "A");
}

}  // namespace

}  // namespace quorbit
