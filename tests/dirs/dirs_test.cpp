// Directories and drives: the facets and factories, listings (contents,
// kinds, names, sizes and times through the listed names, very large and
// changing directories, the pattern rules), creation with parents, tree
// deletion (read-only entries, links out of the tree, failure and
// allocation sweeps), the current directory, logical directories and their
// copies, and drives on each system.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/dirs/drive.h"
#include "kelcore/dirs/logical_dir.h"
#include "kelcore/dirs/os_dir.h"
#include "kelcore/error/os_error.h"
#include "kelcore/msg/message.h"
#include "kelcore/platform/find_pattern.h"
#include "kelcore/sync/thread.h"
#include "kelcore/time/datetime.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
typedef tDIRDEFS DD;
const unsigned int kFail = 0xFFFFFFFFu, SUBDIRS = DD::DELETE_SUBDIRS, WHOLE = SUBDIRS | DD::DELETE_DIR;
const unsigned int FILE_ = tFILEDEFS::ATTR_FILE, DIR_ = tFILEDEFS::ATTR_DIRECTORY,
                   ARCH = tFILEDEFS::ATTR_ARCHIVE;

#if defined(_WIN32)
const bool kWindows = true;
#else
const bool kWindows = false;
#endif
const char kSep = kWindows ? '\\' : '/';

void ClearLast() { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }

// The last error as (catalog, message number, system code, file names).
std::tuple<const tMSGCAT *, unsigned int, int, std::vector<std::string>> Last() {
  const tCATMSG *cat = dynamic_cast<const tCATMSG *>(tTHREAD::GetLastError());
  if (cat == nullptr) return std::make_tuple(nullptr, 0u, 0, std::vector<std::string>());
  int code = 0;
  std::vector<std::string> names;
  for (unsigned int i = 0; i < cat->NumParms(); ++i) {
    if (auto *s = dynamic_cast<const tPARM_SYSERR *>(&(*cat)[i])) code = s->Value();
    if (auto *n = dynamic_cast<const tPARM_FILENAME *>(&(*cat)[i])) names.push_back(n->Value());
    if (auto *c = dynamic_cast<const tPARM_CHAR *>(&(*cat)[i])) names.push_back({c->Value()});
  }
  return std::make_tuple(cat->GetCatalog(), cat->GetMsgId(), code, names);
}
// OS library message `number` with system code `code` and these names.
auto Os(unsigned int number, int code, std::vector<std::string> names = {}) {
  return std::make_tuple(static_cast<const tMSGCAT *>(&kelos::Catalog()), number, code, names);
}

// An object named on construction; Dir is a system directory, LDir a logical one.
template <class T> struct Named : T {
  explicit Named(const std::string &name) { this->SetName(name.c_str()); }
};
typedef Named<tOSDIR> Dir;
typedef Named<tDIR> LDir;

// Every entry of a listing: full name -> kind; a failure ends it.
std::map<std::string, unsigned int> List(tPHYSICAL_DIR &dir, unsigned int *end = nullptr) {
  std::map<std::string, unsigned int> entries;
  EXPECT_EQ(0u, dir.Open());
  tDIRFINDINFO info;
  unsigned int status;
  while ((status = dir.Read(info)) == 0) {
    EXPECT_TRUE(entries.emplace(info.Name.GetName(), info.Kind).second) << "listed twice";
    EXPECT_STREQ("", kWindows ? "" : info.ShortName.GetName()) << "no short names on POSIX";
  }
  if (end != nullptr) *end = status;
  EXPECT_EQ(0u, dir.Close());
  return entries;
}

void MakeFile(const std::string &path, const std::string &bytes = "0123456789") {
  ASSERT_TRUE(kelcore_test::WriteWholeFile(path, bytes)) << path;
}

// Makes the files and directories (names ending with '/') below `root`.
void MakeTree(const std::string &root, const std::vector<std::string> &paths) {
  for (const std::string &p : paths) {
    if (p.back() == '/') {
      fs::create_directories(fs::path(root) / p);
    } else {
      fs::create_directories((fs::path(root) / p).parent_path());
      MakeFile((fs::path(root) / p).string());
    }
  }
}

