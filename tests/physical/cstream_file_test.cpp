// C-stream files: one table of logical-file scenarios run over both back
// ends, what the C-stream back end adds (standard streams, borrowed and
// owned streams, the do-nothing facets), and what its failures report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/os_error.h"
#include "kelcore/files/logical_file.h"
#include "kelcore/msg/message.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/physical/cstream/cstream_file.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/thread.h"
#include "kelcore/time/datetime.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

typedef tFILEDEFS D;
const unsigned int R = D::MODE_READ, W = D::MODE_WRITE, RW = D::MODE_READWRITE, kFail = 0xFFFFFFFFu;

void ClearLast() { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }

// The last error as (catalog is CStream, message number, errno, names).
std::tuple<bool, unsigned int, int, std::vector<std::string>> LastCStreamError() {
  tMSG *msg = tTHREAD::GetLastError();
  const tCATMSG *cat = dynamic_cast<const tCATMSG *>(msg);
  if (cat == nullptr) return std::make_tuple(false, 0u, 0, std::vector<std::string>());
  int err = 0;
  std::vector<std::string> names;
  for (unsigned int i = 0; i < msg->NumParms(); ++i) {
    if (auto *e = dynamic_cast<const tPARM_ERRNO *>(&(*msg)[i])) err = e->Value();
    if (auto *n = dynamic_cast<const tPARM_FILENAME *>(&(*msg)[i])) names.push_back(n->Value());
  }
  return std::make_tuple(cat->GetCatalog() == &kelcstream::Catalog() && cat->GetSetId() == 0,
                         cat->GetMsgId(), err, names);
}

// --- one table, both back ends -------------------------------------------------

// A scenario works on a logical file named `path` (not open, the file
// holding "0123456789") and writes what it sees, one token per step, to
// `out`; `<<` runs the steps from left to right. Files are created with
// the permission word 0666, which both back ends read as writable (0 does
// not: the operating-system back end makes such a file read-only). Rename
// differs by design (a bare name, or any path) and is tested per back end.
struct Out {
  std::string text;
  Out &operator<<(const std::string &token) {
    text += (text.empty() ? "" : " ") + token;
    return *this;
  }
};

std::string St(unsigned int status) { return status == kFail ? "F" : std::to_string(status); }

// A call's status and the value it gave, as "status:value"; by reference,
// so that the value is read after the call.
template <typename T>
std::string StV(unsigned int status, const T &value) {
  return St(status) + ":" + std::to_string(value);
}

std::string ReadAll(tLOGICAL_FILE &f, unsigned long n) {
  std::string bytes(n, '\0');
  unsigned long got = 0;
  unsigned int s = f.Read(&bytes[0], n, &got);
  bytes.resize(got);
  return St(s) + ":" + bytes;
}

struct Scenario {
  const char *name;
  void (*run)(tLOGICAL_FILE &f, const std::string &path, Out &out);
  const char *want;
};

unsigned long ul;
int exists;

