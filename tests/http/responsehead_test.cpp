// Response heads as text: status lines, header fields, body framing, lengths
// and server dates.
#include "http/responsehead.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace quorbit {

namespace {

// What a head's text gives: the refusal, the status and the framing with its
// length. Lines end as the connection reads them: at a CR, with an LF right
// after it belonging to the same end.
TEST(ParseResponseHead, StatusFramingAndRefusals) {
  const struct {
    std::string name, text;
    HeadRefusal refusal;
    std::uint16_t status;
    BodyFraming framing;
    std::int64_t length;
  } rows[] = {
      {"a plain head", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", HeadRefusal::None, 200,
       BodyFraming::Length, 5},
      {"no length: until the close", "HTTP/1.0 404 Not Found\r\nServer: x\r\n\r\n",
       HeadRefusal::None, 404, BodyFraming::UntilClose, 0},
      {"lines ended by CR alone", "HTTP/1.1 200 OK\rContent-Length: 3\r\r", HeadRefusal::None, 200,
       BodyFraming::Length, 3},
      {"a bare-LF head has no line end", "HTTP/1.1 200 OK\nContent-Length: 5\n\n",
       HeadRefusal::NoEnd, 0, BodyFraming::UntilClose, 0},
      {"no status line at all", "", HeadRefusal::NoEnd, 0, BodyFraming::UntilClose, 0},
      {"an empty first line is the status line", "\r\nContent-Length: 2\r\n\r\n", HeadRefusal::None,
       0, BodyFraming::Length, 2},
      {"a head that ends before its empty line", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n",
       HeadRefusal::NoEnd, 200, BodyFraming::Length, 5},
      {"a header line without a colon is passed over",
       "HTTP/1.1 200 OK\r\nno colon here\r\nContent-Length: 2\r\n\r\n", HeadRefusal::None, 200,
       BodyFraming::Length, 2},
      {"a length field name in any case", "HTTP/1.1 200 OK\r\ncontent-LENGTH:7\r\n\r\n",
       HeadRefusal::None, 200, BodyFraming::Length, 7},
      {"a long field is read whole",
       "HTTP/1.1 200 OK\r\nContent-Length: " + std::string(300, '0') + "5\r\n\r\n",
       HeadRefusal::None, 200, BodyFraming::Length, 5},
      {"a negative length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n",
       HeadRefusal::UnusableLength, 200, BodyFraming::UntilClose, 0},
      {"two lengths that differ",
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 3\r\n\r\n",
       HeadRefusal::UnusableLength, 200, BodyFraming::Length, 5},
      {"two lengths that agree",
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\n", HeadRefusal::None, 200,
       BodyFraming::Length, 5},
      {"a list of equal lengths is that length",
       "HTTP/1.1 200 OK\r\nContent-Length: 5, 5,5\r\n\r\n", HeadRefusal::None, 200,
       BodyFraming::Length, 5},
      {"a list of lengths that differ", "HTTP/1.1 200 OK\r\nContent-Length: 5, 6\r\n\r\n",
       HeadRefusal::UnusableLength, 200, BodyFraming::UntilClose, 0},
      {"a list with an empty element", "HTTP/1.1 200 OK\r\nContent-Length: 5,\r\n\r\n",
       HeadRefusal::UnusableLength, 200, BodyFraming::UntilClose, 0},
      {"chunks void a length beside them",
       "HTTP/1.1 200 OK\r\nContent-Length: 9\r\nTransfer-Encoding: chunked\r\n\r\n",
       HeadRefusal::None, 200, BodyFraming::Chunked, 0},
      {"chunks void even an unusable length",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\nContent-Length: x\r\n\r\n",
       HeadRefusal::None, 200, BodyFraming::Chunked, 0},
      {"an interim answer's length is nobody's",
       "HTTP/1.1 100 Continue\r\nContent-Length: x\r\n\r\n", HeadRefusal::None, 100,
       BodyFraming::UntilClose, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ResponseHead head = ParseResponseHead(row.text);
    EXPECT_EQ(head.refusal, row.refusal);
    EXPECT_EQ(head.response.status, row.status);
    EXPECT_EQ(head.response.framing, row.framing);
    EXPECT_EQ(head.response.contentLength, row.length);
  }
}

TEST(ParseResponseHead, TakesOneHeadAndTheFieldsItActsOn) {
  const std::string location = "http://a.test/" + std::string(250, 'x');
  const std::string text =
      "HTTP/1.1 301 Moved\r\n"
      "Location: /Docs/Index.HTML\r\n"
      "Server: nginx/1.22\r\n"
      "Connection: Keep-Alive, Upgrade\r\n"
      "Content-Type: text/html; charset=utf-8\r\n"
      "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
      "\r\n"
      "HTTP/1.1 200 OK\r\n\r\n";
  const ResponseHead head = ParseResponseHead(text);
  EXPECT_EQ(head.statusLine, "HTTP/1.1 301 Moved");
  EXPECT_EQ(head.size, text.find("HTTP/1.1 200"));  // the next answer is not read
  const HttpResponse& response = head.response;
  EXPECT_EQ(response.location, "/Docs/Index.HTML");  // paths keep their case
  EXPECT_FALSE(response.locationTooLong);
  EXPECT_EQ(response.server, "NGINX/1.22");
  EXPECT_TRUE(response.connectionKeepAlive);
  EXPECT_FALSE(response.connectionClose);
  EXPECT_EQ(response.contentType, "TEXT/HTML; CHARSET=UTF-8");
  EXPECT_EQ(response.lastModified, ParseHttpDate("SUN, 06 NOV 1994 08:49:37 GMT"));

  // An address longer than a redirect may lead to is marked, never cut silently.
  const ResponseHead cut = ParseResponseHead("HTTP/1.1 302 Found\r\nLocation: " + location +
                                             "\r\nConnection: close\r\n\r\n");
  EXPECT_TRUE(cut.response.locationTooLong);
  EXPECT_TRUE(cut.response.connectionClose);
}

TEST(StatusCode, TakesTheNumberAfterTheFirstBlank) {
  EXPECT_EQ(StatusCode("HTTP/1.1 404 Not Found"), 404);
  EXPECT_EQ(StatusCode("HTTP/1.0   200   OK"), 200);
  EXPECT_EQ(StatusCode("HTTP/1.1"), 0);
  EXPECT_EQ(StatusCode(""), 0);
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
    const std::optional<HeaderField> field = ParseHeaderField(row.line);
    EXPECT_EQ(field.has_value(), row.isField) << row.line;
    if (!field) continue;
    EXPECT_EQ(field->name, row.name) << row.line;
    EXPECT_EQ(field->value, row.value) << row.line;
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

PackedDateTime Packed(int y, int mo, int d, int h, int mi, int s) {
  DateTimeParts p;
  p.year = y, p.month = mo, p.day = d, p.hour = h, p.minute = mi, p.second = s;
  return PackDateTime(p);
}

TEST(ParseHttpDate, ReadsEveryFormAsWritten) {
  PackedDateTime want = Packed(1994, 11, 6, 8, 49, 37);
  EXPECT_EQ(ParseHttpDate("SUN, 06 NOV 1994 08:49:37 GMT"), want);
  EXPECT_EQ(ParseHttpDate("SUNDAY, 06-NOV-94 08:49:37 GMT"), want);
  EXPECT_EQ(ParseHttpDate("SUN, 06 NOV 1994 08:49:37 PST"), want);  // no zone conversion
  EXPECT_EQ(ParseHttpDate("SUN NOV  6 08:49:37 1994"), want);       // asctime, day padded
  EXPECT_EQ(ParseHttpDate("THU NOV 17 08:49:37 1994"), Packed(1994, 11, 17, 8, 49, 37));
}

TEST(ParseHttpDate, TwoDigitYearsAndInvalidDates) {
  EXPECT_EQ(ParseHttpDate("MON, 01-JAN-80 00:00:00 GMT"), Packed(2080, 1, 1, 0, 0, 0));
  EXPECT_EQ(ParseHttpDate("THU, 01-JAN-81 00:00:00 GMT"), Packed(1981, 1, 1, 0, 0, 0));
  EXPECT_EQ(ParseHttpDate("SUN NOV 31 08:49:37 1994"), 0u);  // asctime, no such day
  EXPECT_EQ(ParseHttpDate("SUN, 31 APR 2020 10:00:00 GMT"), 0u);
  EXPECT_EQ(ParseHttpDate("SUN, 06 NOV 1994 65546:49:37 GMT"), 0u);  // no wrap to 10 h
  EXPECT_EQ(ParseHttpDate(""), 0u);
  EXPECT_EQ(ParseHttpDate("GARBAGE"), 0u);
}

}  // namespace

}  // namespace quorbit
