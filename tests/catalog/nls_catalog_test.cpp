// The X/Open-style catalog functions: texts, defaults and descriptions,
// the per-thread result, catopen/catclose in every order, and (Linux) a
// program that also uses the C library's catalogs.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
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

// Stored texts come from the catalog's in-memory view: up to the first
// NUL, 16-bit texts narrowed (a character whose low byte is 0 ends the
// text), in dense sets, sparse ones and sets too far apart to be found by
// id; the rest gives the default.
TEST_F(NlsCatalog, TextsOfEveryShapeAsStored) {
  const struct {
    const char *source;
    struct { int set, number; const char *want; } reads[7];
  } files[] = {
      {"$set 1\n1 short\n2 cut\\0here\n$set 2\n1 one\n100 hundred\n1000 thousand\n"
       "$set 40000\n7 far\n",
       {{1, 1, "short"}, {1, 2, "cut"}, {2, 100, "hundred"}, {2, 1000, "thousand"},
        {2, 50, "default"}, {40000, 7, "far"}, {40000, 8, "default"}}},
      {"$width 2\n$set 1\n1 abc\n2 x\xC4\x80yz\n3 a\\0b\n$set 3\n1 \xC3\xA9t\xC3\xA9\n",
       {{1, 1, "abc"}, {1, 2, "x"}, {1, 3, "a"}, {1, 4, "default"}, {2, 1, "default"},
        {3, 1, "\xE9t\xE9"}, {3, 2, "default"}}},
  };
  for (const auto &f : files) {
    SCOPED_TRACE(f.source);
    ASSERT_EQ(0, catopen(Write("shapes.cat", std::string("$catalog NLS message catalog\n") +
                                                 f.source).c_str(), 0));
    for (int round = 0; round < 2; ++round) {
      for (const auto &r : f.reads) {
        EXPECT_STREQ(r.want, catgets(0, r.set, r.number, "default")) << r.set << ":" << r.number;
      }
    }
    catclose(0);
  }
}

// A text stays as it was until its thread calls catgets again, while other
// calls close and open catalog files and rebind the catalog twice (which
// lets the first file's view go everywhere else; ASan checks the reads).
TEST_F(NlsCatalog, AResultOutlivesItsFileUntilTheThreadAsksAgain) {
  const std::string first = Write("first.cat", kNls);
  const std::string second = Write("second.cat", "$catalog NLS message catalog\n$set 1\n1 Second\n");
  ASSERT_EQ(0, catopen(first.c_str(), 0));
  std::mutex mutex;
  std::condition_variable changed;
  int step = 0;
  std::string before, after, next;
  std::thread reader([&] {
    catgets(0, 1, 2, "x");  // binds the catalog: its view answers from now on
    const char *text = catgets(0, 1, 1, "x");
    before = text;
    std::unique_lock<std::mutex> lock(mutex);
    step = 1;
    changed.notify_all();
    changed.wait(lock, [&] { return step == 2; });
    after = text;
    next = catgets(0, 1, 1, "x");
    lock.unlock();
    tTHREAD::DeleteAutoThreadObject();
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return step == 1; });
    for (const std::string *file : {&second, &first, &second}) {
      catclose(0);
      ASSERT_EQ(0, catopen(file->c_str(), 0));
      EXPECT_STREQ(file == &first ? "Hello %0" : "Second", catgets(0, 1, 1, "x"));
    }
    step = 2;
    changed.notify_all();
  }
  reader.join();
  EXPECT_EQ("Hello %0", before);
  EXPECT_EQ("Hello %0", after);
  EXPECT_EQ("Second", next);
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