// A file made read-only (no write bit), as the library reads "read-only".
void MakeReadOnly(const std::string &path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

// A symbolic link, or false where the system refuses to make one.
bool MakeLink(const std::string &link, const std::string &target, bool directory) {
  std::error_code ec;
  directory ? fs::create_directory_symlink(target, link, ec) : fs::create_symlink(target, link, ec);
  return !ec;
}

class DirTest : public kelcore_test::TempDirTest {
 protected:
  ~DirTest() { ClearLast(); }
  std::string P(const std::string &rel) const { return tmp.File(rel); }
};

TEST(OsDirFacets, OneNameOneLockAndTheFactoriesOfBothBackEnds) {
  tOSDIR d;
  tPHYDIRSYSOBJ &sys = d;
  tPHYDIRIOOBJ &io = d;
  tPHYFILESYSOBJ &file = d;
  EXPECT_TRUE(&static_cast<tPHYFILENAMEOBJ &>(sys) == &static_cast<tPHYFILENAMEOBJ &>(io) &&
              &static_cast<tPHYSYNCOBJ &>(io) == &static_cast<tPHYSYNCOBJ &>(file));
  tOSFILE f;
  tPHYSICAL_DIR *made = nullptr;
  tPHYSICAL_FILE *madeFile = nullptr;
  for (const tPHYFILESYSOBJ *from : {static_cast<const tPHYFILESYSOBJ *>(&f), static_cast<const tPHYFILESYSOBJ *>(&file)}) {
    ASSERT_EQ(0u, from->AllocCompatDirObj(&made));
    EXPECT_TRUE(dynamic_cast<tOSDIR *>(made) && !*made->GetName() && !made->IsOpen());
    delete made;
    ClearLast();
    kelcore_test::ScopedAllocFailure fail(1);
    EXPECT_EQ(kFail, from->AllocCompatDirObj(&made));
    EXPECT_TRUE(made == nullptr && tTHREAD::GetLastError() == &tERRMSG::OutOfMemory);
  }
  ASSERT_EQ(0u, file.AllocCompatFileObj(&madeFile));
  EXPECT_TRUE(dynamic_cast<tOSFILE *>(madeFile) != nullptr);
  delete madeFile;
}

// --- listings -------------------------------------------------------------------

TEST_F(DirTest, ListsEntriesWithKindsNamesSizesAndTimesButNeverDotOrDotDot) {
  MakeTree(tmp.path(), {"f.txt", "noext", ".hidden", "sub/", "sub/inner.txt", "empty/"});
  MakeFile(P("f.txt"), std::string(1234, 'x'));
  const tDATETIME when = {{2021, 3, 14}, {15, 9, 26, 0}};
  ASSERT_EQ(0u, Dir(P("f.txt")).SetModifyTime(when));
  // The same directory under a native name, a DOS-style name and with a
  // trailing separator: the entries follow the separator the name uses.
  std::string dos = tmp.path();
  for (char &c : dos) c = c == '/' ? '\\' : c;
  for (const std::string &name : {tmp.path(), dos, tmp.path() + kSep}) {
    SCOPED_TRACE(name);
    Dir d(name);
    unsigned int end = 0;
    auto entries = List(d, &end);
    EXPECT_EQ(1u, end);
    EXPECT_EQ(Os(2, 18, {std::string(d.GetName()) + "\\*"}), Last())
        << "the end of a listing leaves message 2 with the pattern";
    const std::string s = std::string(d.GetName()) + (name == dos ? '\\' : kSep);
    const std::map<std::string, unsigned int> want = {
        {s + "f.txt", FILE_ | ARCH}, {s + "noext", FILE_ | ARCH}, {s + ".hidden", FILE_ | ARCH},
        {s + "sub" + s.back(), DIR_}, {s + "empty" + s.back(), DIR_}};
    EXPECT_EQ(want, entries);
  }
  // What the names lead to: attributes, sizes and times of the entries.
  Named<tOSFILE> f(P("f.txt"));
  unsigned long size = 0;
  tDATETIME got = {};
  unsigned int attrs = 0;
  EXPECT_EQ(0u, f.GetSize(&size));
  EXPECT_EQ(1234ul, size);
  EXPECT_EQ(0u, f.GetModifyTime(&got));
  EXPECT_EQ(std::make_tuple(2021u, 3u, 14u, 15u, 9u, 26u),
            std::make_tuple(got.Date.Year, got.Date.Month, got.Date.Day, got.Time.Hour,
                            got.Time.Minute, got.Time.Second));
  EXPECT_EQ(0u, Dir(P("sub") + kSep).GetAttributes(&attrs));
  EXPECT_EQ(DIR_, attrs & DIR_);
  // An empty directory ends at once; a missing one ends as not found.
  for (const std::string &name : {P("empty"), P("missing")}) {
    Dir d(name);
    unsigned int end = 0;
    EXPECT_TRUE(List(d, &end).empty());
    EXPECT_EQ(1u, end);
  }
  EXPECT_EQ(Os(2, 3, {P("missing") + "\\*"}), Last());
}

TEST_F(DirTest, ListingStateOpenTwiceCloseTwiceAndReadWhenClosed) {
  Dir d(tmp.path());
  tDIRFINDINFO info;
  ASSERT_EQ(0u, d.Open());
  EXPECT_EQ(3u, d.Open());
  EXPECT_EQ(Os(0, 5, {tmp.path()}), Last());
  EXPECT_EQ(1, d.IsOpen());
  ASSERT_EQ(0u, d.Close());
  EXPECT_EQ(kFail, d.Close());
  EXPECT_EQ(Os(1, 6, {tmp.path()}), Last());
  EXPECT_EQ(kFail, d.Read(info));
  // A listing left open ends with its object.
  Dir open(tmp.path());
  EXPECT_EQ(0u, open.Open());
  EXPECT_EQ(1u, open.Read(info));
}

TEST(FindPattern, WindowsPatternRules) {
  // pattern, then the names it matches among these.
  const std::vector<std::string> names = {"a", "ab", "abc", "a.txt", "A.TXT", "b.txt", "a.b.txt",
                                          "readme", "x.tx", ".txt", "file."};
  const std::vector<std::pair<std::string, std::set<std::string>>> cases = {
      {"*", {names.begin(), names.end()}},
      {"*.*", {names.begin(), names.end()}},
      {"*.txt", {"a.txt", "A.TXT", "b.txt", "a.b.txt", ".txt"}},
      {"a?", {"a", "ab"}},
      {"a??", {"a", "ab", "abc"}},
      {"?.txt", {"a.txt", "A.TXT", "b.txt", ".txt"}},
      {"*.", {"a", "ab", "abc", "readme", "file."}},
      {"a*", {"a", "ab", "abc", "a.txt", "A.TXT", "a.b.txt"}},
      {"*b*", {"ab", "abc", "b.txt", "a.b.txt"}},
      {"A.TXT", {"a.txt", "A.TXT"}},
      {"file", {}},
      {"file.", {"file."}},
      {"nothing*", {}},
      {"*.tx?", {"a.txt", "A.TXT", "b.txt", "a.b.txt", "x.tx", ".txt"}},
  };
  for (const auto &c : cases) {
    kelsys::FindPattern p;
    ASSERT_TRUE(p.Set(c.first.c_str()));
    std::set<std::string> got;
    for (const std::string &n : names) {
      if (p.Matches(n.c_str())) got.insert(n);
    }
    EXPECT_EQ(c.second, got) << c.first;
  }
  // Time stays bounded however many stars: this would take ages if each
  // star tried every split afresh.
  kelsys::FindPattern stars;
  ASSERT_TRUE(stars.Set("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_FALSE(stars.Matches(std::string(200, 'a').c_str()));
  EXPECT_FALSE(stars.Set(std::string(300, '*').c_str()));
}

// On a system with its own listing, the rules and the system's
// FindFirstFileA agree. Only for the patterns where Wine, which runs the
// Windows tests, keeps to the Windows rules: it matches "a?" without "a"
// and "*." as "*".
#if defined(_WIN32)
TEST_F(DirTest, WindowsOnlyPatternRulesAgreeWithTheSystem) {
  const std::vector<std::string> names = {"a", "ab", "abc.txt", "b.txt", "readme", "x.tx"};
  MakeTree(tmp.path(), names);
  for (const char *mask : {"*", "*.*", "*.txt", "?b*", "a*", "*b*", "zz*"}) {
    kelsys::FindPattern p;
    ASSERT_TRUE(p.Set(mask));
    std::set<std::string> mine, system;
    for (const std::string &n : names) {
      if (p.Matches(n.c_str())) mine.insert(n);
    }
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(P(mask).c_str(), &data);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &data)) {
      if (data.cFileName[0] != '.') system.insert(data.cFileName);
    }
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
    EXPECT_EQ(system, mine) << mask;
  }
}
#endif

// Creates `count` empty files named 0 .. count-1 in `dir`, quickly.
void MakeManyFiles(const std::string &dir, int count) {
  for (int i = 0; i < count; ++i) {
    const std::string path = dir + kSep + std::to_string(i);
#if defined(_WIN32)
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CloseHandle(h);
#else
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_EXCL | O_CLOEXEC, 0666);
    ASSERT_GE(fd, 0);
    ::close(fd);
#endif
  }
}

