// C streams used as files, each case in a child process with a time limit
// (a regression that loops fails instead of hanging the suite): reading
// straight after writing, short writes under a real size limit, the end of
// a file on an unbuffered stream, bytes added after the end was met, text
// over pipes and redirected standard streams, and a window in the caller's
// memory on a stream that was already written to.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/os_error.h"
#include "kelcore/files/ini_file.h"
#include "kelcore/files/plain_file.h"
#include "kelcore/files/text_file.h"
#include "kelcore/msg/message.h"
#include "kelcore/physical/cstream/cstream_file.h"
#include "kelcore/sync/thread.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

typedef tFILEDEFS D;
const unsigned int RW = D::MODE_READWRITE;

// Each case returns 0 or the number of the check that failed.
#define CHECK_OR(n, cond) \
  do {                    \
    if (!(cond)) return (n); \
  } while (0)

std::string FileBytes(const std::string &path) {
  std::string bytes;
  kelcore_test::ReadWholeFile(path, &bytes);
  return bytes;
}

// Lines of many lengths, some longer than a window of 512 bytes: about
// 20 KB in all.
std::vector<std::string> SomeLines() {
  std::vector<std::string> lines;
  for (int i = 0; i < 120; ++i) lines.push_back(std::string((i * 37) % 300, static_cast<char>('a' + i % 26)));
  lines.push_back("");
  lines.push_back(std::string(1500, 'z'));
  return lines;
}

// The descriptor `fd` (0 or 1) becomes one end of a new pipe; the other
// end is returned (-1 on failure). Pipes get room for all of SomeLines.
int PipeOnto(int fd) {
  int ends[2];
#if defined(_WIN32)
  if (_pipe(ends, 1 << 18, _O_BINARY) != 0) return -1;
  if (_dup2(ends[fd == 0 ? 0 : 1], fd) != 0) return -1;
  _close(ends[fd == 0 ? 0 : 1]);
#else
  if (pipe(ends) != 0) return -1;
  if (dup2(ends[fd == 0 ? 0 : 1], fd) < 0) return -1;
  close(ends[fd == 0 ? 0 : 1]);
#endif
  return ends[fd == 0 ? 1 : 0];
}

bool WriteFd(int fd, const std::string &bytes) {
#if defined(_WIN32)
  return _write(fd, bytes.data(), static_cast<unsigned>(bytes.size())) == static_cast<int>(bytes.size());
#else
  return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
#endif
}

std::string ReadFdToEnd(int fd) {
  std::string out;
  char chunk[4096];
  for (;;) {
#if defined(_WIN32)
    int n = _read(fd, chunk, sizeof chunk);
#else
    ssize_t n = read(fd, chunk, sizeof chunk);
#endif
    if (n <= 0) break;
    out.append(chunk, static_cast<size_t>(n));
  }
  return out;
}

void CloseFd(int fd) {
#if defined(_WIN32)
  _close(fd);
#else
  close(fd);
#endif
}

// The windows every case runs under: none, 4 KiB and 64 KiB.
const unsigned int kWindows[] = {0, 4096, 65536};

// --- the cases -------------------------------------------------------------------

