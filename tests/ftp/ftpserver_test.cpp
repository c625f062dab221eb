// The FTP session against a real server (pyftpdlib on a loopback port).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include "ftp/ftpsession.h"
#include "ftp/ftptransfer.h"
#include "ftp/listingfetch.h"
#include "ftp_test_support.h"

namespace quorbit {

namespace {

using Clock = std::chrono::steady_clock;
// name -> (attribute, size)
using Entries = std::map<std::string, std::pair<std::uint16_t, std::int32_t>>;

class FtpServerTest : public RealFtpServerTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(RealFtpServerTest::SetUp());
    std::filesystem::create_directories(home / "sub");
    std::filesystem::create_directories(home / "empty");
    WriteFile(home / "README", std::string(10, 'r'));
    WriteFile(home / "index.htm", std::string(20, 'i'));
    WriteFile(home / "INDEX.HTML", std::string(30, 'I'));
    WriteFile(home / "LONGNAME1.TXT", std::string(40, 'l'));
    WriteFile(home / "sub/inner.txt", "inner\r\n");
    session.SetListDelay(2);
    loggedIn = LogIn(session, static_cast<std::uint16_t>(port));
    ASSERT_TRUE(loggedIn);
  }

  void TearDown() override {
    if (loggedIn) session.Quit();
    session.Destroy();
  }

  // Every entry of the current directory, and the names that mask selects.
  std::pair<Entries, std::vector<std::string>> List(std::string_view mask) {
    FtpFileRecord record;
    ListingPtr listing;
    std::vector<std::string> selected;
    for (bool found = FetchListing(session, mask, kFilterAny, record, listing); found;
         found = NextMatch(record)) {
      selected.push_back(record.name);
    }
    Entries entries;
    if (listing) {
      for (std::size_t i = 0; i < listing->count; ++i) {
        const FtpFileRecord& entry = listing->items[i];
        entries[entry.name] = {entry.attribute, entry.size};
      }
    }
    std::sort(selected.begin(), selected.end());
    return {entries, selected};
  }

  RecordingFtpSession session;
  bool loggedIn = false;
};

TEST_F(FtpServerTest, WorkingDirectoryAndChangingIntoSubdirectoryAndBack) {
  EXPECT_EQ(session.WorkingDir(), "/");
  EXPECT_TRUE(session.ChangeDir("sub"));
  EXPECT_EQ(session.WorkingDir(), "/sub");
  EXPECT_TRUE(session.ChangeDir("/"));
  EXPECT_EQ(session.WorkingDir(), "/");
  EXPECT_FALSE(session.ChangeDir("missing"));
  EXPECT_FALSE(session.Control().Failed());
}

TEST_F(FtpServerTest, ListingParsedIntoNamesSizesAndKinds) {
  const Entries expected = {{"README", {kFtpFile, 10}},     {"index.htm", {kFtpFile, 20}},
                            {"INDEX.HTML", {kFtpFile, 30}}, {"LONGNAME1.TXT", {kFtpFile, 40}},
                            {"sub", {kFtpDirectory, 0}},    {"empty", {kFtpDirectory, 0}}};
  auto [entries, selected] = List("*.*");
  // Directory sizes are the server's; compare kinds and file sizes.
  ASSERT_EQ(entries.size(), expected.size());
  for (const auto& [name, value] : expected) {
    ASSERT_TRUE(entries.count(name)) << name;
    EXPECT_EQ(entries[name].first, value.first) << name;
    if (value.first == kFtpFile) {
      EXPECT_EQ(entries[name].second, value.second) << name;
    }
  }
  // "*.*" selects every name.
  EXPECT_EQ(selected, (std::vector<std::string>{"INDEX.HTML", "LONGNAME1.TXT", "README", "empty",
                                                "index.htm", "sub"}));

  // After a transfer type change the listing switches back to ASCII.
  ASSERT_TRUE(session.SetType(kTypeImage));
  auto [again, selectedAgain] = List("index.html");
  EXPECT_EQ(session.CurrentType(), kTypeAscii);
  EXPECT_EQ(again, entries);
  EXPECT_EQ(selectedAgain, (std::vector<std::string>{"INDEX.HTML"}));
}

TEST_F(FtpServerTest, EmptyDirectoryListsNothingWithoutWaitingForTheIdleLimit) {
  ASSERT_TRUE(session.ChangeDir("empty"));
  const auto start = Clock::now();
  auto [entries, selected] = List("*.*");
  EXPECT_LT(SecondsSince(start), 4.0);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(session.WorkingDir(), "/empty");
}

TEST_F(FtpServerTest, RemoteKindOfDirectoriesFilesAndMissingPaths) {
  EXPECT_EQ(RemoteKind(session, "/sub"), kFtpDirectory);
  EXPECT_EQ(RemoteKind(session, "/README"), kFtpFile);
  EXPECT_EQ(RemoteKind(session, "/nothing"), 0);
  EXPECT_EQ(RemoteKind(session, "sub/inner.txt"), kFtpFile);
  EXPECT_EQ(session.WorkingDir(), "/sub");  // stays changed
  EXPECT_EQ(RemoteKind(session, "missing/inner.txt"), 0);
}

TEST_F(FtpServerTest, LookupRemoteFetchesOnceAndFindsFilesOnly) {
  FtpFileRecord record;
  ListingPtr listing;
  ASSERT_TRUE(LookupRemote(session, "readme", kFilterFiles, record, listing));
  EXPECT_EQ(record.name, "README");
  EXPECT_EQ(record.size, 10);
  RemoteListing* first = listing.get();

  EXPECT_TRUE(LookupRemote(session, "LONGNAME1.TXT", kFilterFiles, record, listing));
  EXPECT_FALSE(LookupRemote(session, "sub", kFilterFiles, record, listing));
  EXPECT_EQ(listing.get(), first);  // the same listing served every lookup

  ReleaseListing(record, listing);
  EXPECT_EQ(listing, nullptr);
  EXPECT_EQ(record.listing, nullptr);
}

// A server that speaks UTF8 is asked to; a name travels as its bytes and is
// stored under the same bytes.
TEST_F(FtpServerTest, Utf8NamesKeepTheirBytes) {
  const std::string name =
      "\xC3\xBCn\xC3\xAF"
      "code.txt";  // "ünïcode.txt" in UTF-8
  WriteFile(home / name, "unicode");
  EXPECT_TRUE(session.SpeaksUtf8());
  FtpFileRecord record;
  ListingPtr listing;
  ASSERT_TRUE(LookupRemote(session, name, kFilterFiles, record, listing));
  EXPECT_EQ(record.name, name);
  EXPECT_EQ(record.size, 7);
  ReleaseListing(record, listing);

  TempDir local;
  Download(session, {.remotePattern = name, .localDirectory = local.Path() + "/"});
  EXPECT_EQ(ReadFile(local / name), "unicode");
  EXPECT_EQ(session.events.back(), "Complete:" + name);
}

}  // namespace

}  // namespace quorbit
