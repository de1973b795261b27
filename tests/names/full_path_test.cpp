// Fully qualifying names. On Linux the result is a native POSIX path (the
// one drive C: is the root "/"); under Windows it is a drive path.
#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

#include "kelcore/error/os_error.h"
#include "kelcore/msg/message.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/names/unix_file_name.h"
#include "kelcore/sync/thread.h"
#include "tests/support/temp_dir.h"

namespace {

std::string CurrentDir() {
  char buf[4096];
#ifdef _WIN32
  return _getcwd(buf, sizeof buf) ? buf : "";
#else
  return getcwd(buf, sizeof buf) ? buf : "";
#endif
}

int ChangeDir(const std::string &dir) {
#ifdef _WIN32
  return _chdir(dir.c_str());
#else
  return chdir(dir.c_str());
#endif
}

// Runs the test inside a fresh directory two levels below the temporary
// directory, and goes back afterwards.
class FullyQualify : public kelcore_test::TempDirTest {
 protected:
  void SetUp() override {
    saved_ = CurrentDir();
    ASSERT_FALSE(saved_.empty());
    ASSERT_EQ(0, ChangeDir(tmp.path()));
    cwd_ = CurrentDir();
    ASSERT_FALSE(cwd_.empty());
    tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  }
  void TearDown() override {
    EXPECT_EQ(0, ChangeDir(saved_));
    tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  }

  static char Sep() {
#ifdef _WIN32
    return '\\';
#else
    return '/';
#endif
  }
  std::string Parent() const { return cwd_.substr(0, cwd_.find_last_of(Sep())); }
  // "C:" under Windows; empty on POSIX, where the root is "/".
  std::string Drive() const {
#ifdef _WIN32
    return cwd_.substr(0, 2);
#else
    return "";
#endif
  }

  std::string Qualified(const char *text) {
    tPCFILENAME n(text);
    n.FullyQualify();
    return n.GetName();
  }

  std::string saved_;
  std::string cwd_;
};

TEST_F(FullyQualify, RelativeNamesWithDotsResolveAgainstTheCurrentDirectory) {
  const std::string s(1, Sep());
  EXPECT_EQ(cwd_ + s + "a.txt", Qualified("a.txt"));
  EXPECT_EQ(cwd_ + s + "b", Qualified("a\\..\\b"));
  EXPECT_EQ(cwd_ + s + "b", Qualified("a/../b"));
  EXPECT_EQ(cwd_ + s + "x" + s + "y", Qualified(".\\x\\.\\y"));
  EXPECT_EQ(cwd_ + s + "x" + s + "y", Qualified("x\\y\\"));
  EXPECT_EQ(cwd_ + s + "a" + s + "b", Qualified("a//b"));
  EXPECT_EQ(Parent() + s + "x", Qualified("..\\x"));
  EXPECT_EQ(cwd_, Qualified("."));
  EXPECT_EQ(cwd_, Qualified(""));
}

TEST_F(FullyQualify, RootedNames) {
  const std::string s(1, Sep());
  EXPECT_EQ(Drive() + s + "x" + s + "y", Qualified("\\x\\y\\"));
#ifdef _WIN32
  // Wine reads a name that starts with "/" as a path of the host system
  // (drive Z:); Windows puts it on the current drive.
  const std::string slashed = Qualified("/x/./y");
  ASSERT_GE(slashed.size(), 2u);
  EXPECT_EQ(":\\x\\y", slashed.substr(1));
#else
  EXPECT_EQ("/x/y", Qualified("/x/./y"));
#endif
  EXPECT_EQ(Drive() + s, Qualified("\\.."));
  EXPECT_EQ(Drive() + s + "z", Qualified("\\x\\..\\..\\z"));
}

TEST_F(FullyQualify, ResultIsIdempotentAndAbsolute) {
  tPCFILENAME n("sub\\..\\f.txt");
  n.FullyQualify();
  const std::string once = n.GetName();
  EXPECT_EQ(1, n.IsAbsolute());
  n.FullyQualify();
  EXPECT_EQ(once, n.GetName());
  EXPECT_STREQ("f.txt", n.GetFileName());
  EXPECT_EQ(cwd_, n.GetLocation()->GetName());
}

TEST_F(FullyQualify, OverLongResultEmptiesTheName) {
  // Fits as a relative name, not once the current directory is in front.
  const std::string rel(255, 'x');
  tPCFILENAME n(rel.c_str());
  ASSERT_EQ(rel, n.GetName());
  n.FullyQualify();
  EXPECT_STREQ("", n.GetName());
  tMSG *err = tTHREAD::GetLastError();
  ASSERT_NE(nullptr, err);
  EXPECT_STREQ("OS library error", err->GetIdString());
  ASSERT_EQ(2u, err->NumParms());
  const tPARM_SYSERR *code = dynamic_cast<const tPARM_SYSERR *>(&(*err)[0]);
  ASSERT_NE(nullptr, code);
  EXPECT_EQ(206, code->Value());
  const tPARM_FILENAME *shown = dynamic_cast<const tPARM_FILENAME *>(&(*err)[1]);
  ASSERT_NE(nullptr, shown);
  EXPECT_EQ(rel, shown->Value());
}

TEST_F(FullyQualify, UnixNamesStayAsTheyAre) {
  for (const char *text : {"a/b", "../x", "./y/..", "C:\\x", ""}) {
    tUNIXFILENAME n(text);
    n.FullyQualify();
    EXPECT_STREQ(text, n.GetName());
  }
}

#ifndef _WIN32

TEST_F(FullyQualify, PosixDriveCIsTheRoot) {
  EXPECT_EQ("/etc", Qualified("C:\\tmp\\..\\etc"));
  EXPECT_EQ("/y", Qualified("c:/x/../../y"));
  EXPECT_EQ("/", Qualified("C:\\"));
  EXPECT_EQ("/", Qualified("/.."));
  EXPECT_EQ(cwd_ + "/x", Qualified("C:x"));
  EXPECT_EQ(cwd_, Qualified("C:"));
  // Native: no backslash survives, whatever the input used.
  EXPECT_EQ(std::string::npos, Qualified("C:\\a\\b\\c").find('\\'));
}

TEST_F(FullyQualify, PosixOtherDrivesDoNotExist) {
  tPCFILENAME n("D:\\x");
  n.FullyQualify();
  EXPECT_STREQ("", n.GetName());
  tMSG *err = tTHREAD::GetLastError();
  ASSERT_NE(nullptr, err);
  ASSERT_EQ(2u, err->NumParms());
  const tPARM_SYSERR *code = dynamic_cast<const tPARM_SYSERR *>(&(*err)[0]);
  ASSERT_NE(nullptr, code);
  EXPECT_EQ(3, code->Value()) << "ERROR_PATH_NOT_FOUND";
  const tPARM_FILENAME *shown = dynamic_cast<const tPARM_FILENAME *>(&(*err)[1]);
  ASSERT_NE(nullptr, shown);
  EXPECT_STREQ("D:\\x", shown->Value());
}

#else

TEST_F(FullyQualify, WindowsDrivePaths) {
  EXPECT_EQ(Drive() + "\\etc", Qualified((Drive() + "\\tmp\\..\\etc").c_str()));
  EXPECT_EQ(Drive() + "\\", Qualified((Drive() + "\\").c_str()));
  EXPECT_EQ(cwd_ + "\\x", Qualified((Drive() + "x").c_str()));
}

#endif

}  // namespace