// Reading straight after writing, and writing straight after reading,
// sees and keeps every byte, with and without a window; transfers above
// 4 KiB included.
int ReadAfterWrite(const std::string &dir) {
  int check = 0;
  for (unsigned int window : kWindows) {
    const std::string path = dir + "/rw" + std::to_string(window);
    {
      tFILE f(new tCSTREAM, 1);
      f.SetName(path.c_str());
      if (window) f.SetBuffer(window, nullptr);
      char buf[5000];
      unsigned long got = 7;
      CHECK_OR(1, f.Create(RW, 1, 0666) == 0);
      CHECK_OR(2, f.Write("hello", 5, nullptr) == 0);
      CHECK_OR(3, f.Read(buf, sizeof buf, &got) == 0 && got == 0);
      CHECK_OR(4, f.Flush(1) == 0);
      CHECK_OR(5, f.Read(buf, 10, &got) == 0 && got == 0);
      CHECK_OR(6, f.Seek(0, nullptr) == 0 && f.Read(buf, 3, &got) == 0 && got == 3);
      CHECK_OR(7, std::memcmp(buf, "hel", 3) == 0);
      // Writing after reading: over "lo", then on past the end.
      std::string big(9000, 'x');
      CHECK_OR(8, f.Write(big.data(), big.size(), nullptr) == 0);
      CHECK_OR(9, f.Seek(1, nullptr) == 0 && f.Read(buf, sizeof buf, &got) == 0 && got == 5000);
      CHECK_OR(10, f.Write("END", 3, nullptr) == 0);
      CHECK_OR(11, f.Close() == 0);
    }
    std::string want = "hel" + std::string(9000, 'x');
    want.replace(5001, 3, "END");
    CHECK_OR(12, FileBytes(path) == want);
    ++check;
  }
  return 0;
}

// A short write under a size limit of 1000 bytes reaches the caller: as a
// short count when it asks for one, else as a failure with the system's
// reason (EFBIG), also when a window writes behind. The limit stays on
// while the files are destroyed. Linux only (RLIMIT_FSIZE).
int ShortWrite(const std::string &dir) {
#if defined(_WIN32)
  (void)dir;
  return 0;
#else
  std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = {1000, 1000};
  CHECK_OR(1, setrlimit(RLIMIT_FSIZE, &limit) == 0);
  std::string data(20000, 'w');
  for (unsigned int window : {0u, 65536u}) {
    const std::string path = dir + "/short" + std::to_string(window);
    tFILE f(new tCSTREAM, 1);
    f.SetName(path.c_str());
    if (window) f.SetBuffer(window, nullptr);
    CHECK_OR(2, f.Create(RW, 1, 0666) == 0);
    unsigned int status = f.Write(data.data(), data.size(), nullptr);
    if (window) {
      CHECK_OR(3, status == 0);  // in the window
      status = f.Flush(1);
    }
    CHECK_OR(4, status != 0);
    tMSG *why = tTHREAD::GetLastError();
    const tCATMSG *cat = dynamic_cast<const tCATMSG *>(why);
    CHECK_OR(5, cat != nullptr && cat->GetCatalog() == &kelfilesys::Catalog() && cat->GetMsgId() == 4);
    const tPARM_ERRNO *err = dynamic_cast<const tPARM_ERRNO *>(&(*why)[0]);
    CHECK_OR(6, err != nullptr && err->Value() == EFBIG);
    // A window keeps what it could not write, so closing fails too.
    if (window) CHECK_OR(7, f.Close() != 0);
  }
  // With a count, the count tells.
  tFILE g(new tCSTREAM, 1);
  g.SetName((dir + "/counted").c_str());
  unsigned long put = 0;
  CHECK_OR(8, g.Create(RW, 1, 0666) == 0);
  CHECK_OR(9, g.Write(data.data(), data.size(), &put) == 0 && put < data.size());
  return 0;
#endif
}

// Text and INI files on an unbuffered stream see the end of a small file.
int EndOfFile(const std::string &dir) {
  const std::string path = dir + "/six.txt";
  CHECK_OR(1, kelcore_test::WriteWholeFile(path, "ab\ncd\n"));
  tTXTFILE t(new tCSTREAM, 1);
  t.SetName(path.c_str());
  CHECK_OR(2, t.OpenExisting(1, 1) == 0);
  std::string chars;
  char c;
  unsigned int status;
  while ((status = t.GetChar(&c)) == 0 && chars.size() < 100) chars += c;
  CHECK_OR(3, status == 4 && chars == "ab\ncd\n");
  CHECK_OR(4, t.Rewind() == 0);
  char line[256];
  CHECK_OR(5, t.ReadLine(line, sizeof line) == 0 && std::string(line) == "ab");
  CHECK_OR(6, t.ReadLine(line, sizeof line) == 0 && std::string(line) == "cd");
  CHECK_OR(7, t.ReadLine(line, sizeof line) == 4);
  CHECK_OR(8, t.Close() == 0);
  const std::string ini = dir + "/small.ini";
  CHECK_OR(9, kelcore_test::WriteWholeFile(ini, "[s]\r\nk=v\r\n"));
  tINIFILE i(new tCSTREAM, 1);
  i.SetName(ini.c_str());
  char value[16];
  i.Get("s", "k", value, sizeof value - 1, "none");
  CHECK_OR(10, std::string(value) == "v");
  return 0;
}