// Under Wine each new file costs a case-insensitive scan of its directory,
// so that making 100,000 files takes many minutes: the Windows build lists
// 10,000, which is as many as any find buffer holds several times over.
TEST_F(DirTest, ListsAHundredThousandEntriesEachOnce) {
  const int kCount = kWindows ? 10000 : 100000;
  MakeManyFiles(tmp.path(), kCount);
  LDir d(tmp.path());
  ASSERT_EQ(0u, d.Open());
  tDIRFINDINFO info;
  std::vector<bool> seen(kCount);
  int count = 0;
  while (d.Read(info) == 0) {
    int i = std::stoi(info.Name.GetFileName());
    ASSERT_FALSE(seen[i]) << i;
    seen[i] = true;
    ++count;
  }
  EXPECT_EQ(0u, d.Close());
  EXPECT_EQ(kCount, count);
  EXPECT_EQ(0u, d.DeleteFiles(0));
  int empty = 0;
  EXPECT_EQ(0u, d.IsEmpty(&empty));
  EXPECT_EQ(1, empty);
}

TEST_F(DirTest, EntriesAddedOrRemovedDuringTheWalkComeAtMostOnce) {
  MakeManyFiles(tmp.path(), 2000);
  Dir d(tmp.path());
  ASSERT_EQ(0u, d.Open());
  tDIRFINDINFO info;
  std::set<std::string> seen;
  for (int i = 0; i < 500 && d.Read(info) == 0; ++i) seen.insert(info.Name.GetFileName());
  // Half the files go, each renamed file comes back under a new name, and
  // new files arrive.
  std::set<std::string> removed;
  for (int i = 0; i < 2000; i += 2) {
    fs::remove(P(std::to_string(i)));
    removed.insert(std::to_string(i));
  }
  for (int i = 1; i < 2000; i += 4) fs::rename(P(std::to_string(i)), P("r" + std::to_string(i)));
  for (int i = 0; i < 300; ++i) MakeFile(P("new" + std::to_string(i)));
  size_t before = seen.size();
  while (d.Read(info) == 0) {
    EXPECT_TRUE(seen.insert(info.Name.GetFileName()).second) << info.Name.GetName();
    // POSIX: the names were read when the listing started, and an entry
    // removed before the walk reached it is skipped.
    EXPECT_TRUE(kWindows || removed.count(info.Name.GetFileName()) == 0) << "removed, yet listed";
  }
  EXPECT_GT(seen.size(), before);
  EXPECT_EQ(0u, d.Close());
}

