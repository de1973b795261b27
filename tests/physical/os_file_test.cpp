// Operating-system files: the facets, opening and sharing, reading and
// writing, sizes and positions, the file-system facet, region locks within
// and between processes, what failures report, and the "os" trace records.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
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
const bool kWindows = true;
const bool kWine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
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
    const tPARAMETER *p = &(*msg)[i];
    if (auto *s = dynamic_cast<const tPARM_SYSERR *>(p)) code = s->Value();
    if (auto *e = dynamic_cast<const tPARM_ERRNO *>(p)) code = -e->Value();
    if (auto *n = dynamic_cast<const tPARM_FILENAME *>(p)) found.push_back(n->Value());
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
  std::string Path(const char *name) { return tmp.File(name); }
  std::string Make(const char *name, const std::string &bytes = "0123456789") {
    EXPECT_TRUE(kelcore_test::WriteWholeFile(tmp.File(name), bytes));
    return tmp.File(name);
  }
  static std::string Contents(const std::string &path) {
    std::string bytes;
    return kelcore_test::ReadWholeFile(path, &bytes) ? bytes : "<missing>";
  }
};

TEST(OsFileFacets, OneNameOneLockAndACompatibleFactory) {
  F f;
  tPHYFILESYSOBJ &sys = f;
  tPHYFILEIOOBJ &io = f;
  tPHYFILENAMEOBJ &sys_name = sys, &io_name = io;
  tPHYSYNCOBJ &sys_lock = sys, &io_lock = io;
  EXPECT_TRUE(&sys_name == &io_name && &sys_lock == &io_lock);
  io_name.SetName("dir/sub\\file.txt");
  EXPECT_STREQ("file.txt", sys_name.GetFileName()) << "DOS-style names";
  tPHYSICAL_FILE *made = nullptr;
  ASSERT_EQ(0u, f.AllocCompatFileObj(&made));
  std::unique_ptr<tPHYSICAL_FILE> owner(made);
  const F *os = dynamic_cast<const F *>(made);
  EXPECT_TRUE(os && os->GetFileHandle() == -1 && !*os->GetName()) << "closed and unnamed";
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

TEST_F(OsFileTest, EachDispositionOnExistingAndMissingFilesAndNoSecondOpen) {
  // The status, the system error (0: opened) and the contents afterwards.
  const struct { int how, exists; unsigned int status; int sys; const char *after; } cases[] = {
      {0, 1, 0, 0, "old"}, {0, 0, 1, kNotFound, "<missing>"}, {1, 1, 0, 0, "old"},
      {1, 0, 0, 0, ""},   {2, 1, 0, 0, ""}, {2, 0, 0, 0, ""},
      {3, 1, 2, kExists, "old"}, {3, 0, 0, 0, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.how) + (c.exists ? " on an existing file" : " on a new one"));
    const std::string name = "f" + std::to_string(&c - cases), path = Path(name.c_str());
    if (c.exists) Make(name.c_str(), "old");
    OsFile f(path);
    ClearLast();
    EXPECT_EQ(c.status, Open(f, c.how));
    const int handle = f.GetFileHandle();
    EXPECT_EQ(c.sys == 0, handle != -1);
    if (c.sys != 0) EXPECT_OS_ERROR(0, c.sys, {path});
    EXPECT_TRUE(c.sys != 0 || tTHREAD::GetLastError() == nullptr);
    // A second open, even one that would truncate, is refused and changes nothing.
    EXPECT_EQ(3u, c.sys == 0 ? Open(f, 2, R) : 3u);
    if (c.sys == 0) EXPECT_OS_ERROR(0, kDenied, {path});
    EXPECT_EQ(handle, f.GetFileHandle());
    f.Close();
    EXPECT_EQ(c.after, Contents(path));
  }
}

TEST_F(OsFileTest, AccessModesAndCreationPermissions) {
  char buf[3];
  unsigned int perms = 0;
  OsFile f(Make("f.dat", "abc")), dir(tmp.path()), ro(Path("ro.dat"));
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
  ASSERT_EQ(0u, ro.GetSecurity(&perms));
  EXPECT_EQ(0555u, perms);
  // Nobody else writes to it, whoever they are (Wine lets a superuser).
  EXPECT_EQ(3u, kWine ? 3u : ro.OpenExisting(W, 1));
  EXPECT_EQ(3u, kWine ? 3u : ro.Create(RW, 1, 0666));
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
}

