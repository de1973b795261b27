// Operating-system files: the facets, opening and sharing, reading and
// writing, sizes and positions, the file-system facet, region locks within
// and between processes, what failures report, and the "os" trace records.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/os_error.h"
#include "kelcore/msg/message.h"
#include "kelcore/names/unix_file_name.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/thread.h"
#include "kelcore/time/datetime.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

typedef tFILEDEFS D;
typedef tOSFILE F;
const unsigned int R = D::MODE_READ, W = D::MODE_WRITE, RW = D::MODE_READWRITE;
const unsigned int NOWAIT = D::LOCK_NOWAIT, SHARED = D::LOCK_SHARED, kFail = 0xFFFFFFFFu;
// Win32 error codes, the same numbers on every system; errno values count
// negative below.
enum { kNotFound = 2, kDenied = 5, kBadHandle = 6, kSharing = 32, kLocked = 33, kExists = 80 };

// Wine runs the Windows tests on a POSIX file system: the archive flag shows
// on every file, and a superuser may write to read-only files.
#if defined(_WIN32)
const bool kWindows = true, kWine = GetProcAddress(GetModuleHandleA("ntdll"), "wine_get_version");
#else
const bool kWindows = false, kWine = false;
#endif

void ClearLast() { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }

// The last error is the OS library message `number` of set 0 with the
// system error `sys` (an errno value as -errno) and the file names `names`.
void ExpectOsError(unsigned int number, int sys, const std::vector<std::string> &names) {
  tMSG *msg = tTHREAD::GetLastError();
  const tCATMSG *cat = dynamic_cast<const tCATMSG *>(msg);
  ASSERT_TRUE(cat && cat->GetCatalog() == &kelos::Catalog() && cat->GetSetId() == 0)
      << (msg ? msg->Format() : "no last error");
  int code = 0;
  std::vector<std::string> found;
  for (unsigned int i = 0; i < msg->NumParms(); ++i) {
    if (auto *s = dynamic_cast<const tPARM_SYSERR *>(&(*msg)[i])) code = s->Value();
    if (auto *e = dynamic_cast<const tPARM_ERRNO *>(&(*msg)[i])) code = -e->Value();
    if (auto *n = dynamic_cast<const tPARM_FILENAME *>(&(*msg)[i])) found.push_back(n->Value());
  }
  EXPECT_EQ(std::make_tuple(number, sys, names), std::make_tuple(cat->GetMsgId(), code, found));
}
#define EXPECT_OS_ERROR(...) do { SCOPED_TRACE("here"); ExpectOsError(__VA_ARGS__); } while (0)

// A tOSFILE closed when the test ends, however it ends.
struct OsFile : F {
  explicit OsFile(const std::string &name) { SetName(name.c_str()); }
  ~OsFile() { if (GetFileHandle() != -1) Close(); }
};

class OsFileTest : public kelcore_test::TempDirTest {
 protected:
  ~OsFileTest() { ClearLast(); }
  std::string Make(const std::string &name, const std::string &bytes = "0123456789") {
    EXPECT_TRUE(kelcore_test::WriteWholeFile(tmp.File(name), bytes));
    return tmp.File(name);
  }
  static std::string Contents(const std::string &path) {
    std::string bytes;
    return kelcore_test::ReadWholeFile(path, &bytes) ? bytes : "<missing>";
  }
  // What the getters give, or -1 (converted) when they fail.
  static int Exists(F &f) { int exists = 7; return f.Exists(&exists) == 0 ? exists : -1; }
  static unsigned int Attrs(F &f) { unsigned int a = 7; return f.GetAttributes(&a) ? kFail : a; }
  static unsigned int Perms(F &f) { unsigned int p = 7; return f.GetSecurity(&p) ? kFail : p; }
};

// Scratch for the operations below.
char buf[16];
unsigned long ul;
unsigned int ui;
tDATETIME when;

TEST(OsFileFacets, OneNameOneLockAndACompatibleFactory) {
  F f;
  tPHYFILESYSOBJ &sys = f;
  tPHYFILEIOOBJ &io = f;
  tPHYFILENAMEOBJ &name = io;
  EXPECT_TRUE(&name == &static_cast<tPHYFILENAMEOBJ &>(sys) &&
              &static_cast<tPHYSYNCOBJ &>(io) == &static_cast<tPHYSYNCOBJ &>(sys));
  name.SetName("dir/sub\\file.txt");
  EXPECT_STREQ("file.txt", static_cast<tPHYFILENAMEOBJ &>(sys).GetFileName()) << "DOS-style names";
  tPHYSICAL_FILE *made = nullptr;
  ASSERT_EQ(0u, f.AllocCompatFileObj(&made));
  const F *os = dynamic_cast<const F *>(made);
  EXPECT_TRUE(os && os->GetFileHandle() == -1 && !*os->GetName()) << "closed and unnamed";
  delete made;
  for (tPHYSICAL_FILE **out : {&made, static_cast<tPHYSICAL_FILE **>(nullptr)}) {
    ClearLast();
    kelcore_test::ScopedAllocFailure fail(1);
    EXPECT_EQ(kFail, f.AllocCompatFileObj(out));
    EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
  }
  EXPECT_EQ(nullptr, made);
}

// --- opening -----------------------------------------------------------------

// how: 0 OpenExisting, 1 OpenAlways, 2 Create, 3 CreateNew.
unsigned int Open(F &f, int how, unsigned int mode = RW) {
  return how == 0 ? f.OpenExisting(mode, 1) : how == 1 ? f.OpenAlways(mode, 1, 0666)
         : how == 2 ? f.Create(mode, 1, 0666) : f.CreateNew(mode, 1, 0666);
}

