#include "config/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "peers/peers.h"
#include "util/localpaths.h"

namespace quorbit {

namespace {

// Packed 16-bit fields are compared by value (unary +): a reference to one
// would be misaligned.
class SettingsTest : public ::testing::Test {
 protected:
  std::int32_t Load(const std::string& content) {
    WriteFile(path, content);
    return LoadSettings(path, loaded);
  }

  RunContext loaded;
  TempDir dir;
  std::string path = dir / "quorbit.ini";
};

const char kHttp[] = "[HTTP]\r\nNAME=site\r\nURI=http://host/\r\n[END]\r\n";

TEST_F(SettingsTest, HttpDefaults) {
  const std::string full(80, 'p');
  ASSERT_EQ(Load(std::string(kHttp) +
                 "[HTTP]\r\nLEVEL=3\r\nPORT=8080\r\nTRANSLATE=yes\r\nSHORTNAMES=YES\r\n"
                 "LOCATION=C:\\PAGES\r\n[END]\r\n"
                 "[HTTP]\r\nLEVEL=256\r\nPORT=65617\r\nLOCATION=pages\\sub\\\r\n[END]\r\n"
                 "[HTTP]\r\nLOCATION=" +
                 full +
                 "\r\n[END]\r\n"
                 "[HTTP]\r\nURI=HTTPS://host/\r\nVERIFY=no\r\n[END]\r\n"
                 "[HTTP]\r\nURI=https://host/\r\nPORT=8443\r\n[END]\r\n"),
            0);
  ASSERT_EQ(loaded.httpTasks.size(), 6u);
  const HttpTask& plain = *loaded.httpTasks[0];
  EXPECT_EQ(plain.URI, "http://host/");
  EXPECT_EQ(plain.LEVEL, 1);
  EXPECT_EQ(+plain.PORT, 80);
  EXPECT_EQ(plain.TRANSLATE + plain.IFMOD + plain.SHORTNAMES, 0);
  EXPECT_EQ(plain.LOCATION, "");
  const HttpTask& given = *loaded.httpTasks[1];
  EXPECT_EQ(given.LEVEL, 3);
  EXPECT_EQ(+given.PORT, 8080);
  EXPECT_EQ(given.TRANSLATE + given.SHORTNAMES, 2);
  EXPECT_EQ(given.LOCATION, NativePath("C:/PAGES/"));
  EXPECT_EQ(loaded.httpTasks[2]->LEVEL, 1);   // 256 keeps 0, which means 1
  EXPECT_EQ(+loaded.httpTasks[2]->PORT, 81);  // 65617 keeps 81
  EXPECT_EQ(loaded.httpTasks[2]->LOCATION, NativePath("pages/sub/"));
  EXPECT_EQ(loaded.httpTasks[3]->LOCATION.View(), full);  // no room for the separator
  EXPECT_TRUE(VerifiesCertificates(plain));
  EXPECT_EQ(+loaded.httpTasks[4]->PORT, 443);
  EXPECT_FALSE(VerifiesCertificates(*loaded.httpTasks[4]));
  EXPECT_EQ(+loaded.httpTasks[5]->PORT, 8443);
  EXPECT_TRUE(VerifiesCertificates(*loaded.httpTasks[5]));
}

TEST_F(SettingsTest, FtpDefaultsAndTransferSlots) {
  std::string transfers;
  for (int i = 1; i <= 256; ++i) transfers += "TRANSFER=line " + std::to_string(i) + "\r\n";
  ASSERT_EQ(Load("[FTP]\r\nURI=ftp.example\r\nPASSWORD= p=w \r\n" + transfers +
                 "[END]\r\n[FTP]\r\nPORT=2121\r\nRETRY=3\r\nRETRY_DELAY=$10\r\nLIST_DELAY=5\r\n"
                 "TRANSFER=only\r\nTLS=yes\r\nVERIFY=No\r\n[END]\r\n"),
            0);
  ASSERT_EQ(loaded.ftpTasks.size(), 2u);
  const FtpTask& many = *loaded.ftpTasks[0];
  EXPECT_EQ(many.PASSWORD, "p=w");
  EXPECT_EQ(+many.PORT, 21);
  EXPECT_EQ(many.RETRY + many.RETRY_DELAY + many.LIST_DELAY, 0);
  EXPECT_EQ(many.TRANSFER[0], "line 1");
  EXPECT_EQ(many.TRANSFER[kTransferSlots - 1], "line 255");
  const FtpTask& one = *loaded.ftpTasks[1];
  EXPECT_EQ(+one.PORT, 2121);
  EXPECT_EQ(one.RETRY * 10000 + one.RETRY_DELAY * 100 + one.LIST_DELAY, 31605);
  EXPECT_EQ(one.TRANSFER[0], "only");
  EXPECT_EQ(one.TRANSFER[1], "");
  EXPECT_EQ(many.TLS, 0);
  EXPECT_TRUE(VerifiesCertificates(many));
  EXPECT_EQ(one.TLS, 1);
  EXPECT_FALSE(VerifiesCertificates(one));
  EXPECT_FALSE(TransferLineWasCut(loaded, many, 0));
}

TEST_F(SettingsTest, CutTransferLinesAreKnownBySlot) {
  const std::string longLine = "TRANSFER=a, b, DOWN, " + std::string(240, ' ') + "DELETE\r\n";
  ASSERT_EQ(Load("[FTP]\r\nTRANSFER=first\r\n" + longLine +
                 "TRANSFER=third\r\n[END]\r\n"
                 "[FTP]\r\nTRANSFER=x\r\n[END]\r\n"),
            0);
  ASSERT_EQ(loaded.ftpTasks.size(), 2u);
  EXPECT_FALSE(TransferLineWasCut(loaded, *loaded.ftpTasks[0], 0));
  EXPECT_TRUE(TransferLineWasCut(loaded, *loaded.ftpTasks[0], 1));
  EXPECT_FALSE(TransferLineWasCut(loaded, *loaded.ftpTasks[0], 2));
  EXPECT_FALSE(TransferLineWasCut(loaded, *loaded.ftpTasks[1], 1));
  const FtpTask unloaded{};
  EXPECT_FALSE(TransferLineWasCut(loaded, unloaded, 1));
}

TEST_F(SettingsTest, SectionsAreToldByTheirHeader) {
  ASSERT_EQ(Load("[MAIN]\r\nLOG=logs\\run.log\r\nDEBUG_LOG=logs\\debug.log\r\nPROXY=p:1\r\n"
                 "[END]\r\n[FILES]\r\nPORT=not a number\r\n[END]\r\n[http]\r\nNAME=one\r\n"
                 "NAME=two\r\n[END]\r\n[ Ftp ]\r\nNAME=f\r\n[END]\r\n"),
            0);
  EXPECT_EQ(loaded.settings.LOG, NativePath("logs/run.log"));
  EXPECT_EQ(loaded.settings.DEBUG_LOG, NativePath("logs/debug.log"));
  EXPECT_EQ(loaded.settings.PROXY, "p:1");
  ASSERT_EQ(loaded.httpTasks.size(), 1u);
  EXPECT_EQ(loaded.httpTasks[0]->NAME, "one");
  ASSERT_EQ(loaded.ftpTasks.size(), 1u);
  EXPECT_EQ(loaded.ftpTasks[0]->NAME, "f");

  // A second [MAIN] replaces all of the first.
  ASSERT_EQ(Load("[MAIN]\r\nLOG=a.log\r\nPROXY=p:1\r\n[END]\r\n[MAIN]\r\nLOG=b.log\r\n[END]\r\n"),
            0);
  EXPECT_EQ(loaded.settings.LOG, "b.log");
  EXPECT_EQ(loaded.settings.PROXY, "");
}

TEST_F(SettingsTest, AnErrorReturnsItsLineAndKeepsOnlyTheSectionsBefore) {
  // Lines 1-4 and 5-8 are two good sections; line 12 is in the third.
  ASSERT_EQ(Load(std::string(kHttp) + kHttp + "[HTTP]\r\nNAME=third\r\n\r\nLEVEL=one\r\n[END]\r\n" +
                 "[FTP]\r\n[END]\r\n"),
            12);
  EXPECT_EQ(loaded.httpTasks.size(), 2u);
  EXPECT_TRUE(loaded.ftpTasks.empty());
  EXPECT_EQ(Load("[MAIN]\r\nLOG=x\r\n[FTP]\r\nRETRY=1\r\n"), 4);  // no [END] at all
}

TEST_F(SettingsTest, LineEndsOfAnyKindGiveTheSameSettings) {
  const char* lines[] = {"[MAIN]", "LOG=run.log", "[END]",        "[HTTP]",       "LEVEL=2",
                         "[END]",  "[FTP]",       "TRANSFER=get", "TRANSFER=put", "[END]"};
  std::vector<HttpTask> http;
  std::vector<FtpTask> ftp;
  for (std::string eol : {"\r\n", "\n", "\r"}) {
    std::string file;
    for (const char* line : lines) file += line + eol;
    ASSERT_EQ(Load(file), 0);
    ASSERT_EQ(loaded.httpTasks.size() + loaded.ftpTasks.size(), 2u);
    EXPECT_EQ(loaded.settings.LOG, "run.log");
    http.push_back(*loaded.httpTasks[0]);
    ftp.push_back(*loaded.ftpTasks[0]);
  }
  EXPECT_EQ(http[0].LEVEL, 2);
  EXPECT_EQ(ftp[0].TRANSFER[1], "put");
  for (std::size_t i = 1; i < http.size(); ++i) {
    EXPECT_EQ(std::memcmp(&http[0], &http[i], sizeof(HttpTask)), 0);
    EXPECT_EQ(std::memcmp(&ftp[0], &ftp[i], sizeof(FtpTask)), 0);
  }
}

TEST_F(SettingsTest, MoreSectionsThanTheTableHoldsAreCheckedButNotKept) {
  std::string file;
  for (std::size_t i = 0; i <= kMaxTasks; ++i)
    file += "[HTTP]\nNAME=" + std::to_string(i) + "\n[END]\n";
  ASSERT_EQ(Load(file), 0);
  ASSERT_EQ(loaded.httpTasks.size(), kMaxTasks);
  EXPECT_EQ(loaded.httpTasks.back()->NAME, std::to_string(kMaxTasks - 1));
  EXPECT_EQ(Load(file + "[HTTP]\nLEVEL=bad\n[END]\n"),
            static_cast<std::int32_t>(3 * kMaxTasks + 5));
}

TEST_F(SettingsTest, FileNameSearch) {
  InDirectory inside(dir.Path());
  EXPECT_EQ(LoadSettings(kDefaultIniName, loaded), -1);
  WriteFile(dir / "quorbit.ini", kHttp);
  EXPECT_EQ(LoadSettings(kDefaultIniName, loaded), 0);  // the default also in lower case
  // Where names ignore case the name as given opens the file.
  EXPECT_EQ(loaded.iniFile, kNamesIgnoreCase ? "QUORBIT.INI" : "quorbit.ini");
  EXPECT_EQ(loaded.httpTasks.size(), 1u);
  EXPECT_EQ(LoadSettings("QUORBIT", loaded),
            kNamesIgnoreCase ? 0 : -1);  // else names keep their case

  WriteFile(dir / "TASKS.INI", kHttp);
  WriteFile(dir / "TASKS.CFG.INI", kHttp);
  WriteFile(dir / "lower.ini", kHttp);
  EXPECT_EQ(LoadSettings("TASKS", loaded), 0);
  EXPECT_EQ(loaded.iniFile, "TASKS.INI");  // the file that opened, for what it guards
  EXPECT_EQ(LoadSettings("lower", loaded), 0);
  EXPECT_EQ(loaded.iniFile, kNamesIgnoreCase ? "lower.INI" : "lower.ini");
  EXPECT_EQ(LoadSettings("LOWER", loaded), kNamesIgnoreCase ? 0 : -1);
  EXPECT_EQ(LoadSettings("TASKS.CFG", loaded), -1);
  EXPECT_TRUE(loaded.iniFile.empty());
  EXPECT_TRUE(loaded.httpTasks.empty());
}

}  // namespace

}  // namespace quorbit
