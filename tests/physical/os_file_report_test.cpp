// What operating-system files report: the OS message number, the system
// code and the file name of each failure, and the "os" trace records.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kelcore/time/datetime.h"
#include "tests/physical/os_file_test_util.h"
#include "tests/support/log_capture.h"

namespace physical_test {
namespace {

const unsigned int RW = tFILEDEFS::MODE_READWRITE;

// Operations on a closed object named after a file that does not exist:
// each must fail with its own message number and the system's code.
struct FailureCase {
  const char *label;
  std::function<unsigned int(tOSFILE &)> op;
  unsigned int number;
  int sysErr;    // -1: the failure is reported through errno instead
  int errnoVal;  // -1: through a system code
  unsigned int status;
};

tDATETIME SomeTime() {
  tDATETIME t;
  t.Date.Year = 2010;
  t.Date.Month = 6;
  t.Date.Day = 1;
  t.Time.Hour = 12;
  t.Time.Minute = 0;
  t.Time.Second = 0;
  t.Time.Millisecond = 0;
  return t;
}

const FailureCase kFailures[] = {
    {"OpenExisting", [](tOSFILE &f) { return f.OpenExisting(1, 1); }, 0, kErrFileNotFound, -1, 1},
    {"Close", [](tOSFILE &f) { return f.Close(); }, 1, kErrInvalidHandle, -1, kFailure},
    {"Read", [](tOSFILE &f) { char b[4]; return f.Read(b, 4, nullptr); }, 2, kErrInvalidHandle,
     -1, kFailure},
    {"Write", [](tOSFILE &f) { return f.Write("x", 1, nullptr); }, 3, kErrInvalidHandle, -1,
     kFailure},
    {"Flush", [](tOSFILE &f) { return f.Flush(); }, 3, kErrInvalidHandle, -1, kFailure},
    {"Delete", [](tOSFILE &f) { return f.Delete(); }, 4, kErrFileNotFound, -1, 1},
    {"LockRegion", [](tOSFILE &f) { return f.LockRegion(0, 1, 1); }, 7, kErrInvalidHandle, -1,
     kFailure},
    {"SetSize", [](tOSFILE &f) { return f.SetSize(1); }, 9, kErrInvalidHandle, -1, kFailure},
    {"SetAttributes", [](tOSFILE &f) { return f.SetAttributes(0, 4); }, 9, kErrFileNotFound, -1,
     1},
    {"GetSizeClosed", [](tOSFILE &f) { unsigned long s; return f.GetSize(&s); }, 10, -1, 2, 1},
    {"GetAttributes", [](tOSFILE &f) { unsigned int a; return f.GetAttributes(&a); }, 10,
     kErrFileNotFound, -1, 1},
    {"SetSecurity", [](tOSFILE &f) { return f.SetSecurity(0777, 0xFFFFFFFFu); }, 11,
     kErrFileNotFound, -1, 1},
    {"GetSecurity", [](tOSFILE &f) { unsigned int p; return f.GetSecurity(&p); }, 12,
     kErrFileNotFound, -1, 1},
    {"SetModifyTime", [](tOSFILE &f) { return f.SetModifyTime(SomeTime()); }, 13, -1, 2, 1},
    {"GetModifyTime", [](tOSFILE &f) { tDATETIME t; return f.GetModifyTime(&t); }, 14, -1, 2, 1},
    {"Seek", [](tOSFILE &f) { return f.Seek(0, tFILEDEFS::SEEK_FROM_START, nullptr); }, 17,
     kErrInvalidHandle, -1, kFailure},
    {"GetPos", [](tOSFILE &f) { unsigned long p; return f.GetPos(&p); }, 18, kErrInvalidHandle, -1,
     kFailure},
};

void PrintTo(const FailureCase &c, std::ostream *os) { *os << c.label; }

class FailureTest : public OsFileTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, CarriesMessageNumberSystemCodeAndName) {
  const FailureCase &c = GetParam();
  tOSFILE f;
  std::string path = Path("missing.dat");
  f.SetName(path.c_str());
  EXPECT_EQ(c.status, c.op(f));
  LastError e = GetLast();
  ASSERT_TRUE(e.isOsMessage) << e.text;
  EXPECT_EQ(c.number, e.number);
  EXPECT_EQ(c.sysErr, e.sysErr);
  EXPECT_EQ(c.errnoVal, e.errnoVal);
  ASSERT_EQ(1u, e.names.size());
  EXPECT_EQ(path, e.names[0]);
}

INSTANTIATE_TEST_SUITE_P(Operations, FailureTest, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<FailureCase> &info) {
                           return std::string(info.param.label);
                         });

TEST_F(OsFileTest, WriteAfterCreateNewOnExistingSaysAlreadyExists) {
  std::string path = MakeFile("e.dat", "x");
  ScopedOsFile f(path);
  EXPECT_EQ(2u, f.CreateNew(RW, 1, 0666));
  LastError e = GetLast();
  EXPECT_EQ(0u, e.number);
  EXPECT_EQ(kErrFileExists, e.sysErr);
}