const Scenario kScenarios[] = {
    {"open forms on a missing file",
     [](tLOGICAL_FILE &f, const std::string &path, Out &out) {
       f.SetName((path + ".none").c_str());
       out << St(f.OpenExisting(R, 1)) << St(f.OpenAlways(RW, 1, 0666)) << St(f.Close())
           << St(f.CreateNew(RW, 1, 0666)) << St(f.Delete()) << St(f.CreateNew(RW, 1, 0666))
           << St(f.Close());
     },
     "1 0 0 2 0 0 0"},
    {"read, end of file and position",
     [](tLOGICAL_FILE &f, const std::string &, Out &out) {
       out << St(f.OpenExisting(R, 1)) << ReadAll(f, 4) << ReadAll(f, 10)
           << StV(f.GetPos(&ul), ul) << ReadAll(f, 4) << St(f.Close());
     },
     "0 0:0123 0:456789 0:10 0: 0"},
    {"seek from each origin",
     [](tLOGICAL_FILE &f, const std::string &, Out &out) {
       out << St(f.OpenExisting(R, 1)) << StV(f.Seek(D::SEEK_FROM_END, -3, &ul), ul)
           << ReadAll(f, 2) << StV(f.Seek(D::SEEK_FROM_CURRENT, -4, &ul), ul) << ReadAll(f, 1)
           << StV(f.Seek(D::SEEK_FROM_START, 1, &ul), ul) << ReadAll(f, 1) << St(f.Close());
     },
     "0 0:7 0:78 0:5 0:5 0:1 0:1 0"},
    {"write, flush, size and set size",
     [](tLOGICAL_FILE &f, const std::string &path, Out &out) {
       out << St(f.OpenExisting(RW, 1)) << St(f.Seek(D::SEEK_FROM_END, 0, nullptr))
           << St(f.Write("abc", 3, nullptr)) << StV(f.GetSize(&ul), ul) << St(f.SetSize(5))
           << StV(f.GetSize(&ul), ul) << St(f.Flush(0)) << St(f.Close());
       std::string bytes;
       kelcore_test::ReadWholeFile(path, &bytes);
       out << bytes;
     },
     "0 0 0 0:13 0 0:5 0 0 01234"},
    {"create empties, size of a closed file",
     [](tLOGICAL_FILE &f, const std::string &, Out &out) {
       out << St(f.Create(W, 1, 0666)) << St(f.Write("xy", 2, nullptr)) << St(f.Close())
           << StV(f.GetSize(&ul), ul);
     },
     "0 0 0 0:2"},
    {"transfers above 4 KiB, reading after writing and writing after reading",
     [](tLOGICAL_FILE &f, const std::string &path, Out &out) {
       std::string big;
       for (int i = 0; i < 9000; ++i) big += static_cast<char>('a' + i % 23);
       std::string back(6000, '?');
       unsigned long got = 0;
       out << St(f.OpenExisting(RW, 1)) << St(f.Write(big.data(), 9000, nullptr))
           << St(f.Read(&back[0], 6000, &got)) << std::to_string(got)
           << StV(f.Seek(D::SEEK_FROM_START, 100, &ul), ul) << St(f.Read(&back[0], 6000, &got))
           << std::to_string(back == big.substr(100, 6000)) << St(f.Write("XY", 2, nullptr))
           << StV(f.GetSize(&ul), ul) << St(f.Close());
       std::string bytes;
       kelcore_test::ReadWholeFile(path, &bytes);
       big.replace(6100, 2, "XY");
       out << std::to_string(bytes == big);
     },
     "0 0 0 0 0:100 0 1 0 0:9000 0 1"},
    {"exists and delete",
     [](tLOGICAL_FILE &f, const std::string &, Out &out) {
       out << StV(f.Exists(&exists), exists) << St(f.Delete()) << StV(f.Exists(&exists), exists)
           << St(f.Delete());
     },
     "0:1 0 0:0 1"},
};

class BackEnds : public kelcore_test::TempDirTest,
                 public ::testing::WithParamInterface<std::tuple<int, unsigned int>> {
 protected:
  ~BackEnds() { ClearLast(); }
};

TEST_P(BackEnds, SameScenariosSameResults) {
  const bool cstream = std::get<0>(GetParam()) == 1;
  const unsigned int buffer = std::get<1>(GetParam());
  for (const Scenario &s : kScenarios) {
    SCOPED_TRACE(s.name);
    const std::string path = tmp.File("f.dat");
    ASSERT_TRUE(kelcore_test::WriteWholeFile(path, "0123456789"));
    tPHYSICAL_FILE *phys = cstream ? static_cast<tPHYSICAL_FILE *>(new tCSTREAM)
                                   : static_cast<tPHYSICAL_FILE *>(new tOSFILE);
    tLOGICAL_FILE f(phys, 1);
    f.SetName(path.c_str());
    if (buffer != 0) f.SetBuffer(buffer, nullptr);
    Out out;
    s.run(f, path, out);
    EXPECT_EQ(s.want, out.text);
    f.Close();
  }
}

// Operating-system and C-stream back ends, unbuffered, with a window
// smaller than most transfers, and with windows of 4 KiB and 64 KiB.
INSTANTIATE_TEST_SUITE_P(OsAndCStream, BackEnds,
                         ::testing::Combine(::testing::Values(0, 1),
                                            ::testing::Values(0u, 4u, 4096u, 65536u)));

// --- what the C-stream back end adds ----------------------------------------------

class CStreamTest : public kelcore_test::TempDirTest {
 protected:
  ~CStreamTest() { ClearLast(); }
};