// The number of entries in a directory.
int Entries(const std::string &dir) {
  int n = 0;
  for (auto it = std::filesystem::directory_iterator(dir); it != std::filesystem::end(it); ++it) ++n;
  return n;
}

TEST_F(OsFileTest, EachDispositionOnExistingAndMissingFilesAndNoSecondOpen) {
  // In a directory of its own, the file `disk` (if any) holds "old", unless
  // its name begins with "+" (a file that only the opening makes); the file
  // is opened as `name`. Then the status, the system error (0: opened), the
  // contents of `disk` (or of `name`; "<" for neither) and how many entries there are.
  const struct {
    int how; const char *disk, *name; unsigned int status; int sys; const char *after; int files;
  } cases[] = {
      {0, "f", "f", 0, 0, "old", 1}, {0, nullptr, "f", 1, kNotFound, "<missing>", 0},
      {1, "f", "f", 0, 0, "old", 1}, {1, nullptr, "f", 0, 0, "", 1}, {2, "f", "f", 0, 0, "", 1},
      {2, nullptr, "f", 0, 0, "", 1}, {3, "f", "f", 2, kExists, "old", 1},
      {3, nullptr, "f", 0, 0, "", 1},
      // Names match without regard to case, as on Windows: every disposition
      // reaches the file of another case, and none makes a second one.
      {0, "Case.dat", "CASE.DAT", 0, 0, "old", 1}, {1, "Case.dat", "case.Dat", 0, 0, "old", 1},
      {2, "Case.dat", "CASE.dat", 0, 0, "", 1}, {3, "Case.dat", "case.dat", 2, kExists, "old", 1},
      {0, "Sub/In.dat", "SUB\\in.DAT", 0, 0, "old", 2}, {3, "Sub/In.dat", "sub/x", 0, 0, "<", 3},
      // Trailing dots and blanks of the final component go, one dot of a directory.
      {0, "t.dat", "t.dat. .", 0, 0, "old", 1}, {3, "+n.dat", "n.dat.", 0, 0, "", 1},
      {0, "Sub/In.dat", "Sub.\\In.dat ", 0, 0, "old", 2},
      // Characters Windows refuses in a name; a directory that is missing, or no
      // directory, is code 3, not 2.
      {3, nullptr, "a*b.dat", kFail, 123, "<missing>", 0}, {1, nullptr, "q?", kFail, 123, "<missing>", 0},
      {3, nullptr, "p|q", kFail, 123, "<missing>", 0}, {2, nullptr, "l<g>", kFail, 123, "<missing>", 0},
      {3, nullptr, "q\"q", kFail, 123, "<missing>", 0}, {3, nullptr, "c\x01", kFail, 123, "<missing>", 0},
      {0, nullptr, "no\\x", 1, 3, "<missing>", 0}, {3, nullptr, "no/x", 1, 3, "<missing>", 0},
      {0, "f", "f\\x", 1, 3, "old", 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.how) + " of " + c.name + " on " + (c.disk ? c.disk : "nothing"));
    const std::string dir = tmp.File(std::to_string(&c - cases)), path = dir + "/" + c.name;
    std::filesystem::create_directory(dir);
    const char *disk = c.disk && c.disk[0] == '+' ? c.disk + 1 : c.disk;
    const bool sub = disk && std::strchr(disk, '/');
    if (sub) std::filesystem::create_directory(dir + "/Sub");
    if (disk == c.disk && disk) {
      EXPECT_TRUE(kelcore_test::WriteWholeFile(dir + "/" + disk, "old"));
    }
    OsFile f(path);
    ClearLast();
    EXPECT_EQ(c.status, Open(f, c.how));
    const int handle = f.GetFileHandle();
    EXPECT_EQ(c.sys == 0, handle != -1);
    EXPECT_TRUE(c.sys != 0 || tTHREAD::GetLastError() == nullptr);
    // A second open, even one that would truncate, is refused and changes nothing.
    EXPECT_EQ(3u, c.sys == 0 ? Open(f, 2, R) : 3u);
    EXPECT_OS_ERROR(0, c.sys == 0 ? kDenied : c.sys, {f.GetName()});
    EXPECT_EQ(handle, f.GetFileHandle());
    if (std::strcmp(c.after, "<") != 0) {
      EXPECT_EQ(c.after, Contents(disk ? dir + "/" + disk : std::string(f.GetName())));
    }
    EXPECT_EQ(c.files, Entries(dir) + (sub ? Entries(dir + "/Sub") : 0));
  }
}

// The second process: "write" exits with the status of opening args[1] for
// writing. "hold" locks (args[2], args[3], mode args[4]), creates args[5] and
// keeps the lock until args[6] exists; "wait" creates args[5], waits for the
// lock and creates args[6] once it has it.
KELCORE_CHILD_MAIN(os_file_child) {
  OsFile f(args[1]);
  if (args[0] == "write") return static_cast<int>(f.OpenExisting(W, 1));
  if (f.OpenExisting(RW, 1) != 0) return 10;
  if (args[0] == "wait") kelcore_test::TouchFile(args[5]);
  if (f.LockRegion(std::stoul(args[2]), std::stoul(args[3]), std::stoul(args[4])) != 0) return 11;
  kelcore_test::TouchFile(args[0] == "wait" ? args[6] : args[5]);
  if (args[0] == "hold" && !kelcore_test::WaitForFile(args[6], 60000)) return 12;
  return f.Close() == 0 ? 0 : 13;
}

