// Where a GET leaves its file, against a scripted server.
#include "http/httpget.h"

#include <gtest/gtest.h>

#include <string>

#include "httptestsupport.h"
#include "peers/peers.h"
#include "util/directorytrees.h"

namespace quorbit {

namespace {

// A name that fits the request line but not, after the local directory, the
// longest local path: it is stored cut, and the session names the file that
// was written, not the one the whole name would give.
TEST(HttpGetStoredPath, NamesTheFileWrittenWhenTheNameWasCutToFit) {
  TempDir dir;
  std::string local = dir / "store/";
  ASSERT_TRUE(EnsureDirectory(local));
  const std::string name = std::string(234, 'n') + ".txt";  // the request line takes 252 bytes
  ASSERT_GT(local.size() + name.size(), 254u);
  PeerProcess server;
  const int port = StartScriptedServer(
      server, dir,
      "expect GET /" + name +
          " HTTP/1.1\nexpect_match Host: 127.0.0.1:*\nexpect \n"
          "send HTTP/1.1 200 OK\\r\\nContent-Length: 2\\r\\nConnection: close\\r\\n\\r\\nok\n"
          "expect_close\n");
  ASSERT_NE(port, 0);
  RecordingHttpSession session;
  HttpResponse response;
  ASSERT_TRUE(
      HttpGet(session, "127.0.0.1/" + name, local, static_cast<std::uint16_t>(port), {}, response));
  EXPECT_EQ(server.ReadRest(15), "DONE\n");
  EXPECT_EQ(response.fileName, name);
  EXPECT_EQ(session.storedPath.size(), 254u);
  EXPECT_EQ(session.storedPath, local + name.substr(0, 254 - local.size()));
  EXPECT_EQ(ReadFile(session.storedPath), "ok");
}

}  // namespace

}  // namespace quorbit