// --- creating ---------------------------------------------------------------------

TEST_F(DirTest, CreateRefusesRootsAndExistingNamesAndMakesParentsOnRequest) {
  MakeTree(tmp.path(), {"a/", "file"});
  const std::string root = "C:\\";
  // name, parents, status, then message number and system code (0: none).
  const struct { std::string name; int parents; unsigned int status, msg; int code; } cases[] = {
      {P("a"), 0, kFail, 6, 0xF001},          {P("file"), 1, 3, 6, 0xF002},
      {root, 0, 2, 6, 0xF000},                {"\\", 1, 2, 6, 0xF000},
      {P("a/b/c"), 0, 1, 6, 3},               {P("a/b/c/"), 1, 0, 0, 0},
      {P("file/x/y"), 1, 3, 6, 0xF002},       {P("x/y"), 0, 1, 6, 3},
      {"Q:\\no\\such\\drive", 1, 2, 6, 0xF000},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    LDir d(c.name);
    ClearLast();
    EXPECT_EQ(c.status, d.Create(c.parents));
    if (c.msg != 0) {
      EXPECT_EQ(std::make_tuple(c.msg, c.code),
                std::make_tuple(std::get<1>(Last()), std::get<2>(Last())));
    }
    EXPECT_STREQ(tPCFILENAME(c.name.c_str()).GetName(), d.GetName()) << "the name is back";
  }
  EXPECT_TRUE(fs::is_directory(P("a/b/c")));
  EXPECT_FALSE(fs::exists(P("file/x")) || fs::exists(P("x"))) << "a failed create makes nothing";
}

