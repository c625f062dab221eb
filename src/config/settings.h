// The settings model: the sections and keys an INI file may hold, and what
// one INI file says: the [MAIN] settings and the two assignment tables.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/shorttext.h"

namespace quorbit {

// Packed record images, laid out exactly as the INI reader fills them. In the
// local paths (LOG, DEBUG_LOG, CA_FILE, LOCATION) every "\" is read as kPathSep.
#pragma pack(push, 1)
struct SettingsRecord {
  Str80 LOG;
  Str80 DEBUG_LOG;
  Str80 PROXY;
  Str80 CA_FILE;  // PEM certificates trusted for https beside the system's
};

struct HttpTask {
  Str80 NAME;
  Str80 URI;
  Str80 LOCATION;  // after loading: ends with kPathSep unless empty or full
  std::uint8_t LEVEL;
  std::uint8_t TRANSLATE;  // 1 = yes
  std::uint8_t IFMOD;
  std::uint8_t SHORTNAMES;
  std::uint16_t PORT;  // after loading: 443 for an https URI, else 80, unless given
  ShortStr<3> VERIFY;  // "NO" (any case): https certificates are not checked
};

constexpr std::size_t kTransferSlots = 255;

struct FtpTask {
  Str80 NAME;
  Str80 URI;
  Str80 USER;
  Str80 PASSWORD;
  std::uint16_t RETRY;
  std::uint16_t RETRY_DELAY;
  std::uint16_t LIST_DELAY;
  std::uint16_t PORT;
  Str255 TRANSFER[kTransferSlots];  // empty slots have no line
  std::uint8_t TLS;                 // 1 = explicit FTPS (AUTH TLS)
  ShortStr<3> VERIFY;               // "NO" (any case): certificates are not checked
};
#pragma pack(pop)

constexpr std::size_t kMaxTasks = 1024;

// Everything loaded from one INI file, handed to whatever needs it.
struct RunContext {
  SettingsRecord settings{};
  std::vector<std::unique_ptr<HttpTask>> httpTasks;  // at most kMaxTasks
  std::vector<std::unique_ptr<FtpTask>> ftpTasks;    // at most kMaxTasks
  // The name under which the INI file opened; empty when it could not be.
  std::string iniFile;
  // The TRANSFER slots of each FTP assignment whose lines were cut.
  std::map<const FtpTask*, std::bitset<kTransferSlots>> cutTransferLines;
};

// Whether the assignment's TRANSFER line in the slot was longer than an INI
// line may be and lost its end when it was loaded: what is left of it must
// not run as if it were the whole line.
bool TransferLineWasCut(const RunContext& context, const FtpTask& task, std::size_t slot);

// The assignment's URI names an https address.
bool IsHttpsUri(std::string_view uri);
// Certificates of the assignment's https servers are checked (VERIFY is not NO).
bool VerifiesCertificates(const HttpTask& task);
bool VerifiesCertificates(const FtpTask& task);

// The INI file loaded when the command line names none.
constexpr std::string_view kDefaultIniName = "QUORBIT.INI";

// Loads the INI file into context (emptied first). Opens name as written;
// when that fails, the default name is also tried in lower case, and a name
// without '.' with ".INI" and then ".ini" appended.
// -1: the file cannot be opened; N > 0: error on line N; 0: loaded.
std::int32_t LoadSettings(std::string_view name, RunContext& context);

}  // namespace quorbit