// Bytes added after a read met the end, by another writer or by SetSize,
// are read.
int EndIsNotSticky(const std::string &dir) {
  for (unsigned int window : kWindows) {
    const std::string path = dir + "/grow" + std::to_string(window);
    CHECK_OR(1, kelcore_test::WriteWholeFile(path, "0123456789"));
    tFILE f(new tCSTREAM, 1);
    f.SetName(path.c_str());
    if (window) f.SetBuffer(window, nullptr);
    char buf[64];
    unsigned long got = 0;
    CHECK_OR(2, f.OpenExisting(RW, 1) == 0);
    CHECK_OR(3, f.Read(buf, sizeof buf, &got) == 0 && got == 10);
    CHECK_OR(4, f.Read(buf, sizeof buf, &got) == 0 && got == 0);
    std::FILE *other = std::fopen(path.c_str(), "ab");
    CHECK_OR(5, other != nullptr && std::fputs("abc", other) >= 0 && std::fclose(other) == 0);
    CHECK_OR(6, f.Read(buf, sizeof buf, &got) == 0 && got == 3 && std::memcmp(buf, "abc", 3) == 0);
    CHECK_OR(7, f.SetSize(20) == 0);
    CHECK_OR(8, f.Read(buf, sizeof buf, &got) == 0 && got == 7 && buf[0] == 0 && buf[6] == 0);
    CHECK_OR(9, f.SetSize(5) == 0 && f.Seek(0, nullptr) == 0);
    CHECK_OR(10, f.Read(buf, sizeof buf, &got) == 0 && got == 5);
    CHECK_OR(11, f.Close() == 0);
  }
  return 0;
}

// stdout redirected to a file: a text file over it, never opened, writes
// its window out when destroyed.
int StdoutToFile(const std::string &dir) {
  const std::string path = dir + "/out.txt";
  CHECK_OR(1, std::freopen(path.c_str(), "wb", stdout) != nullptr);
  {
    tTXTFILE out(*new tCSTREAM(stdout), 1);
    CHECK_OR(2, out.WriteLine("first line") == 0);
    CHECK_OR(3, out.WriteLine("second") == 0);
  }
  CHECK_OR(4, std::fflush(stdout) == 0);
  CHECK_OR(5, FileBytes(path) == "first line\r\nsecond\r\n");
  return 0;
}

// A C stream that counts the seeks asked of it.
struct SeekCountingStream : tCSTREAM {
  explicit SeekCountingStream(std::FILE *stream) : tCSTREAM(stream) {}
  unsigned int Seek(long distance, tFILEDEFS::eSEEKMODE from, unsigned long *newPos) {
    ++seeks;
    return tCSTREAM::Seek(distance, from, newPos);
  }
  int seeks = 0;
};