TEST_F(OsFileTest, AccessAndShareModes) {
  OsFile f(Make("f.dat", "abc")), dir(tmp.path()), ro(tmp.File("ro.dat"));
  ASSERT_EQ(0u, f.OpenExisting(0, 0)) << "mode 0 reads; share 0 is deny-none";
  EXPECT_EQ(0u, f.Read(buf, 3, nullptr));
  EXPECT_EQ(3u, f.Write("x", 1, nullptr));
  EXPECT_OS_ERROR(3, kDenied, {f.GetName()});
  ASSERT_EQ(0u, f.Close());
  // No write bit: a read-only file, which its creator may still write.
  ASSERT_EQ(0u, ro.Create(W | D::MODE_WRITETHROUGH | D::MODE_INHERIT, 1, 0444));
  EXPECT_EQ(0u, ro.Write("xyz", 3, nullptr));
  EXPECT_EQ(3u, ro.Read(buf, 3, nullptr)) << "write-only";
  ASSERT_EQ(0u, ro.Close());
  EXPECT_EQ(0555u, Perms(ro));
  // Nobody else writes to it, whoever they are (Wine lets a superuser).
  EXPECT_TRUE(kWine || (ro.OpenExisting(W, 1) == 3 && ro.Create(RW, 1, 0666) == 3));
  EXPECT_EQ("xyz", Contents(ro.GetName()));
  EXPECT_EQ(3u, dir.OpenExisting(R, 1)) << "a directory is no file";
  EXPECT_OS_ERROR(0, kDenied, {tmp.path()});
#if !defined(_WIN32)
  // Only an inheritable opening keeps its descriptor across exec.
  for (unsigned int mode : {R, R | D::MODE_INHERIT}) {
    ASSERT_EQ(0u, f.OpenExisting(mode, 1));
    EXPECT_EQ(mode == R, (fcntl(f.GetFileHandle(), F_GETFD) & FD_CLOEXEC) != 0);
    ASSERT_EQ(0u, f.Close());
  }
#endif
  // Share words decide a second opening between handles of one process on
  // every system; across processes see the second process below.
  const std::string path = Make("s.dat");
  const struct { unsigned int mode1, share1, mode2, share2, status; } cases[] = {
      {RW, D::SHARE_DENYNONE, RW, 1, 0}, {RW, 0, RW, 0, 0}, {RW, 99, RW, 1, 0},
      {R, D::SHARE_DENYWRITE, W, 1, 3}, {R, D::SHARE_DENYWRITE, R, 1, 0},
      {W, D::SHARE_DENYREAD, R, 1, 3}, {W, D::SHARE_DENYREAD, W, 1, 0},
      {R, 1, R, D::SHARE_EXCLUSIVE, 3}, {RW, 1, R, D::SHARE_DENYWRITE, 3},
      {R, D::SHARE_AUTO, RW, 1, 0}, {RW, D::SHARE_AUTO, R, 1, 0}, {RW, D::SHARE_AUTO, W, 1, 3},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    OsFile first(path), second(path);
    ASSERT_EQ(0u, first.OpenExisting(c.mode1, c.share1));
    EXPECT_EQ(c.status, second.OpenExisting(c.mode2, c.share2));
    if (c.status != 0) EXPECT_OS_ERROR(0, kSharing, {path});
    ASSERT_EQ(0u, first.Close());
    EXPECT_EQ(0u, c.status == 0 ? 0u : second.OpenExisting(c.mode2, c.share2)) << "first closed";
  }
  // Windows enforces share modes between processes too; POSIX systems have
  // no mandatory share modes, and the library does not pretend otherwise.
  OsFile open(path), other(path);
  ASSERT_EQ(0u, open.OpenExisting(RW, D::SHARE_EXCLUSIVE));
  kelcore_test::ChildProcess child;
  ASSERT_TRUE(child.Start("os_file_child", {"write", path}));
  EXPECT_EQ(kWindows ? 3 : 0, child.Wait());
  // Every opening shares deletion where the system knows it (NT, POSIX).
  EXPECT_EQ(0u, other.Rename(tPCFILENAME("renamed.dat")));
  other.SetName(tmp.File("renamed.dat").c_str());
  EXPECT_EQ(0u, other.Delete());
}

// --- reading, writing, sizes and positions ----------------------------------

class OsFileIo : public OsFileTest {  // an open file holding "0123456789"
 protected:
  void SetUp() override { ASSERT_EQ(0u, f.OpenExisting(RW, 1)); }
  unsigned long Pos() { unsigned long pos = 12345; return f.GetPos(&pos) == 0 ? pos : 0; }
  unsigned long Size() { unsigned long size = 12345; return f.GetSize(&size) == 0 ? size : 0; }
  std::string Read(unsigned long bytes) {
    unsigned long done = 99;
    return f.Read(buf, bytes, &done) == 0 ? std::string(buf, done) : "<failed>";
  }
  OsFile f{Make("io.dat")};
};

