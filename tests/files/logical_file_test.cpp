// Logical files and their buffer: construction and ownership, the
// forwarding of names and file-system operations, the exact physical calls
// of the buffer, statuses and messages, a fault sweep over every physical
// call, allocation failures, and region locks between processes.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/files/plain_file.h"
#include "kelcore/msg/message.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/child_process.h"
#include "tests/support/counting_file.h"
#include "tests/support/temp_dir.h"

namespace {

typedef tFILEDEFS D;
typedef kelcore_test::CountingFile CF;
const unsigned int RW = D::MODE_READWRITE, kFail = 0xFFFFFFFFu, kInjected = 5;

// Exposes the protected access test.
struct File : tFILE {
  explicit File(tPHYSICAL_FILE *f = nullptr, int own = 1) : tFILE(f, own) {}
  File(tPHYSICAL_FILE &f, int own) : tFILE(f, own) {}
  using tLOGICAL_FILE::AccessTest;
};

std::string LastText() {
  tMSG *m = tTHREAD::GetLastError();
  return m != nullptr ? m->Format() : "<none>";
}

// The statuses in order (a braced list is evaluated left to right).
std::string Statuses(std::initializer_list<unsigned int> statuses) {
  std::string r;
  for (unsigned int s : statuses) r += std::to_string(s);
  return r;
}

// The last error is FILESYS library error `number` with the file's name.
void ExpectFilesys(unsigned int number, const char *name) {
  const tCATMSG *m = dynamic_cast<const tCATMSG *>(tTHREAD::GetLastError());
  ASSERT_TRUE(m != nullptr && m->GetCatalog() == &kelfilesys::Catalog()) << LastText();
  EXPECT_EQ(number, m->GetMsgId());
  ASSERT_EQ(1u, m->NumParms());
  EXPECT_STREQ(name, dynamic_cast<const tPARM_FILENAME &>((*m)[0]).Value());
}

TEST(LogicalFile, OwnershipAndTheStandInWithoutMemory) {
  const int before = CF::Alive();
  {
    File borrowed(new CF, 1), lent(*new CF, 1);
    CF kept;
    File a(&kept, 0), b(kept, 0);
    EXPECT_EQ(before + 3, CF::Alive());
  }
  EXPECT_EQ(before, CF::Alive()) << "owned files go, borrowed ones stay";
  {
    File own(nullptr, 0);
    EXPECT_NE(nullptr, dynamic_cast<tOSFILE *>(&static_cast<tPHYSICAL_FILE &>(own)))
        << "a file of its own, whatever the flag";
  }
  // Without memory for its own file: a stand-in that fails every operation.
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  kelcore_test::ScopedAllocFailure fail(1);
  File f;
  EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
  f.SetName("x.dat");
  unsigned long n = 9;
  char c;
  EXPECT_STREQ("", f.GetName());
  EXPECT_EQ(nullptr, f.GetLocation());
  for (unsigned int status : {f.Exists(nullptr), f.OpenExisting(RW, 0), f.Read(&c, 1, &n), f.Write("x", 1, nullptr),
                              f.Seek(0, nullptr), f.GetPos(&n), f.GetSize(&n), f.SetSize(1), f.LockRegion(0, 1, 1),
                              f.Rename("y")}) {
    EXPECT_EQ(kFail, status);
  }
  EXPECT_EQ(0u, f.Close()) << "nothing open, nothing to close";
  EXPECT_EQ(0ul, n);
}

// Names and file-system operations go to the facets and leave the open
// state and the buffer alone; Rename takes over the new name on success.
TEST(LogicalFile, ForwardsNamesAndFileSystemOperations) {
  CF phys("abc");
  File f(phys, 0);
  f.SetName("C:\\dir\\old.txt");
  EXPECT_TRUE(f.HasExtension() && f.HasDir() && f.IsAbsolute() && !f.IsRelative());
  EXPECT_STREQ("old.txt", f.GetFileName());
  f.SetExtension(".dat");
  EXPECT_STREQ("C:\\dir\\old.dat", phys.GetName());
  EXPECT_STREQ("C:\\dir", f.GetLocation()->GetName());
  int exists = 0;
  unsigned int word = 0;
  EXPECT_EQ("0000", Statuses({f.Exists(&exists), f.GetAttributes(&word), f.SetSecurity(0, 0),
                              f.Delete()}));
  EXPECT_EQ("exists getattr setsec delete", phys.Calls());
  phys.FailNth(1, kInjected);
  EXPECT_EQ(kInjected, f.Rename("new.dat"));
  EXPECT_STREQ("old.dat", f.GetFileName()) << "a failed rename keeps the name";
  EXPECT_EQ(0u, f.Rename("new.dat"));
  EXPECT_STREQ("C:\\dir\\new.dat", f.GetName());
  tPARAMETER *parm = f;
  EXPECT_STREQ("C:\\dir\\new.dat", dynamic_cast<tPARM_FILENAME *>(parm)->Value());
  delete parm;
  EXPECT_FALSE(f.IsOpen());
}

// --- the buffer's physical calls -------------------------------------------------------

struct Pattern {
  const char *what;
  unsigned int window;  // 0: unbuffered
  const char *initial;
  std::string (*run)(File &f);  // returns what it read, or statuses
  const char *returns;
  const char *calls;
  const char *after;  // the file's bytes at the end
};

std::string ReadBytes(File &f, unsigned long n) {
  std::string s(n, '?');
  unsigned long got = 0;
  return f.Read(&s[0], n, &got) == 0 ? s.substr(0, got) : "<failed>";
}

const Pattern kPatterns[] = {
    {"byte at a time, one read of a window, then the rest, then nothing", 512,
     "0123456789x", [](File &f) {
       std::string all;
       for (std::string c; (c = ReadBytes(f, 1)).size() == 1;) all += c;
       return all;
     },
     "0123456789x", "getpos getpos read@0:512=11 getpos read@11:501=0", nullptr},
    {"reads across windows", 4, "0123456789",
     [](File &f) {
       std::string r = ReadBytes(f, 6) + "|";
       return r + ReadBytes(f, 6);
     },
     "012345|6789", "getpos getpos read@0:4=4 getpos read@4:4=4 getpos read@8:4=2 getpos read@10:2=0",
     nullptr},
    {"writes across windows: nothing until the window is full", 4, "",
     [](File &f) {
       return Statuses({f.Write("abcd", 4, nullptr), f.Write("ef", 2, nullptr),
                        f.Write("ghijklmno", 9, nullptr), f.Flush(0)});
     },
     "0000", "getpos getpos write@0:4 getpos getpos write@4:4 getpos getpos write@8:4 getpos getpos "
     "write@12:3",
     "abcdefghijklmno"},
    {"seeks inside the window cost nothing, outside flush and move", 8, "0123456789",
     [](File &f) {
       unsigned long at = 0;
       std::string r = ReadBytes(f, 3);
       f.Seek(D::SEEK_FROM_CURRENT, 4, &at);
       r += std::to_string(at);
       r += ReadBytes(f, 1);
       f.Seek(0, &at);
       r += ReadBytes(f, 1);
       f.Write("X", 1, nullptr);
       f.Seek(9, &at);
       return r + ReadBytes(f, 1);
     },
     "0127709", "getpos getpos read@0:8=8 getpos seek0:0 write@0:8 getpos seek0:2 seek0:9 getpos read@9:8=1",
     "0X23456789"},
    {"from the end: unwritten bytes first", 8, "0123456789",
     [](File &f) {
       unsigned long at = 0;
       f.Write("ab", 2, nullptr);
       std::string r = std::to_string(f.Seek(D::SEEK_FROM_END, -1, &at));
       r += std::to_string(at);
       return r + ReadBytes(f, 1);
     },
     "099", "getpos getpos write@0:2 getpos seek2:-1 getpos read@9:8=1", "ab23456789"},
    {"a read after a write in the same window extends the window", 16, "0123456789",
     [](File &f) {
       f.Write("ab", 2, nullptr);
       std::string r = ReadBytes(f, 3);
       f.Flush(0);
       return r;
     },
     "234", "getpos getpos seek0:2 read@2:14=8 getpos seek0:0 write@0:10", "ab23456789"},
    {"positions: buffered without I/O, unbuffered by a relative seek", 0, "0123",
     [](File &f) {
       unsigned long at = 7;
       f.Seek(static_cast<D::eSEEKMODE>(9), 2, &at);  // moves nothing
       std::string r = std::to_string(at);
       f.GetPos(&at);
       f.SetBuffer(2, nullptr);
       r += ReadBytes(f, 1);
       f.Seek(static_cast<D::eSEEKMODE>(9), 2, &at);
       return r + std::to_string(at);
     },
     "001", "seek1:0 seek1:0 getpos getpos read@0:2=2", nullptr},
};

TEST(LogicalFileBuffer, WhatEachPatternReturnsAndItsPhysicalCalls) {
  for (const Pattern &p : kPatterns) {
    SCOPED_TRACE(p.what);
    CF phys(p.initial);
    File f(phys, 0);
    f.SetBuffer(p.window, nullptr);
    ASSERT_EQ(0u, f.OpenExisting(RW, 0));
    phys.Forget();
    EXPECT_EQ(p.returns, p.run(f));
    EXPECT_EQ(p.calls, phys.Calls());
    EXPECT_EQ(0, phys.Depth()) << "the lock is released";
    if (p.after != nullptr) {
      EXPECT_EQ(p.after, phys.data);
    }
  }
}

TEST(LogicalFileBuffer, AFailingWriteBehindKeepsTheFileOpenAndTheData) {
  CF phys;
  File f(phys, 0);
  char mine[8];
  f.SetBuffer(sizeof mine, mine);  // the caller's memory
  ASSERT_EQ(0u, f.Create(RW, 0, 0666));
  ASSERT_EQ(0u, f.Write("hello", 5, nullptr));
  phys.FailNth(1, kInjected, CF::kWRITE);
  EXPECT_EQ(kInjected, f.Close());
  EXPECT_EQ(phys.FailedText(), LastText());
  EXPECT_TRUE(f.IsOpen() && f.IsWritable() && phys.open && phys.data.empty());
  EXPECT_EQ(0u, f.Close()) << "a retried close writes it";
  EXPECT_EQ("hello", phys.data);
  EXPECT_FALSE(f.IsOpen() || f.IsReadable() || f.IsWritable() || phys.open);
  // After closing the caller's memory is given back: the next opening is unbuffered.
  ASSERT_EQ(0u, f.OpenExisting(RW, 0));
  phys.Forget();
  EXPECT_EQ("he", ReadBytes(f, 2));
  EXPECT_EQ("read@0:2=2", phys.Calls());
}

TEST(LogicalFileBuffer, ChangingTheBufferOfAnOpenFileLosesNothing) {
  CF phys("0123456789");
  File f(phys, 0);
  char mine[4];
  ASSERT_EQ(0u, f.OpenExisting(RW, 0));
  EXPECT_EQ("01", ReadBytes(f, 2));
  f.SetBuffer(sizeof mine, mine);  // unbuffered to the caller's memory: starts at 2
  EXPECT_EQ("2", ReadBytes(f, 1));
  ASSERT_EQ(0u, f.Write("ab", 2, nullptr));
  phys.FailNth(1, kInjected, CF::kWRITE);
  f.SetBuffer(64, nullptr);  // cannot write back: the old buffer stays
  EXPECT_EQ(phys.FailedText(), LastText());
  f.SetBuffer(64, nullptr);
  EXPECT_EQ("012ab56789", phys.data);
  EXPECT_EQ("56", ReadBytes(f, 2));
  f.SetBuffer(64, nullptr);  // the same owned size again: the same block, nothing done
  phys.Forget();
  EXPECT_EQ("7", ReadBytes(f, 1));
  EXPECT_EQ("", phys.Calls());
  ASSERT_EQ(0u, f.Close());
}

// --- statuses --------------------------------------------------------------------------

TEST(LogicalFile, ShortReadsAccessSizesAndRegionsFromTheEnd) {
  CF phys("0123456789");
  File f(phys, 0);
  f.SetName("C:\\short.dat");
  EXPECT_EQ(3u, f.AccessTest(D::MODE_READ));
  ExpectFilesys(2, "C:\\short.dat");
  ASSERT_EQ(0u, f.OpenExisting(D::MODE_WRITE, 0));
  EXPECT_EQ(std::make_pair(0, 1), std::make_pair(f.IsReadable(), f.IsWritable()));
  EXPECT_EQ(0u, f.AccessTest(D::MODE_WRITE));
  EXPECT_EQ(3u, f.AccessTest(RW));
  ASSERT_EQ(0u, f.Close());
  f.SetBuffer(16, nullptr);
  ASSERT_EQ(0u, f.OpenExisting(RW, 0));
  char buf[100];
  unsigned long got = 0, size = 0;
  ASSERT_EQ(0u, f.Seek(6, nullptr));
  EXPECT_EQ(0u, f.Read(buf, 100, &got));
  EXPECT_EQ(4ul, got) << "short with a count: success";
  ASSERT_EQ(0u, f.Seek(6, nullptr));
  EXPECT_EQ(4u, f.Read(buf, 100, nullptr));
  ExpectFilesys(3, "C:\\short.dat");
  // Unwritten bytes count in the size; from the end, a file that grows
  // between the size and the lock moves the region to the new end.
  ASSERT_EQ(0u, f.Write("abcdef", 6, nullptr));
  EXPECT_EQ(0u, f.GetSize(&size));
  EXPECT_EQ(16ul, size);
  phys.Forget();
  int grown = 0;
  phys.before = [&grown](CF &p, const std::string &call) {
    if (call.compare(0, 4, "lock") == 0 && grown++ == 0) p.data += "12345";
  };
  EXPECT_EQ(0u, f.LockRegion(D::SEEK_FROM_END, 0, 10, 0));
  EXPECT_EQ("getpos getpos getsize lock@16:10 getpos getsize unlock@16:10 lock@21:10 getpos getsize",
            phys.Calls());
  phys.Forget();
  ASSERT_EQ(0u, f.Seek(4, nullptr));
  EXPECT_EQ("00000", Statuses({f.LockRegion(3, 0), f.UnlockRegion(3),
                               f.UnlockRegion(D::SEEK_FROM_END, 0, 10),
                               f.UnlockRegion(static_cast<D::eSEEKMODE>(7), 0, 10),
                               f.UnlockRegion(0, 0)}));
  EXPECT_EQ("getpos seek0:4 getpos lock@4:3 getpos unlock@4:3 getpos getpos seek2:0 getpos seek0:4 "
            "unlock@21:10 getpos getpos seek2:0 getpos seek0:4 unlock@21:10 getpos unlock@0:0",
            phys.Calls());
  ASSERT_EQ(0u, f.Close());
}

TEST(LogicalFile, SetSizeOfAClosedFileOpensAndClosesIt) {
  CF phys("0123456789");
  File f(phys, 0);
  EXPECT_EQ(0u, f.SetSize(4));
  EXPECT_EQ("open setsize:4 close", phys.Calls());
  EXPECT_TRUE(phys.data == "0123" && !f.IsOpen() && !phys.open);
  phys.FailNth(2, kInjected);
  EXPECT_EQ(kInjected, f.SetSize(2));
  EXPECT_EQ(phys.FailedText(), LastText()) << "the resize's message, not the close's";
  EXPECT_TRUE(!f.IsOpen() && !phys.open);
  phys.exists = false;
  EXPECT_EQ(1u, f.SetSize(2)) << "the open's failure";
}

// --- fault sweep -------------------------------------------------------------------------

// Every public operation on a buffered file (and one unbuffered stretch),
// with the Nth physical call failing: each operation that fails returns
// the injected status and message; every byte a Write accepted reaches the
// file once a flush succeeds; the lock is released every time.
TEST(LogicalFile, FaultSweepOverEveryPhysicalCall) {
  for (unsigned int n = 1;; ++n) {
    SCOPED_TRACE("failing call " + std::to_string(n));
    CF phys;
    phys.FailNth(n, kInjected);
    std::string model;
    bool injected = false;
    {
      File f(phys, 0);
      f.SetBuffer(8, nullptr);
      auto check = [&](unsigned int status) {
        const bool now = !phys.FailedText().empty() && !injected;
        if (now) injected = true;
        EXPECT_EQ(now ? kInjected : 0u, status) << phys.Calls() << " / " << LastText();
        if (now) {
          EXPECT_EQ(phys.FailedText(), LastText());
        }
        EXPECT_EQ(0, phys.Depth());
      };
      auto write = [&](const std::string &s) {
        unsigned long at = 0, put = 0;
        while (f.GetPos(&at) != 0) check(kInjected);
        check(f.Write(s.data(), s.size(), &put));
        if (model.size() < at + put) model.resize(at + put, '\0');
        model.replace(at, put, s.substr(0, put));
      };
      unsigned int status = f.Create(RW, 0, 0666);
      check(status);
      if (status != 0) check(f.Create(RW, 0, 0666));
      unsigned long v = 0;
      char buf[32];
      write("abcdefghij");
      check(f.Seek(3, &v));
      write("XYZ");
      check(f.Seek(D::SEEK_FROM_END, 0, &v));
      write("klmnopqrstuv");
      check(f.Seek(D::SEEK_FROM_CURRENT, 2 - static_cast<long>(model.size()), &v));
      check(f.Read(buf, 5, &v));
      check(f.GetSize(&v));
      check(f.LockRegion(D::SEEK_FROM_END, 0, 4, 1));
      check(f.LockRegion(2, 1));
      check(f.UnlockRegion(D::SEEK_FROM_END, 0, 4));
      status = f.SetSize(30);
      check(status);
      if (status == 0) model.resize(30, '\0');
      f.SetBuffer(0, nullptr);  // says nothing: a failed write-back shows as the last error
      check(!phys.FailedText().empty() && !injected ? kInjected : 0u);
      write("unbuffered");
      check(f.Rewind());
      for (;;) {
        status = f.Close();
        if (status == 0) break;
        check(status);
      }
      EXPECT_EQ(model, phys.data);
    }
    if (!injected) break;
  }
}

TEST(LogicalFile, WithoutMemoryTheDataStillArrives) {
  kelcore_test::TempDir tmp;
  const std::string path = tmp.File("alloc.dat");
  const std::size_t count = kelcore_test::SweepAllocFailures([&] {
    File f;
    f.SetName(path.c_str());
    f.SetBuffer(16, nullptr);
    std::string back(20, '?');
    unsigned long got = 0;
    const bool ok = f.Create(RW, 0, 0666) == 0 && f.Write("0123456789abcdefghij", 20, nullptr) == 0 &&
                    f.Rewind() == 0 && f.Read(&back[0], 20, &got) == 0 && f.Close() == 0;
    std::string bytes;
    if (ok) {
      EXPECT_TRUE(kelcore_test::ReadWholeFile(path, &bytes) && bytes == back &&
                  back == "0123456789abcdefghij");
    }
  });
  EXPECT_GE(count, 2u) << "the file and the window";
}

// --- region locks between processes ------------------------------------------------------

// Locks three regions through a logical file, one in each mode (from the
// start, from the position 40, from the end of the 100-byte file), tells
// the parent, waits, unlocks them with the same words, tells again.
KELCORE_CHILD_MAIN(logical_lock_child) {
  File f;
  f.SetName(args[0].c_str());
  f.SetBuffer(16, nullptr);
  if (f.OpenExisting(RW, 1) != 0 || f.Seek(40, nullptr) != 0) return 10;
  if (Statuses({f.LockRegion(0, 10, 0), f.LockRegion(D::SEEK_FROM_CURRENT, 10, 10, 0),
                f.LockRegion(D::SEEK_FROM_END, 0, 10, 0)}) != "000") return 11;
  kelcore_test::TouchFile(args[1]);
  if (!kelcore_test::WaitForFile(args[2])) return 12;
  if (Statuses({f.UnlockRegion(0, 10), f.UnlockRegion(D::SEEK_FROM_CURRENT, 10, 10),
                f.UnlockRegion(D::SEEK_FROM_END, 0, 10)}) != "000") return 13;
  kelcore_test::TouchFile(args[3]);
  return f.Close() == 0 && kelcore_test::WaitForFile(args[4]) ? 0 : 14;
}

TEST(LogicalFile, RegionLocksInEachModeBetweenProcesses) {
  kelcore_test::TempDir tmp;
  const std::string path = tmp.File("locks.dat");
  ASSERT_TRUE(kelcore_test::WriteWholeFile(path, std::string(100, 'x')));
  kelcore_test::ChildProcess child;
  ASSERT_TRUE(child.Start("logical_lock_child", {path, tmp.File("locked"), tmp.File("go"),
                                                 tmp.File("unlocked"), tmp.File("end")}));
  ASSERT_TRUE(kelcore_test::WaitForFile(tmp.File("locked")));
  File f;
  f.SetName(path.c_str());
  ASSERT_EQ(0u, f.OpenExisting(RW, 1));
  auto probe = [&f](unsigned long at) {
    unsigned int s = f.LockRegion(at, 1, D::LOCK_NOWAIT);
    if (s == 0) f.UnlockRegion(at, 1);
    return s;
  };
  const std::vector<unsigned long> at = {0, 9, 10, 49, 50, 59, 60, 99, 100, 109, 110};
  std::vector<unsigned int> got;
  for (unsigned long a : at) got.push_back(probe(a));
  EXPECT_EQ(std::vector<unsigned int>({6, 6, 0, 0, 6, 6, 0, 0, 6, 6, 0}), got);
  kelcore_test::TouchFile(tmp.File("go"));
  ASSERT_TRUE(kelcore_test::WaitForFile(tmp.File("unlocked")));
  got.clear();
  for (unsigned long a : at) got.push_back(probe(a));
  EXPECT_EQ(std::vector<unsigned int>(at.size(), 0), got);
  kelcore_test::TouchFile(tmp.File("end"));
  EXPECT_EQ(0, child.Wait());
  EXPECT_EQ(0u, f.Close());
}

}  // namespace
