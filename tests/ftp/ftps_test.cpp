// Explicit FTPS against a real vsftpd that demands TLS for the login and
// every data channel, and TLS session reuse on the data channels: whole
// assignments up, down and synchronised, certificates that are not trusted,
// and IPv6.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "config/settings.h"
#include "ftp/ftptask.h"
#include "peers/report_capture.h"
#include "peers/webpeers.h"
#include "report/transfercounts.h"

namespace quorbit {

namespace {

using Lines = std::vector<std::string>;

bool Contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The commands of a TCP/IP debug log, in order ("S " lines without the "S ").
Lines SentCommands(const std::string& debugLog) {
  Lines commands;
  for (const std::string& text : LogFileTexts(debugLog)) {
    if (text.rfind("S ", 0) == 0) commands.push_back(text.substr(2));
  }
  return commands;
}

class VsftpdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!VsftpdPeer::Installed()) GTEST_SKIP() << "vsftpd is not installed";
    ASSERT_TRUE(certificates.Make()) << certificates.Problem();
  }
  void TearDown() override { ClearTransferCounts(); }

  // Starts the server with the certificate made for 127.0.0.1, ::1 and
  // localhost ("server") or the one for another name ("stranger").
  bool StartServer(const std::string& certificate, const std::string& address = "127.0.0.1") {
    return server.Start(certificates.File(certificate + ".pem"),
                        certificates.File(certificate + ".key"), address);
  }

  FtpTask Task(const Lines& transfers, const std::string& host = "127.0.0.1") const {
    FtpTask task{};
    task.NAME = "Secure";
    task.URI = host;
    task.USER = "anonymous";
    task.PORT = static_cast<std::uint16_t>(server.Port());
    task.RETRY = 3;
    task.RETRY_DELAY = 1;
    task.LIST_DELAY = 2;
    task.TLS = 1;
    for (std::size_t i = 0; i < transfers.size(); ++i) task.TRANSFER[i] = transfers[i];
    return task;
  }

  // Runs the assignment with the test CA trusted; the run log's lines.
  Lines Run(const FtpTask& task) {
    RunContext context;
    context.settings.CA_FILE = certificates.File("ca.pem");
    context.settings.DEBUG_LOG = DebugLog();
    ReportCapture capture;
    RunFtpTask(task, context);
    return capture.LogLines();
  }
  std::string DebugLog() const { return work / "debug.log"; }

  TestCertificates certificates;
  VsftpdPeer server;
  TempDir work;
};

TEST_F(VsftpdTest, UpDownAndSynchAreByteIdentical) {
  ASSERT_TRUE(StartServer("server")) << server.Problem();
  std::filesystem::create_directories(work / "out");
  std::filesystem::create_directories(work / "sync");
  const std::string synchronised = server.Pub() + "/s";
  std::filesystem::create_directories(synchronised);
  chmod(synchronised.c_str(), 0777);
  // Sizes that end in a part of a block and of a TLS record.
  const std::string up = RandomBytes(3 * 1024 * 1024 + 17);
  const std::string down = RandomBytes(1024 * 1024 + 5).substr(3);
  WriteFile(work / "out/up.bin", up);
  WriteFile(server.Pub() + "/down.bin", down);
  WriteFile(work / "sync/local.txt", "only here");
  WriteFile(synchronised + "/remote.txt", "only there");

  const Lines log =
      Run(Task({work / "out/up.bin, /pub/, UP, DELETE", "/pub/down.bin, " + work / "in, DOWN",
                work / "sync/, /pub/s/, SYNCH"}));
  EXPECT_EQ(ReadFile(server.Pub() + "/up.bin"), up);
  // Deleted once the server's SIZE matched.
  EXPECT_FALSE(PathExists(work / "out/up.bin"));
  EXPECT_EQ(ReadFile(work / "in/down.bin"), down);
  EXPECT_EQ(ReadFile(synchronised + "/local.txt"), "only here");
  EXPECT_EQ(ReadFile(work / "sync/remote.txt"), "only there");
  EXPECT_EQ(TransferCounts.FtpUploaded, 2);
  EXPECT_EQ(TransferCounts.FtpDownloaded, 2);
  for (const std::string& line : log) {
    EXPECT_EQ(line.find("failed"), std::string::npos) << line;
  }
  // TLS before anything else; the login only inside it.
  const Lines sent = SentCommands(DebugLog());
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(Lines(sent.begin(), sent.begin() + 4),
            (Lines{"AUTH TLS", "PBSZ 0", "PROT P", "USER anonymous"}));
}