// The second process: "write" exits with the status of opening args[1] for
// writing. "hold" locks (args[2], args[3], mode args[4]), creates args[5] and
// keeps the lock until args[6] exists; "wait" creates args[5], waits for the
// lock and creates args[6] once it has it.
KELCORE_CHILD_MAIN(os_file_child) {
  F f;
  f.SetName(args[1].c_str());
  if (args[0] == "write") return static_cast<int>(f.OpenExisting(W, 1));
  if (f.OpenExisting(RW, 1) != 0) return 10;
  if (args[0] == "wait") kelcore_test::TouchFile(args[5]);
  if (f.LockRegion(std::stoul(args[2]), std::stoul(args[3]), std::stoul(args[4])) != 0) return 11;
  kelcore_test::TouchFile(args[0] == "wait" ? args[6] : args[5]);
  if (args[0] == "hold" && !kelcore_test::WaitForFile(args[6], 60000)) return 12;
  return f.Close() == 0 ? 0 : 13;
}

// Between handles of one process on every system; across processes see the
// second process below.
TEST_F(OsFileTest, ShareWordsDecideTheSecondOpening) {
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
  other.SetName(Path("renamed.dat").c_str());
  EXPECT_EQ(0u, other.Delete());
}

// --- reading, writing, sizes and positions ----------------------------------

class OsFileIo : public OsFileTest {  // an open file holding "0123456789"
 protected:
  void SetUp() override { ASSERT_EQ(0u, f.OpenExisting(RW, 1)); }
  unsigned long Pos() { unsigned long pos = 12345; return f.GetPos(&pos) == 0 ? pos : 0; }
  unsigned long Size() { unsigned long size = 12345; return f.GetSize(&size) == 0 ? size : 0; }
  OsFile f{Make("io.dat")};
};

TEST_F(OsFileIo, ReadsAndWritesWithAndWithoutCounts) {
  tMSG *earlier = tOSERR::Make(4, 5);
  tTHREAD::SetLastError(*earlier);
  char buf[16];
  unsigned long done = 99;
  EXPECT_EQ(0u, f.Read(nullptr, 0, &done));
  EXPECT_EQ(0ul, done) << "nothing asked, nothing done";
  EXPECT_EQ(0u, f.Read(buf, 4, &done));
  EXPECT_EQ("0123", std::string(buf, done));
  EXPECT_EQ(0u, f.Read(buf, sizeof buf, &done)) << "fewer bytes than asked, with a count";
  EXPECT_EQ("456789", std::string(buf, done));
  EXPECT_EQ(0u, f.Read(buf, sizeof buf, &done));
  EXPECT_EQ(0ul, done);
  EXPECT_EQ(earlier, tTHREAD::GetLastError()) << "success leaves the last error alone";
  ASSERT_EQ(0u, f.Seek(8, D::SEEK_FROM_START, nullptr));
  EXPECT_EQ(4u, f.Read(buf, 5, nullptr)) << "fewer without a count: end of file";
  EXPECT_EQ("89", std::string(buf, 2));
  EXPECT_OS_ERROR(2, 0xF009, {f.GetName()});
  ASSERT_EQ(0u, f.Seek(0, D::SEEK_FROM_START, nullptr));
  EXPECT_EQ(0u, f.Write("ab", 2, &done));
  EXPECT_EQ(2ul, done);
  EXPECT_EQ(0u, f.Write("cd", 2, nullptr));
  EXPECT_EQ(4ul, Pos());
  EXPECT_EQ(0u, f.Flush());
  EXPECT_EQ("abcd456789", Contents(f.GetName()));
}