TEST_F(OsFileIo, ReadWriteSeekAndSetSize) {
  tMSG *earlier = tOSERR::Make(4, 5);
  tTHREAD::SetLastError(*earlier);
  unsigned long done = 99;
  EXPECT_EQ(0u, f.Read(nullptr, 0, &done));
  EXPECT_EQ(0ul, done) << "nothing asked, nothing done";
  // Fewer bytes than asked, with a count, and none at the end.
  EXPECT_EQ(std::vector<std::string>({"0123", "456789", ""}),
            std::vector<std::string>({Read(4), Read(16), Read(16)}));
  EXPECT_EQ(earlier, tTHREAD::GetLastError()) << "success leaves the last error alone";
  ASSERT_EQ(0u, f.Seek(8, D::SEEK_FROM_START, nullptr));
  EXPECT_EQ(4u, f.Read(buf, 5, nullptr)) << "fewer without a count: end of file";
  EXPECT_EQ("89", std::string(buf, 2));
  EXPECT_OS_ERROR(2, 0xF009, {f.GetName()});
  ASSERT_EQ(0u, f.Seek(0, D::SEEK_FROM_START, nullptr));
  EXPECT_EQ(0u, f.Write("ab", 2, &done));
  EXPECT_EQ(2ul, done);
  EXPECT_TRUE(f.Write("cd", 2, nullptr) == 0 && f.Flush() == 0);
  EXPECT_EQ(4ul, Pos());
  EXPECT_EQ("abcd456789", Contents(f.GetName()));
  // Seeks from every origin; any other origin counts from the start, and a
  // seek before the start fails, changing nothing.
  const struct { unsigned long start; long by; int from; unsigned long want, status; } cases[] = {
      {5, 3, D::SEEK_FROM_START, 3, 0}, {5, 3, D::SEEK_FROM_CURRENT, 8, 0},
      {5, -5, D::SEEK_FROM_CURRENT, 0, 0}, {2, -4, D::SEEK_FROM_END, 6, 0},
      {0, 5, D::SEEK_FROM_END, 15, 0}, {5, 2, 7, 2, 0}, {2, -20, D::SEEK_FROM_CURRENT, 2, kFail},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    ASSERT_EQ(0u, f.Seek(static_cast<long>(c.start), D::SEEK_FROM_START, nullptr));
    unsigned long pos = 9999;
    EXPECT_EQ(c.status, f.Seek(c.by, static_cast<D::eSEEKMODE>(c.from), &pos));
    EXPECT_EQ(c.status ? 9999 : c.want, pos);
    EXPECT_EQ(c.want, Pos());
    if (c.status) EXPECT_OS_ERROR(17, 131, {f.GetName()});
  }
  // SetSize keeps the position; GetSize works open or closed.
  EXPECT_TRUE(f.Seek(7, D::SEEK_FROM_START, nullptr) == 0 && f.SetSize(4) == 0);
  EXPECT_EQ(std::make_pair(4ul, 7ul), std::make_pair(Size(), Pos()));
  EXPECT_EQ(0u, f.SetSize(100));
  EXPECT_EQ(std::string(3, '\0'), Read(3)) << "grown with zeros";
  ASSERT_EQ(0u, f.Close());
  EXPECT_EQ(100ul, Size()) << "closed: from the name";
  ASSERT_TRUE(f.OpenExisting(R, 1) == 0 && f.Seek(2, D::SEEK_FROM_START, nullptr) == 0);
  EXPECT_NE(0u, f.SetSize(1)) << "a read-only opening";
  if (!kWine) EXPECT_OS_ERROR(9, kDenied, {f.GetName()});  // Wine: invalid parameter
  EXPECT_EQ(std::make_pair(100ul, 2ul), std::make_pair(Size(), Pos()));
}

// The file keeps its own position, so that asking for it and seeking to it
// cost no system call; once the raw handle is handed out, whoever holds it
// may move the position, and the file asks the system again.
TEST_F(OsFileIo, APositionMovedThroughTheRawHandleIsSeen) {
  EXPECT_TRUE(Read(4) == "0123" && Pos() == 4);
  ASSERT_EQ(0u, f.Seek(4, D::SEEK_FROM_START, nullptr));
  EXPECT_EQ("45", Read(2));
  const int handle = f.GetFileHandle();
#if defined(_WIN32)
  ASSERT_NE(INVALID_SET_FILE_POINTER,
            SetFilePointer(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)), 1, nullptr,
                           FILE_BEGIN));
#else
  ASSERT_EQ(1, lseek(handle, 1, SEEK_SET));
#endif
  EXPECT_EQ(1ul, Pos());
  // A seek to where the file stood before the move still moves it.
  ASSERT_EQ(0u, f.Seek(6, D::SEEK_FROM_START, nullptr));
  EXPECT_EQ("6789", Read(9));
}

#if !defined(_WIN32)
// Linux: a device whose position reads do not move reports the position
// the system gives (always 0), as it did before positions were tracked.
TEST(OsFileDevice, ReadsOfADeviceLeaveItsPositionWhereTheSystemSays) {
  F zero;
  zero.SetName("/dev/zero");
  ASSERT_EQ(0u, zero.OpenExisting(R, 1));
  unsigned long pos = 7, got = 0;
  char bytes[100];
  EXPECT_TRUE(zero.GetPos(&pos) == 0 && pos == 0);
  EXPECT_TRUE(zero.Read(bytes, sizeof bytes, &got) == 0 && got == sizeof bytes);
  EXPECT_TRUE(zero.GetPos(&pos) == 0 && pos == 0);
  EXPECT_TRUE(zero.Seek(0, D::SEEK_FROM_CURRENT, &pos) == 0 && pos == 0);
  EXPECT_EQ(0u, zero.Close());
}
#endif