TEST_F(OsFileTest, SuccessLeavesTheLastErrorAlone) {
  // A failure first, so there is a last error to keep.
  tOSFILE missing;
  missing.SetName(Path("missing.dat").c_str());
  ASSERT_EQ(1u, missing.OpenExisting(1, 1));
  tMSG *before = tTHREAD::GetLastError();
  ScopedOsFile f(Path("ok.dat"));
  ASSERT_EQ(0u, f.Create(RW, 1, 0666));
  ASSERT_EQ(0u, f.Write("abc", 3, nullptr));
  ASSERT_EQ(0u, f.Seek(0, tFILEDEFS::SEEK_FROM_START, nullptr));
  char buf[3];
  ASSERT_EQ(0u, f.Read(buf, 3, nullptr));
  ASSERT_EQ(0u, f.Close());
  int exists = 0;
  ASSERT_EQ(0u, f.Exists(&exists));
  EXPECT_EQ(before, tTHREAD::GetLastError());
}

// --- traces ------------------------------------------------------------------

class TraceTest : public OsFileTest {
 protected:
  // A file that goes through every traced operation.
  void RunTracedOperations() {
    std::string path = Path("t.dat");
    tOSFILE f;
    f.SetName(path.c_str());
    ASSERT_EQ(0u, f.Create(RW, 1, 0666));
    handle_ = f.GetFileHandle();
    ASSERT_EQ(0u, f.Write("0123456789", 10, nullptr));
    ASSERT_EQ(0u, f.Seek(-4, tFILEDEFS::SEEK_FROM_END, nullptr));
    ASSERT_EQ(kFailure, f.Seek(-100, tFILEDEFS::SEEK_FROM_CURRENT, nullptr));
    ASSERT_EQ(0u, f.SetSize(8));
    ASSERT_EQ(0u, f.LockRegion(2, 3, tFILEDEFS::LOCK_SHARED | tFILEDEFS::LOCK_NOWAIT));
    ASSERT_EQ(0u, f.LockRegion(10, 0, 0));
    ASSERT_EQ(0u, f.UnlockRegion(0, 0));
    ASSERT_EQ(0u, f.Close());
    tPCFILENAME newName("u.dat");
    ASSERT_EQ(0u, f.Rename(newName));
    f.SetName(Path("u.dat").c_str());
    ASSERT_EQ(0u, f.Delete());
  }
  int handle_ = -1;
};

TEST_F(TraceTest, OsRecordsWithLabelAndLevels) {
  kelcore_test::LogCapture log(0xC0, "os");
  RunTracedOperations();
  std::string h = std::to_string(handle_);
  std::string t = Path("t.dat");
  std::vector<std::string> expected = {
      "Seek(" + h + ",-4,2)=6",
      "Seek(" + h + ",-100,1)",
      "Seek(" + h + ",0,1)=6",
      "Seek(" + h + ",8,0)=8",
      "Seek(" + h + ",6,0)=6",
      "LockRegion(Handle=" + h + ", Offset=2, Bytes=3, Shared | NoWait)",
      "LockRegion(Handle=" + h + ", Offset=10, Bytes=0, Exclusive | Wait)",
      "UnlockRegion(Handle=" + h + ", Offset=0, Bytes=0)",
      "Closing file \"" + t + "\" on handle " + h,
  };
  std::vector<std::string> lines = log.Lines();
  ASSERT_GE(lines.size(), expected.size() + 2) << log.Text();
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i], lines[i]);
  // The rename names the full new name; then the delete.
  const std::string &renamed = lines[expected.size()];
  EXPECT_EQ(0u, renamed.find("Renamed file \"" + t + "\" to \"")) << renamed;
  EXPECT_NE(std::string::npos, renamed.find("u.dat\".")) << renamed;
  EXPECT_EQ("Deleting file \"" + Path("u.dat") + "\"", lines[expected.size() + 1]);
  EXPECT_EQ(expected.size() + 2, lines.size()) << log.Text();
}

TEST_F(TraceTest, NoRecordsForOtherLabels) {
  kelcore_test::LogCapture log(0xFFFFFFFFu, "app;cstream");
  RunTracedOperations();
  EXPECT_EQ("", log.Text());
}

TEST_F(TraceTest, NoRecordsWithoutBothLevelBits) {
  {
    kelcore_test::LogCapture log(0x80, "os");
    RunTracedOperations();
    EXPECT_EQ("", log.Text());
  }
  {
    kelcore_test::LogCapture log(0x40 | 0x01, "os");
    RunTracedOperations();
    EXPECT_EQ("", log.Text());
  }
}

TEST_F(TraceTest, LabelPrefixesAndAnEmptyListAccept) {
  kelcore_test::LogCapture log(0xC0, nullptr);
  RunTracedOperations();
  EXPECT_NE(std::string::npos, log.Text().find("Closing file")) << log.Text();
}

}  // namespace
}  // namespace physical_test