TEST_F(CStreamTest, StandardStreamsAreNamedBorrowedAndNeverClosed) {
  const struct { std::FILE *stream; const char *name; } streams[] = {
      {stdin, "stdin"}, {stdout, "stdout"}, {stderr, "stderr"}};
  for (const auto &s : streams) {
    tCSTREAM f(s.stream);
    EXPECT_STREQ(s.name, f.GetName());
    EXPECT_EQ(s.stream, f.GetStream());
    EXPECT_EQ(0, f.OwnsStream());
    EXPECT_EQ(0u, f.Close());
    EXPECT_EQ(s.stream, f.GetStream());  // still attached, still open
    // The name is no file: its size cannot be asked.
    unsigned long size = 7;
    EXPECT_EQ(1u, f.GetSize(&size));
    EXPECT_EQ(std::make_tuple(true, 11u, ENOENT, std::vector<std::string>{s.name}),
              LastCStreamError());
    EXPECT_EQ(7ul, size);
  }
  EXPECT_NE(-1, std::fflush(stdout));

  tCSTREAM unnamed;
  EXPECT_STREQ("", unnamed.GetName());
  EXPECT_EQ(nullptr, unnamed.GetStream());
  std::FILE *other = std::tmpfile();
  ASSERT_NE(nullptr, other);
  unnamed.SetName("kept");
  unnamed.SetStream(other);  // not a standard stream: the name stays
  EXPECT_STREQ("kept", unnamed.GetName());
  unnamed.SetStream(stderr);
  EXPECT_STREQ("stderr", unnamed.GetName());
  std::fclose(other);
}

// A stream keeps its own position only while nobody else holds it: a
// borrowed stream and a stream handed out by GetStream may be moved by the
// program between calls, and the file sees where they stand.
TEST_F(CStreamTest, AStreamMovedByTheProgramIsSeenWhereItStands) {
  const std::string path = tmp.File("moved.dat");
  ASSERT_TRUE(kelcore_test::WriteWholeFile(path, "0123456789"));
  char buf[16];
  unsigned long got = 0, pos = 99;
  for (int borrowed = 0; borrowed < 2; ++borrowed) {
    SCOPED_TRACE(borrowed ? "borrowed" : "owned, then handed out");
    std::FILE *given = borrowed ? std::fopen(path.c_str(), "rb") : nullptr;
    tCSTREAM f(given);
    f.SetName(path.c_str());
    if (!borrowed) {
      ASSERT_EQ(0u, f.OpenExisting(R, 1));
    }
    EXPECT_TRUE(f.Read(buf, 4, &got) == 0 && got == 4 && f.GetPos(&pos) == 0 && pos == 4);
    ASSERT_EQ(0u, f.Seek(4, D::SEEK_FROM_START, nullptr));
    std::FILE *stream = f.GetStream();
    ASSERT_EQ(0, std::fseek(stream, 1, SEEK_SET));
    EXPECT_TRUE(f.GetPos(&pos) == 0 && pos == 1);
    EXPECT_TRUE(std::fgetc(stream) == '1' && f.GetPos(&pos) == 0 && pos == 2);
    // A seek to where the file stood before the program moved it.
    ASSERT_EQ(0u, f.Seek(4, D::SEEK_FROM_START, nullptr));
    EXPECT_TRUE(f.Read(buf, 9, &got) == 0 && std::string(buf, got) == "456789");
    EXPECT_EQ(0u, f.Close());
    if (given != nullptr) std::fclose(given);
  }
}