// Sizes, positions and regions past 4 GiB where unsigned long has 64 bits,
// in a sparse file; file systems that refuse such sizes skip.
TEST_F(OsFileIo, FilesBeyondFourGiB) {
  // 5 GiB, or 5 bytes where unsigned long has 32 bits and the test skips.
  const unsigned long big = 5ul << (sizeof(unsigned long) < 8 ? 0 : 30);
  if (sizeof(unsigned long) < 8) GTEST_SKIP() << "unsigned long has 32 bits here";
  if (f.SetSize(big) != 0) GTEST_SKIP() << "the file system refuses such sizes";
  EXPECT_EQ(big, Size());
  ASSERT_EQ(0u, f.Seek(-3, D::SEEK_FROM_END, nullptr));
  EXPECT_EQ(big - 3, Pos());
  if (f.Write("end", 3, nullptr) != 0) GTEST_SKIP() << "no room";
  EXPECT_EQ(big, Pos());
  EXPECT_TRUE(f.LockRegion(big - 100, 50, NOWAIT) == 0 && f.UnlockRegion(big - 100, 50) == 0);
  ASSERT_EQ(0u, f.Close());
  EXPECT_EQ(big, Size());
}

// --- the file-system facet ---------------------------------------------------

TEST_F(OsFileTest, ExistsRenameDeleteAttributesPermissionsAndTimes) {
  OsFile f(tmp.File("f.dat")), deep(tmp.File("nodir") + "/x.dat"), dir(tmp.path());
  EXPECT_EQ(std::vector<int>({0, 0, 1}), std::vector<int>({Exists(f), Exists(deep), Exists(dir)}));
  EXPECT_EQ(nullptr, tTHREAD::GetLastError()) << "a missing file is no failure";
  Make("f.dat", "payload");
  EXPECT_EQ(1, Exists(f));
  // Renames stay in the directory: a location, or no name at all, is
  // refused before the disk is touched.
  for (const char *bad : {"sub\\x.dat", "sub/x.dat", "C:x.dat", "\\x.dat", ""}) {
    EXPECT_EQ(kFail, f.Rename(tPCFILENAME(bad)));
    EXPECT_OS_ERROR(5, 123, {bad});
  }
  EXPECT_EQ(0u, f.Rename(tUNIXFILENAME("new.dat")));
  EXPECT_EQ(tmp.File("f.dat"), f.GetName()) << "the object keeps its name";
  EXPECT_EQ("payload", Contents(tmp.File("new.dat")));
  const std::string target = tmp.path() + "\\taken.dat";  // as the DOS-style name builds it
  EXPECT_EQ(1u, f.Rename(tPCFILENAME("taken.dat")));
  EXPECT_OS_ERROR(5, kNotFound, {f.GetName(), target});
  Make("taken.dat", "t");
  f.SetName(tmp.File("new.dat").c_str());
  EXPECT_EQ(2u, f.Rename(tPCFILENAME("taken.dat"))) << "nothing is replaced";
  EXPECT_OS_ERROR(5, 183, {f.GetName(), target});
  EXPECT_EQ("t", Contents(tmp.File("taken.dat")));
  // A name of another case is taken, unless it is the file's own; a name
  // Windows refuses is refused.
  EXPECT_EQ(2u, f.Rename(tPCFILENAME("TAKEN.dat")));
  EXPECT_EQ(kFail, f.Rename(tPCFILENAME("a*b.dat")));
  EXPECT_OS_ERROR(5, 123, {f.GetName(), tmp.path() + "\\a*b.dat"});
  EXPECT_EQ(0u, f.Rename(tPCFILENAME("NEW.dat")));
  EXPECT_EQ(1, Exists(f)) << "new.dat is NEW.dat";
  EXPECT_EQ(2, Entries(tmp.path())) << "NEW.dat and taken.dat";
  ASSERT_EQ(0u, f.SetSecurity(0444, kFail));
  EXPECT_EQ(3u, f.Delete()) << "read-only";
  EXPECT_OS_ERROR(4, kDenied, {f.GetName()});
  ASSERT_EQ(0u, f.SetSecurity(0666, kFail));
  EXPECT_EQ(0u, f.Delete());
  EXPECT_EQ("<missing>", Contents(f.GetName()));
#if !defined(_WIN32)
  // The one drive of POSIX systems is C:, and "\" is a separator.
  std::string dos = "C:" + Make("dos.dat", "dos");
  for (char &c : dos) c = c == '/' ? '\\' : c;
  OsFile d(dos), other("Q:\\nowhere\\x.dat");
  EXPECT_EQ(std::vector<int>({1, 0}), std::vector<int>({Exists(d), Exists(other)}));
#endif
  OsFile a(Make("a.dat")), h(tmp.File("h.dat"));
  EXPECT_EQ(static_cast<unsigned int>(D::ATTR_DIRECTORY), Attrs(dir) & 3);
  ASSERT_EQ(0u, a.SetAttributes(0, D::ATTR_ARCHIVE));
  EXPECT_TRUE(kWine || Attrs(a) == D::ATTR_FILE);
  ASSERT_EQ(0u, a.SetAttributes(D::ATTR_ARCHIVE, D::ATTR_ARCHIVE));
  ASSERT_EQ(0u, a.SetAttributes(0, D::ATTR_FILE)) << "bits outside the mask stay";
  EXPECT_EQ(D::ATTR_FILE | D::ATTR_ARCHIVE, Attrs(a));
  // Read-only follows the others-write bit and reads back as 0555; setting
  // attributes clears read-only, hidden and system.
  const struct { unsigned int initial, permissions, mask, want; bool attributes; } cases[] = {
      {0777, 0664, kFail, 0555, 0}, {0444, 0002, kFail, 0777, 0}, {0555, 0777, 0, 0555, 0},
      {0555, 0002, 0002, 0777, 0}, {0777, 0, 0002, 0555, 0}, {0555 | D::PERM_SYSTEM, 0, 0, 0777, 1},
  };
  for (const auto &c : cases) {
    ASSERT_EQ(0u, a.SetSecurity(c.initial, kFail));
    ASSERT_EQ(0u, c.attributes ? a.SetAttributes(D::ATTR_ARCHIVE, kFail)
                               : a.SetSecurity(c.permissions, c.mask));
    EXPECT_EQ(c.want, Perms(a)) << &c - cases;
  }
  // Modification times round trip, away from any summer-time change.
  for (const tDATETIME &t : {tDATETIME(tDATE(2001, 2, 3), tTIME(4, 5, 6)),
                             tDATETIME(tDATE(2019, 7, 15), tTIME(12, 30, 59))}) {
    tDATETIME back(tDATE(1, 1, 1), tTIME(1, 1, 1, 99));
    ASSERT_TRUE(a.SetModifyTime(t) == 0 && a.GetModifyTime(&back) == 0);
    EXPECT_TRUE(t == back) << t.Date.Year;
  }
  // Hidden and system: the file's own attributes on Windows, an extended
  // attribute on POSIX file systems that keep user extended attributes.
  ASSERT_TRUE(h.Create(RW, 1, D::PERM_HIDDEN) == 0 && h.Close() == 0);
  const unsigned int created = Perms(h);
  ASSERT_EQ(0u, h.SetSecurity(D::PERM_SYSTEM, D::PERM_HIDDEN | D::PERM_SYSTEM));
  if (!kWindows && Perms(h) == 0555u) GTEST_SKIP() << "no user extended attributes here";
  EXPECT_EQ(0555u | D::PERM_HIDDEN, created);
  EXPECT_EQ(0555u | D::PERM_SYSTEM, Perms(h));
  // A directory's read-only stops nothing, as on Windows: files are still
  // made inside (Wine does not keep the attribute on directories).
  ASSERT_EQ(0u, dir.SetSecurity(0555, kFail));
  EXPECT_EQ(kWine ? 0777u : 0555u, Perms(dir));
  OsFile in(tmp.File("in.dat"));
  EXPECT_TRUE(in.CreateNew(RW, 1, 0666) == 0 && in.Close() == 0);
  ASSERT_EQ(0u, dir.SetSecurity(0777, kFail));
  EXPECT_EQ(0777u, Perms(dir));
}

