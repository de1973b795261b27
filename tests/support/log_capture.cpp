#include "tests/support/log_capture.h"

#include "kelcore/log/log_manager.h"
#include "kelcore/sync/lock.h"

namespace kelcore_test {

LogCapture::LogCapture(unsigned int levels, const char *labels, const char *stamp)
    : labels_(labels != nullptr ? labels : ""),
      saved_log_(tLOGMGR::pLogFile),
      saved_stream_(tLOGMGR::pStream),
      saved_levels_(tLOGMGR::LevelMask),
      saved_labels_(tLOGMGR::pClassNames),
      had_stamp_(tLOGMGR::pStampStr != nullptr),
      saved_stamp_(tLOGMGR::pStampStr != nullptr ? tLOGMGR::pStampStr : ""),
      saved_sync_(tLOGMGR::pSyncObj) {
  // Taken out without being destroyed; SetSyncObj in the destructor gives
  // it back and destroys ours.
  tLOGMGR::pSyncObj = new tINTRA_PROCESS_LOCK();
  tLOGMGR::SetStampFmt(stamp);
  tLOGMGR::pClassNames = labels != nullptr ? labels_.c_str() : nullptr;
  tLOGMGR::LevelMask = levels;
  tLOGMGR::pStream = nullptr;
  tLOGMGR::pLogFile = &stream_;
}

LogCapture::~LogCapture() {
  tLOGMGR::pLogFile = saved_log_;
  tLOGMGR::pStream = saved_stream_;
  tLOGMGR::LevelMask = saved_levels_;
  tLOGMGR::pClassNames = saved_labels_;
  tLOGMGR::SetStampFmt(had_stamp_ ? saved_stamp_.c_str() : nullptr);
  tLOGMGR::SetSyncObj(saved_sync_);
}

std::vector<std::string> SplitLines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> LogCapture::Lines() const { return SplitLines(stream_.str()); }

}  // namespace kelcore_test