TEST_F(OsFileIo, SeeksFromEveryOriginAndSetSize) {
  const struct { unsigned long start; long distance; int from; unsigned long want; } cases[] = {
      {5, 3, D::SEEK_FROM_START, 3}, {5, 3, D::SEEK_FROM_CURRENT, 8},
      {5, -5, D::SEEK_FROM_CURRENT, 0}, {2, -4, D::SEEK_FROM_END, 6},
      {0, 5, D::SEEK_FROM_END, 15}, {5, 2, 7, 2},  // any other origin counts from the start
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    ASSERT_EQ(0u, f.Seek(static_cast<long>(c.start), D::SEEK_FROM_START, nullptr));
    unsigned long pos = 9999;
    EXPECT_EQ(0u, f.Seek(c.distance, static_cast<D::eSEEKMODE>(c.from), &pos));
    EXPECT_EQ(c.want, pos);
    EXPECT_EQ(c.want, Pos());
  }
  unsigned long pos = 77;
  EXPECT_EQ(kFail, f.Seek(-20, D::SEEK_FROM_CURRENT, &pos)) << "before the start";
  EXPECT_EQ(77ul, pos);
  EXPECT_OS_ERROR(17, 131, {f.GetName()});
  EXPECT_EQ(2ul, Pos());
  // SetSize keeps the position; GetSize works open or closed.
  ASSERT_EQ(0u, f.Seek(7, D::SEEK_FROM_START, nullptr));
  EXPECT_EQ(0u, f.SetSize(4));
  EXPECT_EQ(4ul, Size());
  EXPECT_EQ(7ul, Pos());
  EXPECT_EQ(0u, f.SetSize(100));
  char buf[3] = {1, 1, 1};
  ASSERT_EQ(0u, f.Read(buf, 3, nullptr));
  EXPECT_EQ(std::string(3, '\0'), std::string(buf, 3)) << "grown with zeros";
  ASSERT_EQ(0u, f.Close());
  EXPECT_EQ(100ul, Size()) << "closed: from the name";
  ASSERT_EQ(0u, f.OpenExisting(R, 1));
  ASSERT_EQ(0u, f.Seek(2, D::SEEK_FROM_START, nullptr));
  EXPECT_NE(0u, f.SetSize(1)) << "a read-only opening";
  if (!kWine) EXPECT_OS_ERROR(9, kDenied, {f.GetName()});  // Wine: invalid parameter
  EXPECT_EQ(2ul, Pos());
  EXPECT_EQ(100ul, Size());
}

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
  EXPECT_EQ(0u, f.LockRegion(big - 100, 50, NOWAIT));
  EXPECT_EQ(0u, f.UnlockRegion(big - 100, 50));
  ASSERT_EQ(0u, f.Close());
  EXPECT_EQ(big, Size());
}

// --- the file-system facet ---------------------------------------------------

TEST_F(OsFileTest, ExistsRenameAndDelete) {
  OsFile f(Path("f.dat")), deep(Path("nodir") + "/x.dat"), dir(tmp.path());
  int exists[3] = {7, 7, 7};
  EXPECT_EQ(0u, f.Exists(&exists[0]) + deep.Exists(&exists[1]) + dir.Exists(&exists[2]));
  EXPECT_EQ(std::vector<int>({0, 0, 1}), std::vector<int>(exists, exists + 3));
  EXPECT_EQ(nullptr, tTHREAD::GetLastError()) << "a missing file is no failure";
  Make("f.dat", "payload");
  EXPECT_EQ(0u, f.Exists(&exists[0]));
  EXPECT_EQ(1, exists[0]);
  // Renames stay in the directory: a location is refused before the disk is touched.
  for (const char *bad : {"sub\\x.dat", "sub/x.dat", "C:x.dat", "\\x.dat"}) {
    EXPECT_EQ(kFail, f.Rename(tPCFILENAME(bad)));
    EXPECT_OS_ERROR(5, 123, {bad});
  }
  EXPECT_EQ(0u, f.Rename(tUNIXFILENAME("new.dat")));
  EXPECT_EQ(Path("f.dat"), f.GetName()) << "the object keeps its name";
  EXPECT_EQ("payload", Contents(Path("new.dat")));
  const std::string target = tmp.path() + "\\taken.dat";  // as the DOS-style name builds it
  EXPECT_EQ(1u, f.Rename(tPCFILENAME("taken.dat")));
  EXPECT_OS_ERROR(5, kNotFound, {f.GetName(), target});
  Make("taken.dat", "t");
  f.SetName(Path("new.dat").c_str());
  EXPECT_EQ(2u, f.Rename(tPCFILENAME("taken.dat"))) << "nothing is replaced";
  EXPECT_OS_ERROR(5, 183, {f.GetName(), target});
  EXPECT_EQ("t", Contents(Path("taken.dat")));
  ASSERT_EQ(0u, f.SetSecurity(0444, 0xFFFFFFFFu));
  EXPECT_EQ(3u, f.Delete()) << "read-only";
  EXPECT_OS_ERROR(4, kDenied, {f.GetName()});
  ASSERT_EQ(0u, f.SetSecurity(0666, 0xFFFFFFFFu));
  EXPECT_EQ(0u, f.Delete());
  EXPECT_EQ("<missing>", Contents(f.GetName()));
#if !defined(_WIN32)
  // The one drive of POSIX systems is C:, and "\" is a separator.
  std::string dos = "C:" + Make("dos.dat", "dos");
  for (char &c : dos) c = c == '/' ? '\\' : c;
  OsFile d(dos), other("Q:\\nowhere\\x.dat");
  EXPECT_EQ(0u, d.Exists(&exists[0]) + other.Exists(&exists[1]));
  EXPECT_EQ(std::vector<int>({1, 0}), std::vector<int>(exists, exists + 2));
#endif
}

