#include "http/httpsession.h"

#include "http/headreader.h"

namespace quorbit {

HttpSession::HttpSession(std::string_view debugLogName) {
  connection.OpenDebugLog(debugLogName);
}

void HttpSession::Done() {
  if (done_) return;
  done_ = true;
  if (connection.Failed()) StatusEvent(HttpStatusEvent::Interrupted);
  connection.Done();
}

bool HttpSession::MayFollow(const WebUrl& /*target*/) {
  return true;
}

std::chrono::steady_clock::time_point HeaderDeadline(const HttpSession& session) {
  return std::chrono::steady_clock::now() + WholeSeconds(session.headerSeconds);
}

}  // namespace quorbit
