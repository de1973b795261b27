// C streams used as files, each case in a child process with a time limit
// (a regression that loops fails instead of hanging the suite).
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#define KC_IO(f) _##f
#else
#define KC_IO(f) f
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

// About 20 KB of lines, some longer than a window of 512 bytes.
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
#else
  if (pipe(ends) != 0) return -1;
#endif
  if (KC_IO(dup2)(ends[fd == 0 ? 0 : 1], fd) < 0) return -1;
  KC_IO(close)(ends[fd == 0 ? 0 : 1]);
  return ends[fd == 0 ? 1 : 0];
}

bool WriteFd(int fd, const std::string &bytes) {
  return KC_IO(write)(fd, bytes.data(), static_cast<unsigned>(bytes.size())) ==
         static_cast<int>(bytes.size());
}

// Reads until the end, or until `want` bytes when `want` is not zero.
std::string ReadFd(int fd, size_t want = 0) {
  std::string out;
  char chunk[4096];
  while (want == 0 || out.size() < want) {
    auto n = KC_IO(read)(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    out.append(chunk, static_cast<size_t>(n));
  }
  return out;
}

// A file on a new C stream named `path`, with a window unless it is 0.
void Name(tFILE &f, const std::string &path, unsigned int window) {
  f.SetName(path.c_str());
  if (window) f.SetBuffer(window, nullptr);
}

// A text file over `phys`: 512 stands for the reference constructor's own
// window, 0 for none, others for a window of that size.
tTXTFILE *TextOver(tCSTREAM *phys, unsigned int window) {
  tTXTFILE *t = window == 512 ? new tTXTFILE(*phys, 1) : new tTXTFILE(phys, 1);
  if (window != 512 && window != 0) t->SetBuffer(window, nullptr);
  return t;
}

// The windows every case runs under: none, 4 KiB and 64 KiB.
const unsigned int kWindows[] = {0, 4096, 65536};

// Reading straight after writing and the reverse keep every byte.
int ReadAfterWrite(const std::string &dir) {
  for (unsigned int window : kWindows) {
    const std::string path = dir + "/rw" + std::to_string(window);
    {
      tFILE f(new tCSTREAM, 1);
      Name(f, path, window);
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
  }
  return 0;
}

// A short write under a size limit (kept on through destruction) reaches
// the caller: as a short count if asked for, else as EFBIG.
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
    Name(f, path, window);
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
  Name(g, dir + "/counted", 0);
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
  Name(t, path, 0);
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
  Name(i, ini, 0);
  char value[16];
  i.Get("s", "k", value, sizeof value - 1, "none");
  CHECK_OR(10, std::string(value) == "v");
  return 0;
}

// Bytes added after a read met the end (another writer, SetSize) are read.
int EndIsNotSticky(const std::string &dir) {
  for (unsigned int window : kWindows) {
    const std::string path = dir + "/grow" + std::to_string(window);
    CHECK_OR(1, kelcore_test::WriteWholeFile(path, "0123456789"));
    tFILE f(new tCSTREAM, 1);
    Name(f, path, window);
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

// A text file over redirected stdout, never opened, writes out when destroyed.
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

// stdin a pipe (one per reader): every line comes in order, then the end;
// the last error stays as it was and the pipe seeks only if unbuffered.
int StdinPipe(const std::string &) {
  const std::vector<std::string> lines = SomeLines();
  std::string text;
  for (const std::string &l : lines) text += l + "\r\n";
  text += "last without end";
  for (unsigned int window : {0u, 512u, 4096u, 65536u}) {
    int writer = PipeOnto(0);
    CHECK_OR(1, writer >= 0);
    CHECK_OR(2, WriteFd(writer, text));
    KC_IO(close)(writer);
    std::clearerr(stdin);
    SeekCountingStream *phys = new SeekCountingStream(stdin);
    tTXTFILE *in = TextOver(phys, window);
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

// stdout a pipe: lines written with and without a window all arrive.
int StdoutPipe(const std::string &) {
  const std::vector<std::string> lines = SomeLines();
  for (unsigned int window : {0u, 512u, 4096u, 65536u}) {
    std::fflush(stdout);
    int reader = PipeOnto(1);
    CHECK_OR(1, reader >= 0);
    std::string want;
    tTXTFILE *out = TextOver(new tCSTREAM(stdout), window);
    for (const std::string &l : lines) {
      CHECK_OR(2, out->WriteLine(l.c_str()) == 0);
      want += l + "\r\n";
    }
    out->Set16BitFlag(1);
    CHECK_OR(3, out->PutChar('A') == 0);  // not at the start: no mark
    want += std::string("A\0", 2);
    CHECK_OR(4, out->Flush(1) == 0 && out->Close() == 0);
    delete out;
    CHECK_OR(5, std::fflush(stdout) == 0);
    // Only the pipe's read end stays open: the reader sees its end.
#if defined(_WIN32)
    int keep = _open("NUL", _O_WRONLY);
#else
    int keep = open("/dev/null", O_WRONLY);
#endif
    KC_IO(dup2)(keep, 1);
    KC_IO(close)(keep);
    std::string got = ReadFd(reader);
    KC_IO(close)(reader);
    CHECK_OR(6, got == want);
  }
  return 0;
}

// stdout a raw pseudo-terminal: lines pass with and without a window.
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
    tTXTFILE *out = TextOver(new tCSTREAM(stdout), window ? 512 : 0);
    // Under 4 KiB in all: a terminal holds little.
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
  CHECK_OR(9, ReadFd(master, want.size()) == want);
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

struct NamedCase {
  const char *name;
  int (*run)(const std::string &dir);
};
const NamedCase kCases[] = {
    {"read_after_write", ReadAfterWrite},
    {"short_write", ShortWrite},
    {"end_of_file", EndOfFile},
    {"end_is_not_sticky", EndIsNotSticky},
    {"stdout_to_a_file", StdoutToFile},
    {"stdin_a_pipe", StdinPipe},
    {"stdout_a_pipe", StdoutPipe},
    {"stdout_a_terminal", StdoutTerminal},
    {"caller_window_after_output", CallerWindowAfterOutput},
};

KELCORE_CHILD_MAIN(cstream_case) {
  if (args.size() != 2) return 100;
  for (const NamedCase &c : kCases) {
    if (args[0] == c.name) return c.run(args[1]);
  }
  return 101;
}

std::vector<std::string> CaseNames() {
  std::vector<std::string> names;
  for (const NamedCase &c : kCases) names.push_back(c.name);
  return names;
}

class CStreamCases : public kelcore_test::TempDirTest,
                     public ::testing::WithParamInterface<std::string> {};

TEST_P(CStreamCases, InAChildWithinTwentySeconds) {
#if defined(_WIN32)
  if (GetParam() == "short_write") GTEST_SKIP() << "size limits are Linux's (RLIMIT_FSIZE)";
  if (GetParam() == "stdout_a_terminal") GTEST_SKIP() << "pseudo-terminals are Linux's";
#endif
  kelcore_test::ChildProcess child;
  ASSERT_TRUE(child.Start("cstream_case", {GetParam(), tmp.path()}));
  EXPECT_EQ(0, child.WaitFor(20000)) << "-2: it hung; otherwise the failing check";
}

INSTANTIATE_TEST_SUITE_P(Items, CStreamCases, ::testing::ValuesIn(CaseNames()),
                         [](const ::testing::TestParamInfo<std::string> &info) { return info.param; });

}  // namespace
