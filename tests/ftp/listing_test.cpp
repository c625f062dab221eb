// The parts of the FTP client that need no server: listing lines and mask
// searches.
#include "ftp/listing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>

#include "ftp/ftpsession.h"

namespace quorbit {

namespace {

TEST(TakeListingLineTest, AnyLineEndEndsALineAndEmptyLinesGo) {
  const std::string wide = "x" + std::string(300, ' ') + "y";
  const struct {
    std::string text;
    std::vector<std::string> lines;
  } rows[] = {
      {"first\r\nsecond\r\n", {"first", "second"}},
      // Bare LF (busybox and many embedded servers) and bare CR.
      {"first\nsecond\n", {"first", "second"}},
      {"first\rsecond", {"first", "second"}},
      {"one\r\n\r\ntwo\n\nthree", {"one", "two", "three"}},
      // A line of any length stays whole.
      {wide + "\n", {wide}},
  };
  for (const auto& row : rows) {
    std::string_view text = row.text;
    std::vector<std::string> lines;
    while (!text.empty()) lines.emplace_back(TakeListingLine(text));
    EXPECT_EQ(lines, row.lines) << row.text;
  }
}

// What a listing line must give; name empty: no entry.
struct LineRow {
  std::string line;
  std::string name;
  std::uint16_t attribute = 0;
  std::int64_t size = 0;
  PackedDateTime date = 0;
  bool link = false;
};

void ExpectRows(bool (*parse)(std::string_view, FtpFileRecord&), const std::vector<LineRow>& rows) {
  for (const LineRow& row : rows) {
    SCOPED_TRACE(row.line);
    FtpFileRecord entry;
    entry.size = 99;  // every row starts from a used record
    const bool valid = parse(row.line, entry);
    EXPECT_EQ(valid, !row.name.empty());
    if (!valid) continue;
    EXPECT_EQ(entry.name, row.name);
    EXPECT_EQ(entry.attribute, row.attribute);
    EXPECT_EQ(entry.size, row.size);
    EXPECT_EQ(entry.date, row.date);
    EXPECT_EQ(entry.link, row.link);
  }
}

PackedDateTime Local(std::uint16_t year, std::uint16_t month, std::uint16_t day, std::uint16_t hour,
                     std::uint16_t minute) {
  return PackDateTime({year, month, day, hour, minute, 0});
}

// A UTC time as the local time the record keeps.
PackedDateTime FromUtc(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  const auto instant = sys_days{year_month_day{std::chrono::year{year},
                                               std::chrono::month{static_cast<unsigned>(month)},
                                               std::chrono::day{static_cast<unsigned>(day)}}} +
                       hours{hour} + minutes{minute} + seconds{second};
  return PackLocalTime(system_clock::to_time_t(time_point_cast<system_clock::duration>(instant)));
}

TEST(ParseListLineTest, ColumnsFromTheLeftAndTheRestAsName) {
  const std::string name255(255, 'n');
  ExpectRows(
      ParseListLine,
      {
          {"drwxr-xr-x    2 ftp      ftp           512 Jan  5   12:00 pub", "pub", kFtpDirectory,
           512},
          {"-rw-r--r--   1 owner group  4294967 Mar 10  2019 ReadMe.TXT", "ReadMe.TXT", kFtpFile,
           4294967},
          {"-rw-r--r-- 1 u g 4831838208 Jan 5 12:00 big.iso", "big.iso", kFtpFile, 4831838208},
          {"-rw-r--r-- 1 u g 9223372036854775807 Jan 5 12:00 max", "max", kFtpFile, INT64_MAX},
          // vsftpd (numeric owner and group, day with a leading zero).
          {"-rw-r--r--    1 1000     1000           21 Dec 08 18:31 notes for the team.txt",
           "notes for the team.txt", kFtpFile, 21},
          {"-rw-r--r--    1 1000     1000            4 Dec 08 18:31   lead.txt", "  lead.txt",
           kFtpFile, 4},
          {"lrwxrwxrwx    1 1000     1000            9 Dec 08 18:31 current -> plain.txt",
           "current", kFtpFile, kUnknownSize, 0, true},
          // proftpd.
          {"-rw-r--r--   1 ftp      ftp            33 Dec  8 18:31 semi;colon 100%.txt",
           "semi;colon 100%.txt", kFtpFile, 33},
          {"lrwxrwxrwx   1 ftp      ftp            22 Dec  8 18:31 my link -> notes for the "
           "team.txt",
           "my link", kFtpFile, kUnknownSize, 0, true},
          {"drwxr-xr-x   2 ftp      ftp          4096 Mar 10  2019 old reports", "old reports",
           kFtpDirectory, 4096},
          // pure-ftpd.
          {"-rw-r--r--    1 1000       1000               12 Dec  8 18:31 \xC3\xBCn\xC3\xAF "
           "code.txt",
           "\xC3\xBCn\xC3\xAF code.txt", kFtpFile, 12},
          // busybox: no group column; ISO dates of ls --time-style=long-iso.
          {"-rw-r--r--    1 root           7 Dec  8 18:31 no group.txt", "no group.txt", kFtpFile,
           7},
          {"-rw-r--r-- 1 ftp ftp 5 2005-04-08 11:22 iso date.txt", "iso date.txt", kFtpFile, 5},
          {"-rw-r--r--+ 1 u g 6 Dec  8 18:31 with acl.txt", "with acl.txt", kFtpFile, 6},
          // An arrow in a file's name is part of it.
          {"-rw-r--r-- 1 u g 8 Dec  8 18:31 a -> b", "a -> b", kFtpFile, 8},
          {"-rw-r--r-- 1 u g 1 Dec  8 18:31 " + name255, name255, kFtpFile, 1},
          // No entry: devices, fifos, sockets, the directory itself and its
          // parent, lines of another shape, sizes that are none.
          {"crw-rw-rw-   1 root     root       1,   3 Dec  8 18:31 null", ""},
          {"brw-rw----   1 root     disk       8,   0 Dec  8 18:31 sda", ""},
          {"prw-r--r--   1 u        g             0 Dec  8 18:31 fifo", ""},
          {"srwxrwxrwx   1 u        g             0 Dec  8 18:31 socket", ""},
          {"drwxr-xr-x    2 ftp      ftp          4096 Dec  8 18:31 .", ""},
          {"drwxr-xr-x    2 ftp      ftp          4096 Dec  8 18:31 ..", ""},
          {"-rw-r--r-- 1 u g 9223372036854775808 Jan 5 12:00 over", ""},
          {"-rw-r--r-- 1 u g 18446744073709551626 Jan 5 12:00 wraps", ""},
          {"-rw-r--r-- 1 u g 12 Foo 5 12:00 month", ""},
          {"-rw-r--r-- 1 u g 12 Jan 5 12:00", ""},
          {"-rw-r--r-- 1 u g 12 Jan 5 12:00 ", ""},
          {"-rw-r--r-- 1 u g 1 Dec  8 18:31 " + name255 + "n", ""},
          {"- x Jan 5 12:00 name", ""},
          {"total 24", ""},
          {"", ""},
      });
}

TEST(ParseWindowsListLineTest, DateTimeDirOrSizeAndTheRestAsName) {
  const std::string name255(255, 'n');
  ExpectRows(
      ParseWindowsListLine,
      {
          {"12-08-26  06:31PM       <DIR>          reports", "reports", kFtpDirectory, 0,
           Local(2026, 12, 8, 18, 31)},
          {"12-08-26  06:31PM              1234 notes.txt", "notes.txt", kFtpFile, 1234,
           Local(2026, 12, 8, 18, 31)},
          {"01-02-99  12:05AM  5 my notes  v2.txt", "my notes  v2.txt", kFtpFile, 5,
           Local(1999, 1, 2, 0, 5)},
          {"07-04-26  12:00pm  <dir>  Lower", "Lower", kFtpDirectory, 0, Local(2026, 7, 4, 12, 0)},
          // A four-digit year and a 24-hour clock.
          {"02-29-2024  23:59  4831838208 big.iso", "big.iso", kFtpFile, 4831838208,
           Local(2024, 2, 29, 23, 59)},
          // IIS: blanks beyond the size's one and the directory's padding
          // begin the name.
          {"12-08-26  06:31PM                    4   lead.txt", "  lead.txt", kFtpFile, 4,
           Local(2026, 12, 8, 18, 31)},
          {"12-08-26  06:31PM       <DIR>           old reports", " old reports", kFtpDirectory, 0,
           Local(2026, 12, 8, 18, 31)},
          {"12-08-26  06:31PM  0 " + name255, name255, kFtpFile, 0, Local(2026, 12, 8, 18, 31)},
          // No entry: a wrong date, time, size or name.
          {"13-08-26  06:31PM  1 month", ""},
          {"12-32-26  06:31PM  1 day", ""},
          {"12-8-26  06:31PM  1 short", ""},
          {"12-08-226  06:31PM  1 year", ""},
          {"12-08-26  13:31PM  1 hour", ""},
          {"12-08-26  00:31AM  1 hour", ""},
          {"12-08-26  24:00  1 hour", ""},
          {"12-08-26  06:60PM  1 minute", ""},
          {"12-08-26 06:31PM 12x4 size", ""},
          {"12-08-26  06:31PM  9223372036854775808 toolarge", ""},
          {"12-08-26  06:31PM  -1 negative", ""},
          {"12-08-26  06:31PM       <DIR>", ""},
          {"12-08-26  06:31PM       <DIR>       ", ""},
          {"12-08-26  06:31PM       <DIR>          .", ""},
          {"12-08-26  06:31PM       <DIR>          ..", ""},
          {"12-08-2606:31PM  1 glued", ""},
          {"12-08-26", ""},
          {"total 24", ""},
      });
}

TEST(ParseMlsdLineTest, FactsGiveKindSizeAndDateAndTheNameIsExact) {
  const std::string name255(255, 'm');
  ExpectRows(
      ParseMlsdLine,
      {
          {"type=file;size=123;modify=20261208183100; notes.txt", "notes.txt", kFtpFile, 123,
           FromUtc(2026, 12, 8, 18, 31, 0)},
          // Facts in any case and order, unknown ones ignored; blanks
          // belong to the name, also at its ends.
          {"UNIX.mode=0644;Modify=20240229000000.123;Size=5;Type=File;  two  blanks ",
           " two  blanks ", kFtpFile, 5, FromUtc(2024, 2, 29, 0, 0, 0)},
          {"type=file;size=7;modify=20260229000000; no leap day", "no leap day", kFtpFile, 7},
          {"type=dir;sizd=4096;modify=20261208183100; my dir", "my dir", kFtpDirectory, 0,
           FromUtc(2026, 12, 8, 18, 31, 0)},
          {"type=file;size=4831838208; big.iso", "big.iso", kFtpFile, 4831838208},
          {"type=file;size=0; empty", "empty", kFtpFile, 0},
          {"type=file;size=7;modify=2026120818310; short date", "short date", kFtpFile, 7},
          {"type=file;size=7;modify=20261308183100; month 13", "month 13", kFtpFile, 7},
          {"type=file;size=7;modify=20261208183100Z; suffix", "suffix", kFtpFile, 7},
          {"type=file;size=1; " + name255, name255, kFtpFile, 1},
          // Links (proftpd), whatever their target: files of unknown size.
          {"modify=20261208183100;perm=adfr;size=9;type=OS.unix=symlink;unique=1; current",
           "current", kFtpFile, kUnknownSize, FromUtc(2026, 12, 8, 18, 31, 0), true},
          {"type=OS.unix=slink:/t/notes for the team.txt;size=22; my link", "my link", kFtpFile,
           kUnknownSize, 0, true},
          // No entry: the directory itself, its parent, other kinds, files
          // without a size, no name.
          {"type=cdir;modify=20261208183100; /pub", ""},
          {"type=pdir;modify=20261208183100; ..", ""},
          {"type=dir; .", ""},

          {"type=file; nosize", ""},
          {"type=file;size=1x; badsize", ""},
          {"type=file;size=; emptysize", ""},
          {"type=file;size=9223372036854775808; toolarge", ""},
          {"size=1; notype", ""},
          {"type=file;size=1;", ""},
          {"type=file;size=1; ", ""},
          {"type=file;size=1; " + name255 + "m", ""},
          {"-rw-r--r-- 1 u g 10 Jan 5 12:00 unix", ""},
          {"", ""},
      });
}

TEST(ParseListingTextTest, MlsdLinesAreTakenWholeWhateverTheirLineEnds) {
  // Facts and a name of 255 characters make a line longer than LIST lines
  // may be; it is neither cut nor split.
  const std::string longName(240, 'x');
  const std::string text = "type=cdir; /here\r\ntype=file;size=3;modify=20261208183100; " +
                           longName + " end\r\ntype=file;size=4; a b\ntype=dir; c\r\n\r\n";
  RemoteListing listing;
  ParseListingText(text, listing, ListingFormat::Mlsd);
  ASSERT_EQ(listing.count, 3);
  EXPECT_EQ(listing.items[0].name, longName + " end");
  EXPECT_EQ(listing.items[1].name, "a b");
  EXPECT_EQ(listing.items[1].size, 4);
  EXPECT_EQ(listing.items[2].name, "c");
  EXPECT_EQ(listing.items[2].listing, &listing);
}

// Names and sizes of the entries, for comparing two listings.
std::vector<std::string> Entries(const RemoteListing& listing) {
  std::vector<std::string> entries;
  for (const FtpFileRecord& entry : listing.items) {
    entries.push_back(entry.name + " " + std::to_string(entry.size));
  }
  return entries;
}

TEST(ParseListingTextTest, ListTextsOfAnyLineEndGiveEveryEntry) {
  const std::string name255(255, 'n');
  const struct {
    std::string text;
    std::vector<std::string> entries;
  } rows[] = {
      {"total 2\r\n"
       "-rw-r--r-- 1 u g 10 Jan 5 12:00 unix.txt\r\n"
       "12-08-26  06:31PM              1234 win dows.txt\r\n"
       "12-08-26  06:31PM       <DIR>          reports\r\n",
       {"unix.txt 10", "win dows.txt 1234", "reports 0"}},
      // Bare LF line ends, the last line without one.
      {"total 12\n"
       "-rw-r--r--    1 1000     1000            5 Dec 08 18:31 plain.txt\n"
       "-rw-r--r--    1 1000     1000           21 Dec 08 18:31 notes for the team.txt\n"
       "lrwxrwxrwx    1 1000     1000            9 Dec 08 18:31 current -> plain.txt",
       {"plain.txt 5", "notes for the team.txt 21", "current -1"}},
      {"12-08-26  06:31PM  3 a b.txt\n12-08-26  06:31PM  4 c.txt\n", {"a b.txt 3", "c.txt 4"}},
      // A line longer than 255 characters is taken whole.
      {"-rw-r--r--   1 ftp      ftp             7 Dec  8 18:31 " + name255 + "\r\n",
       {name255 + " 7"}},
  };
  for (const auto& row : rows) {
    RemoteListing listing;
    ParseListingText(row.text, listing);
    EXPECT_EQ(Entries(listing), row.entries) << row.text;
  }
}

TEST(ListingParserTest, TextArrivingInPiecesOfAnySizeParsesAsTheWholeText) {
  const std::string longLine =
      "-rw-r--r-- 1 u g 7 Jan 5 12:00 " + std::string(150, 'a') + " " + std::string(150, 'b');
  const struct {
    ListingFormat format;
    std::string text;
  } texts[] = {
      {ListingFormat::List, "total 2\r\n-rw-r--r-- 1 u g 10 Jan 5 12:00 one.txt\r\n" + longLine +
                                "\r\n12-08-26  06:31PM  1234 win dows.txt\r\n"
                                "-rw-r--r-- 1 u g 30 Jan 5 12:00 last"},
      {ListingFormat::List,
       "-rw-r--r-- 1 u g 1 Jan 5 12:00 one\n-rw-r--r-- 1 u g 2 Jan 5 12:00 "
       "two\n\n-rw-r--r-- 1 u g 3 Jan 5 12:00  three\r"},
      {ListingFormat::Mlsd,
       "type=file;size=3; " + std::string(240, 'x') +
           "\r\ntype=file;size=4; a b\ntype=dir; c\r\n\r\ntype=file;size=5; z"},
  };
  for (const auto& [format, text] : texts) {
    RemoteListing whole;
    ParseListingText(text, whole, format);
    ASSERT_GE(whole.count, 3u);
    for (std::size_t pieceSize : {1, 2, 7, 254, 255, 256, 1000}) {
      SCOPED_TRACE(pieceSize);
      RemoteListing pieces;
      ListingParser parser(pieces, format);
      for (std::size_t at = 0; at < text.size(); at += pieceSize) {
        parser.Feed(std::string_view(text).substr(at, pieceSize));
      }
      parser.Finish();
      EXPECT_EQ(Entries(pieces), Entries(whole));
    }
  }
}

TEST(ListingParserTest, OverlongMlsdLineIsSkippedWithoutBeingKept) {
  RemoteListing listing;
  ListingParser parser(listing, ListingFormat::Mlsd);
  parser.Feed("type=file;size=1; first\r\ntype=file;size=2; ");
  for (int i = 0; i < 100; ++i) parser.Feed(std::string(1000, 'n'));
  parser.Feed("\r\ntype=file;size=3; third\r\n");
  parser.Finish();
  EXPECT_EQ(Entries(listing), (std::vector<std::string>{"first 1", "third 3"}));

  // The same line in a whole text.
  RemoteListing whole;
  ParseListingText("type=file;size=2;x=" + std::string(5000, 'n') + "; second\r\n", whole,
                   ListingFormat::Mlsd);
  EXPECT_EQ(whole.count, 0u);
}

// A listing holding the given lines, searched with mask and filter.
struct Listing {
  RemoteListing listing;
  FtpFileRecord record;