// --- what failures report, and the trace records -----------------------------

#define OP(...) [](F &f) { return f.__VA_ARGS__; }

// Each operation on a closed object named after a missing file.
TEST_F(OsFileTest, FailuresCarryMessageNumberSystemCodeAndNameAndTracesGoToOs) {
  const struct { unsigned int (*op)(F &f); unsigned int number; int sys; } cases[] = {
      {OP(OpenExisting(R, 1)), 0, kNotFound},
      {OP(Read(buf, 4, nullptr)), 2, kBadHandle}, {OP(Write("x", 1, nullptr)), 3, kBadHandle},
      {OP(Flush()), 3, kBadHandle}, {OP(Delete()), 4, kNotFound},
      {OP(LockRegion(0, 1, NOWAIT)), 7, kBadHandle}, {OP(SetSize(1)), 9, kBadHandle},
      {OP(SetAttributes(0, D::ATTR_ARCHIVE)), 9, kNotFound},
      {OP(SetAttributes(0, kFail)), 9, kNotFound}, {OP(GetSize(&ul)), 10, -2},
      {OP(GetAttributes(&ui)), 10, kNotFound}, {OP(SetSecurity(0777, kFail)), 11, kNotFound},
      {OP(GetSecurity(&ui)), 12, kNotFound}, {OP(GetModifyTime(&when)), 14, -2},
      {OP(SetModifyTime(tDATETIME(tDATE(2010, 6, 1), tTIME()))), 13, -2},
      {OP(Seek(0, D::SEEK_FROM_START, nullptr)), 17, kBadHandle}, {OP(GetPos(&ul)), 18, kBadHandle},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    OsFile f(tmp.File("missing.dat"));
    EXPECT_EQ(c.sys == kBadHandle ? kFail : 1u, c.op(f));
    EXPECT_OS_ERROR(c.number, c.sys, {f.GetName()});
  }
  // Closing what is not open has nothing to do, as CloseHandle of the
  // invalid handle on Windows: success, and the last error left alone.
  OsFile closed(tmp.File("missing.dat"));
  EXPECT_EQ(0u, closed.Close());
  EXPECT_OS_ERROR(18, kBadHandle, {closed.GetName()});
  // The traces: only under the "os" label, at levels 0xC0.
  int handle = -1;
  auto run = [this, &handle] {  // every traced operation, in this order
    OsFile f(tmp.File("t.dat"));
    ASSERT_EQ(0u, f.Create(RW, 1, 0002));  // any write bit makes it writable, and deletable
    handle = f.GetFileHandle();
    const std::vector<unsigned int> statuses = {
        f.Write("0123456789", 10, nullptr), f.Seek(-4, D::SEEK_FROM_END, nullptr),
        f.Seek(-100, D::SEEK_FROM_CURRENT, nullptr), f.SetSize(8),
        f.LockRegion(2, 3, SHARED | NOWAIT), f.LockRegion(10, 0, 0), f.UnlockRegion(0, 0),
        f.Close(), f.Rename(tPCFILENAME("u.dat"))};
    EXPECT_EQ(std::vector<unsigned int>({0, 0, kFail, 0, 0, 0, 0, 0, 0}), statuses);
    f.SetName(tmp.File("u.dat").c_str());
    EXPECT_EQ(0u, f.Delete());
  };
  for (auto quiet : {std::make_pair(kFail, "app;cstream"), std::make_pair(0x80u, "os"),
                     std::make_pair(0x41u, "os")}) {
    kelcore_test::LogCapture log(quiet.first, quiet.second);
    run();
    EXPECT_EQ("", log.Text()) << quiet.first << " " << quiet.second;
  }
  kelcore_test::LogCapture log(0xC0, "os");
  run();
  const std::string h = std::to_string(handle), t = tmp.File("t.dat"), s = "Seek(" + h + ",",
                    l = "Region(Handle=" + h + ", Offset=";
  const std::vector<std::string> want = {
      s + "-4,2)=6", s + "-100,1)", s + "0,1)=6", s + "8,0)=8", s + "6,0)=6",
      "Lock" + l + "2, Bytes=3, Shared | NoWait)", "Lock" + l + "10, Bytes=0, Exclusive | Wait)",
      "Unlock" + l + "0, Bytes=0)", "Closing file \"" + t + "\" on handle " + h,
      "Renamed file \"" + t + "\" to \"" + tmp.path() + "\\u.dat\".",  // DOS-style
      "Deleting file \"" + tmp.File("u.dat") + "\""};
  EXPECT_EQ(want, log.Lines());
}