// stdin a pipe: every line comes, in order, unbuffered and with windows
// of 512 bytes (the reference constructor's), 4 KiB and 64 KiB; then the
// end. A window that is dropped keeps nothing it has read ahead, so each
// reader runs on a pipe of its own. Reading lines that arrive whole leaves
// the last error as it was, and the pipe is asked to seek at most once
// (unbuffered: whether it can).
int StdinPipe(const std::string &) {
  const std::vector<std::string> lines = SomeLines();
  std::string text;
  for (const std::string &l : lines) text += l + "\r\n";
  text += "last without end";
  for (unsigned int window : {0u, 512u, 4096u, 65536u}) {
    int writer = PipeOnto(0);
    CHECK_OR(1, writer >= 0);
    CHECK_OR(2, WriteFd(writer, text));
    CloseFd(writer);
    std::clearerr(stdin);
    SeekCountingStream *phys = new SeekCountingStream(stdin);
    tTXTFILE *in = window == 512 ? new tTXTFILE(*phys, 1) : new tTXTFILE(phys, 1);
    if (window != 512 && window != 0) in->SetBuffer(window, nullptr);
    tMSG *earlier = tOSERR::Make(4, 5);
    tTHREAD::SetLastError(earlier);
    std::vector<char> line(2000);
    int check = 10;
    for (const std::string &want : lines) {
      CHECK_OR(check, in->ReadLine(line.data(), 2000) == 0 && want == line.data());
      check = 11;
    }
    CHECK_OR(19, tTHREAD::GetLastError() == earlier);
    // The last line, then the end; a character at a time as well.
    char c;
    CHECK_OR(12, in->GetChar(&c) == 0 && c == 'l' && in->UngetChar(c) == 0);
    CHECK_OR(13, in->ReadLine(line.data(), 2000) == 0 && std::string("last without end") == line.data());
    CHECK_OR(17, tTHREAD::GetLastError() == earlier);
    CHECK_OR(18, phys->seeks == (window == 0 ? 1 : 0));
    CHECK_OR(14, in->ReadLine(line.data(), 2000) == 4);
    unsigned long lineNo = 0, pos = 0;
    CHECK_OR(15, in->GetLinePos(&lineNo, &pos) == 0 && pos == text.size());
    CHECK_OR(16, in->Close() == 0);
    delete in;
  }
  return 0;
}

// stdout a pipe: lines written with and without a window all arrive, and
// a 16-bit text file starts with its byte-order mark.
int StdoutPipe(const std::string &) {
  const std::vector<std::string> lines = SomeLines();
  for (unsigned int window : {0u, 512u, 4096u, 65536u}) {
    std::fflush(stdout);
    int reader = PipeOnto(1);
    CHECK_OR(1, reader >= 0);
    std::string want;
    {
      tCSTREAM *phys = new tCSTREAM(stdout);
      tTXTFILE *out = window == 512 ? new tTXTFILE(*phys, 1) : new tTXTFILE(phys, 1);
      if (window != 512 && window != 0) out->SetBuffer(window, nullptr);
      for (const std::string &l : lines) {
        CHECK_OR(2, out->WriteLine(l.c_str()) == 0);
        want += l + "\r\n";
      }
      out->Set16BitFlag(1);
      CHECK_OR(3, out->PutChar('A') == 0);  // not at the start: no mark
      want += std::string("A\0", 2);
      CHECK_OR(4, out->Flush(1) == 0 && out->Close() == 0);
      delete out;
    }
    CHECK_OR(5, std::fflush(stdout) == 0);
    // Only the pipe's read end stays open: the reader sees its end.
#if defined(_WIN32)
    int keep = _open("NUL", _O_WRONLY);
    _dup2(keep, 1);
    _close(keep);
#else
    int keep = open("/dev/null", O_WRONLY);
    dup2(keep, 1);
    close(keep);
#endif
    std::string got = ReadFdToEnd(reader);
    CloseFd(reader);
    CHECK_OR(6, got == want);
  }
  return 0;
}