TEST_F(CStreamTest, FactoriesDoNothingFacetsAndASecondOpen) {
  tCSTREAM f;
  tPHYSICAL_FILE *made = nullptr;
  ASSERT_EQ(0u, f.AllocCompatFileObj(&made, stdout));
  std::unique_ptr<tPHYSICAL_FILE> owned(made);
  ASSERT_NE(nullptr, dynamic_cast<tCSTREAM *>(made));
  EXPECT_EQ(stdout, dynamic_cast<tCSTREAM *>(made)->GetStream());
  EXPECT_STREQ("stdout", made->GetName());
  tPHYSICAL_DIR *dir = reinterpret_cast<tPHYSICAL_DIR *>(&f);
  EXPECT_EQ(0u, f.AllocCompatDirObj(&dir));
  EXPECT_EQ(nullptr, dir);
  {
    kelcore_test::ScopedAllocFailure fail(1);
    made = reinterpret_cast<tPHYSICAL_FILE *>(&f);
    EXPECT_EQ(kFail, f.AllocCompatFileObj(&made));
    EXPECT_EQ(nullptr, made);
    EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
  }

  // Attributes, permissions, times and region locks succeed untouched.
  unsigned int word = 77;
  tDATETIME when;
  EXPECT_EQ(0u, f.GetAttributes(&word));
  EXPECT_EQ(0u, f.GetSecurity(&word));
  EXPECT_EQ(77u, word);
  EXPECT_EQ(0u, f.SetAttributes(0, kFail) + f.SetSecurity(0, kFail) + f.GetModifyTime(&when) +
                    f.SetModifyTime(when) + f.LockRegion(0, 1, 0) + f.UnlockRegion(0, 1));

  // An object with a stream refuses to open another and keeps its own.
  f.SetName(tmp.File("a.dat").c_str());
  ASSERT_EQ(0u, f.Create(RW, 1, 0));
  std::FILE *first = f.GetStream();
  EXPECT_EQ(3u, f.OpenAlways(RW, 1, 0));
  EXPECT_EQ(std::make_tuple(true, 0u, EACCES, std::vector<std::string>{f.GetName()}),
            LastCStreamError());
  EXPECT_EQ(first, f.GetStream());
  EXPECT_EQ(1, f.OwnsStream());
  EXPECT_EQ(0u, f.Close());
  EXPECT_EQ(nullptr, f.GetStream());
}

TEST_F(CStreamTest, FailuresCarryTheNumberErrnoAndName) {
  const std::string dir = tmp.File("sub");
  ASSERT_TRUE(kelcore_test::WriteWholeFile(tmp.File("here.dat"), "x"));
  const struct {
    const char *name;
    std::function<unsigned int(tCSTREAM &)> op;
    unsigned int status, number;
    int err;
  } cases[] = {
      {"missing.dat", [](tCSTREAM &f) { return f.OpenExisting(R, 1); }, 1, 0, ENOENT},
      {"here.dat", [](tCSTREAM &f) { return f.CreateNew(RW, 1, 0); }, 2, 6, EEXIST},
      {"no/dir.dat", [](tCSTREAM &f) { return f.Create(RW, 1, 0); }, 1, 6, ENOENT},
      {"missing.dat", [](tCSTREAM &f) { return f.Delete(); }, 1, 4, ENOENT},
      {"missing.dat", [&](tCSTREAM &f) { return f.Rename(tPCFILENAME("x.dat")); }, 1, 5, ENOENT},
      {"missing.dat", [](tCSTREAM &f) { unsigned long s; return f.GetSize(&s); }, 1, 11, ENOENT},
      {"here.dat",
       [](tCSTREAM &f) {
         f.OpenExisting(R, 1);
         return f.Seek(-5, D::SEEK_FROM_START, nullptr);
       },
       kFail, 8, EINVAL},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.number);
    tCSTREAM f;
    f.SetName(tmp.File(c.name).c_str());
    EXPECT_EQ(c.status, c.op(f));
    EXPECT_EQ(std::make_tuple(true, c.number, c.err, std::vector<std::string>{f.GetName()}),
              LastCStreamError());
    f.Close();
  }
  // A missing file is no failure of Exists.
  tCSTREAM missing;
  missing.SetName(tmp.File("missing.dat").c_str());
  int exists = 7;
  EXPECT_EQ(0u, missing.Exists(&exists));
  EXPECT_EQ(0, exists);
}