// --- region locks --------------------------------------------------------------

// A mode bit of the steps below: the step is skipped under Wine.
const unsigned int kNotWine = 0x100;

// Two handles on one file, `a` and `b`, and another process, driven by steps:
// 'L' `a` locks, 'l' `b` locks; 'U', 'u' unlock; 'p' `b` locks without
// waiting and, if it got the range, unlocks it at once; 'C' `a` closes and
// opens again; 'o' `b` opens again with the mode given; 'X', 'x' `a`, `b`
// read the range and 'Y', 'y' write it; 'H' another process holds a lock
// until 'R' lets it go and it ends; 'W' another process waits for a lock
// (got 1 once it has it). Each step wants its status; a failing lock,
// read or write reports message 7, 2 or 3 with ERROR_LOCK_VIOLATION, a
// failing unlock message 8 with ERROR_ACCESS_DENIED.
class RegionLocks : public OsFileTest {
 protected:
  struct Step {  // what, where, the status it wants, and the lock mode
    Step(char o, unsigned long a, unsigned long l, unsigned int w = 0, unsigned int m = 0)
        : op(o), at(a), len(l), want(w), mode(m) {}
    char op; unsigned long at, len; unsigned int want, mode;
  };
  void SetUp() override { ASSERT_EQ(0u, a.OpenExisting(RW, 1) + b.OpenExisting(RW, 1)); }
  std::string Flag(const char *name) { return tmp.File(name + std::to_string(children)); }
  void Run(const std::vector<Step> &steps) {
    for (const Step &s : steps) {
      SCOPED_TRACE(std::string(1, s.op) + " step " + std::to_string(&s - &steps[0]));
      if (kWine && (s.mode & kNotWine)) continue;
      F &f = s.op >= 'a' ? b : a;
      unsigned int got = 0;
      if (std::strchr("Llp", s.op)) got = f.LockRegion(s.at, s.len, s.op == 'p' ? NOWAIT : s.mode);
      if (std::strchr("Uu", s.op) || (s.op == 'p' && got == 0)) got = f.UnlockRegion(s.at, s.len);
      if (s.op == 'C') got = a.Close() == 0 && a.OpenExisting(RW, 1) == 0 ? 0 : 1;
      if (s.op == 'o') got = b.Close() + b.OpenExisting(s.mode, 1);
      if (std::strchr("XxYy", s.op)) {
        got = f.Seek(static_cast<long>(s.at), D::SEEK_FROM_START, nullptr);
        static char bytes[400];
        if (got == 0) got = s.op == 'X' || s.op == 'x' ? f.Read(bytes, s.len, &ul)
                                                       : f.Write(bytes, s.len, &ul);
      }
      if (s.op == 'H' || s.op == 'W') {
        ASSERT_TRUE(child.Start("os_file_child", {s.op == 'H' ? "hold" : "wait", a.GetName(),
            std::to_string(s.at), std::to_string(s.len), std::to_string(s.mode), Flag("first"),
            Flag("second")}));
        ASSERT_TRUE(kelcore_test::WaitForFile(Flag("first")));
        kelcore_test::SleepMs(s.op == 'W' ? 100 : 0);
        got = Contents(Flag("second")) != "<missing>";
      }
      if (s.op == 'R') {  // a waiting process makes `second` itself, and no harm done
        kelcore_test::TouchFile(Flag("second"));
        got = static_cast<unsigned int>(child.Wait());
        ++children;
      }
      EXPECT_EQ(s.want, got);
      const unsigned int number = std::strchr("Xx", s.op) ? 2 : std::strchr("Yy", s.op) ? 3 : 7;
      if (got == 6 || got == 3)
        EXPECT_OS_ERROR(got == 6 ? number : 8, got == 6 ? kLocked : kDenied, {a.GetName()});
    }
  }
  OsFile a{Make("locks.dat", std::string(400, 'x'))}, b{a.GetName()};
  kelcore_test::ChildProcess child;
  int children = 0;
};