TEST_F(VsftpdTest, FiftyUploadsInARowAreByteIdentical) {
  ASSERT_TRUE(StartServer("server")) << server.Problem();
  std::filesystem::create_directories(work / "out");
  // Sizes up to half a megabyte that end anywhere in a block and in a TLS
  // record, so that the send buffer fills in the middle of a record.
  Lines names;
  for (int i = 0; i < 50; ++i) {
    const std::size_t size = static_cast<std::size_t>((i % 9) * 61440 + (i * 4099) % 16411);
    const std::string name = "up" + std::to_string(100 + i) + ".bin";
    WriteFile(work / ("out/" + name), RandomBytes(size + i).substr(static_cast<std::size_t>(i)));
    names.push_back(name);
  }

  const Lines log = Run(Task({work / "out/*.bin, /pub/, UP"}));
  for (const std::string& name : names) {
    const std::string sent = ReadFile(work / ("out/" + name));
    const std::string received = ReadFile(server.Pub() + "/" + name);
    EXPECT_TRUE(received == sent) << name << ": " << received.size() << " of " << sent.size()
                                  << " bytes arrived";
  }
  EXPECT_EQ(TransferCounts.FtpUploaded, 50);
  for (const std::string& line : log) {
    EXPECT_EQ(line.find("failed"), std::string::npos) << line;
  }
}

TEST_F(VsftpdTest, UntrustedCertificateEndsTheLoginBeforeTheUserName) {
  ASSERT_TRUE(StartServer("stranger")) << server.Problem();
  WriteFile(server.Pub() + "/a.txt", "anyway");

  const Lines refused = Run(Task({"/pub/a.txt, " + work / "in, DOWN"}));
  EXPECT_EQ(refused, (Lines{"Processing task Secure", "Establishing connection",
                            "Connection established with 127.0.0.1",
                            "Certificate of 127.0.0.1 not trusted: IP address mismatch"}));
  EXPECT_EQ(SentCommands(DebugLog()), (Lines{"AUTH TLS"}));
  EXPECT_EQ(server.Log().find("USER"), std::string::npos) << server.Log();
  EXPECT_FALSE(PathExists(work / "in/a.txt"));

  // Told not to verify, the same server is used, and the log says so.
  FtpTask trusting = Task({"/pub/a.txt, " + work / "in, DOWN"});
  trusting.VERIFY = "no";
  const Lines accepted = Run(trusting);
  ASSERT_GE(accepted.size(), 2u);
  EXPECT_EQ(accepted[1], "Not verifying certificates for 127.0.0.1");
  EXPECT_EQ(ReadFile(work / "in/a.txt"), "anyway");
}

TEST_F(VsftpdTest, Ipv6ServerIsReachedWithEpsv) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback";
  ASSERT_TRUE(StartServer("server", "::1")) << server.Problem();
  const std::string data = RandomBytes(200000);
  WriteFile(server.Pub() + "/six.bin", data);

  const Lines log = Run(Task({"/pub/*.bin, " + work / "in, DOWN"}, "[::1]"));
  EXPECT_EQ(ReadFile(work / "in/six.bin"), data);
  EXPECT_TRUE(Contains(log, "Connection established with [::1]"));
  const Lines sent = SentCommands(DebugLog());
  EXPECT_TRUE(Contains(sent, "EPSV"));
  EXPECT_FALSE(Contains(sent, "PASV"));
}

}  // namespace

}  // namespace quorbit