  Listing(std::string_view text, std::string_view mask, std::uint16_t filter) {
    ParseListingText(text, listing);
    StartSearch(listing, mask, filter);
    record.listing = &listing;
  }
  std::vector<std::string> AllMatches() {
    std::vector<std::string> names;
    while (NextMatch(record)) names.push_back(record.name);
    return names;
  }
};

constexpr std::string_view kListingText =
    "total 5\r\n"
    "drwxr-xr-x 2 u g 512 Jan 5 12:00 pub\r\n"
    "-rw-r--r-- 1 u g 10 Jan 5 12:00 README\r\n"
    "-rw-r--r-- 1 u g 20 Jan 5 12:00 index.htm\r\n"
    "-rw-r--r-- 1 u g 30 Jan 5 12:00 INDEX.HTML\r\n"
    "-rw-r--r-- 1 u g 40 Jan 5 12:00 LONGNAME1.TXT\r\n";

TEST(ListingSearchTest, MaskOnTheWholeNameAndFilter) {
  Listing files(kListingText, "*.*", kFilterFiles);
  EXPECT_EQ(files.listing.count, 5);
  EXPECT_EQ(files.AllMatches(),
            (std::vector<std::string>{"README", "index.htm", "INDEX.HTML", "LONGNAME1.TXT"}));
  EXPECT_FALSE(NextMatch(files.record));  // stays at the end

  Listing any(kListingText, "*.*", kFilterAny);
  EXPECT_EQ(any.AllMatches(), (std::vector<std::string>{"pub", "README", "index.htm", "INDEX.HTML",
                                                        "LONGNAME1.TXT"}));
  Listing html(kListingText, "*.html", kFilterFiles);
  EXPECT_EQ(html.AllMatches(), (std::vector<std::string>{"INDEX.HTML"}));
}

TEST(ListingSearchTest, ExactMaskIgnoresLetterCase) {
  Listing exact(kListingText, "index.html", kFilterFiles);
  ASSERT_TRUE(NextMatch(exact.record));
  EXPECT_EQ(exact.record.name, "INDEX.HTML");
  EXPECT_EQ(exact.record.size, 30);
  EXPECT_FALSE(NextMatch(exact.record));

  Listing dirs(kListingText, "PUB", kFilterFiles);
  EXPECT_FALSE(NextMatch(dirs.record));  // a directory is not a file
}

TEST(ListingSearchTest, FindInListingStartsFromTheTopWithoutMovingCursor) {
  Listing files(kListingText, "*", kFilterFiles);
  ASSERT_TRUE(NextMatch(files.record));  // README

  FtpFileRecord found;
  ASSERT_TRUE(FindInListing(files.listing, "index.HTML", found));
  EXPECT_EQ(found.name, "INDEX.HTML");
  EXPECT_EQ(found.size, 30);
  ASSERT_TRUE(FindInListing(files.listing, "readme", found));
  EXPECT_EQ(found.name, "README");
  EXPECT_FALSE(FindInListing(files.listing, "pub", found));  // filter: files only
  EXPECT_FALSE(FindInListing(files.listing, "missing", found));

  // A copy of the record continues the same search.
  FtpFileRecord copy = files.record;
  ASSERT_TRUE(NextMatch(copy));
  EXPECT_EQ(copy.name, "index.htm");
}

}  // namespace

}  // namespace quorbit