TEST_F(OsFileTest, AttributesPermissionsAndModificationTime) {
  OsFile f(Make("a.dat")), dir(tmp.path());
  unsigned int word = 0;
  ASSERT_EQ(0u, dir.GetAttributes(&word));
  EXPECT_EQ(static_cast<unsigned int>(D::ATTR_DIRECTORY), word & 3);
  ASSERT_EQ(0u, f.SetAttributes(0, D::ATTR_ARCHIVE));
  ASSERT_EQ(0u, f.GetAttributes(&word));
  EXPECT_EQ(kWine ? word : static_cast<unsigned int>(D::ATTR_FILE), word);
  ASSERT_EQ(0u, f.SetAttributes(D::ATTR_ARCHIVE, D::ATTR_ARCHIVE));
  ASSERT_EQ(0u, f.SetAttributes(0, D::ATTR_FILE)) << "bits outside the mask stay";
  ASSERT_EQ(0u, f.GetAttributes(&word));
  EXPECT_EQ(D::ATTR_FILE | D::ATTR_ARCHIVE, word);
  // Read-only follows the others-write bit and reads back as 0555.
  const struct { unsigned int initial, permissions, mask, want; } cases[] = {
      {0777, 0664, 0xFFFFFFFFu, 0555}, {0444, 0002, 0xFFFFFFFFu, 0777}, {0555, 0777, 0, 0555},
      {0555, 0002, 0002, 0777}, {0777, 0, 0002, 0555},
  };
  for (const auto &c : cases) {
    ASSERT_EQ(0u, f.SetSecurity(c.initial, 0xFFFFFFFFu));
    ASSERT_EQ(0u, f.SetSecurity(c.permissions, c.mask));
    ASSERT_EQ(0u, f.GetSecurity(&word));
    EXPECT_EQ(c.want, word) << &c - cases;
  }
  // Setting attributes clears read-only, hidden and system.
  ASSERT_EQ(0u, f.SetSecurity(0555 | D::PERM_SYSTEM, 0xFFFFFFFFu));
  ASSERT_EQ(0u, f.SetAttributes(D::ATTR_ARCHIVE, 0xFFFFFFFFu));
  ASSERT_EQ(0u, f.GetSecurity(&word));
  EXPECT_EQ(0777u, word);
  // Modification times round trip, away from any summer-time change.
  for (const tDATETIME &t : {tDATETIME(tDATE(2001, 2, 3), tTIME(4, 5, 6)),
                             tDATETIME(tDATE(2019, 7, 15), tTIME(12, 30, 59))}) {
    tDATETIME back(tDATE(1, 1, 1), tTIME(1, 1, 1, 99));
    ASSERT_EQ(0u, f.SetModifyTime(t));
    ASSERT_EQ(0u, f.GetModifyTime(&back));
    EXPECT_TRUE(t == back) << t.Date.Year;
  }
  // Hidden and system: the file's own attributes on Windows, an extended
  // attribute on POSIX file systems that keep user extended attributes.
  OsFile h(Path("h.dat"));
  unsigned int created = 0;
  ASSERT_EQ(0u, h.Create(RW, 1, D::PERM_HIDDEN));
  ASSERT_EQ(0u, h.Close());
  ASSERT_EQ(0u, h.GetSecurity(&created));
  ASSERT_EQ(0u, h.SetSecurity(D::PERM_SYSTEM, D::PERM_HIDDEN | D::PERM_SYSTEM));
  ASSERT_EQ(0u, h.GetSecurity(&word));
  if (!kWindows && word == 0555u) GTEST_SKIP() << "no user extended attributes here";
  EXPECT_EQ(0555u | D::PERM_HIDDEN, created);
  EXPECT_EQ(0555u | D::PERM_SYSTEM, word);
}

