// The X/Open-style catalog functions: texts, defaults and descriptions,
// the per-thread result, catopen/catclose in every order, and (Linux) a
// program that also uses the C library's catalogs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "kelcore/catalog/nls_catalog.h"
#include "kelcore/sync/thread.h"
#include "tests/support/message_file.h"
#include "tests/support/temp_dir.h"

namespace {

const char kNls[] = "$catalog NLS message catalog\n$version A.00.01\n$set 1\n1 Hello %0\n2 Two\n";

class NlsCatalog : public kelcore_test::TempDirTest {
 protected:
  ~NlsCatalog() {
    catclose(0);
    tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  }
  std::string Write(const char *name, const std::string &source) {
    EXPECT_TRUE(kelcore_test::WriteWholeFile(tmp.File(name),
                                             kelcore_test::CompileCatalogs({source})));
    return tmp.File(name);
  }
};

TEST_F(NlsCatalog, TextsDefaultsAndDescriptionsInEveryState) {
  // Nothing open: the default, a fresh copy each call; closing fails.
  EXPECT_EQ(-1, catclose(0));
  char *first = catgets(0, 1, 1, "default");
  EXPECT_STREQ("default", first);
  char *again = catgets(0, 1, 1, "default");  // the first copy is freed (ASan checks)
  EXPECT_STREQ("default", again);
  EXPECT_NE(std::string(), catgets(0, 1, 1, nullptr));  // the lookup's description

  // A file whose first catalog has another name is refused; closing what
  // that left is harmless, and so is closing twice.
  const std::string other = Write("other.cat", "$catalog Other\n$set 1\n1 x\n");
  EXPECT_EQ(-1, catopen(other.c_str(), 0));
  catclose(0);
  EXPECT_EQ(-1, catclose(0));
  EXPECT_EQ(-1, catopen(tmp.File("missing.cat").c_str(), 0));

  // Open: stored texts as they are, whatever the default; defaults for the rest.
  const std::string nls = Write("nls.cat", kNls);
  ASSERT_EQ(0, catopen(nls.c_str(), 0));
  const struct { int set, number; const char *dflt, *want; } cases[] = {
      {1, 1, "ignored", "Hello %0"}, {1, 2, nullptr, "Two"}, {1, 3, "d13", "d13"},
      {2, 1, "d21", "d21"}};
  for (const auto &c : cases) EXPECT_STREQ(c.want, catgets(0, c.set, c.number, c.dflt));
  // Longer, shorter, cut at a NUL: each the text as stored up to its first
  // NUL (ASan checks the reused result's bounds).
  const std::string texts = Write(
      "texts.cat", "$catalog NLS message catalog\n$set 1\n1 short\n2 a much longer text\n"
                   "3 cut\\0here\n");
  catclose(0);
  ASSERT_EQ(0, catopen(texts.c_str(), 0));
  const struct { int number; const char *want; } reads[] = {
      {1, "short"}, {2, "a much longer text"}, {1, "short"}, {3, "cut"}, {2, "a much longer text"}};
  for (const auto &r : reads) EXPECT_STREQ(r.want, catgets(0, 1, r.number, "x"));
  catclose(0);
  ASSERT_EQ(0, catopen(nls.c_str(), 0));
  const std::string description = catgets(0, 1, 9, nullptr);
  EXPECT_NE(std::string::npos, description.find("9")) << description;

  // A second catopen replaces the first file; one catclose closes it, a
  // second finds nothing and touches nothing.
  const std::string second = Write("second.cat", "$catalog NLS message catalog\n$version A.00.00\n"
                                                 "$set 1\n1 Second\n");
  ASSERT_EQ(0, catopen(second.c_str(), 0));
  EXPECT_STREQ("Second", catgets(0, 1, 1, "x"));
  EXPECT_STREQ("x", catgets(0, 1, 2, "x"));
  EXPECT_EQ(0, catclose(0));
  EXPECT_EQ(-1, catclose(0));
  EXPECT_STREQ("after", catgets(0, 1, 1, "after"));
}

TEST_F(NlsCatalog, EachThreadKeepsItsOwnResult) {
  ASSERT_EQ(0, catopen(Write("nls.cat", kNls).c_str(), 0));
  std::string theirs;
  std::thread t([&theirs] {
    for (int i = 0; i < 200; ++i) theirs = catgets(0, 1, i % 2 ? 3 : 1, "other");
    tTHREAD::DeleteAutoThreadObject();
  });
  char *mine = nullptr;
  for (int i = 0; i < 200; ++i) {
    mine = catgets(0, 1, 2, "x");
    EXPECT_STREQ("Two", mine);
  }
  t.join();
  EXPECT_EQ("other", theirs);
  EXPECT_STREQ("Two", mine);  // the other thread's calls left it alone
}

#if defined(KELCORE_LIBC_HAS_CATGETS)
// Linux: the C library's catopen/catgets on a gencat catalog and ours on a
// message file, in one program, each answering what was asked of it. The
// parenthesised names bypass this file's mapping to reach the C library.
TEST_F(NlsCatalog, CLibraryCatalogsAndOursSideBySide) {
  const std::string source = tmp.File("c.msg"), catalog = tmp.File("c.cat");
  ASSERT_TRUE(kelcore_test::WriteWholeFile(source, "$set 1\n1 From the C library\n"));
  const std::string cmd = "gencat " + catalog + " " + source + " 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "no gencat";
  nl_catd c = (catopen)(catalog.c_str(), NL_CAT_LOCALE);
  ASSERT_NE(reinterpret_cast<nl_catd>(-1), c);
  ASSERT_EQ(0, catopen(Write("nls.cat", kNls).c_str(), 0));
  EXPECT_STREQ("From the C library", (catgets)(c, 1, 1, "c-default"));
  EXPECT_STREQ("Hello %0", catgets(0, 1, 1, "ours-default"));
  EXPECT_STREQ("c-default", (catgets)(c, 1, 2, "c-default"));
  EXPECT_STREQ("Two", catgets(0, 1, 2, "ours-default"));
  EXPECT_EQ(0, (catclose)(c));
  EXPECT_EQ(0, catclose(0));
}
#endif

}  // namespace
