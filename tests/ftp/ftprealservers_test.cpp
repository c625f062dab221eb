// Whole assignments against the FTP servers most used as they come: vsftpd
// (LIST only), proftpd and pure-ftpd (MLSD), plain and over explicit TLS,
// with a tree of ordinary but awkward names: blanks inside and in front, %,
// ;, UTF-8 and a symbolic link. Each row of the table says which server, how
// it is reached, which way the files go and how the mask is spelt; every row
// must move the whole tree, and lftp's "mget *" on the same server is the
// reference for a download.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "config/settings.h"
#include "ftp/ftptask.h"
#include "peers/ftppeers.h"
#include "peers/report_capture.h"
#include "report/transfercounts.h"

namespace quorbit {

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Tree = std::map<std::string, std::string>;  // name -> content

// Sizes all differ, and none is 9, the length of the link's target path
// that a listing gives as the link's size.
const Tree kFiles = {
    {"notes for the team.txt", "notes, read them\n"},
    {"  lead.txt", "two blanks lead\n"},
    {"100%.txt", "a hundred\n"},
    {"semi;colon.txt", "semicolon here\n"},
    {"\xC3\xBCn\xC3\xAF"
     "code.txt",
     "non-ASCII name, UTF-8 bytes\n"},
    {"plain.txt", "plain text only\n"},
};
constexpr const char* kLink = "current";
constexpr const char* kLinkTarget = "plain.txt";

// The tree as a client must store it: the link as a file of its target's content.
Tree Fetched(const Tree& files) {
  Tree tree = files;
  if (files.contains(kLinkTarget)) tree[kLink] = files.at(kLinkTarget);
  return tree;
}

// Writes the files and the link current -> plain.txt into directory.
void PlantTree(const std::string& directory, const Tree& files, bool withLink) {
  fs::create_directories(directory);
  for (const auto& [name, content] : files)
    WriteFile((fs::path(directory) / name).string(), content);
  if (withLink) fs::create_symlink(kLinkTarget, fs::path(directory) / kLink);
}

// The ordinary files of a directory (links followed) with their contents.
Tree TreeIn(const std::string& directory) {
  Tree tree;
  std::error_code ec;
  for (auto it = fs::directory_iterator(directory, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file()) tree[it->path().filename().string()] = ReadFile(it->path());
  }
  return tree;
}

// pure-ftpd, on purpose, stores a name sent with leading blanks with a "_"
// for each of them (a name of blanks would hide a file; lftp's mput gets the
// same): the tree as the server keeps an upload.
Tree StoredBy(FtpServerKind server, const Tree& sent) {
  if (server != FtpServerKind::PureFtpd) return sent;
  Tree stored;
  for (const auto& [name, content] : sent) {
    std::string kept = name;
    for (char& c : kept) {
      if (c != ' ') break;
      c = '_';
    }
    stored[kept] = content;
  }
  return stored;
}

bool IsLink(const std::string& path) {
  std::error_code ec;
  return fs::is_symlink(fs::symlink_status(path, ec));
}

std::string Joined(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n  " + line;
  return text;
}

// Lines that say something went wrong or was left out.
Lines Complaints(const Lines& log) {
  Lines complaints;
  for (const std::string& line : log) {
    for (const char* word : {"fail", "Fail", "Unable", "Not ", "not ", "limit", "cut"}) {
      if (line.find(word) != std::string::npos) {
        complaints.push_back(line);
        break;
      }
    }
  }
  return complaints;
}

enum class Direction { Up, Down, Synch };

struct Row {
  FtpServerKind server;
  bool tls;
  Direction direction;
  std::string mask;  // "*" or "*.*"; SYNCH names whole directories
};

// "proftpd_Tls_Down_StarDotStar": server, how reached, direction, mask.
std::string Describe(const Row& row) {
  std::string name = FtpServerName(row.server);
  std::erase(name, '-');
  name += row.tls ? "_Tls" : "_Plain";
  switch (row.direction) {
    case Direction::Up:
      name += "_Up";
      break;
    case Direction::Down:
      name += "_Down";
      break;
    case Direction::Synch:
      return name + "_SynchTwice";
  }
  return name + (row.mask == "*" ? "_Star" : "_StarDotStar");
}

void PrintTo(const Row& row, std::ostream* out) {
  *out << Describe(row);
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
  return Describe(info.param);
}

std::vector<Row> AllRows() {
  std::vector<Row> rows;
  for (FtpServerKind server :
       {FtpServerKind::Vsftpd, FtpServerKind::Proftpd, FtpServerKind::PureFtpd}) {
    for (bool tls : {false, true}) {
      for (const char* mask : {"*", "*.*"}) {
        rows.push_back({server, tls, Direction::Down, mask});
        rows.push_back({server, tls, Direction::Up, mask});
      }
      rows.push_back({server, tls, Direction::Synch, ""});
    }
  }
  return rows;
}

class RealServerTable : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    if (GetParam().tls) {
      ASSERT_TRUE(certificates.Make()) << certificates.Problem();
    }
    // A server that cannot be started fails the row: the suite brings them all.
    ASSERT_TRUE(GetParam().tls
                    ? server.Start(certificates.File("server.pem"), certificates.File("server.key"))
                    : server.Start())
        << FtpServerName(GetParam().server) << ": " << server.Problem();
  }
  void TearDown() override {
    if (HasFailure()) {
      std::cerr << "debug log:\n" << ReadFile(work / "debug.log").substr(0, 12000) << "\n";
    }
    ClearTransferCounts();
  }

  FtpTask Task(const std::string& transfer) const {
    FtpTask task{};
    task.NAME = "Real";
    task.URI = "127.0.0.1";
    task.USER = server.User();
    task.PASSWORD = server.Password();
    task.PORT = static_cast<std::uint16_t>(server.Port());
    task.RETRY = 1;
    task.RETRY_DELAY = 1;
    task.LIST_DELAY = 5;
    task.TLS = GetParam().tls ? 1 : 0;
    task.TRANSFER[0] = transfer;
    return task;
  }

  // Runs the assignment (the test CA trusted); the run log's lines.
  Lines Run(const std::string& transfer) {
    ClearTransferCounts();
    RunContext context;
    if (GetParam().tls) context.settings.CA_FILE = certificates.File("ca.pem");
    context.settings.DEBUG_LOG = work / "debug.log";
    ReportCapture capture;
    RunFtpTask(Task(transfer), context);
    return capture.LogLines();
  }

  // lftp's "mget *" of the remote directory into local; what it stored.
  Tree LftpMget(const std::string& remote, const std::string& local) {
    fs::create_directories(local);
    const std::string tls = GetParam().tls
                                ? "set ftp:ssl-force true; set ftp:ssl-protect-data true; "
                                  "set ftp:ssl-allow-anonymous true; set ssl:ca-file " +
                                      certificates.File("ca.pem") + "; "
                                : "set ftp:ssl-allow no; ";
    const std::string password = server.Password().empty() ? "x" : server.Password();
    const ProgramRun run = RunProgram(
        {"lftp", "-c",
         "set cmd:interactive false; set net:max-retries 1; set net:timeout 10; " + tls +
             "open -u " + server.User() + "," + password + " -p " + std::to_string(server.Port()) +
             " 127.0.0.1; cd " + remote + "; mget -O " + local + " *"},
        work.Path(), 60, {"HOME=" + work.Path()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return TreeIn(local);
  }

  TestCertificates certificates;
  RealFtpServer server{GetParam().server};
  TempDir work;
};

TEST_P(RealServerTable, MovesTheWholeAwkwardTree) {
  const Row& row = GetParam();
  const Tree everything = Fetched(kFiles);
  switch (row.direction) {
    case Direction::Down: {
      PlantTree(server.MakePubDirectory("t"), kFiles, true);
      // The reference: if lftp does not get the tree, the server is set up wrong.
      ASSERT_EQ(LftpMget("/pub/t", work / "lftp"), everything);
      const Lines log = Run("/pub/t/" + row.mask + ", " + work / "in" + ", DOWN");
      EXPECT_EQ(TreeIn(work / "in"), everything) << Joined(log);
      EXPECT_FALSE(IsLink(work / "in/current"));
      EXPECT_EQ(TransferCounts.FtpDownloaded, static_cast<int>(everything.size()));
      EXPECT_EQ(Complaints(log), Lines{});
      break;
    }
    case Direction::Up: {
      PlantTree(work / "t", kFiles, true);
      const std::string up = server.MakePubDirectory("up");
      const Lines log = Run(work / "t" + "/" + row.mask + ", /pub/up/, UP");
      EXPECT_EQ(TreeIn(up), StoredBy(row.server, everything)) << Joined(log);
      EXPECT_EQ(TransferCounts.FtpUploaded, static_cast<int>(everything.size()));
      EXPECT_EQ(Complaints(log), Lines{});
      break;
    }
    case Direction::Synch: {
      // Three files only here, three and the link only there; a name with
      // leading blanks only there on pure-ftpd, which would store it under
      // another name, so that the second run would upload it again.
      Tree local, remote;
      for (const auto& [name, content] : kFiles) {
        const bool leadingBlank = name[0] == ' ';
        const bool here =
            name[0] == '1' || (name.find(' ') != std::string::npos &&
                               !(leadingBlank && row.server == FtpServerKind::PureFtpd));
        (here ? local : remote)[name] = content;
      }
      PlantTree(work / "s", local, false);
      const std::string there = server.MakePubDirectory("s");
      PlantTree(there, remote, true);
      const std::string transfer = work / "s" + "/, /pub/s/, SYNCH";

      const Lines first = Run(transfer);
      EXPECT_EQ(TreeIn(work / "s"), everything) << Joined(first);
      EXPECT_EQ(TreeIn(there), everything);
      EXPECT_EQ(TransferCounts.FtpUploaded, static_cast<int>(local.size()));
      EXPECT_EQ(TransferCounts.FtpDownloaded, static_cast<int>(everything.size() - local.size()));
      EXPECT_EQ(Complaints(first), Lines{});

      // Both sides hold the same: the second run moves nothing, and the
      // server's link stays a link.
      const Lines second = Run(transfer);
      EXPECT_EQ(TransferCounts.FtpUploaded, 0) << Joined(second);
      EXPECT_EQ(TransferCounts.FtpDownloaded, 0);
      EXPECT_EQ(TreeIn(work / "s"), everything);
      EXPECT_EQ(TreeIn(there), everything);
      EXPECT_TRUE(IsLink(there + "/" + kLink));
      EXPECT_EQ(Complaints(second), Lines{});
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerTable, ::testing::ValuesIn(AllRows()), RowName);

}  // namespace

}  // namespace quorbit
