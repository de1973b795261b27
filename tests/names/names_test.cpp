// File names in both conventions: splitting, rebuilding, converting, fully
// qualifying, refusing over-long input, wildcard matching, and a name as the
// context of an error message.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <unistd.h>  // getcwd, also in MinGW

#include "kelcore/error/os_error.h"
#include "kelcore/msg/message.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/names/unix_file_name.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"

namespace {

typedef tPHYFILENAMEOBJ N;
typedef std::unique_ptr<N> Name;
Name Dos(const char *s) { return Name(new tPCFILENAME(s)); }
Name Unix(const char *s) { return Name(new tUNIXFILENAME(s)); }

void ClearLast() { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }

// The last error refuses a name: OS library error 0 with system error `code`
// and `shown` as its file name.
void ExpectRefusal(int code, const std::string &shown) {
  tMSG *err = tTHREAD::GetLastError();
  ASSERT_TRUE(err != nullptr && err->NumParms() == 2u);
  auto *sys = dynamic_cast<const tPARM_SYSERR *>(&(*err)[0]);
  auto *name = dynamic_cast<const tPARM_FILENAME *>(&(*err)[1]);
  ASSERT_TRUE(sys && name && std::string("OS library error") == err->GetIdString());
  EXPECT_EQ(std::make_pair(code, shown), std::make_pair(sys->Value(), std::string(name->Value())));
}

// --- what a stored name looks like -------------------------------------------

// What the getters say about a name; its location is built once.
auto Facts(N &n) {
  N *loc = n.GetLocation();
  EXPECT_EQ(loc, n.GetLocation()) << "built once";
  return std::make_tuple(std::string(n.GetName()), n.IsAbsolute(), n.IsRelative(), n.IsRoot(),
                         n.HasDir(), n.HasExtension(), std::string(n.GetFileName()),
                         std::string(n.GetExtension()), std::string(loc->GetName()),
                         loc->IsAbsolute());
}

const struct {
  Name (*make)(const char *); const char *in, *stored; int absolute, root, has_dir;
  const char *file, *ext, *location;
} kShapes[] = {
    // roots keep their separator; any other name loses one trailing separator
    // (in "\:\" the root prefix runs past the end)
    {Dos, nullptr, "", 0, 0, 0, "", "", ""}, {Dos, "\\:\\", "\\:\\", 1, 1, 1, "", "", "\\:\\"},
    {Dos, "C:\\", "C:\\", 1, 1, 1, "", "", "C:\\"}, {Dos, "dir\\", "dir", 0, 0, 0, "dir", "", ""},
    {Dos, "/x", "/x", 1, 1, 1, "x", "", "/"}, {Dos, "C:\\d\\", "C:\\d", 1, 1, 1, "d", "", "C:\\"},
    {Dos, "C:\\d\\\\", "C:\\d\\", 1, 0, 1, "", "", "C:\\d"},
    // drive-relative names: the colon ends the location but is no separator
    {Dos, "C:f.t", "C:f.t", 0, 0, 1, "f.t", ".t", "C:"}, {Dos, "x.", "x.", 0, 0, 0, "x.", ".", ""},
    {Dos, "C:s\\f", "C:s\\f", 0, 0, 1, "f", "", "C:s"},
    // extensions belong to the final component, and a leading dot counts;
    // backslashes and drives are ordinary characters in UNIX names
    {Dos, "a.b\\f", "a.b\\f", 0, 0, 1, "f", "", "a.b"}, {Unix, "//", "/", 1, 1, 1, "", "", "/"},
    {Dos, ".p", ".p", 0, 0, 0, ".p", ".p", ""}, {Dos, "a\\b/c", "a\\b/c", 0, 0, 1, "c", "", "a\\b"},
    {Unix, "/e/", "/e", 1, 1, 1, "e", "", "/"}, {Unix, "/e/.c", "/e/.c", 1, 0, 1, ".c", ".c", "/e"},
    {Unix, "C:\\.c", "C:\\.c", 0, 0, 0, "C:\\.c", ".c", ""},
};

// --- changes: setters, the merge rules, conversions, self-reference ----------

void Set(N &n, const char *a) { n.SetName(a); }
void Ext(N &n, const char *a) { n.SetExtension(a); }
void File(N &n, const char *a) { n.SetFileName(a); }
void Loc(N &n, const char *a) { n.SetLocation(a, 0); }
void Merge(N &n, const char *a) { n.SetLocation(a, 1); }
void FromUnix(N &n, const char *a) { n.SetName(tUNIXFILENAME(a)); }
void FromDos(N &n, const char *a) { n.SetName(tPCFILENAME(a)); }
#define SELF(change) [](N &n, const char *) { change; }, nullptr

const struct {
  Name (*make)(const char *); const char *start; void (*change)(N &n, const char *arg);
  const char *arg, *result;
} kEdits[] = {
    {Dos, "dir\\app.exe", Ext, ".log", "dir\\app.log"}, {Dos, "C:\\d\\old", File, nullptr, "C:\\d"},
    {Dos, "a.txt", Ext, nullptr, "a"}, {Dos, ".profile", Ext, ".x", ".x"},
    {Dos, "a.b\\f", Ext, ".x", "a.b\\f.x"}, {Dos, "C:\\d\\old.dat", File, "x.dat", "C:\\d\\x.dat"},
    {Dos, "old", File, "x", "x"}, {Dos, "C:old", File, "x", "C:x"},
    {Dos, "C:\\old", File, "x", "C:\\x"}, {Dos, "sub\\f", Loc, "C:\\new", "C:\\new\\f"},
    {Dos, "C:\\d\\f", Loc, nullptr, "f"}, {Unix, "f", Loc, "C:\\x", "C:\\x/f"},
    // merge, old location relative: kept below the new directory; old location
    // absolute, new name relative: resolved against it; both absolute: the new
    // location stands
    {Dos, "C:s\\f", Merge, "D:\\x", "D:\\x\\C:s\\f"}, {Dos, "C:\\d\\f", Merge, nullptr, "C:\\d\\f"},
    {Dos, "f", Merge, "C:\\n", "C:\\n\\f"}, {Dos, "C:\\f", Merge, "a\\b", "C:\\a\\b\\f"},
    {Dos, "sub\\f", Merge, "C:\\new", "C:\\new\\sub\\f"}, {Unix, "/d/f", Merge, "sub", "/d/sub/f"},
    {Dos, "C:\\d\\f", Merge, "sub", "C:\\d\\sub\\f"}, {Dos, "C:\\d\\f", Merge, "D:\\x", "D:\\x\\f"},
    // another convention: its separators become ours, the absolute flag follows
    {Dos, "o\\x", FromUnix, "a/b", "a\\b"}, {Dos, "o\\x", FromDos, "a/b", "a/b"},
    {Unix, "o/x", FromDos, "a\\b/c", "a/b/c"}, {Unix, "o/x", FromDos, "C:\\x", "C:/x"},
    {Unix, "o/x", FromDos, "\\x", "/x"},
    {Dos, "f", [](N &n, const char *a) { n.SetLocation(tUNIXFILENAME(a), 0); }, "/a", "\\a\\f"},
    {Unix, "s/f", [](N &n, const char *a) { n.SetLocation(tPCFILENAME(a), 1); }, "\\t", "/t/s/f"},
    // arguments inside the name, or inside the location objects the change destroys
    {Dos, "C:\\a\\b\\f", SELF(n.SetName(n.GetFileName())), "f"},
    {Dos, "C:\\a\\b\\f", SELF(n.SetName(*n.GetLocation())), "C:\\a\\b"},
    {Dos, "C:\\a\\b\\f", SELF(n.SetName(*n.GetLocation()->GetLocation())), "C:\\a"},
    {Dos, "s\\f", SELF(n.SetLocation(n.GetLocation()->GetName(), 1)), "s\\s\\f"},
    {Dos, "C:\\a\\f", SELF(n.SetLocation(*n.GetLocation(), 1)), "C:\\a\\f"},
    {Dos, "a\\b", SELF(n.SetFileName(n.GetLocation()->GetName())), "a\\a"},
    {Dos, "x.y", SELF(n.SetLocation(n, 0)), "x.y\\x.y"},
    {Dos, "C:\\d\\f",
     SELF(*dynamic_cast<tPCFILENAME *>(&n) = *dynamic_cast<tPCFILENAME *>(n.GetLocation())),
     "C:\\d"},
};

// Every getter agrees with the shape table, and every change leaves the name
// as if set afresh.
TEST(Names, ShapesAndChanges) {
  for (const auto &c : kShapes) {
    SCOPED_TRACE(c.in ? c.in : "(null)");
    Name n = c.make(c.in);
    EXPECT_EQ(std::make_tuple(c.stored, c.absolute, 1 - c.absolute, c.root, c.has_dir,
                              c.ext[0] ? 1 : 0, c.file, c.ext, c.location, c.absolute),
              Facts(*n));
    // A pointer into the name itself, not a copy.
    EXPECT_EQ(n->GetName() + std::strlen(c.stored) - std::strlen(c.file), n->GetFileName());
  }
  for (const auto &c : kEdits) {
    SCOPED_TRACE(std::string(c.start) + " <- " + (c.arg ? c.arg : "(null)"));
    Name n = c.make(c.start), fresh = c.make(c.result);
    n->GetLocation()->GetLocation();  // cached locations must go with the old name
    c.change(*n, c.arg);
    EXPECT_STREQ(c.result, n->GetName());
    EXPECT_EQ(Facts(*fresh), Facts(*n));
  }
}

TEST(Names, EnvironmentCopiesCompatibleObjectsAndErrorContexts) {
  EXPECT_STREQ("C:\\default", tPCFILENAME("KELCORE_NAMES_UNSET", "C:\\default\\").GetName());
  EXPECT_STREQ("d.txt", tPCFILENAME(nullptr, "d.txt").GetName());
  ASSERT_EQ(0, putenv(const_cast<char *>("KELCORE_NAMES_VAR=logs/app.log")));  // kept, not copied
  EXPECT_STREQ("logs/app.log", tUNIXFILENAME("KELCORE_NAMES_VAR", "d").GetName());
  // Copies share no location: each deletes its own.
  tPCFILENAME a("C:\\dir\\f"), c("rel\\x");
  N *a_loc = a.GetLocation();
  tPCFILENAME b(a);
  c.GetLocation();
  c = a;
  for (tPCFILENAME *p : {&b, &c}) EXPECT_TRUE(p->IsAbsolute() && p->GetLocation() != a_loc);
  EXPECT_STREQ("C:\\dir", c.GetLocation()->GetName());
  N *out = nullptr;
  ASSERT_EQ(0u, tUNIXFILENAME("/x").AllocCompatNameObj(&out));
  Name made(out);
  EXPECT_TRUE(dynamic_cast<tUNIXFILENAME *>(made.get()) && !*made->GetName());
  ClearLast();
  {
    kelcore_test::ScopedAllocFailure fail(1, true);
    EXPECT_TRUE(a.AllocCompatNameObj(&out) == 0xFFFFFFFFu && out == nullptr);
    a.SetName("C:\\x\\y");
    EXPECT_EQ(nullptr, a.GetLocation());
    EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
    a.SetLocation("sub", 1);  // a location that cannot be built: empty and relative
    EXPECT_STREQ("sub\\y", a.GetName());
  }
  EXPECT_STREQ("sub", a.GetLocation()->GetName()) << "built once memory is back";
  kelcore_test::SweepAllocFailures([] {
    tPCFILENAME s("C:\\a\\b\\c.txt");
    s.SetFileName("x.y");
    s.SetName(std::string(300, 'x').c_str());  // refused even without memory for the message
    EXPECT_STREQ("", s.GetName());
  });
  ClearLast();
  // A name as the context of an error, where there is memory.
  tMSG *msg = new tMSGSTR("%0 -> %1 [%2]", "names test", tMSG::eERROR);
  EXPECT_EQ(msg, &tUNIXFILENAME("/a/new").AddErrorContext(&a.AddErrorContext(msg)));
  *msg << tPCFILENAME();
  EXPECT_STREQ("sub\\y -> /a/new []", msg->Format());
  tMSG::Dispose(msg);
  // Static or no message: the static message, which takes no parameters.
  EXPECT_TRUE(&a.AddErrorContext(&tERRMSG::OutOfMemory) == &tERRMSG::OutOfMemory &&
              &a.AddErrorContext(nullptr) == &tERRMSG::OutOfMemory);
  EXPECT_EQ(0u, tERRMSG::OutOfMemory.NumParms());
  msg = new tMSGSTR("%0", "names test", tMSG::eERROR);
  kelcore_test::SweepAllocFailures([&a, msg] { a.AddErrorContext(msg); });
  EXPECT_EQ(1u, msg->NumParms()) << "only the run with memory for all of it";
  tMSG::Dispose(msg);
  kelcore_test::SweepAllocFailures([&a] {  // all or nothing
    tPARAMETER *p = a;
    EXPECT_TRUE(!p || dynamic_cast<tPARM_FILENAME &>(*p).Value() == std::string(a.GetName()));
    delete p;
  });
  // A file-name parameter formats and compares as a string parameter.
  tPARM_FILENAME p(a.GetName());
  EXPECT_TRUE(p == tPARM_STRING(a.GetName()) && tPARM_STRING(a.GetName()) == p);
  EXPECT_FALSE(p == tPARM_FILENAME("SUB\\y") || p == tPARM_INT(0) || tPARM_INT(0) == p);
}

// --- over-long input: refused whole, never cut, never written past a buffer --

// The argument is `pre`, then `len` characters (`len` more than the maximum
// when `rel`), then `post`. In `want`, "#" is the argument, "~" the argument
// without its last character and "|" the separator.
// `refused` 2: where the argument is longer than the maximum; 3: where it is
// longer than 261 characters, the longest file name either convention takes.
const struct {
  void (*change)(N &n, const char *arg); const char *start, *pre; int rel, len;
  const char *post; int refused; const char *want;
} kLong[] = {
    {Set, "x/y", "", 1, 0, "", 0, "#"}, {Set, "x/y", "", 1, 1, "", 1, "#"},
    {Set, "x/y", "", 1, 0, "/", 0, "~"}, {Set, "x/y", "", 1, 0, "//", 1, "#"},
    {Set, "x/y", "/", 0, 100000, "", 1, "#"}, {FromUnix, "x/y", "", 0, 600, "", 2, "#"},
    {Loc, "f", "/", 1, -3, "", 0, "#|f"}, {Loc, "f", "/", 1, -2, "", 1, "#|f"},
    {Merge, "f", "", 0, 50000, "", 1, "#"}, {Merge, "sub/f", "/", 1, -5, "", 1, "#|sub|f"},
    {File, "/l/old", "", 1, -3, "", 3, "/l|#"}, {File, "/l/old", "", 1, -2, "", 1, "/l|#"},
    {File, "/l/old", "", 0, 261, "", 2, "/l|#"}, {File, "/dir/o", "", 0, 500, "", 1, "/dir|#"},
    {File, "/l/old", "", 0, 70000, "", 1, "/l|#"}, {Ext, "x.old", ".", 1, -2, "", 0, "x#"},
    {Ext, "x.old", ".", 1, -1, "", 1, "x#"}, {Ext, "x.old", ".", 0, 40000, "", 1, "x#"},
};

std::string Qualified(const std::string &text) {
  tPCFILENAME n(text.c_str());
  n.FullyQualify();
  return n.GetName();
}

// Every setter stores up to the limit and refuses beyond it; so does FullyQualify.
TEST(Names, OverLongInputAndFullyQualifiedNames) {
  for (auto make : {Dos, Unix}) {
    for (const auto &c : kLong) {
      Name n = make(c.start);
      n->GetLocation();
      const unsigned int max = n->GetMaxLen();
      EXPECT_EQ(make == Dos ? 259u : 1023u, max);
      const std::string arg = c.pre + std::string(c.rel * max + c.len, 'a') + c.post;
      SCOPED_TRACE(std::to_string(&c - kLong) + " with " + std::to_string(arg.size()));
      std::string want;
      for (const char *t = c.want; *t != '\0'; ++t) {
        want += *t == '#' ? arg : *t == '~' ? arg.substr(0, arg.size() - 1)
                : *t == '|' ? n->PathCharStr() : std::string(1, *t);
      }
      tMSG *earlier = tOSERR::Make(4, 5);
      tTHREAD::SetLastError(*earlier);
      c.change(*n, arg.c_str());
      if (c.refused == 0 || (c.refused == 2 && arg.size() <= max) ||
          (c.refused == 3 && arg.size() <= 261)) {
        EXPECT_EQ(want, n->GetName());
        EXPECT_EQ(earlier, tTHREAD::GetLastError()) << "left alone";
        continue;
      }
      EXPECT_TRUE(!*n->GetName() && n->IsRelative() && !*n->GetLocation()->GetName());
      ExpectRefusal(206, want.substr(0, 255) + "...");
    }
  }
  // Fully qualified names: native paths on POSIX systems, where C: is "/".
  char buf[4096];
  const std::string cwd = getcwd(buf, sizeof buf);  // Windows: a drive, then "\"
  const bool win = cwd.size() > 1 && cwd[1] == ':';
  const std::string s = win ? "\\" : "/", drive = win ? cwd.substr(0, 2) : "",
                    in_drive = win ? drive : "C:";
  const struct { std::string in, want; } cases[] = {
    {"a\\../b", cwd + s + "b"}, {".\\x/.\\y\\", cwd + s + "x" + s + "y"}, {".", cwd},
    {"a//b", cwd + s + "a" + s + "b"}, {"", cwd}, {in_drive + "x", cwd + s + "x"},
    {"..\\x", cwd.substr(0, cwd.find_last_of(s[0])) + s + "x"},
    {"\\x\\..\\..\\z", drive + s + "z"}, {in_drive + "\\t\\..\\etc", drive + s + "etc"},
#ifndef _WIN32
    {"c:/x/../../y", "/y"}, {"C:\\", "/"}, {"C:", cwd}, {"/x/./y", "/x/y"},
#endif
  };
  for (const auto &c : cases) EXPECT_EQ(c.want, Qualified(c.in)) << c.in;
  // Fits as a relative name, not once the current directory is in front.
  EXPECT_EQ("", Qualified(std::string(255, 'x')));
  ExpectRefusal(206, std::string(255, 'x'));
#ifndef _WIN32
  EXPECT_EQ("", Qualified("D:\\x")) << "POSIX systems have no other drive";
  ExpectRefusal(3, "D:\\x");
#endif
  ClearLast();
}

// --- wildcard matching ------------------------------------------------------

// The static form of each convention: [0] UNIX, [1] DOS.
int (*const kMatch[])(const char *, const char *) = {&tUNIXFILENAME::NameMatches,
                                                     &tPCFILENAME::NameMatches};

// The rules as documented, as the obvious recursion: exponential, so only
// for short inputs.
bool RefSep(char c, int dos) { return c == '/' || (dos && c == '\\'); }
bool RefSame(char a, char b) { return std::tolower(a & 0xFF) == std::tolower(b & 0xFF); }

bool RefWhole(const char *t, const char *p, int dos) {
  if (*p == '\0' || *t == '\0') return *p == '\0' && *t == '\0';
  if (*p != '*') return (*p == '?' || RefSame(*p, *t)) && RefWhole(t + 1, p + 1, dos);
  for (++p;; ++t) {  // a "*" needs text where it starts, and stops at separators
    if (RefWhole(t, p, dos)) return true;
    if (*t == '\0' || RefSep(*t, dos)) return false;
  }
}

int RefMatch(int dos, const char *name, const char *pattern) {
  for (const char *t = name; *t != '\0'; ++t)
    if ((t == name || RefSep(t[-1], dos)) && RefWhole(t, pattern, dos)) return 1;
  return 0;
}

const struct { int dos; const char *name, *pattern; int expected; } kMatches[] = {
    // the final component, or a tail of whole components
    {1, "C:\\DIR\\File.TXT", "*.txt", 1}, {1, "C:\\dir\\a.txt", "dir\\*.txt", 1},
    {1, "C:\\dir\\a.txt", "ir\\*.txt", 0}, {1, "C:\\d\\sub\\a.txt", "C:\\*\\a.txt", 0},
    {1, "C:\\d\\sub\\a.txt", "C:\\*\\*\\a.txt", 1}, {0, "/usr/Lib/X", "lib/x", 1},
    {0, "/usr/Lib/X", "/usr/*/x", 1}, {0, "/usr/Lib/X", "sr/lib/x", 0},
    // "*" stops at separators, "?" does not; the pattern must use up the text
    // and the text the pattern
    {1, "a\\b", "*", 1}, {1, "a\\", "*", 0}, {1, "a\\b", "a*b", 0}, {1, "x\\a/b", "a?b", 1},
    {0, "a/b", "a*b", 0}, {0, "dir\\x", "d*x", 1}, {1, "/", "*", 0}, {1, "/", "?", 1},
    {1, "abc", "a?c", 1}, {1, "abc", "a?", 0}, {1, "abc", "abcd", 0}, {1, "abc", "", 0},
    // a "*" needs text left where it starts; case, and separators compared
    // literally; empty names never match; a tail needs something after its separator
    {1, "a", "a*", 0}, {1, "ab", "*b*", 0}, {1, "a", "**", 1}, {1, "aXb", "a*X*b", 1},
    {0, "ABC", "abc", 1}, {1, "a\\b", "a/b", 0}, {1, "a/b", "a\\b", 0}, {1, "", "*", 0},
    {0, "", "", 0}, {1, "a\\", "", 0}, {0, "x/", "x/", 1},
};

std::string Stars(const char *unit, int count, const char *tail) {
  return count > 0 ? unit + Stars(unit, count - 1, tail) : tail;
}

TEST(NameMatches, DocumentedRandomAndHostileInput) {
  for (const auto &c : kMatches) {
    SCOPED_TRACE(std::string(c.name) + " ~ " + c.pattern);
    EXPECT_EQ(c.expected, kMatch[c.dos](c.name, c.pattern));
    EXPECT_EQ(c.expected, RefMatch(c.dos, c.name, c.pattern)) << "the table itself";
  }
  // The virtual form matches the stored name with its own convention.
  EXPECT_EQ(1, tPCFILENAME("a\\b").NameMatches("b") - tUNIXFILENAME("a\\b").NameMatches("b"));
  EXPECT_EQ(0, tPCFILENAME::NameMatches(nullptr, "*") + tUNIXFILENAME::NameMatches("a", nullptr));
  // Random input against the recursive rules, the same sequence on every platform.
  std::minstd_rand rng(20240607u);
  int matched = 0;
  for (int i = 0; i < 40000; ++i) {
    std::string name(rng() % 10, ' '), pattern(rng() % 8, ' ');
    for (char &c : name) c = "aAb/\\."[rng() % 6];
    for (char &c : pattern) c = "aB*?*/\\."[rng() % 8];
    const int want = RefMatch(i & 1, name.c_str(), pattern.c_str());
    matched += want;
    ASSERT_EQ(want, kMatch[i & 1](name.c_str(), pattern.c_str())) << name << " ~ " << pattern;
  }
  EXPECT_TRUE(matched > 2000 && matched < 38000) << matched << ": both answers must be common";
  // Long names and leads: positions past one machine word, and texts before
  // the first "*" long enough to be walked rather than compared at each start.
  matched = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string name(60 + rng() % 120, ' '), pattern;
    for (char &c : name) c = "aaaaaaaA/\\"[rng() % 10];
    for (int part = 0, parts = 1 + rng() % 3; part < parts; ++part) {
      pattern += std::string(rng() % 2 ? rng() % 24 : rng() % 4, ' ') + "*";
      for (std::size_t k = pattern.size() - 1; k-- > 0 && pattern[k] == ' ';) pattern[k] = "a?/?\\"[rng() % 5];
    }
    pattern += std::string(rng() % 6, '?');
    const int want = RefMatch(i & 1, name.c_str(), pattern.c_str());
    matched += want;
    ASSERT_EQ(want, kMatch[i & 1](name.c_str(), pattern.c_str())) << name << " ~ " << pattern;
  }
  EXPECT_TRUE(matched > 300 && matched < 2700) << matched << ": both answers must be common";
  // A "*" spreading from the 64th position from the end across the boundary
  // of two machine words.
  const std::string across = std::string(10, 'a') + std::string(63, '/');
  EXPECT_EQ(1, tUNIXFILENAME::NameMatches(across.c_str(), ("*" + std::string(63, '?')).c_str()));
  EXPECT_EQ(1, RefMatch(0, across.c_str(), ("*" + std::string(63, '?')).c_str()));
  // A backtracking matcher would try every way of spreading the stars over a
  // long component: binomial(250, 40) ways for the first pattern. Only the
  // results are asserted; the benchmark measures the time.
  const std::string component(250, 'a');
  EXPECT_EQ(0, tPCFILENAME::NameMatches(component.c_str(), Stars("*a", 40, "*b").c_str()));
  EXPECT_EQ(1, tPCFILENAME::NameMatches(component.c_str(), Stars("*a", 40, "").c_str()));
  tUNIXFILENAME many(Stars("/aaa", 250, "").c_str());  // every component a tail to try
  EXPECT_EQ(0, many.NameMatches(Stars("*a*/", 100, "*b").c_str()));
  EXPECT_EQ(1, many.NameMatches(Stars("*a*/", 100, "a*").c_str()));
  // The static form takes names longer than any buffer; runs of stars count once.
  const std::string name = std::string(20000, 'a') + "b";
  EXPECT_EQ(1, tUNIXFILENAME::NameMatches(name.c_str(), Stars("*a", 30, "*b").c_str()));
  EXPECT_EQ(0, tPCFILENAME::NameMatches("abc", (std::string(100000, '*') + "abcd").c_str()));
  ClearLast();
  {
    kelcore_test::ScopedAllocFailure fail(1);
    EXPECT_EQ(0, tUNIXFILENAME::NameMatches(name.c_str(), Stars("*a", 30, "*b").c_str()));
  }
  EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
}

}  // namespace