// A name is taken as Windows takes it before anything is created: ".."
// steps back in the text ("a\\..\\b" is "b" even with no "a"), and a final
// dot or blank goes ("t." is "t") in listings as in every other call.
TEST_F(DirTest, DotDotAndTrailingDotsAreResolvedInTheNameFirst) {
  const std::string up = P("a") + kSep + ".." + kSep + "b" + kSep + "c";
  EXPECT_EQ(0u, LDir(up).Create(1));
  EXPECT_TRUE(fs::is_directory(P("b/c")));
  EXPECT_FALSE(fs::exists(P("a"))) << "no stray directory on the way";
  {
    // An empty name lists the current directory (the pattern "*" alone).
    const fs::path saved = fs::current_path();
    fs::current_path(P("b"));
    Dir here("");
    const auto listed = List(here);
    fs::current_path(saved);
    ASSERT_EQ(1u, listed.size());
    EXPECT_EQ("c\\", listed.begin()->first) << "a DOS-style name's separator";
  }

  const std::string dotted = P("t.");
  EXPECT_EQ(0u, LDir(dotted).Create(0));
  ASSERT_TRUE(fs::is_directory(P("t")));
  MakeTree(tmp.path(), {"t/keep.dat", "t/sub/x"});
  int empty = 7;
  EXPECT_EQ(0u, Dir(dotted).IsEmpty(&empty));
  EXPECT_EQ(0, empty);
  Dir listed(dotted);
  EXPECT_EQ(2u, List(listed).size());
  EXPECT_EQ(0u, Dir(dotted).DeleteFiles(0));
  EXPECT_FALSE(fs::exists(P("t/keep.dat")));
  EXPECT_EQ(0u, Dir(dotted).DeleteFiles(WHOLE));
  EXPECT_FALSE(fs::exists(P("t")));
}

// POSIX only: entries whose names end in a dot or a blank (which Windows
// never makes) are left out of listings, since their listed names would
// reach another entry or none; a directory "t." is never touched through
// "t.", which names "t".
TEST_F(DirTest, EntriesNoDosNameReachesAreNotListed) {
  if (kWindows) GTEST_SKIP() << "Windows makes no such names";
  MakeTree(tmp.path(), {"d/report", "d/report.", "d/blank ", "d/.../x", "d/dir./x",
                        "t/keep.dat", "t./keep.dat"});
  Dir d(P("d"));
  const std::map<std::string, unsigned int> want = {{P("d/report"), FILE_ | ARCH},
                                                    {P("d/...") + "/", DIR_}};
  EXPECT_EQ(want, List(d));
  EXPECT_EQ(0u, Dir(P("t.")).DeleteFiles(0));
  EXPECT_FALSE(fs::exists(P("t/keep.dat")));
  EXPECT_TRUE(fs::exists(P("t./keep.dat"))) << "the other directory is left alone";
}

// A file in the way at any level of a new chain: the walk stops there with
// status 3 and leaves the file as it was.
TEST_F(DirTest, CreateWithParentsStopsAtAFileInTheWayAtAnyLevel) {
  for (int level = 0; level < 4; ++level) {
    std::string path = P("t" + std::to_string(level)), file;
    for (int i = 0; i < 4; ++i) {
      if (i == level) {
        fs::create_directories(fs::path(path).parent_path());
        MakeFile(file = path);
      }
      path += kSep + std::string("d") + std::to_string(i);
    }
    EXPECT_EQ(3u, LDir(path).Create(1)) << level;
    EXPECT_EQ(Os(6, 0xF002, {file}), Last());
    EXPECT_TRUE(fs::is_regular_file(file));
  }
}

// --- emptiness, deleting ---------------------------------------------------------------

TEST_F(DirTest, EmptinessAndDeletingOneDirectory) {
  MakeTree(tmp.path(), {"empty/", "full/f", "file"});
  int empty = 7;
  EXPECT_EQ(0u, Dir(P("empty")).IsEmpty(&empty));
  EXPECT_EQ(1, empty);
  EXPECT_EQ(0u, Dir(P("full")).IsEmpty(&empty));
  EXPECT_EQ(0, empty);
  // A missing directory is a listing that finds nothing.
  empty = 7;
  EXPECT_EQ(0u, Dir(P("missing")).IsEmpty(&empty));
  EXPECT_EQ(1, empty);
  // name, status, system code.
  const struct { std::string name; unsigned int status; int code; } cases[] = {
      {P("full"), 3, 145}, {P("file"), 3, 0xF005}, {P("missing"), 1, 2}, {P("empty"), 0, 0}};
  for (const auto &c : cases) {
    ClearLast();
    EXPECT_EQ(c.status, Dir(c.name).Delete()) << c.name;
    if (c.code) {
      EXPECT_EQ(Os(4, c.code, {c.name}), Last());
    }
  }
  EXPECT_TRUE(fs::exists(P("full/f")) && !fs::exists(P("empty")));
}