TEST_F(RegionLocks, WithinAndAcrossProcesses) {
  Run({
      // The whole file, at every possible offset, not just up to the size; a
      // region excludes only itself, from others and from its own handle.
      {'L', 0, 0}, {'p', 0, 1, 6}, {'p', 399, 1, 6}, {'p', 1000000, 1, 6}, {'U', 0, 0}, {'p', 0, 0},
      {'L', 100, 50}, {'l', 120, 1, 6, NOWAIT}, {'p', 0, 100}, {'p', 150, 10},
      {'L', 110, 10, 6, NOWAIT}, {'L', 110, 10, 0, NOWAIT | SHARED},
      // Only whole regions unlock, not part of one; a range with nothing locked
      // is fine; what unlocks goes from the list too.
      {'L', 200, 100}, {'U', 120, 10, 3}, {'p', 120, 10, 6}, {'U', 160, 30}, {'U', 100, 200},
      {'p', 100, 200}, {'U', 0, 0},
      // The walk stops at the first region not inside; those before it stay
      // unlocked. A length past the end of the range reaches to the end, as 0
      // does: 300 to the end is not inside 300..399, nor 20..119 inside 25 to the end.
      {'L', 0, 10}, {'L', 20, 100}, {'U', 0, 50, 3}, {'p', 0, 10}, {'p', 20, 1, 6},
      {'L', 300, static_cast<unsigned long>(-1)}, {'p', 5000000, 1, 6}, {'U', 300, 100, 3},
      {'U', 25, 0, 3}, {'U', 20, 0}, {'p', 0, 0},
      // Shared locks keep writers out; overlapping shared regions of one handle:
      // dropping one keeps the other (0..59 goes, 50..99 stops the walk).
      // Closing releases, and the records go with the handle.
      {'L', 0, 60, 0, SHARED}, {'l', 50, 100, 0, SHARED | NOWAIT}, {'p', 0, 10, 6}, {'u', 50, 100},
      {'L', 50, 50, 0, SHARED | NOWAIT}, {'U', 0, 60, 3}, {'p', 50, 10, 6}, {'p', 0, 50},
      {'C', 0, 0}, {'p', 0, 0}, {'U', 0, 0},
      // A handle's shared range over its own exclusive one: dropping the
      // exclusive one leaves the shared one in force.
      {'L', 10, 10}, {'L', 0, 30, 0, SHARED | NOWAIT}, {'l', 0, 5, 0, SHARED | NOWAIT},
      {'u', 0, 5}, {'l', 15, 1, 6, SHARED | NOWAIT}, {'U', 10, 10, 3}, {'p', 12, 1, 6},
      {'l', 12, 1, 0, SHARED | NOWAIT}, {'u', 12, 1}, {'U', 0, 30}, {'p', 0, 30},
      // Either kind of lock through a handle opened for reading only or for
      // writing only.
      {'o', 0, 0, 0, R}, {'l', 0, 10, 0, NOWAIT}, {'L', 5, 1, 6, NOWAIT | SHARED}, {'u', 0, 10},
      {'o', 0, 0, 0, W}, {'l', 0, 10, 0, NOWAIT | SHARED}, {'L', 5, 1, 0, NOWAIT | SHARED},
      {'L', 6, 1, 6, NOWAIT}, {'u', 0, 10}, {'U', 5, 1}, {'o', 0, 0, 0, RW},
      // Locks are mandatory between handles of one process: another handle's
      // exclusive range keeps out reading and writing, a shared range keeps
      // out writing, through its own handle too (Wine does not enforce any).
      {'L', 100, 50}, {'x', 90, 20, 6, kNotWine}, {'y', 149, 5, 6, kNotWine}, {'x', 0, 100},
      {'y', 150, 10}, {'X', 90, 20}, {'Y', 100, 50}, {'U', 100, 50}, {'L', 100, 50, 0, SHARED},
      {'x', 90, 20}, {'y', 149, 1, 6, kNotWine}, {'Y', 120, 1, 6, kNotWine}, {'X', 120, 1},
      {'U', 100, 50}, {'y', 149, 1}, {'Y', 120, 1},
      // Another process: NOWAIT fails while it holds the region, and its end
      // releases it; shared locks coexist across processes, and keep writers
      // out; a waiting lock proceeds once released.
      // Between processes, POSIX locks stay advisory.
      {'H', 100, 50}, {'x', 100, 10, kWindows ? 6u : 0u, kNotWine},
      {'L', 120, 10, 6, NOWAIT}, {'L', 0, 0, 6, NOWAIT | SHARED},
      {'L', 0, 100, 0, NOWAIT}, {'R', 0, 0}, {'L', 120, 10, 0, NOWAIT}, {'U', 0, 0},
      {'H', 0, 100, 0, SHARED}, {'L', 50, 100, 0, SHARED | NOWAIT}, {'l', 0, 10, 6, NOWAIT},
      {'R', 0, 0}, {'l', 0, 10, 0, NOWAIT}, {'u', 0, 0}, {'U', 0, 0}, {'L', 0, 0}, {'W', 10, 5},
      {'U', 0, 0}, {'R', 0, 0},
  });
}

TEST_F(RegionLocks, WithoutMemoryNoLockStaysBehind) {
  const std::size_t before = kelcore_test::NothrowAllocationCount();
  ASSERT_EQ(0u, a.LockRegion(0, 100, NOWAIT));
  const std::size_t count = kelcore_test::NothrowAllocationCount() - before;
  ASSERT_EQ(0u, a.UnlockRegion(0, 100));
  for (std::size_t n = 1; n <= count; ++n) {
    {
      kelcore_test::ScopedAllocFailure fail(n);
      EXPECT_EQ(kFail, a.LockRegion(0, 100, NOWAIT)) << n;
    }
    EXPECT_TRUE(n < count || tTHREAD::GetLastError() == &tERRMSG::OutOfMemory);
    Run({{'p', 0, 100}, {'U', 0, 0}});  // nothing locked, nothing in the list
  }
}

}  // namespace
