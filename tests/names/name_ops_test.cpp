// Splitting, rebuilding and converting names in both conventions.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "kelcore/msg/message.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/names/unix_file_name.h"
#include "kelcore/sync/thread.h"
#include "tests/names/names_test_util.h"
#include "tests/support/alloc_failure.h"

using names_test::Conv;
using names_test::kDos;
using names_test::kUnix;
using names_test::Make;
using names_test::Text;

namespace {

// --- what a stored name looks like -----------------------------------------

struct ShapeCase {
  Conv conv;
  const char *in;
  const char *stored;
  int absolute;
  int root;
  int has_dir;
  const char *file;
  const char *ext;
  const char *location;
  int location_absolute;
};

const ShapeCase kShapes[] = {
    // DOS: roots and their trailing separators
    {kDos, nullptr, "", 0, 0, 0, "", "", "", 0},
    {kDos, "", "", 0, 0, 0, "", "", "", 0},
    {kDos, "C:\\", "C:\\", 1, 1, 1, "", "", "C:\\", 1},
    {kDos, "C:/", "C:/", 1, 1, 1, "", "", "C:/", 1},
    {kDos, "\\", "\\", 1, 1, 1, "", "", "\\", 1},
    {kDos, "/", "/", 1, 1, 1, "", "", "/", 1},
    {kDos, "C:\\dir\\", "C:\\dir", 1, 1, 1, "dir", "", "C:\\", 1},
    {kDos, "C:\\dir\\\\", "C:\\dir\\", 1, 0, 1, "", "", "C:\\dir", 1},
    {kDos, "C:\\dir\\file.txt", "C:\\dir\\file.txt", 1, 0, 1, "file.txt", ".txt", "C:\\dir", 1},
    {kDos, "C:\\file.txt", "C:\\file.txt", 1, 1, 1, "file.txt", ".txt", "C:\\", 1},
    {kDos, "\\file", "\\file", 1, 1, 1, "file", "", "\\", 1},
    {kDos, "/x", "/x", 1, 1, 1, "x", "", "/", 1},
    {kDos, "C:/x/y", "C:/x/y", 1, 0, 1, "y", "", "C:/x", 1},
    {kDos, "\\\\server\\share", "\\\\server\\share", 1, 0, 1, "share", "", "\\\\server", 1},
    // DOS: drive-relative names
    {kDos, "C:file.txt", "C:file.txt", 0, 0, 1, "file.txt", ".txt", "C:", 0},
    {kDos, "C:", "C:", 0, 0, 1, "", "", "C:", 0},
    {kDos, "C:sub\\f", "C:sub\\f", 0, 0, 1, "f", "", "C:sub", 0},
    // DOS: relative names, extensions and dots
    {kDos, "file", "file", 0, 0, 0, "file", "", "", 0},
    {kDos, "dir\\", "dir", 0, 0, 0, "dir", "", "", 0},
    {kDos, "a.b\\file", "a.b\\file", 0, 0, 1, "file", "", "a.b", 0},
    {kDos, ".profile", ".profile", 0, 0, 0, ".profile", ".profile", "", 0},
    {kDos, "dir/.profile", "dir/.profile", 0, 0, 1, ".profile", ".profile", "dir", 0},
    {kDos, "x.tar.gz", "x.tar.gz", 0, 0, 0, "x.tar.gz", ".gz", "", 0},
    {kDos, "x.", "x.", 0, 0, 0, "x.", ".", "", 0},
    {kDos, "a\\b/c", "a\\b/c", 0, 0, 1, "c", "", "a\\b", 0},
    // UNIX
    {kUnix, "", "", 0, 0, 0, "", "", "", 0},
    {kUnix, "/", "/", 1, 1, 1, "", "", "/", 1},
    {kUnix, "//", "/", 1, 1, 1, "", "", "/", 1},
    {kUnix, "/etc", "/etc", 1, 1, 1, "etc", "", "/", 1},
    {kUnix, "/etc/", "/etc", 1, 1, 1, "etc", "", "/", 1},
    {kUnix, "/etc/x.conf", "/etc/x.conf", 1, 0, 1, "x.conf", ".conf", "/etc", 1},
    {kUnix, "/usr/lib/", "/usr/lib", 1, 0, 1, "lib", "", "/usr", 1},
    {kUnix, "etc", "etc", 0, 0, 0, "etc", "", "", 0},
    {kUnix, "a/b", "a/b", 0, 0, 1, "b", "", "a", 0},
    {kUnix, "a.b/file", "a.b/file", 0, 0, 1, "file", "", "a.b", 0},
    {kUnix, "dir/.profile", "dir/.profile", 0, 0, 1, ".profile", ".profile", "dir", 0},
    // Backslashes and drives are ordinary characters in UNIX names.
    {kUnix, "a\\b.c", "a\\b.c", 0, 0, 0, "a\\b.c", ".c", "", 0},
    {kUnix, "C:\\x", "C:\\x", 0, 0, 0, "C:\\x", "", "", 0},
    {kUnix, "dir\\", "dir\\", 0, 0, 0, "dir\\", "", "", 0},
};

TEST(NameShape, EveryGetterAgreesWithTheTable) {
  for (const ShapeCase &c : kShapes) {
    SCOPED_TRACE(std::string(names_test::ConvName(c.conv)) + " \"" + (c.in ? c.in : "(null)") + "\"");
    std::unique_ptr<tPHYFILENAMEOBJ> n = Make(c.conv, c.in);
    EXPECT_EQ(c.stored, Text(*n));
    EXPECT_EQ(c.absolute, n->IsAbsolute());
    EXPECT_EQ(!c.absolute, n->IsRelative());
    EXPECT_EQ(c.root, n->IsRoot());
    EXPECT_EQ(c.has_dir, n->HasDir());
    EXPECT_STREQ(c.file, n->GetFileName());
    EXPECT_STREQ(c.ext, n->GetExtension());
    EXPECT_EQ(c.ext[0] != '\0' ? 1 : 0, n->HasExtension());
    tPHYFILENAMEOBJ *loc = n->GetLocation();
    ASSERT_NE(nullptr, loc);
    EXPECT_STREQ(c.location, loc->GetName());
    EXPECT_EQ(c.location_absolute, loc->IsAbsolute());
    EXPECT_EQ(loc, n->GetLocation()) << "the location is built once";
  }
}

TEST(NameShape, GettersPointIntoTheName) {
  tPCFILENAME n("C:\\dir\\file.txt");
  EXPECT_EQ(n.GetName() + 7, n.GetFileName());
  EXPECT_EQ(n.GetName() + 11, n.GetExtension());
  tPCFILENAME plain("file");
  EXPECT_EQ(plain.GetName() + 4, plain.GetExtension()) << "no dot: the terminating NUL";
}

// --- IsRoot and the absolute test on their own --------------------------------

struct RootCase {
  Conv conv;
  const char *name;
  int root;
  int absolute;
};

const RootCase kRoots[] = {
    {kDos, "C:\\", 1, 1},      {kDos, "C:\\dir", 1, 1}, {kDos, "C:\\dir\\x", 0, 1},
    {kDos, "dir", 0, 0},       {kDos, "C:x", 0, 0},     {kDos, "C:", 0, 0},
    {kDos, "c:/Dir", 1, 1},    {kDos, "/a/b", 0, 1},    {kDos, "1:\\x", 1, 1},
    // The drive letter is not checked; a separator before the colon moves
    // past the end of "\:\" and the name still counts as a root.
    {kDos, "\\:\\", 1, 1},     {kDos, "\\:\\x\\y", 0, 1},
    {kUnix, "/", 1, 1},        {kUnix, "/etc", 1, 1},   {kUnix, "/etc/x", 0, 1},
    {kUnix, "etc", 0, 0},      {kUnix, "\\x", 0, 0},
};

TEST(NameShape, RootsAndAbsoluteNames) {
  for (const RootCase &c : kRoots) {
    SCOPED_TRACE(std::string(names_test::ConvName(c.conv)) + " " + c.name);
    std::unique_ptr<tPHYFILENAMEOBJ> n = Make(c.conv, c.name);
    EXPECT_EQ(c.root, n->IsRoot());
    EXPECT_EQ(c.absolute, n->IsAbsolute());
  }
}

TEST(NameShape, ConventionConstants) {
  tPCFILENAME dos;
  tUNIXFILENAME unix_name;
  EXPECT_EQ(259u, dos.GetMaxLen());
  EXPECT_EQ(1023u, unix_name.GetMaxLen());
  EXPECT_EQ('\\', dos.PathChar());
  EXPECT_EQ('/', unix_name.PathChar());
  EXPECT_STREQ("\\", dos.PathCharStr());
  EXPECT_STREQ("/", unix_name.PathCharStr());
  EXPECT_TRUE(dos.PathChar('\\') && dos.PathChar('/') && !dos.PathChar(':'));
  EXPECT_TRUE(dos.PathSep('\\') && dos.PathSep('/') && dos.PathSep(':') && !dos.PathSep('.'));
  EXPECT_TRUE(unix_name.PathChar('/') && !unix_name.PathChar('\\'));
  EXPECT_TRUE(unix_name.PathSep('/') && !unix_name.PathSep(':') && !unix_name.PathSep('\\'));
  EXPECT_STREQ("", dos.GetName());
  EXPECT_STREQ("", unix_name.GetName());
}

// --- SetExtension ----------------------------------------------------------------

struct EditCase {
  Conv conv;
  const char *name;
  const char *arg;
  const char *result;
};

const EditCase kExtensions[] = {
    {kDos, "dir\\app.exe", ".log", "dir\\app.log"},
    {kDos, "dir\\app", ".log", "dir\\app.log"},
    {kDos, "a.txt", nullptr, "a"},
    {kDos, "a.txt", "", "a"},
    {kDos, "a.b\\file", ".x", "a.b\\file.x"},
    {kDos, ".profile", ".x", ".x"},
    {kDos, "x.tar.gz", ".bz2", "x.tar.bz2"},
    {kDos, "", ".log", ".log"},
    {kDos, "C:x", ".y", "C:x.y"},
    {kDos, "C:\\", ".x", "C:\\.x"},
    {kUnix, "/a.b/c", ".d", "/a.b/c.d"},
    {kUnix, "a\\b.c", ".x", "a\\b.x"},
    {kUnix, "/etc/x.conf", nullptr, "/etc/x"},
};

TEST(NameEdit, SetExtension) {
  for (const EditCase &c : kExtensions) {
    SCOPED_TRACE(std::string(c.name) + " + " + (c.arg ? c.arg : "(null)"));
    std::unique_ptr<tPHYFILENAMEOBJ> n = Make(c.conv, c.name);
    n->SetExtension(c.arg);
    EXPECT_EQ(c.result, Text(*n));
  }
}

// --- SetFileName ------------------------------------------------------------------

const EditCase kFileNames[] = {
    {kDos, "C:\\dir\\old.dat", "x.dat", "C:\\dir\\x.dat"},
    {kDos, "old.dat", "x.dat", "x.dat"},
    {kDos, "C:\\old", "x", "C:\\x"},
    {kDos, "\\old", "x", "\\x"},
    {kDos, "C:old", "x", "C:x"},
    {kDos, "C:\\dir\\old", nullptr, "C:\\dir"},
    {kDos, "C:\\dir\\old", "", "C:\\dir"},
    {kDos, "dir/old", "sub\\x", "dir\\sub\\x"},
    {kDos, "", "x", "x"},
    {kDos, "C:\\dir\\old", "new\\", "C:\\dir\\new"},
    {kUnix, "/a/b", "c", "/a/c"},
    {kUnix, "b", "c", "c"},
    {kUnix, "/b", "c", "/c"},
    {kUnix, "a\\b", "c", "c"},
};

TEST(NameEdit, SetFileName) {
  for (const EditCase &c : kFileNames) {
    SCOPED_TRACE(std::string(c.name) + " <- " + (c.arg ? c.arg : "(null)"));
    std::unique_ptr<tPHYFILENAMEOBJ> n = Make(c.conv, c.name);
    n->SetFileName(c.arg);
    EXPECT_EQ(c.result, Text(*n));
  }
}

// --- SetLocation and its merge rules ---------------------------------------------

struct LocationCase {
  Conv conv;
  const char *name;
  const char *dir;
  int merge;
  const char *result;
};

const LocationCase kLocations[] = {
    // no merge: the location is replaced
    {kDos, "sub\\f.txt", "C:\\new", 0, "C:\\new\\f.txt"},
    {kDos, "C:\\dir\\f.txt", "sub", 0, "sub\\f.txt"},
    {kDos, "C:\\dir\\f.txt", nullptr, 0, "f.txt"},
    {kDos, "C:\\dir\\f.txt", "", 0, "f.txt"},
    {kDos, "f.txt", "C:", 0, "C:f.txt"},
    {kDos, "f.txt", "C:\\", 0, "C:\\f.txt"},
    {kDos, "f.txt", "d/", 0, "d/f.txt"},
    // merge, old location relative: kept below the new directory
    {kDos, "sub\\f.txt", "C:\\new", 1, "C:\\new\\sub\\f.txt"},
    {kDos, "f.txt", "C:\\new", 1, "C:\\new\\f.txt"},
    {kDos, "a\\f", "b/", 1, "b/a\\f"},
    {kDos, "C:sub\\f", "D:\\x", 1, "D:\\x\\C:sub\\f"},
    {kDos, "a\\b\\f", "rel", 1, "rel\\a\\b\\f"},
    // merge, old location absolute, new name relative: resolved against it
    {kDos, "C:\\dir\\f.txt", "sub", 1, "C:\\dir\\sub\\f.txt"},
    {kDos, "C:\\dir\\f.txt", nullptr, 1, "C:\\dir\\f.txt"},
    {kDos, "C:\\f.txt", "a\\b", 1, "C:\\a\\b\\f.txt"},
    // merge, both absolute: the new location stands
    {kDos, "C:\\dir\\f.txt", "D:\\x", 1, "D:\\x\\f.txt"},
    {kDos, "C:\\dir\\f.txt", "\\x", 1, "\\x\\f.txt"},
    // UNIX
    {kUnix, "sub/f", "/new", 0, "/new/f"},
    {kUnix, "sub/f", "/new", 1, "/new/sub/f"},
    {kUnix, "/d/f", "sub", 1, "/d/sub/f"},
    {kUnix, "/d/f", "/e", 1, "/e/f"},
    {kUnix, "/d/f", "sub", 0, "sub/f"},
    {kUnix, "f", "C:\\x", 0, "C:\\x/f"},
};

TEST(NameEdit, SetLocation) {
  for (const LocationCase &c : kLocations) {
    SCOPED_TRACE(std::string(c.name) + " @ " + (c.dir ? c.dir : "(null)") +
                 (c.merge ? " merged" : ""));
    std::unique_ptr<tPHYFILENAMEOBJ> n = Make(c.conv, c.name);
    n->SetLocation(c.dir, c.merge);
    EXPECT_EQ(c.result, Text(*n));
  }
}

TEST(NameEdit, EveryChangeDropsTheLocation) {
  tPCFILENAME n("C:\\a\\b\\f");
  EXPECT_STREQ("C:\\a\\b", n.GetLocation()->GetName());
  n.SetName("C:\\x\\f");
  EXPECT_STREQ("C:\\x", n.GetLocation()->GetName());
  n.SetLocation("D:\\y", 0);
  EXPECT_STREQ("D:\\y", n.GetLocation()->GetName());
  n.SetFileName("g");
  EXPECT_STREQ("D:\\y", n.GetLocation()->GetName());
  n.SetExtension(".z");
  EXPECT_STREQ("D:\\y\\g.z", n.GetName());
  EXPECT_STREQ("D:\\y", n.GetLocation()->GetName());
  n.SetName("top");
  EXPECT_STREQ("", n.GetLocation()->GetName());
}

TEST(NameEdit, LocationsNest) {
  tUNIXFILENAME n("/a/b/c/d");
  tPHYFILENAMEOBJ *l1 = n.GetLocation();
  tPHYFILENAMEOBJ *l2 = l1->GetLocation();
  tPHYFILENAMEOBJ *l3 = l2->GetLocation();
  EXPECT_STREQ("/a/b/c", l1->GetName());
  EXPECT_STREQ("/a/b", l2->GetName());
  EXPECT_STREQ("/a", l3->GetName());
  EXPECT_STREQ("/", l3->GetLocation()->GetName());
  EXPECT_STREQ("/", l3->GetLocation()->GetLocation()->GetName());
  EXPECT_NE(nullptr, dynamic_cast<tUNIXFILENAME *>(l3));
}

// --- texts that live inside the name they change -------------------------------

TEST(NameEdit, ArgumentsMayPointIntoTheNameOrItsLocation) {
  tPCFILENAME n("C:\\a\\b\\f.txt");
  n.SetName(n.GetFileName());
  EXPECT_STREQ("f.txt", n.GetName());

  n.SetName("C:\\a\\b\\f.txt");
  n.SetName(*n.GetLocation());
  EXPECT_STREQ("C:\\a\\b", n.GetName());
  EXPECT_EQ(1, n.IsAbsolute());

  n.SetName("C:\\a\\b\\f.txt");
  n.SetName(*n.GetLocation()->GetLocation());
  EXPECT_STREQ("C:\\a", n.GetName());

  n.SetName("sub\\f");
  n.SetLocation(n.GetLocation()->GetName(), 1);
  EXPECT_STREQ("sub\\sub\\f", n.GetName());

  n.SetName("C:\\a\\f");
  n.SetLocation(*n.GetLocation(), 1);
  EXPECT_STREQ("C:\\a\\f", n.GetName());

  n.SetName("a\\b");
  n.SetFileName(n.GetLocation()->GetName());
  EXPECT_STREQ("a\\a", n.GetName());

  n.SetName("x.y");
  n.SetExtension(n.GetExtension());
  EXPECT_STREQ("x.y", n.GetName());

  n.SetName(n);
  EXPECT_STREQ("x.y", n.GetName());
  n.SetLocation(n, 0);
  EXPECT_STREQ("x.y\\x.y", n.GetName());
}

// --- conversions between conventions ---------------------------------------------

TEST(NameConvert, SetNameFromTheOtherConvention) {
  tUNIXFILENAME unix_name("a/b");
  tPCFILENAME dos;
  dos.SetName(unix_name);
  EXPECT_STREQ("a\\b", dos.GetName());

  tPCFILENAME mixed("a\\b/c");
  tUNIXFILENAME back;
  back.SetName(mixed);
  EXPECT_STREQ("a/b/c", back.GetName());

  // Same preferred separator: nothing changes.
  tPCFILENAME same;
  same.SetName(tPCFILENAME("a/b"));
  EXPECT_STREQ("a/b", same.GetName());

  // A backslash is no UNIX separator, so it stays.
  tUNIXFILENAME with_backslash("x\\y/z");
  dos.SetName(with_backslash);
  EXPECT_STREQ("x\\y\\z", dos.GetName());
}

TEST(NameConvert, AbsoluteFlagFollowsTheConvertedText) {
  tPCFILENAME dos_root("\\x");
  tUNIXFILENAME u(dos_root);
  EXPECT_STREQ("/x", u.GetName());
  EXPECT_EQ(1, u.IsAbsolute());
  EXPECT_EQ(1, u.IsRoot());

  tUNIXFILENAME unix_abs("/x/y");
  tPCFILENAME d(unix_abs);
  EXPECT_STREQ("\\x\\y", d.GetName());
  EXPECT_EQ(1, d.IsAbsolute());
  EXPECT_STREQ("\\x", d.GetLocation()->GetName());

  tPCFILENAME drive("C:\\x");
  tUNIXFILENAME from_drive(drive);
  EXPECT_STREQ("C:/x", from_drive.GetName());
  EXPECT_EQ(0, from_drive.IsAbsolute());
}

TEST(NameConvert, SetLocationFromTheOtherConvention) {
  tPCFILENAME dos("f.txt");
  dos.SetLocation(tUNIXFILENAME("/a/b"), 0);
  EXPECT_STREQ("\\a\\b\\f.txt", dos.GetName());
  EXPECT_EQ(1, dos.IsAbsolute());

  tUNIXFILENAME u("f");
  u.SetLocation(tPCFILENAME("C:\\a"), 0);
  EXPECT_STREQ("C:/a/f", u.GetName());

  tUNIXFILENAME merged("sub/f");
  merged.SetLocation(tPCFILENAME("\\top"), 1);
  EXPECT_STREQ("/top/sub/f", merged.GetName());
}

// --- constructors, copies and environment variables ------------------------------

TEST(NameConstruct, FourFormsInBothConventions) {
  tPCFILENAME d1;
  tPCFILENAME d2("C:\\x\\");
  tPCFILENAME d3(tUNIXFILENAME("/u/v"));
  names_test::SetEnv("KELCORE_NAMES_TEST_VAR", "C:\\from\\env");
  tPCFILENAME d4("KELCORE_NAMES_TEST_VAR", "default.txt");
  EXPECT_STREQ("", d1.GetName());
  EXPECT_STREQ("C:\\x", d2.GetName());
  EXPECT_STREQ("\\u\\v", d3.GetName());
  EXPECT_STREQ("C:\\from\\env", d4.GetName());

  tUNIXFILENAME u1;
  tUNIXFILENAME u2("/x/");
  tUNIXFILENAME u3(tPCFILENAME("a\\b"));
  tUNIXFILENAME u4("KELCORE_NAMES_TEST_VAR", "default");
  EXPECT_STREQ("", u1.GetName());
  EXPECT_STREQ("/x", u2.GetName());
  EXPECT_STREQ("a/b", u3.GetName());
  EXPECT_STREQ("C:\\from\\env", u4.GetName());
  names_test::SetEnv("KELCORE_NAMES_TEST_VAR", nullptr);
}

TEST(NameConstruct, EnvironmentVariableOrDefault) {
  tPCFILENAME n;
  names_test::SetEnv("KELCORE_NAMES_TEST_VAR", nullptr);
  n.SetName("KELCORE_NAMES_TEST_VAR", "C:\\default\\");
  EXPECT_STREQ("C:\\default", n.GetName());
  n.SetName("KELCORE_NAMES_TEST_VAR", nullptr);
  EXPECT_STREQ("", n.GetName());
  n.SetName(nullptr, "d.txt");
  EXPECT_STREQ("d.txt", n.GetName());

  names_test::SetEnv("KELCORE_NAMES_TEST_VAR", "logs/app.log");
  n.SetName("KELCORE_NAMES_TEST_VAR", "d.txt");
  EXPECT_STREQ("logs/app.log", n.GetName());
  EXPECT_STREQ("logs", n.GetLocation()->GetName());
  names_test::SetEnv("KELCORE_NAMES_TEST_VAR", nullptr);
}

TEST(NameConstruct, EmptyVariableGivesAnEmptyName) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows runtime cannot hold an empty variable for getenv";
#else
  names_test::SetEnv("KELCORE_NAMES_TEST_VAR", "");
  tUNIXFILENAME n("KELCORE_NAMES_TEST_VAR", "default");
  EXPECT_STREQ("", n.GetName());
  names_test::SetEnv("KELCORE_NAMES_TEST_VAR", nullptr);
#endif
}

