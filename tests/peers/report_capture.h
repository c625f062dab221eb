// Captures what the reporting shows and writes: the fake status display and
// a run log in a temporary directory, both installed for the lifetime of a
// ReportCapture.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "peers/fake_status_sink.h"
#include "peers/peers.h"
#include "report/runlog.h"

namespace quorbit {

class ReportCapture {
 public:
  ReportCapture() {
    SetStatusSink(&sink);
    RunLog::Open(dir / "run.log");
  }
  ~ReportCapture() {
    RunLog::Close();
    SetStatusSink(nullptr);
  }
  ReportCapture(const ReportCapture&) = delete;
  ReportCapture& operator=(const ReportCapture&) = delete;

  // The run log's texts after its banner.
  std::vector<std::string> LogLines() const {
    const std::vector<std::string> texts = LogFileTexts(dir / "run.log");
    const auto dashes = std::find(texts.begin(), texts.end(), std::string(60, '-'));
    if (dashes == texts.end()) return {};
    return {dashes + 1, texts.end()};
  }
  // The memo lines shown so far.
  std::vector<std::string> Memo() const { return sink.Memo(); }
  // Every other call: status lines, progress bar, byte counter and errors.
  std::vector<std::string> Display() const { return sink.Display(); }

  TempDir dir;
  FakeStatusSink sink;
};

}  // namespace quorbit
