// A captured log stream for tests.
//
// While a LogCapture is alive, the library's log writes to an in-memory
// stream with the chosen level bits, class labels and stamp format, and the
// log has a lock (so records from several threads are serialised). The
// destructor puts back everything it found: stream, put-aside stream,
// levels, labels, stamp and lock.
#ifndef KELCORE_TESTS_SUPPORT_LOG_CAPTURE_H
#define KELCORE_TESTS_SUPPORT_LOG_CAPTURE_H

#include <sstream>
#include <string>
#include <vector>

class tPHYSYNCOBJ;

namespace kelcore_test {

// `text` split at line ends, without them ("\n", or "\r\n" as a text
// stream writes them on Windows); a final line end starts no empty line.
std::vector<std::string> SplitLines(const std::string &text);

class LogCapture {
 public:
  explicit LogCapture(unsigned int levels = 0xFFFFFFFFu, const char *labels = nullptr,
                      const char *stamp = nullptr);
  ~LogCapture();
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  std::ostringstream &Stream() { return stream_; }
  std::string Text() const { return stream_.str(); }
  // The text split at line ends (a final line end starts no empty line).
  std::vector<std::string> Lines() const;
  void Clear() { stream_.str(std::string()); }

 private:
  std::ostringstream stream_;
  std::string labels_;
  std::ostream *saved_log_;
  std::ostream *saved_stream_;
  unsigned int saved_levels_;
  const char *saved_labels_;
  bool had_stamp_;
  std::string saved_stamp_;
  tPHYSYNCOBJ *saved_sync_;
};

}  // namespace kelcore_test

#endif  // KELCORE_TESTS_SUPPORT_LOG_CAPTURE_H