TEST(NameConstruct, CopiesShareNoLocation) {
  tPCFILENAME a("C:\\dir\\f");
  tPHYFILENAMEOBJ *a_loc = a.GetLocation();
  tPCFILENAME b(a);
  EXPECT_STREQ("C:\\dir\\f", b.GetName());
  EXPECT_EQ(1, b.IsAbsolute());
  EXPECT_NE(a_loc, b.GetLocation());
  EXPECT_STREQ("C:\\dir", b.GetLocation()->GetName());

  tPCFILENAME c("rel");
  c.GetLocation();
  c = a;
  EXPECT_STREQ("C:\\dir\\f", c.GetName());
  EXPECT_EQ(1, c.IsAbsolute());
  EXPECT_STREQ("C:\\dir", c.GetLocation()->GetName());
  EXPECT_EQ(a_loc, a.GetLocation());

  tUNIXFILENAME u("/x/y");
  tUNIXFILENAME v;
  v = u;
  EXPECT_STREQ("/x/y", v.GetName());
  EXPECT_EQ(1, v.IsAbsolute());
  tUNIXFILENAME &alias = v;
  v = alias;
  EXPECT_STREQ("/x/y", v.GetName());
}

TEST(NameConstruct, AssignFromOwnLocation) {
  tPCFILENAME a("C:\\dir\\f");
  a = *dynamic_cast<tPCFILENAME *>(a.GetLocation());
  EXPECT_STREQ("C:\\dir", a.GetName());
  EXPECT_EQ(1, a.IsAbsolute());
  EXPECT_STREQ("C:\\", a.GetLocation()->GetName());
}