TEST_F(DirTest, DeleteFilesRemovesFilesSubdirectoriesOrTheWholeTree) {
  const std::vector<std::string> tree = {"t/f1", "t/f2.txt", "t/s/g", "t/s/s2/h", "t/e/"};
  // flags, then what is left of the tree.
  const struct { unsigned int flags; std::set<std::string> left; } cases[] = {
      {0, {"s", "s/g", "s/s2", "s/s2/h", "e"}},
      {DD::DELETE_DIR, {"s", "s/g", "s/s2", "s/s2/h", "e"}},
      {SUBDIRS, {"s", "s/s2", "e"}},
      {WHOLE, {}},
  };
  for (const auto &c : cases) {
    MakeTree(tmp.path(), tree);
    const unsigned int want = c.flags == DD::DELETE_DIR ? 3u : 0u;  // not empty
    EXPECT_EQ(want, Dir(P("t")).DeleteFiles(c.flags)) << c.flags;
    std::set<std::string> left;
    if (fs::exists(P("t"))) {
      for (auto &e : fs::recursive_directory_iterator(P("t"))) {
        left.insert(fs::relative(e.path(), P("t")).generic_string());
      }
    }
    EXPECT_EQ(c.left, left) << c.flags;
    EXPECT_EQ(c.flags == WHOLE, !fs::exists(P("t")));
    fs::remove_all(P("t"));
  }
}

TEST_F(DirTest, TreeDeletionStopsAtAReadOnlyEntryAndNeverFollowsALinkOut) {
  MakeTree(tmp.path(), {"t/a/ro", "t/b", "outside/keep", "outside/sub/keep2"});
  MakeReadOnly(P("t/a/ro"));
  ClearLast();
  EXPECT_EQ(3u, Dir(P("t")).DeleteFiles(WHOLE));
  EXPECT_EQ(Os(4, 5, {P("t") + kSep + "a" + kSep + "ro"}), Last());
  EXPECT_TRUE(fs::exists(P("t/a/ro")));
  fs::permissions(P("t/a/ro"), fs::perms::owner_write, fs::perm_options::add);

  // Links out of the tree: one to a directory, one to a file.
  if (!MakeLink(P("t/a/dirlink"), P("outside"), true) ||
      !MakeLink(P("t/filelink"), P("outside/keep"), false)) {
    GTEST_SKIP() << "this system makes no symbolic links here";
  }
  // Emptying without removing directories leaves a link alone.
  EXPECT_EQ(0u, Dir(P("t")).DeleteFiles(SUBDIRS));
  EXPECT_TRUE(fs::is_symlink(P("t/a/dirlink")) && fs::exists(P("outside/sub/keep2")));
  MakeLink(P("t/filelink"), P("outside/keep"), false);
  EXPECT_EQ(0u, Dir(P("t")).DeleteFiles(WHOLE));
  EXPECT_FALSE(fs::exists(P("t")));
  EXPECT_TRUE(fs::exists(P("outside/keep")) && fs::exists(P("outside/sub/keep2")));
}

// Every allocation of creating a chain and deleting a tree fails in turn:
// each run ends with success or a status and a message, nothing outside
// the tree changes, and nothing leaks (the sanitizer build checks that).
TEST_F(DirTest, AllocationFailureSweepsOverCreateWithParentsAndTreeDeletion) {
  MakeFile(P("outside"));
  std::size_t count = kelcore_test::SweepAllocFailures([&] {
    fs::remove_all(P("c"));
    LDir d(P("c/d/e/f"));
    ClearLast();
    unsigned int status = d.Create(1);
    EXPECT_TRUE(status == 0 ? fs::is_directory(P("c/d/e/f")) : tTHREAD::GetLastError() != nullptr);
  });
  EXPECT_GT(count, 2u);
  count = kelcore_test::SweepAllocFailures([&] {
    MakeTree(tmp.path(), {"t/a/b/f", "t/g", "t/h/"});
    Dir d(P("t"));
    ClearLast();
    unsigned int status = d.DeleteFiles(WHOLE);
    EXPECT_TRUE(status == 0 ? !fs::exists(P("t")) : tTHREAD::GetLastError() != nullptr);
    fs::remove_all(P("t"));
  });
  EXPECT_GT(count, 5u);
  EXPECT_TRUE(fs::exists(P("outside")));
}

TEST_F(DirTest, DeleteAndTreeDeletionTrace) {
  MakeTree(tmp.path(), {"t/f"});
  kelcore_test::LogCapture log(0xC0, "os");
  EXPECT_EQ(0u, Dir(P("t")).DeleteFiles(WHOLE));
  const std::string s(1, kSep);
  EXPECT_EQ(std::vector<std::string>({"Deleting file \"" + P("t") + s + "f\"",
                                      "Deleting directory \"" + P("t") + "\""}),
            log.Lines());
}

// --- the current directory ------------------------------------------------------------

// Puts the process's current directory back when the test ends.
struct KeepCurrentDir {
  fs::path saved = fs::current_path();
  ~KeepCurrentDir() { fs::current_path(saved); }
};