// --- what failures report, and the trace records -----------------------------

// Each operation on a closed object named after a missing file.
TEST_F(OsFileTest, FailuresCarryMessageNumberSystemCodeAndName) {
  const struct { unsigned int (*op)(F &f); unsigned int number; int sys; } cases[] = {
      {[](F &f) { return f.OpenExisting(R, 1); }, 0, kNotFound},
      {[](F &f) { return f.Close(); }, 1, kBadHandle},
      {[](F &f) { char b[4]; return f.Read(b, 4, nullptr); }, 2, kBadHandle},
      {[](F &f) { return f.Write("x", 1, nullptr); }, 3, kBadHandle},
      {[](F &f) { return f.Flush(); }, 3, kBadHandle},
      {[](F &f) { return f.Delete(); }, 4, kNotFound},
      {[](F &f) { return f.LockRegion(0, 1, NOWAIT); }, 7, kBadHandle},
      {[](F &f) { return f.SetSize(1); }, 9, kBadHandle},
      {[](F &f) { return f.SetAttributes(0, D::ATTR_ARCHIVE); }, 9, kNotFound},
      {[](F &f) { return f.SetAttributes(0, 0xFFFFFFFFu); }, 9, kNotFound},
      {[](F &f) { unsigned long s; return f.GetSize(&s); }, 10, -2},
      {[](F &f) { unsigned int a; return f.GetAttributes(&a); }, 10, kNotFound},
      {[](F &f) { return f.SetSecurity(0777, 0xFFFFFFFFu); }, 11, kNotFound},
      {[](F &f) { unsigned int p; return f.GetSecurity(&p); }, 12, kNotFound},
      {[](F &f) { return f.SetModifyTime(tDATETIME(tDATE(2010, 6, 1), tTIME())); }, 13, -2},
      {[](F &f) { tDATETIME t; return f.GetModifyTime(&t); }, 14, -2},
      {[](F &f) { return f.Seek(0, D::SEEK_FROM_START, nullptr); }, 17, kBadHandle},
      {[](F &f) { unsigned long p; return f.GetPos(&p); }, 18, kBadHandle},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(&c - cases);
    OsFile f(Path("missing.dat"));
    EXPECT_EQ(c.sys == kBadHandle ? kFail : 1u, c.op(f));
    EXPECT_OS_ERROR(c.number, c.sys, {f.GetName()});
  }
}

TEST_F(OsFileTest, TracesOnlyUnderTheOsLabelAtLevels0xC0) {
  int handle = -1;
  auto run = [this, &handle] {  // every traced operation, in this order
    OsFile f(Path("t.dat"));
    ASSERT_EQ(0u, f.Create(RW, 1, 0002));  // any write bit makes it writable, and deletable
    handle = f.GetFileHandle();
    const std::vector<unsigned int> statuses = {
        f.Write("0123456789", 10, nullptr), f.Seek(-4, D::SEEK_FROM_END, nullptr),
        f.Seek(-100, D::SEEK_FROM_CURRENT, nullptr), f.SetSize(8),
        f.LockRegion(2, 3, SHARED | NOWAIT), f.LockRegion(10, 0, 0), f.UnlockRegion(0, 0),
        f.Close(), f.Rename(tPCFILENAME("u.dat"))};
    EXPECT_EQ(std::vector<unsigned int>({0, 0, kFail, 0, 0, 0, 0, 0, 0}), statuses);
    f.SetName(Path("u.dat").c_str());
    EXPECT_EQ(0u, f.Delete());
  };
  for (auto quiet : {std::make_pair(0xFFFFFFFFu, "app;cstream"), std::make_pair(0x80u, "os"),
                     std::make_pair(0x41u, "os")}) {
    kelcore_test::LogCapture log(quiet.first, quiet.second);
    run();
    EXPECT_EQ("", log.Text()) << quiet.first << " " << quiet.second;
  }
  kelcore_test::LogCapture log(0xC0, "os");
  run();
  const std::string h = std::to_string(handle), t = Path("t.dat");
  tPCFILENAME renamed(t.c_str());
  renamed.SetFileName("u.dat");
  const std::vector<std::string> want = {
      "Seek(" + h + ",-4,2)=6", "Seek(" + h + ",-100,1)", "Seek(" + h + ",0,1)=6",
      "Seek(" + h + ",8,0)=8", "Seek(" + h + ",6,0)=6",
      "LockRegion(Handle=" + h + ", Offset=2, Bytes=3, Shared | NoWait)",
      "LockRegion(Handle=" + h + ", Offset=10, Bytes=0, Exclusive | Wait)",
      "UnlockRegion(Handle=" + h + ", Offset=0, Bytes=0)",
      "Closing file \"" + t + "\" on handle " + h,
      "Renamed file \"" + t + "\" to \"" + renamed.GetName() + "\".",
      "Deleting file \"" + Path("u.dat") + "\""};
  EXPECT_EQ(want, log.Lines());
}