// --- compatible objects and lack of memory ---------------------------------------

TEST(NameAlloc, CompatibleObjectsAreEmptyAndOfTheSameConvention) {
  tPCFILENAME dos("C:\\x");
  tUNIXFILENAME unix_name("/x");
  tPHYFILENAMEOBJ *out = nullptr;
  ASSERT_EQ(0u, dos.AllocCompatNameObj(&out));
  ASSERT_NE(nullptr, dynamic_cast<tPCFILENAME *>(out));
  EXPECT_STREQ("", out->GetName());
  delete out;
  ASSERT_EQ(0u, unix_name.AllocCompatNameObj(&out));
  ASSERT_NE(nullptr, dynamic_cast<tUNIXFILENAME *>(out));
  delete out;
}

TEST(NameAlloc, FailureLeavesOutOfMemory) {
  tPCFILENAME dos("C:\\x\\y");
  tPHYFILENAMEOBJ *out = &dos;
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  {
    kelcore_test::ScopedAllocFailure fail(1);
    EXPECT_EQ(0xFFFFFFFFu, dos.AllocCompatNameObj(&out));
  }
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());

  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  {
    kelcore_test::ScopedAllocFailure fail(1);
    EXPECT_EQ(nullptr, dos.GetLocation());
  }
  EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
  // Built on the next call once memory is back.
  ASSERT_NE(nullptr, dos.GetLocation());
  EXPECT_STREQ("C:\\x", dos.GetLocation()->GetName());
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
}

TEST(NameAlloc, UnbuildableLocationCountsAsEmptyAndRelative) {
  tPCFILENAME n("C:\\dir\\f.txt");
  {
    kelcore_test::ScopedAllocFailure fail(1);
    n.SetLocation("sub", 1);
  }
  EXPECT_STREQ("sub\\f.txt", n.GetName());

  tPCFILENAME m("C:\\dir\\old");
  {
    kelcore_test::ScopedAllocFailure fail(1);
    m.SetFileName("new");
  }
  EXPECT_STREQ("new", m.GetName());
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
}

TEST(NameAlloc, EverySetterSurvivesEachFailedAllocation) {
  kelcore_test::SweepAllocFailures([] {
    tPCFILENAME n("C:\\a\\b\\c.txt");
    n.SetLocation("rel", 1);
    n.SetFileName("x.y");
    n.SetExtension(".z");
    n.SetName(tUNIXFILENAME("/q/r"));
    n.SetLocation(tUNIXFILENAME("s/t"), 1);
    tPHYFILENAMEOBJ *loc = n.GetLocation();
    if (loc != nullptr) loc->GetLocation();
  });
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
}

}  // namespace
