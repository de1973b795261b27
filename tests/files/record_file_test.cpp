// Record files: the bytes of headers and records, the checks on opening and
// the close that follows a failure, reading into shorter and longer
// buffers, the forward search, identifications at their limits, truncated
// files at every length, and failing physical calls and allocations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/files/record_file.h"
#include "kelcore/physical/cstream/cstream_file.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/counting_file.h"
#include "tests/support/temp_dir.h"

namespace {

typedef kelcore_test::CountingFile CF;
const unsigned int RW = tFILEDEFS::MODE_READWRITE, kFail = 0xFFFFFFFFu;

std::string Hex(const std::string &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Unspaced(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
  return s;
}

// The REC message number of the last error, or -1.
int RecError() {
  const tCATMSG *m = dynamic_cast<const tCATMSG *>(tTHREAD::GetLastError());
  return m != nullptr && m->GetCatalog() == &kelrec::Catalog() ? static_cast<int>(m->GetMsgId())
                                                                : -1;
}

// The parameters of the last error as texts.
std::vector<std::string> Parms() {
  std::vector<std::string> out;
  tMSG *m = tTHREAD::GetLastError();
  for (unsigned int i = 0; m != nullptr && i < m->NumParms(); ++i) {
    char buf[300] = "";
    if (&(*m)[i] != nullptr) (*m)[i].Format(buf, nullptr);
    out.push_back(buf);
  }
  return out;
}

struct Rec {
  unsigned int type;
  std::string body;
};

// A record file in memory, written with `id` and versions and `recs`.
std::string Write(const char *id, const char *fmt, const char *ver, const std::vector<Rec> &recs,
                  unsigned int window = 0) {
  CF phys;
  tRECFILE f(phys, 0);
  f.SetBuffer(window, nullptr);
  EXPECT_EQ(0u, f.SetFile("C:\\rec.dat", id, ver, fmt));
  EXPECT_EQ(0u, f.Create(RW, 0, 0666));
  for (const Rec &r : recs) EXPECT_EQ(0u, f.WriteRec(r.body.data(), r.type, r.body.size()));
  EXPECT_EQ(0u, f.Close());
  return phys.data;
}

const std::vector<Rec> kRecs = {{1, "hello"}, {0x01020304, ""}, {7, std::string(300, 'r')}};

TEST(RecordFile, BytesOfHeadersAndRecords) {
  const struct { const char *id, *fmt, *ver; std::vector<Rec> recs; const char *hex; } cases[] = {
      {"CFG", "A.00.00", "B.01.00", {{1, "hello"}, {0x01020304, ""}},
       "434647 0d0a1a ff000000 18000000 412e30312e303000 412e30302e303000 422e30312e303000 "
       "01000000 05000000 68656c6c6f 04030201 00000000"},
      {nullptr, nullptr, "LONGVERSION", {}, "ff000000 18000000 412e30312e303000 0000000000000000 "
                                             "4c4f4e4756455200"},
      {"", nullptr, nullptr, {{0xFFFFFFFE, "x"}}, "0d0a1a feffffff 01000000 78"},
      {nullptr, nullptr, nullptr, {}, ""},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Unspaced(c.hex), Hex(Write(c.id, c.fmt, c.ver, c.recs))) << &c - cases;
    EXPECT_EQ(Unspaced(c.hex), Hex(Write(c.id, c.fmt, c.ver, c.recs, 16))) << "buffered";
  }
  CF phys;
  tRECFILE f(phys, 0);
  ASSERT_EQ(0u, f.Create(RW, 0, 0666));
  EXPECT_EQ(kFail, f.WriteHeader(255, 3));
  EXPECT_EQ(kFail, f.WriteRec("abc", 255, 3));
  EXPECT_EQ(8, RecError());
  EXPECT_EQ("", phys.data) << "nothing written";
}

TEST(RecordFile, OpenChecksAndTheCloseAfterAFailure) {
  std::string file = Write("CFG", "A.00.00", "B.01.00", kRecs);
  std::string layout = file, type = file;
  layout[6 + 8 + 2] = '2';  // "A.21.00": another layout
  type[6] = 1;
  // The expected settings, the status, the REC message and its last parameter.
  const struct { const std::string *bytes; const char *id, *fmt, *ver; unsigned int status;
                 int rec; const char *parm; } cases[] = {
      {&file, "CFG", "A.00.00", "B.01.00", 0, -1, nullptr},
      {&file, "CFG", "A.00.99", "B.01.99", 0, -1, nullptr},  // five characters count
      {&file, "CFG", "", "", 0, -1, nullptr},  // no versions expected: records follow at 6
      {&file, "CFG", "", "B.02.00", 7, 7, "B.01.00"},
      {&file, "CFG", "A.01.00", "", 7, 6, "A.00.00"},
      {&file, "cfg", "A.00.00", "B.01.00", 7, 1, "CFG"},
      {&file, "CFGX", "", "", 7, 1, "CFG"},
      {&layout, "CFG", "A.00.00", "", 7, 5, "A.21.00"},
      {&type, "CFG", "A.00.00", "", kFail, 2, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
    CF phys(*c.bytes);
    tRECFILE f(phys, 0);
    f.SetBuffer(512, nullptr);
    ASSERT_EQ(0u, f.SetFile("C:\\rec.dat", c.id, c.ver, c.fmt));
    EXPECT_EQ(c.status, f.OpenExisting(RW, 0));
    EXPECT_EQ(c.status == 0, f.IsOpen() == 1 && phys.open) << "closed after a failure";
    EXPECT_EQ(c.rec, RecError());
    unsigned long pos = 0;
    if (c.status == 0) {
      EXPECT_EQ(0u, f.GetPos(&pos));
      EXPECT_EQ(*c.fmt || *c.ver ? 38ul : 6ul, pos);
      ASSERT_EQ(0u, f.Close());
    } else if (c.parm != nullptr) {
      // The context, then the value read.
      const std::vector<std::string> parms = Parms();
      ASSERT_EQ(6u, parms.size());
      EXPECT_EQ((std::vector<std::string>{"C:\\rec.dat", c.id, "A.01.00", c.fmt, c.ver, c.parm}),
                parms);
    }
  }
  // A failing write while creating: the failure's message stays, the file is closed.
  CF phys;
  tRECFILE f(phys, 0);
  ASSERT_EQ(0u, f.SetFile("C:\\rec.dat", "ID", "B.00.00", nullptr));
  phys.FailNth(2, 5, CF::kWRITE);
  EXPECT_EQ(5u, f.Create(RW, 0, 0666));
  EXPECT_EQ(phys.FailedText(), tTHREAD::GetLastError()->Format());
  EXPECT_FALSE(f.IsOpen() || phys.open);
  // An identification that could not be read back is refused before the
  // file is touched.
  phys.data = "keep";
  ASSERT_EQ(0u, f.SetFile("C:\\rec.dat", std::string(128, 'i').c_str(), nullptr, nullptr));
  EXPECT_EQ(kFail, f.Create(RW, 0, 0666));
  EXPECT_EQ(2, RecError());
  ASSERT_EQ(0u, f.SetFile("C:\\rec.dat", "a\rb", nullptr, nullptr));
  EXPECT_EQ(kFail, f.OpenAlways(RW, 0, 0666));
  EXPECT_EQ("keep", phys.data);
  EXPECT_FALSE(phys.open);
}

// The same records on real files, through both back ends, unbuffered and
// with windows of 4 KiB and 64 KiB, one record above 4 KiB: the bytes are
// those of the file in memory, and every record reads back.
TEST(RecordFile, RealFilesOverBothBackEnds) {
  kelcore_test::TempDir tmp;
  std::vector<Rec> recs = kRecs;
  recs.push_back({9, std::string(9000, 'L')});
  recs.push_back({2, "after"});
  const std::string want = Write("ID", nullptr, nullptr, recs);
  for (int cstream = 0; cstream < 2; ++cstream) {
    for (unsigned int window : {0u, 4096u, 65536u}) {
      SCOPED_TRACE(std::string(cstream ? "C stream" : "OS file") + ", window " + std::to_string(window));
      const std::string path = tmp.File("real.rec");
      auto make = [&] {
        return cstream ? static_cast<tPHYSICAL_FILE *>(new tCSTREAM)
                       : static_cast<tPHYSICAL_FILE *>(new tOSFILE);
      };
      {
        tRECFILE f(make(), 1);
        f.SetBuffer(window, nullptr);
        ASSERT_EQ(0u, f.SetFile(path.c_str(), "ID", nullptr, nullptr));
        ASSERT_EQ(0u, f.Create(RW, 0, 0666));
        for (const Rec &r : recs) EXPECT_EQ(0u, f.WriteRec(r.body.data(), r.type, r.body.size()));
        EXPECT_EQ(0u, f.Close());
      }
      std::string bytes;
      ASSERT_TRUE(kelcore_test::ReadWholeFile(path, &bytes));
      EXPECT_EQ(want, bytes);
      tRECFILE f(make(), 1);
      f.SetBuffer(window, nullptr);
      ASSERT_EQ(0u, f.SetFile(path.c_str(), "ID", nullptr, nullptr));
      ASSERT_EQ(0u, f.OpenExisting(RW, 0));
      std::vector<char> buf(10000);
      for (const Rec &r : recs) {
        unsigned int type = 0, length = 0;
        EXPECT_EQ(0u, f.ReadRec(buf.data(), static_cast<unsigned int>(r.body.size()), &type, &length));
        EXPECT_EQ(r.type, type);
        EXPECT_EQ(r.body, std::string(buf.data(), length));
      }
      EXPECT_EQ(kFail, f.ReadHeader(nullptr, nullptr)) << "the end";
      EXPECT_EQ(0u, f.Close());
    }
  }
}

TEST(RecordFile, ReadRecIntoShorterAndLongerBuffersAndFindRecForward) {
  CF phys(Write("ID", nullptr, nullptr, {{1, "0123456789"}, {2, "ab"}, {1, "cd"}, {3, ""}}));
  tRECFILE f(phys, 0);
  f.SetBuffer(8, nullptr);
  ASSERT_EQ(0u, f.SetFile("C:\\rec.dat", "ID", nullptr, nullptr));
  ASSERT_EQ(0u, f.OpenExisting(RW, 0));
  char buf[20];
  unsigned int type = 0, length = 0;
  EXPECT_EQ(8u, f.ReadRec(buf, 4, &type, &length));
  EXPECT_EQ(3, RecError());
  EXPECT_EQ("0123", std::string(buf, 4));
  EXPECT_EQ(std::make_pair(1u, 10u), std::make_pair(type, length));
  EXPECT_EQ(0u, f.ReadHeader(&type, &length)) << "the next record's header";
  EXPECT_EQ(std::make_pair(2u, 2u), std::make_pair(type, length));
  ASSERT_EQ(0u, f.Seek(5, nullptr));
  EXPECT_EQ(9u, f.ReadRec(buf, 20, &type, &length));
  EXPECT_EQ(4, RecError());
  EXPECT_EQ(std::make_pair(std::string("0123456789"), 10u), std::make_pair(std::string(buf, 10), length));
  EXPECT_EQ(0u, f.FindRec(1));
  EXPECT_EQ(0u, f.FindRec(1)) << "already there";
  EXPECT_EQ(0u, f.ReadRec(buf, 2, nullptr, nullptr));
  EXPECT_EQ("cd", std::string(buf, 2));
  EXPECT_EQ(1u, f.FindRec(2)) << "only before the position";
  EXPECT_EQ(9, RecError());
  EXPECT_EQ("2", Parms().back());
  ASSERT_EQ(0u, f.Seek(5, nullptr));
  EXPECT_EQ(0u, f.FindRec(3));
  EXPECT_EQ(0u, f.ReadRec(nullptr, 0, &type, &length));
  EXPECT_EQ(std::make_pair(3u, 0u), std::make_pair(type, length));
  EXPECT_EQ(kFail, f.ReadHeader(nullptr, nullptr)) << "the end";
  EXPECT_EQ(2, RecError());
}

TEST(RecordFile, IdentificationsAtTheirLimitsAndReadIdAtTheEnd) {
  const std::string id127(127, 'i');
  std::string two = Write(id127.c_str(), nullptr, nullptr, {}) + Write("B", nullptr, nullptr, {});
  CF phys(two);
  tRECFILE f(phys, 0);
  f.SetBuffer(512, nullptr);
  ASSERT_EQ(0u, f.SetFile("C:\\rec.dat", id127.c_str(), nullptr, nullptr));
  ASSERT_EQ(0u, f.OpenExisting(RW, 0));
  char buf[128];
  EXPECT_EQ(0u, f.ReadId(buf)) << "concatenated files";
  EXPECT_STREQ("B", buf);
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  EXPECT_EQ(4u, f.ReadId(buf)) << "exactly at the end";
  EXPECT_EQ(-1, RecError());
  EXPECT_STREQ("", buf);
  ASSERT_EQ(0u, f.Close());
  // Malformed identifications: too long, a NUL, the wrong terminator, cut short.
  tRECFILE any(phys, 0);
  for (const std::string &bad : {std::string(128, 'i') + "\r\n\x1A", std::string("a\0b\r\n\x1A", 6),
                                std::string("ab\r\r\x1A"), std::string("ab\r\n"), std::string("ab")}) {
    phys.data = bad;
    ASSERT_EQ(0u, any.OpenExisting(RW, 0));
    EXPECT_EQ(kFail, any.ReadId(buf)) << Hex(bad);
    EXPECT_EQ(2, RecError());
    ASSERT_EQ(0u, any.Close());
  }
}

// Every prefix of a good file: opening and reading to the end give a
// status at some point, and never a record that differs from the original.
TEST(RecordFile, TruncatedFilesAtEveryLength) {
  const std::string file = Write("TRUNC", "A.00.00", "B.00.00", kRecs);
  for (unsigned int window : {0u, 16u}) {
    for (std::size_t len = 0; len < file.size(); ++len) {
      SCOPED_TRACE(std::to_string(len) + " bytes, window " + std::to_string(window));
      CF phys(file.substr(0, len));
      tRECFILE f(phys, 0);
      f.SetBuffer(window, nullptr);
      ASSERT_EQ(0u, f.SetFile("C:\\t.dat", "TRUNC", "B.00.00", "A.00.00"));
      const unsigned int open = f.OpenExisting(RW, 0);
      if (open != 0) {
        EXPECT_TRUE(open == 4 || open == kFail) << open;
        continue;
      }
      std::size_t n = 0;
      unsigned int status = 0;
      for (; status == 0; ++n) {
        char buf[400];
        unsigned int type = 0, length = 0;
        status = f.ReadRec(buf, sizeof buf, &type, &length);
        if (status != 9 && status != 0) break;
        status = 0;
        ASSERT_LT(n, kRecs.size());
        EXPECT_EQ(kRecs[n].type, type);
        EXPECT_EQ(kRecs[n].body, std::string(buf, length));
      }
      EXPECT_EQ(kFail, status);
      EXPECT_EQ(2, RecError());
      ASSERT_EQ(0u, f.Seek(38, nullptr));
      EXPECT_NE(0u, f.FindRec(7)) << "the last record is cut";
      ASSERT_EQ(0u, f.Seek(38, nullptr));
      char small[2];
      status = f.ReadRec(small, sizeof small, nullptr, nullptr);
      EXPECT_TRUE(status == kFail || status == 8) << status;  // cut, or whole and longer
      EXPECT_EQ(0, phys.Depth());
    }
  }
}

// Each physical call of creating, writing, opening and searching fails in
// turn: the operation returns the failure's status and message (a failing
// read inside an identification as REC library error 2 carrying it).
TEST(RecordFile, FaultSweepAndAllocationFailures) {
  const std::string good = Write("ID", "A.00.00", "B.00.00", kRecs);
  for (unsigned int n = 1;; ++n) {
    SCOPED_TRACE(n);
    CF phys;
    tRECFILE f(phys, 0);
    f.SetBuffer(16, nullptr);
    ASSERT_EQ(0u, f.SetFile("C:\\rec.dat", "ID", "B.00.00", "A.00.00"));
    phys.FailNth(n, 5);
    std::vector<unsigned int> statuses;
    auto step = [&](unsigned int s) {
      const bool injected = !phys.FailedText().empty() && statuses.size() < 100;
      statuses.push_back(s);
      if (s == 0) return;
      EXPECT_TRUE(injected);
      const std::string last = tTHREAD::GetLastError()->Format();
      EXPECT_TRUE(s == 5 ? last == phys.FailedText()
                         : s == kFail && RecError() == 2 && Parms().back() == phys.FailedText())
          << s << " " << last << " " << phys.Calls();
      statuses.assign(100, 0);  // one failure only
    };
    step(f.Create(RW, 0, 0666));
    if (f.IsOpen()) {
      for (const Rec &r : kRecs) step(f.WriteRec(r.body.data(), r.type, r.body.size()));
      unsigned int s;
      while ((s = f.Close()) != 0) step(s);
    }
    phys.data = good;
    statuses.push_back(0);
    step(f.OpenExisting(RW, 0));
    // A search or read that failed leaves the position anywhere: stop there.
    char buf[300];
    const unsigned int found = f.IsOpen() ? f.FindRec(7) : 1;
    step(found == 1 ? 0 : found);
    if (found == 0) {
      step(f.ReadRec(buf, sizeof buf, nullptr, nullptr));
    }
    unsigned int s;
    while ((s = f.Close()) != 0) step(s);
    EXPECT_EQ(0, phys.Depth());
    if (phys.FailedText().empty()) break;
  }
  const std::size_t count = kelcore_test::SweepAllocFailures([] {
    CF phys;
    tRECFILE f(phys, 0);
    f.SetBuffer(16, nullptr);
    const unsigned int set = f.SetFile("C:\\rec.dat", "ID", "B.00.00", nullptr);
    EXPECT_TRUE(set == 0 || (set == kFail && f.GetId() == nullptr &&
                             tTHREAD::GetLastError() == &tERRMSG::OutOfMemory));
    if (f.Create(RW, 0, 0666) == 0) {
      f.WriteRec("abc", 1, 3);
      f.Close();
    }
  });
  EXPECT_GE(count, 2u);
}

}  // namespace