// --- region locks --------------------------------------------------------------

// Two handles on one file: `a` locks, `b` probes.
class RegionLocks : public OsFileTest {
 protected:
  void SetUp() override { ASSERT_EQ(0u, a.OpenExisting(RW, 1) + b.OpenExisting(RW, 1)); }
  // Whether `b` can lock the range exclusively now (it gives it back at once).
  bool BCanLock(unsigned long offset, unsigned long bytes) {
    const unsigned int status = b.LockRegion(offset, bytes, NOWAIT);
    EXPECT_EQ(0u, status == 0 ? b.UnlockRegion(offset, bytes) : status - 6);
    return status == 0;
  }
  // Runs os_file_child `what` on the range; it creates "first" and "second".
  void Child(const char *what, unsigned long offset, unsigned long bytes, unsigned int mode) {
    ASSERT_TRUE(child.Start("os_file_child", {what, a.GetName(), std::to_string(offset),
                                              std::to_string(bytes), std::to_string(mode),
                                              Path("first"), Path("second")}));
    ASSERT_TRUE(kelcore_test::WaitForFile(Path("first")));
  }
  OsFile a{Make("locks.dat", std::string(400, 'x'))}, b{a.GetName()};
  kelcore_test::ChildProcess child;
};

TEST_F(RegionLocks, WholeFileAndRegionListWithWholeRegionsOnlyUnlock) {
  ASSERT_EQ(0u, a.LockRegion(0, 0, 0));  // every possible offset, not just the size
  EXPECT_FALSE(BCanLock(0, 1) || BCanLock(399, 1) || BCanLock(1000000, 1));
  EXPECT_EQ(0u, a.UnlockRegion(0, 0));
  EXPECT_TRUE(BCanLock(0, 0));
  ASSERT_EQ(0u, a.LockRegion(100, 50, 0));
  EXPECT_EQ(6u, b.LockRegion(120, 1, NOWAIT));
  EXPECT_OS_ERROR(7, kLocked, {a.GetName()});
  EXPECT_TRUE(BCanLock(0, 100) && BCanLock(150, 10)) << "neighbours are free";
  EXPECT_EQ(6u, a.LockRegion(110, 10, NOWAIT)) << "not over one's own exclusive region";
  EXPECT_EQ(6u, kWine ? 6u : a.LockRegion(110, 10, NOWAIT | SHARED)) << "nor shared";
  ASSERT_EQ(0u, a.LockRegion(200, 100, 0));
  EXPECT_EQ(3u, a.UnlockRegion(120, 10)) << "part of a region";
  EXPECT_OS_ERROR(8, kDenied, {a.GetName()});
  EXPECT_FALSE(BCanLock(120, 10));
  EXPECT_EQ(0u, a.UnlockRegion(160, 30)) << "nothing locked there";
  EXPECT_EQ(0u, a.UnlockRegion(100, 200)) << "both regions whole";
  EXPECT_TRUE(BCanLock(100, 200));
  EXPECT_EQ(0u, a.UnlockRegion(0, 0)) << "gone from the list too";
  // The walk stops at the first region not inside; those before it stay unlocked.
  ASSERT_EQ(0u, a.LockRegion(0, 10, 0));
  ASSERT_EQ(0u, a.LockRegion(20, 100, 0));
  EXPECT_EQ(3u, a.UnlockRegion(0, 50));
  EXPECT_TRUE(BCanLock(0, 10));
  EXPECT_FALSE(BCanLock(20, 1));
  // A length past the end of the range reaches to the end, as 0 does.
  ASSERT_EQ(0u, a.LockRegion(300, static_cast<unsigned long>(-1), 0));
  EXPECT_FALSE(BCanLock(5000000, 1));
  EXPECT_EQ(3u, a.UnlockRegion(300, 100)) << "300 to the end is not inside";
  EXPECT_EQ(3u, a.UnlockRegion(25, 0)) << "20..119 only partly inside";
  EXPECT_EQ(0u, a.UnlockRegion(20, 0));
  EXPECT_TRUE(BCanLock(0, 0));
}