// stdout a terminal (Linux: a pseudo-terminal in raw mode, so that the
// bytes pass unchanged): a text file writes its lines with the default
// window and without one.
int StdoutTerminal(const std::string &) {
#if defined(_WIN32)
  return 0;
#else
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  CHECK_OR(1, master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  CHECK_OR(2, slave >= 0);
  struct termios raw;
  CHECK_OR(3, tcgetattr(slave, &raw) == 0);
  cfmakeraw(&raw);
  CHECK_OR(4, tcsetattr(slave, TCSANOW, &raw) == 0);
  CHECK_OR(5, std::fflush(stdout) == 0 && dup2(slave, 1) == 1);
  close(slave);
  std::string want;
  for (int window = 0; window < 2; ++window) {
    tCSTREAM *phys = new tCSTREAM(stdout);
    tTXTFILE *out = window ? new tTXTFILE(*phys, 1) : new tTXTFILE(phys, 1);
    // Under 4 KiB in all: nothing reads the terminal until the end, and a
    // terminal holds little.
    for (int i = 0; i < 20; ++i) {
      std::string line = std::to_string(window) + ":" + std::string(i * 5, 't');
      CHECK_OR(6, out->WriteLine(line.c_str()) == 0);
      want += line + "\r\n";
    }
    unsigned long line = 0, pos = 0;
    CHECK_OR(7, out->GetLinePos(&line, &pos) == 0 && line == 20);
    delete out;
  }
  CHECK_OR(8, std::fflush(stdout) == 0);
  std::string got;
  char chunk[4096];
  while (got.size() < want.size()) {
    ssize_t n = read(master, chunk, sizeof chunk);
    if (n <= 0) break;
    got.append(chunk, static_cast<size_t>(n));
  }
  CHECK_OR(9, got == want);
  return 0;
#endif
}

// A window in the caller's memory on a stream already written to starts
// where the stream stands.
int CallerWindowAfterOutput(const std::string &dir) {
  const std::string path = dir + "/body.txt";
  CHECK_OR(1, std::freopen(path.c_str(), "wb", stdout) != nullptr);
  std::printf("header line");
  static char memory[256];
  {
    tFILE f(new tCSTREAM(stdout), 1);
    f.SetBuffer(sizeof memory, memory);
    CHECK_OR(2, f.Write("BODY\n", 5, nullptr) == 0);
    CHECK_OR(3, f.Close() == 0);
  }
  CHECK_OR(4, std::fflush(stdout) == 0);
  CHECK_OR(5, FileBytes(path) == "header lineBODY\n");
  return 0;
}

typedef int (*Case)(const std::string &dir);
const std::map<std::string, Case> &Cases() {
  static const std::map<std::string, Case> cases = {
      {"read after write", ReadAfterWrite},
      {"short write", ShortWrite},
      {"end of file", EndOfFile},
      {"end is not sticky", EndIsNotSticky},
      {"stdout to a file", StdoutToFile},
      {"stdin a pipe", StdinPipe},
      {"stdout a pipe", StdoutPipe},
      {"stdout a terminal", StdoutTerminal},
      {"caller window after output", CallerWindowAfterOutput},
  };
  return cases;
}

KELCORE_CHILD_MAIN(cstream_case) {
  if (args.size() != 2) return 100;
  auto it = Cases().find(args[0]);
  return it == Cases().end() ? 101 : it->second(args[1]);
}

class CStreamCases : public kelcore_test::TempDirTest,
                     public ::testing::WithParamInterface<std::string> {};

TEST_P(CStreamCases, InAChildWithinTwentySeconds) {
#if defined(_WIN32)
  if (GetParam() == "short write") GTEST_SKIP() << "size limits are Linux's (RLIMIT_FSIZE)";
  if (GetParam() == "stdout a terminal") GTEST_SKIP() << "pseudo-terminals are Linux's";
#endif
  kelcore_test::ChildProcess child;
  ASSERT_TRUE(child.Start("cstream_case", {GetParam(), tmp.path()}));
  EXPECT_EQ(0, child.WaitFor(20000)) << "-2: it hung; otherwise the failing check";
}

INSTANTIATE_TEST_SUITE_P(Items, CStreamCases,
                         ::testing::Values("read after write", "short write", "end of file",
                                           "end is not sticky", "stdout to a file", "stdin a pipe",
                                           "stdout a pipe", "stdout a terminal",
                                           "caller window after output"),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                           std::string n = info.param;
                           for (char &c : n) {
                             if (c == ' ') c = '_';
                           }
                           return n;
                         });

}  // namespace