TEST_F(DirTest, CurrentDirectoryRoundTrip) {
  KeepCurrentDir keep;
  fs::create_directory(P("here"));
  tDIR cur;
  ASSERT_EQ(0u, LDir(P("here")).SetCurrent());
  EXPECT_TRUE(fs::equivalent(P("here"), fs::current_path()));
  for (unsigned int drive : {0u, tPHYDRIVE::GetCurrent()}) {
    ASSERT_EQ(0u, cur.SetToCurrent(drive));
    EXPECT_EQ(fs::current_path().string() + kSep, cur.GetName()) << "with a trailing separator";
  }
  // Names relative to it, a listing of it, and the way back.
  MakeFile(P("here/f"));
  int exists = 0;
  EXPECT_EQ(0u, Dir("f").Exists(&exists));
  EXPECT_EQ(1, exists) << "relative names start here";
  EXPECT_EQ(1u, List(cur).count(cur.GetName() + std::string("f")));
  EXPECT_EQ(0u, LDir(keep.saved.string()).SetCurrent());
  EXPECT_EQ(keep.saved, fs::current_path());
  // A missing directory, and another drive's current directory on POSIX.
  ClearLast();
  EXPECT_EQ(1u, Dir(P("missing")).SetCurrent());
  EXPECT_EQ(Os(15, 2, {P("missing")}), Last());
  if (!kWindows) {
    tPCFILENAME name;
    EXPECT_EQ(kFail, Dir("").GetCurrent(name, 4));
    EXPECT_EQ(keep.saved, fs::current_path());
  }
}

// --- logical directories -----------------------------------------------------------------

// A directory that counts its destructions.
struct CountedDir : tOSDIR {
  static int gone;
  ~CountedDir() { ++gone; }
};
int CountedDir::gone = 0;

TEST_F(DirTest, LogicalDirectoryCopiesDeleteTheSharedDirectoryOnce) {
  CountedDir::gone = 0;
  {
    tDIR a(new CountedDir, 1);
    a.SetName(tmp.path().c_str());
    {
      tDIR b(a), c;
      c = b;
      c = c;
      EXPECT_STREQ(a.GetName(), c.GetName()) << "one directory, shared";
    }
    EXPECT_EQ(0, CountedDir::gone);
    tLOGICAL_DIR *copy = new tLOGICAL_DIR(a);
    a = tDIR();  // the original lets go first
    EXPECT_EQ(0, CountedDir::gone);
    EXPECT_STREQ(tmp.path().c_str(), copy->GetName());
    delete copy;
    EXPECT_EQ(1, CountedDir::gone);
  }
  EXPECT_EQ(1, CountedDir::gone);
  // Borrowed directories are never deleted; a null one is made and owned
  // whatever the flag (the sanitizer build would report it leaking).
  CountedDir borrowed;
  { tDIR x(borrowed, 0), y(x), z(nullptr, 0); }
  EXPECT_EQ(1, CountedDir::gone);
}

TEST_F(DirTest, LogicalDirectoryForwardsAndConverts) {
  MakeTree(tmp.path(), {"d/f"});
  LDir d(P("d"));
  tPHYSICAL_DIR &phy = d;
  tPHYFILENAMEOBJ &name = d;
  EXPECT_EQ(&static_cast<tPHYFILENAMEOBJ &>(phy), &name);
  tPARAMETER *parm = d;
  ASSERT_NE(nullptr, parm);
  EXPECT_STREQ(d.GetName(), static_cast<tPARM_FILENAME *>(parm)->Value());
  delete parm;
  int exists = 0;
  unsigned int attrs = 0;
  EXPECT_EQ(0u, d.Exists(&exists));
  EXPECT_EQ(0u, d.GetAttributes(&attrs));
  EXPECT_EQ(std::make_tuple(1, DIR_), std::make_tuple(exists, attrs & DIR_));
  EXPECT_EQ(0u, d.Rename("e"));
  EXPECT_TRUE(fs::exists(P("e/f")));
  EXPECT_EQ(kFail, d.Rename("x\\y")) << "a bare name only";
  // Without memory for its own directory, every operation says so.
  kelcore_test::ScopedAllocFailure fail(1);
  tDIR none;
  EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
  none.SetName("x");
  tDIRFINDINFO info;
  EXPECT_EQ(std::make_tuple(kFail, kFail, kFail, kFail, std::string(), 0),
            std::make_tuple(none.Open(), none.Read(info), none.Create(1), none.DeleteFiles(WHOLE),
                            std::string(none.GetName()), none.IsOpen()));
}

// --- drives -----------------------------------------------------------------------------