TEST_F(RegionLocks, SharedLocksCoexistAndCloseReleases) {
  ASSERT_EQ(0u, a.LockRegion(0, 60, SHARED));
  EXPECT_EQ(0u, b.LockRegion(50, 100, SHARED | NOWAIT));
  EXPECT_FALSE(BCanLock(0, 10)) << "shared locks keep writers out";
  EXPECT_EQ(0u, b.UnlockRegion(50, 100));
  // Overlapping shared regions of one handle: dropping one keeps the other.
  EXPECT_EQ(0u, a.LockRegion(50, 50, SHARED | NOWAIT));
  EXPECT_EQ(3u, a.UnlockRegion(0, 60));  // 0..59 goes, 50..99 stops the walk
  EXPECT_FALSE(BCanLock(50, 10));
  EXPECT_TRUE(BCanLock(0, 50));
  ASSERT_EQ(0u, a.Close());
  EXPECT_TRUE(BCanLock(0, 0));
  ASSERT_EQ(0u, a.OpenExisting(RW, 1));
  EXPECT_EQ(0u, a.UnlockRegion(0, 0)) << "the records went with the handle";
}

TEST_F(RegionLocks, WithoutMemoryNoLockStaysBehind) {
  const std::size_t before = kelcore_test::NothrowAllocationCount();
  ASSERT_EQ(0u, a.LockRegion(0, 100, NOWAIT));
  const std::size_t count = kelcore_test::NothrowAllocationCount() - before;
  ASSERT_EQ(0u, a.UnlockRegion(0, 100));
  auto lock_failing = [this](std::size_t n) {
    kelcore_test::ScopedAllocFailure fail(n);
    return a.LockRegion(0, 100, NOWAIT);
  };
  for (std::size_t n = 1; n <= count; ++n) {
    EXPECT_EQ(kFail, lock_failing(n)) << n;
    EXPECT_TRUE(n < count || tTHREAD::GetLastError() == &tERRMSG::OutOfMemory);
    EXPECT_TRUE(BCanLock(0, 100)) << n;
    EXPECT_EQ(0u, a.UnlockRegion(0, 0)) << "nothing left in the list";
  }
}

TEST_F(RegionLocks, NoWaitFailsWhileAnotherProcessHoldsTheRegion) {
  Child("hold", 100, 50, 0);
  EXPECT_EQ(6u, a.LockRegion(120, 10, NOWAIT));
  EXPECT_OS_ERROR(7, kLocked, {a.GetName()});
  EXPECT_EQ(6u, a.LockRegion(0, 0, NOWAIT | SHARED));
  EXPECT_EQ(0u, a.LockRegion(0, 100, NOWAIT));
  kelcore_test::TouchFile(Path("second"));
  EXPECT_EQ(0, child.Wait());
  EXPECT_EQ(0u, a.LockRegion(120, 10, NOWAIT)) << "released with the other process's handle";
}

TEST_F(RegionLocks, AWaitingLockInAnotherProcessProceedsOnceReleased) {
  ASSERT_EQ(0u, a.LockRegion(0, 0, 0));
  Child("wait", 10, 5, 0);
  kelcore_test::SleepMs(100);
  EXPECT_EQ("<missing>", Contents(Path("second"))) << "still waiting";
  EXPECT_EQ(0u, a.UnlockRegion(0, 0));
  EXPECT_TRUE(kelcore_test::WaitForFile(Path("second")));
  EXPECT_EQ(0, child.Wait());
}

TEST_F(RegionLocks, SharedLocksCoexistAcrossProcesses) {
  Child("hold", 0, 100, SHARED);
  EXPECT_EQ(0u, a.LockRegion(50, 100, SHARED | NOWAIT));
  EXPECT_EQ(6u, b.LockRegion(0, 10, NOWAIT));
  kelcore_test::TouchFile(Path("second"));
  EXPECT_EQ(0, child.Wait());
  EXPECT_EQ(0u, b.LockRegion(0, 10, NOWAIT));
}

}  // namespace