TEST_F(CStreamTest, RenameMovesAcrossDirectoriesAndCloseIsTraced) {
  const std::string from = tmp.File("a.dat");
  tCSTREAM f;
  f.SetName(from.c_str());
  {
    kelcore_test::LogCapture log(0xC0, "cstream");
    ASSERT_EQ(0u, f.CreateNew(W, 1, 0));  // write-only: "rb+" must still work
    unsigned long put = 0;
    EXPECT_EQ(0u, f.Write("abc", 3, &put));
    EXPECT_EQ(3ul, put);
    EXPECT_EQ(0u, f.Close());
    EXPECT_EQ(0u, f.Close());  // nothing left to close: no second line
    EXPECT_EQ(std::vector<std::string>{"Closed file \"" + from + "\"."}, log.Lines());
  }
  {
    kelcore_test::LogCapture quiet(0xC0, "os");
    ASSERT_EQ(0u, f.OpenExisting(R, 1));
    EXPECT_EQ(0u, f.Close());
    EXPECT_EQ("", quiet.Text());
  }
  kelcore_test::TempDir other;
  const std::string to = other.File("moved.dat");
  // Renames and deletions take DOS-style names, backslashes included, on
  // every system.
  std::string dosTo = to;
  std::replace(dosTo.begin(), dosTo.end(), '/', '\\');
  ASSERT_EQ(0u, f.Rename(tPCFILENAME(dosTo.c_str())));
  std::string bytes;
  EXPECT_TRUE(kelcore_test::ReadWholeFile(to, &bytes));
  EXPECT_EQ("abc", bytes);
  int exists = 7;
  EXPECT_EQ(0u, f.Exists(&exists));
  EXPECT_EQ(0, exists);
  tCSTREAM moved;
  moved.SetName(dosTo.c_str());
  EXPECT_EQ(0u, moved.Delete());
  EXPECT_FALSE(kelcore_test::ReadWholeFile(to, &bytes));
}

// The standard streams of a child whose stdin and stdout are files: a
// logical file reads and writes them like any other, and leaves them open.
KELCORE_CHILD_MAIN(cstream_std_streams) {
  if (args.size() != 2) return 10;
  if (std::freopen(args[0].c_str(), "rb", stdin) == nullptr) return 11;
  if (std::freopen(args[1].c_str(), "wb", stdout) == nullptr) return 12;
  tLOGICAL_FILE in(new tCSTREAM(stdin), 1), out(new tCSTREAM(stdout), 1);
  char buf[32] = {0};
  unsigned long got = 0;
  if (in.Read(buf, sizeof buf, &got) != 0 || got != 5) return 13;
  if (std::string(in.GetName()) != "stdin" || std::string(out.GetName()) != "stdout") return 14;
  if (out.Write(buf, got, nullptr) != 0 || out.Close() != 0 || in.Close() != 0) return 15;
  std::fputs("|still open", stdout);
  return std::fflush(stdout) == 0 ? 0 : 16;
}

TEST_F(CStreamTest, StandardStreamsOfAChildWithRedirectedDescriptors) {
  const std::string in = tmp.File("in.txt"), out = tmp.File("out.txt");
  ASSERT_TRUE(kelcore_test::WriteWholeFile(in, "hello"));
  kelcore_test::ChildProcess child;
  ASSERT_TRUE(child.Start("cstream_std_streams", {in, out}));
  EXPECT_EQ(0, child.Wait());
  std::string bytes;
  EXPECT_TRUE(kelcore_test::ReadWholeFile(out, &bytes));
  EXPECT_EQ("hello|still open", bytes);
}

}  // namespace

namespace {

// Where long has 64 bits (not on Windows), positions and sizes beyond
// 4 GiB pass through unchanged. The file is sparse where the system can.
TEST_F(CStreamTest, FilesBeyondFourGiBWhereLongIs64Bits) {
  if (sizeof(long) <= 4) GTEST_SKIP() << "long has 32 bits here";
  const unsigned long big = (5ul << 30) + 3;
  tCSTREAM f;
  f.SetName(tmp.File("big.dat").c_str());
  ASSERT_EQ(0u, f.Create(RW, 1, 0));
  ASSERT_EQ(0u, f.SetSize(big));
  unsigned long size = 0, pos = 0;
  EXPECT_EQ(0u, f.GetSize(&size));
  EXPECT_EQ(big, size);
  EXPECT_EQ(0u, f.Seek(-1, D::SEEK_FROM_END, &pos));
  EXPECT_EQ(big - 1, pos);
  EXPECT_EQ(0u, f.Write("z", 1, nullptr));
  EXPECT_EQ(0u, f.GetPos(&pos));
  EXPECT_EQ(big, pos);
  EXPECT_EQ(0u, f.Close());
  EXPECT_EQ(0u, f.Delete());
}

}  // namespace