TEST(Drives, NumbersLettersAndTheCurrentDrive) {
  EXPECT_EQ(26u, tPHYDRIVE::GetCount());
  EXPECT_EQ(std::make_tuple(3u, 3u, 3u, 'C'),
            std::make_tuple(static_cast<unsigned int>(tDRIVE('C')),
                            static_cast<unsigned int>(tDRIVE('c')),
                            static_cast<unsigned int>(tDRIVE(3)), static_cast<char>(tDRIVE(3u))));
  const unsigned int current = tPHYDRIVE::GetCurrent();
  EXPECT_EQ(current, static_cast<unsigned int>(tDRIVE()));
  // POSIX: the one drive C: is always current. Windows: the current path's drive.
  const char letter = fs::current_path().string()[0];
  EXPECT_EQ(kWindows ? static_cast<unsigned int>((letter | 0x20) - 'a' + 1) : 3u, current);
  for (unsigned int bad : {0u, 27u}) {
    ClearLast();
    EXPECT_EQ(kFail, tPHYDRIVE::SetCurrent(bad));
    EXPECT_EQ(Os(19, 15, {std::string(1, static_cast<char>(64 + bad))}), Last());
  }
}

TEST(Drives, TypesInfoMapAndTheNextFreeDrive) {
  KeepCurrentDir keep;
  const unsigned long map = tPHYDRIVE::GetMap();
  EXPECT_EQ(keep.saved, fs::current_path()) << "the map puts the current directory back";
  // POSIX: C: alone. Windows: C: at least (under Wine also Z:, the root).
  EXPECT_TRUE(kWindows ? (map & 4ul) != 0 : map == 4ul) << map;
  unsigned int firstFree = 0;
  for (unsigned int n = 1; n <= 26; ++n) {
    SCOPED_TRACE(n);
    const bool there = (map >> (n - 1)) & 1;
    const tPHYDRIVE::eTYPE type = tPHYDRIVE::GetType(n);
    EXPECT_EQ(there, type != tPHYDRIVE::eUNKNOWN);
    if (!there && n >= 3 && firstFree == 0) firstFree = n;
    tPHYDRIVE::tINFO info = {};
    ClearLast();
    const unsigned int status = tDRIVE(n).GetInfo(info);
    if (!there) {
      EXPECT_NE(0u, status);
      EXPECT_EQ(std::get<3>(Last()), std::vector<std::string>({std::string(1, char(64 + n))}));
      continue;
    }
    if (status != 0) continue;  // a removable drive with nothing in it
    EXPECT_EQ(std::string(1, char(64 + n)) + ":", std::string(info.Name, 4).c_str());
    EXPECT_EQ(std::make_tuple(type, '\0', '\0'), std::make_tuple(info.Type, info.Name[2], info.Name[3]));
    EXPECT_TRUE(info.ClusterSize > 0 && info.Used <= info.Total && info.Total > 0);
  }
  EXPECT_EQ(tPHYDRIVE::eFIXED, tPHYDRIVE::GetType(3));
  EXPECT_EQ(tPHYDRIVE::eUNKNOWN, tPHYDRIVE::GetType(27));
  tDRIVE next(3);
  if (firstFree != 0) {
    EXPECT_EQ(0u, next.SelectNextAvailable());
    EXPECT_EQ(firstFree, static_cast<unsigned int>(next));
  }
  EXPECT_EQ(keep.saved, fs::current_path());
  EXPECT_EQ(0u, tDRIVE(3).SetCurrent());
  EXPECT_EQ(3u, tPHYDRIVE::GetCurrent());
  if (!kWindows) {
    EXPECT_EQ('D', static_cast<char>(next));
    EXPECT_EQ(1u, tDRIVE(4u).SetCurrent()) << "no D: on POSIX";
  }
}

// Sizes that do not fit an unsigned long stay at its largest value.
TEST(Drives, SizesSaturateInsteadOfWrapping) {
  tPHYDRIVE::tINFO info = {};
  ASSERT_EQ(0u, tPHYDRIVE::GetInfo(info, 3));
  unsigned long long total;
#if defined(_WIN32)
  ULARGE_INTEGER avail, all, free;
  ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &avail, &all, &free));
  total = all.QuadPart;
#else
  struct statvfs st;
  ASSERT_EQ(0, statvfs("/", &st));
  total = static_cast<unsigned long long>(st.f_blocks) * st.f_frsize;
#endif
  if (total > ULONG_MAX) {
    EXPECT_EQ(ULONG_MAX, info.Total);
  } else {
    EXPECT_NEAR(static_cast<double>(total), static_cast<double>(info.Total), total * 0.01);
  }
}

}  // namespace
