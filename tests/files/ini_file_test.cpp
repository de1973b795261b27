// INI files: reading and writing rules as one table of files, queries and
// changes, walking, saves that fail at every write, two processes sharing
// one file, and the machine's own .ini and .desktop files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <ftw.h>
#include <sys/stat.h>
#endif

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/files/ini_file.h"
#include "kelcore/msg/message.h"
#include "kelcore/physical/cstream/cstream_file.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

using kelcore_test::ReadWholeFile;
using kelcore_test::WriteWholeFile;

// The content as one text: raw entries as "raw:<line>", sections as
// "[name]", keys as "name=value" ("name" alone without a value), comments
// as "#<line>", one per line.
std::string Dump(tINIFILE &ini) {
  std::string out;
  for (tINIFILE::tSECTION *s = ini.GetFirstEntry(); s; s = s->GetNextEntry()) {
    if (s->IsRaw()) {
      out += std::string("raw:") + s->GetName() + "\n";
      continue;
    }
    out += std::string("[") + s->GetName() + "]\n";
    for (tINIFILE::tKEY *k = s->GetFirstKey(); k; k = k->GetNext()) {
      if (k->IsComment()) {
        out += std::string("#") + k->GetValue() + "\n";
      } else {
        out += std::string(k->GetName()) + (k->GetValue() ? std::string("=") + k->GetValue() : "") + "\n";
      }
    }
  }
  return out;
}

class IniFileTest : public kelcore_test::TempDirTest {
 protected:
  std::string path() { return tmp.File("t.ini"); }
  std::string Put(const std::string &bytes) {
    EXPECT_TRUE(WriteWholeFile(path(), bytes));
    return path();
  }
  std::string Bytes() {
    std::string b;
    ReadWholeFile(path(), &b);
    return b;
  }
};

// ------------------------------------------------- reading and writing

struct FileCase {
  const char *what;
  std::string file;   // as on disk
  std::string dump;   // what Load reads (Dump)
  std::string saved;  // what Save writes
};

const FileCase kFileCases[] = {
    {"raw lines, comments, spacing", "; header\r\n[Main]\r\n  Size = 10 \r\n; note\r\nName=a=b\r\n",
     "raw:; header\n[Main]\nSize=10\n#; note\nName=a=b\n",
     "; header\r\n[Main]\r\nSize=10\r\n; note\r\nName=a=b\r\n"},
    {"blank lines inside sections go, one blank line between sections", "[A]\n\nx=1\n\n\n[B]\ny=2",
     "[A]\nx=1\n[B]\ny=2\n", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n"},
    {"raw blank lines are kept, each line ended", "\n  \nfree text\n\n[S]\nk=v\n",
     "raw:\nraw:  \nraw:free text\nraw:\n[S]\nk=v\n", "\r\n  \r\nfree text\r\n\r\n[S]\r\nk=v\r\n"},
    {"only raw lines: nothing follows the last", "a\nb\n", "raw:a\nraw:b\n", "a\r\nb"},
    {"a trailing blank raw line keeps its line end", "a\n\n", "raw:a\nraw:\n", "a\r\n\r\n"},
    {"a broken header before the first section is raw", "[x\n[A]\n", "raw:[x\n[A]\n",
     "[x\r\n[A]\r\n"},
    {"header spacing and trailing text", "  [  Sp ace  ] tail\n\tkey\t=\tv a l\t\n",
     "[Sp ace]\nkey=v a l\n", "[Sp ace]\r\nkey=v a l\r\n"},
    {"duplicates kept in order", "[A]\nk=1\nk=2\n[A]\nk=3\n", "[A]\nk=1\nk=2\n[A]\nk=3\n",
     "[A]\r\nk=1\r\nk=2\r\n\r\n[A]\r\nk=3\r\n"},
    {"non-key lines in a section are dropped", "[A]\nno equals\n=starts with equals\n   \nk=\n",
     "[A]\nk=\n", "[A]\r\nk=\r\n"},
    {"comment keeps its leading blanks", "[A]\n   ; c = d\n", "[A]\n#   ; c = d\n", "[A]\r\n   ; c = d\r\n"},
    {"a broken header is dropped and ends the section; what follows is raw, after a '[' line",
     "[A]\nk=1\n[Broken\nx=2\n[B]\ny=3\n", "[A]\nk=1\nraw:x=2\n[B]\ny=3\n",
     "[A]\r\nk=1\r\n\r\n[\r\nx=2\r\n[B]\r\ny=3\r\n"},
    {"empty section name and empty file ends", "[]\n", "[]\n", "[]\r\n"},
    {"empty file", "", "", ""},
    {"text after 0x1A is not read", "[A]\nk=1\x1Ajunk\n", "[A]\nk=1\n", "[A]\r\nk=1\r\n"},
    {"a line longer than the line buffer is read whole", "[A]\nk=" + std::string(700, 'v') + "\n",
     "[A]\nk=" + std::string(700, 'v') + "\n", "[A]\r\nk=" + std::string(700, 'v') + "\r\n"},
};

TEST_F(IniFileTest, ReadingAndWritingRules) {
  for (const FileCase &c : kFileCases) {
    SCOPED_TRACE(c.what);
    Put(c.file);
    {
      tINIFILE ini;
      ini.SetName(path().c_str());
      ini.Load();
      EXPECT_EQ(c.dump, Dump(ini));
      EXPECT_EQ(0, ini.Modified());
      ini.Save();
    }
    EXPECT_EQ(c.saved, Bytes());
    // Loading reads the same over both back ends, unbuffered, with the
    // reference constructor's window and with windows of 4 KiB and 64 KiB.
    Put(c.file);
    for (int cstream = 0; cstream < 2; ++cstream) {
      for (unsigned int window : {0u, 512u, 4096u, 65536u}) {
        SCOPED_TRACE(std::string(cstream ? "C stream" : "OS file") + ", window " +
                     std::to_string(window));
        tPHYSICAL_FILE *phys = cstream ? static_cast<tPHYSICAL_FILE *>(new tCSTREAM)
                                       : static_cast<tPHYSICAL_FILE *>(new tOSFILE);
        tINIFILE *ini = window == 512 ? new tINIFILE(*phys, 1) : new tINIFILE(phys, 1);
        if (window != 512) ini->SetBuffer(window, nullptr);
        ini->SetName(path().c_str());
        ini->Load();
        EXPECT_EQ(c.dump, Dump(*ini));
        delete ini;
      }
    }
  }
}

// ------------------------------------------------------------ queries

TEST_F(IniFileTest, QueriesAndDefaults) {
  Put("; header\n[Main]\n  Size = 10 \n; note\nName=a=b\nEmpty=\nBig=4294967295\nNeg=-7x\n"
      "[A]\n[a]\nx=1\n");
  tINIFILE ini(*new tOSFILE, 1);
  ini.SetName(path().c_str());
  char buf[8];
  struct {
    const char *section, *key;
    long def, number;
    const char *text;  // with default "def"
  } rows[] = {
      {"main", "size", 5, 10, "10"},
      {"Main", "Missing", 5, 5, "def"},
      {"Missing", "Size", 5, 5, "def"},
      {"MAIN", "NAME", 5, 0, "a=b"},
      {"Main", "Empty", 5, 0, "def"},
      {"Main", "Neg", 5, -7, "-7x"},
      {"A", "x", 5, 5, "def"},  // only the first section named A is searched
  };
  for (auto &r : rows) {
    SCOPED_TRACE(std::string(r.section) + "/" + r.key);
    EXPECT_EQ(r.number, ini.Get(r.section, r.key, r.def));
    EXPECT_EQ(static_cast<int>(r.number), ini.Get(r.section, r.key, static_cast<int>(r.def)));
    ini.Get(r.section, r.key, buf, 7, "def");
    EXPECT_STREQ(r.text, buf);
  }
  ini.Get("Main", "Name", buf, 2, "def");
  EXPECT_STREQ("a=", buf) << "at most size characters";
  EXPECT_EQ(4294967295ul, ini.Get("Main", "Big", 0ul)) << "unsigned long reads back unsigned";
  EXPECT_EQ(static_cast<unsigned char>(255), ini.Get("Main", "Big", static_cast<unsigned char>(1)));
  EXPECT_EQ(ini.FindSection("A"), ini.GetFirstSection()->GetNext());
  EXPECT_EQ(4u, ini.NumSections()) << "raw entries count";
  EXPECT_EQ(0, ini.Modified());
}

// ------------------------------------------------------------ changes

TEST_F(IniFileTest, LazyCreationAddReplaceInsertRemove) {
  tINIFILE ini;
  ini.SetName(path().c_str());
  EXPECT_EQ(7L, ini.Get("S", "k", 7L));
  int exists = 0;
  ini.Exists(&exists);
  EXPECT_EQ(1, exists) << "the first query creates the missing file";
  EXPECT_FALSE(ini.IsOpen());
  EXPECT_EQ("", Bytes());
  ini.Add("S", "k", "1");
  ini.Add("S", "k", "1");
  EXPECT_EQ(1, ini.Modified());
  ini.Replace("S", "k", "2");
  EXPECT_EQ("[S]\nk=2\nk=1\n", Dump(ini)) << "Add always appends; Replace the first";
  ini.SetModified(0);
  ini.Replace("s", "K", "2");
  ini.Add("s");
  EXPECT_EQ(0, ini.Modified()) << "equal value, existing section: no change";
  ini.Replace("S", "t", "abc");
  ini.SetModified(0);
  ini.Replace("S", "t", "ABC");
  EXPECT_EQ(0, ini.Modified()) << "values compare without case";
  ini.Replace("S", "t", static_cast<char const *>(nullptr));
  EXPECT_EQ(1, ini.Modified());
  char buf[8];
  ini.Get("S", "t", buf, 7, "def");
  EXPECT_STREQ("def", buf) << "a key without value reads as empty";
  EXPECT_EQ(0L, ini.Get("S", "t", 5L));

  // Typed values: signed as %ld (a char sign-extended), unsigned as %lu.
  ini.Add("T", "c", 'A');
  ini.Add("T", "n", static_cast<char>(-1));
  ini.Add("T", "u", static_cast<unsigned char>(200));
  ini.Add("T", "i", -5);
  ini.Add("T", "ui", 4000000000u);
  ini.Add("T", "l", -123456L);
  ini.Add("T", "ul", 4294967295ul);
  EXPECT_EQ("[T]\nc=65\nn=-1\nu=200\ni=-5\nui=4000000000\nl=-123456\nul=4294967295\n",
            Dump(ini).substr(Dump(ini).find("[T]")));
  EXPECT_EQ('A', ini.Get("T", "c", 'x'));
  EXPECT_EQ(4000000000u, ini.Get("T", "ui", 0u));

  // Insert before a key and before a section; remove them again and the
  // lists are as they were.
  ini.Add("U", "a", "1");
  ini.Add("U", "c", "3");
  std::string before = Dump(ini);
  tINIFILE::tSECTION *u = ini.FindSection("U");
  ini.Insert("U", "b", 2, u->GetLastKey());
  ini.Insert("Mid", ini.FindSection("T"));
  ini.Insert("First", ini.GetFirstEntry());
  EXPECT_EQ(ini.FindSection("First"), ini.GetFirstSection());
  EXPECT_EQ("a b c ", [&] {
    std::string s;
    for (tINIFILE::tKEY *k = u->GetFirstKey(); k; k = k->GetNext()) s += std::string(k->GetName()) + " ";
    return s;
  }());
  EXPECT_EQ(ini.FindSection("T"), ini.FindSection("Mid")->GetNext());
  ini.Remove("U", "b", 2);
  ini.Remove(ini.FindSection("Mid"));
  ini.Remove(ini.FindSection("First"));
  EXPECT_EQ(before, Dump(ini));

  // Remove by value takes every key of that name and value, no other.
  ini.Add("R", "k", "x");
  ini.Add("R", "k", "y");
  ini.Add("R", "k", "X");
  ini.Add("R", "k", static_cast<char const *>(nullptr));
  ini.Remove("R", "K", "x");
  EXPECT_EQ("[R]\nk=y\nk\n", Dump(ini).substr(Dump(ini).find("[R]")));
  ini.Remove("R", "k", "");
  ini.Remove("Missing", "k", "y");
  ini.Remove("R", "missing", static_cast<char const *>(nullptr));
  EXPECT_EQ("[R]\nk=y\n", Dump(ini).substr(Dump(ini).find("[R]")));
  ini.Remove("R", "k", static_cast<char const *>(nullptr));
  EXPECT_EQ(0u, ini.FindSection("R")->NumKeys());
  ini.SetModified(0);
}

// Large lists use a name index; it must answer as the list does after
// every kind of change.
TEST_F(IniFileTest, LookupsInLargeListsFollowEveryChange) {
  tINIFILE ini;
  ini.SetName(path().c_str());
  for (int i = 0; i < 200; ++i) {
    std::string name = "K" + std::to_string(i % 50);
    ini.Add("Big", name.c_str(), i);
    ini.Add(("Sec" + std::to_string(i % 40)).c_str());
  }
  tINIFILE::tSECTION *big = ini.FindSection("big");
  EXPECT_EQ(0L, ini.Get("BIG", "k0", -1L));
  EXPECT_EQ(49L, ini.Get("Big", "K49", -1L));
  ini.Insert("Big", "k49", 1000, big->GetFirstKey());
  EXPECT_EQ(1000L, ini.Get("Big", "K49", -1L));
  ini.Remove("Big", "K49", 1000);
  ini.Remove("Big", "K0", 0);
  EXPECT_EQ(49L, ini.Get("Big", "K49", -1L));
  EXPECT_EQ(50L, ini.Get("Big", "K0", -1L));
  tINIFILE::tSECTION *s7 = ini.FindSection("sec7");
  ini.Insert("Sec7", ini.GetFirstEntry());
  EXPECT_NE(s7, ini.FindSection("SEC7"));
  ini.Remove(ini.FindSection("SEC7"));
  EXPECT_EQ(s7, ini.FindSection("SEC7"));
  ini.Remove(s7);
  EXPECT_EQ(nullptr, ini.FindSection("Sec7"));
  ini.SetModified(0);
}

// Every allocation of a change and of a load may fail: the lists stay
// consistent and the file can still be walked and saved.
TEST_F(IniFileTest, OutOfMemoryKeepsTheListsConsistent) {
  Put("raw\n[A]\nk=" + std::string(400, 'x') + "\n; c\n[B]\nj=2\n");
  kelcore_test::SweepAllocFailures([&] {
    tINIFILE ini;
    ini.SetName(path().c_str());
    ini.Load();
    ini.Add("C", "x", 1);
    ini.Insert("D", ini.GetFirstEntry());
    ini.Replace("A", "k", "short");
    ini.Remove("A", "k", "short");
    unsigned int n = 0;
    for (tINIFILE::tSECTION *s = ini.GetFirstEntry(); s; s = s->GetNextEntry()) {
      unsigned int keys = 0;
      for (tINIFILE::tKEY *k = s->GetFirstKey(); k; k = k->GetNext()) ++keys;
      EXPECT_EQ(s->NumKeys(), keys);
      ++n;
    }
    EXPECT_EQ(ini.NumSections(), n);
    ini.SetModified(0);
  });
}

// ------------------------------------------------- saves that fail

// A file that fails its Nth write, and with `and_after` every later one.
class FailingFile : public tOSFILE {
 public:
  unsigned int fail_at = 0;
  bool and_after = false;
  unsigned int writes = 0;
  unsigned int Write(void const *buffer, unsigned long bytes, unsigned long *done) override {
    ++writes;
    if (fail_at && (writes == fail_at || (and_after && writes > fail_at))) {
      if (done) *done = 0;
      tTHREAD::SetLastError(tERRMSG::OutOfMemory);
      return 0xFFFFFFFFu;
    }
    return tOSFILE::Write(buffer, bytes, done);
  }
};

// Each write of a save fails in turn (with `and_after`, every later one
// too), buffered and not: the change stays unsaved, the last error says
// why, and the file or its side copy holds the old content, which the next
// save repairs.
TEST_F(IniFileTest, ASaveThatFailsAtAnyWriteLosesNothing) {
  const std::string sav = tmp.File("t.ini.sav"), old_bytes = "; old\n[Old]\na=1\nb=2\n";
  for (int mode = 0; mode < 4; ++mode) {
    const bool buffered = mode & 1, and_after = mode & 2;
    unsigned int count = 0;  // the writes of a save that succeeds
    std::string new_bytes, now, side;
    for (unsigned int fail = 0; fail == 0 || fail <= count; ++fail) {
      SCOPED_TRACE("mode " + std::to_string(mode) + " fail at " + std::to_string(fail));
      Put(old_bytes);
      FailingFile *phys = new FailingFile;
      {
        tINIFILE ini(phys, 1);
        if (buffered) ini.SetBuffer(16, nullptr);
        ini.SetName(path().c_str());
        ini.Load();
        ini.Replace("Old", "a", std::string(40, 'n').c_str());
        ini.Add("New", "k", "v");
        phys->fail_at = fail;
        phys->and_after = and_after;
        tTHREAD::SetLastError(nullptr);
        ini.Save();
        EXPECT_EQ(fail != 0 ? &tERRMSG::OutOfMemory : nullptr, tTHREAD::GetLastError())
            << "a failed save says why; a successful one leaves the last error alone";
        EXPECT_EQ(fail != 0 ? 1 : 0, ini.Modified()) << "a failed save keeps the change unsaved";
        if (fail == 0) count = phys->writes, new_bytes = Bytes();
        // The fault stays in force while the object is destroyed.
        ini.SetModified(0);
      }
      now = Bytes();
      const bool kept = ReadWholeFile(sav, &side);
      if (fail == 0 || !and_after) {
        EXPECT_FALSE(kept) << "no side copy left after a save or a restore";
        if (fail == 0) {
          ASSERT_GE(count, buffered ? 2u : 1u);
          continue;
        }
        EXPECT_EQ(old_bytes, now) << "restored";
      } else if (kept) {
        EXPECT_EQ(0u, side.find("KELINI-SIDE-COPY-1 "));
        EXPECT_EQ(old_bytes, side.substr(side.size() - std::min(side.size(), old_bytes.size())))
            << "the side copy ends with the old content";
      } else {
        EXPECT_TRUE(now == old_bytes || now == new_bytes);
      }
      // Whatever happened, a load reads the old content, and the next save
      // repairs the file and drops the side copy.
      tINIFILE check;
      check.SetName(path().c_str());
      EXPECT_EQ(1L, check.Get("Old", "a", 0L));
      check.Replace("Old", "a", "3");
      check.Save();
      EXPECT_FALSE(ReadWholeFile(sav, &side));
      EXPECT_NE(std::string::npos, Bytes().find("a=3"));
    }
  }
}

// --------------------------------------------------- two processes

std::string Content(int variant) {
  std::string s = "[Shared]\r\nvariant=" + std::to_string(variant) + "\r\n";
  for (int i = 0; i < (variant ? 300 : 40); ++i) s += "k" + std::to_string(i) + "=" + std::to_string(variant) + "\r\n";
  return s;
}

KELCORE_CHILD_MAIN(ini_saver) {
  // Saves the two contents in turn until told to stop.
  for (int i = 0; !std::ifstream(args[1].c_str()).good(); ++i) {
    tINIFILE ini;
    ini.SetName(args[0].c_str());
    ini.Load();
    ini.Remove(ini.FindSection("Shared"));
    ini.Replace("Shared", "variant", i % 2);
    for (int k = 0; k < (i % 2 ? 300 : 40); ++k) ini.Add("Shared", ("k" + std::to_string(k)).c_str(), i % 2);
    ini.Save();
    if (ini.Modified()) return 1;
    if (i == 2) kelcore_test::TouchFile(args[2]);
  }
  return 0;
}

TEST_F(IniFileTest, ALoaderNeverSeesAHalfWrittenFile) {
  Put(Content(1));
  std::string stop = tmp.File("stop"), started = tmp.File("started");
  kelcore_test::ChildProcess saver;
  ASSERT_TRUE(saver.Start("ini_saver", {path(), stop, started}));
  ASSERT_TRUE(kelcore_test::WaitForFile(started));
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int loads = 0, bad = 0;
  while (std::chrono::steady_clock::now() < end) {
    tINIFILE ini;
    ini.SetName(path().c_str());
    long variant = ini.Get("Shared", "variant", -1L);
    unsigned int keys = ini.FindSection("Shared") ? ini.FindSection("Shared")->NumKeys() : 0;
    if ((variant != 0 && variant != 1) || keys != (variant ? 301u : 41u)) ++bad;
    ++loads;
  }
  kelcore_test::TouchFile(stop);
  EXPECT_EQ(0, saver.Wait());
  EXPECT_EQ(0, bad) << "of " << loads << " loads";
  EXPECT_GT(loads, 10);
}

// ------------------------------------------- the machine's own files

#if !defined(_WIN32)
std::vector<std::string> *g_found;
int Collect(const char *path, const struct stat *, int type, struct FTW *) {
  const std::string p(path);
  for (const std::string suffix : {".ini", ".desktop"}) {
    const bool ends = p.size() >= suffix.size() && p.compare(p.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (type == FTW_F && ends) g_found->push_back(p);
  }
  return 0;
}

std::string Trim(const std::string &s) {
  const char *blanks = " \t\n\v\f\r";
  const size_t first = s.find_first_not_of(blanks);
  return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// The non-empty lines of a text (carriage returns dropped); with
// `normalise`, each as Save writes it back following the documented rules
// (a key line without a name or "=" is dropped).
std::vector<std::string> NonEmptyLines(const std::string &text, bool normalise) {
  std::vector<std::string> lines;
  bool in_section = false;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    if ((end = text.find('\n', start)) == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    const std::string t = Trim(line);
    if (normalise && !t.empty() && t[0] == '[' && (in_section = t.find(']') != std::string::npos)) {
      line = "[" + Trim(t.substr(1, t.find(']') - 1)) + "]";
    } else if (normalise && in_section && (t.empty() || t[0] != ';')) {
      const size_t eq = t.find('=');
      line = eq == std::string::npos || eq == 0 ? "" : Trim(t.substr(0, eq)) + "=" + Trim(t.substr(eq + 1));
    }
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// Linux only: the test machine's own files (on Windows there is no such
// collection to walk). Every line survives a load and save apart from the
// documented normalisations, and the saved file loads the same.
TEST_F(IniFileTest, TheMachinesOwnFilesSurviveALoadAndSave) {
  std::vector<std::string> found;
  g_found = &found;
  nftw("/usr/share", Collect, 16, FTW_PHYS);
  nftw("/etc", Collect, 16, FTW_PHYS);
  if (found.empty()) GTEST_SKIP() << "no .ini or .desktop files on this machine";
  for (const std::string &file : found) {
    SCOPED_TRACE(file);
    std::string original;
    if (!ReadWholeFile(file, &original) || original.find('\x1A') != std::string::npos ||
        original.find('\0') != std::string::npos) {
      continue;
    }
    Put(original);
    std::string first;
    {
      tINIFILE ini(*new tOSFILE, 1);
      ini.SetName(path().c_str());
      first = Dump(ini);
      ini.SetModified(1);
    }
    // Apart from blank lines, which Save puts between sections only, every
    // line is there, as the rules write it.
    EXPECT_EQ(NonEmptyLines(original, true), NonEmptyLines(Bytes(), false));
    tINIFILE again;
    again.SetName(path().c_str());
    EXPECT_EQ(first, Dump(again));
  }
}
#endif

}  // namespace

// ------------------------------------- what the syntax cannot hold

// Names and values that would not read back as they were set are refused
// with TXT library error 3, and nothing changes; the file keeps its
// sections (a line feed cannot inject one, 0x1A cannot cut the file).
TEST_F(IniFileTest, NamesAndValuesTheSyntaxCannotHoldAreRefused) {
  Put("[Main]\nk=1\n");
  struct {
    const char *section, *key, *value;
  } refused[] = {
      {"Main", "k", "x\n[Security]\nAllowRemote=1"}, {"Main", "k", "cut\x1Ahere"},
      {"Main", "k", "cr\rhere"},  {"Main", "k", " lead"},      {"Main", "k", "trail\t"},
      {"Main", "a=b", "1"},       {"Main", "; c", "1"},        {"Main", "[k]", "1"},
      {"Main", "", "1"},          {"Main", " k", "1"},         {"Ma]in", "k", "1"},
      {"S\n", "k", "1"},          {" S", "k", "1"},
  };
  tINIFILE ini(*new tOSFILE, 1);
  ini.SetName(path().c_str());
  const std::string before = Dump(ini);
  for (auto &r : refused) {
    SCOPED_TRACE(std::string(r.section) + "/" + r.key + "/" + r.value);
    for (int op = 0; op < 3; ++op) {
      tTHREAD::SetLastError(nullptr);
      if (op == 0) ini.Add(r.section, r.key, r.value);
      if (op == 1) ini.Replace(r.section, r.key, r.value);
      if (op == 2) ini.Insert(r.section, r.key, r.value, nullptr);
      const tCATMSG *msg = dynamic_cast<const tCATMSG *>(tTHREAD::GetLastError());
      ASSERT_TRUE(msg && msg->GetCatalog() == &keltxt::Catalog());
      EXPECT_EQ(3u, msg->GetMsgId());
    }
  }
  ini.Add("Bad]");
  EXPECT_EQ(before, Dump(ini));
  EXPECT_EQ(0, ini.Modified());
  // What may be set reads back as it was: '=', '[' and ';' inside values,
  // '[' inside section names.
  ini.Add("S[1", "k", "a=b; [c]");
  ini.Save();
  tINIFILE again(*new tOSFILE, 1);
  again.SetName(path().c_str());
  char buf[32];
  again.Get("S[1", "k", buf, sizeof buf - 1, "");
  EXPECT_STREQ("a=b; [c]", buf);
  EXPECT_EQ(2u, again.NumSections());
}

// NumSections is a query like the others: it loads the file first.
TEST_F(IniFileTest, NumSectionsLoadsTheFile) {
  Put("raw\n[A]\n[B]\n");
  tINIFILE ini(*new tOSFILE, 1);
  ini.SetName(path().c_str());
  EXPECT_EQ(3u, ini.NumSections());
}

// The side copy is trusted only as the remains of an interrupted save of
// this file; a file of that name the library did not write is never read
// nor touched, and a hand edit made after the interruption is kept.
TEST_F(IniFileTest, ASideCopyIsTrustedOnlyAfterAnInterruptedSave) {
  const std::string sav = tmp.File("t.ini.sav"), old_bytes = "[Old]\na=1\n";
  std::string side;
  // An interrupted save, for real: every write of the file fails after the
  // side copy is made, so the file is left empty and the side copy stays.
  auto interrupted = [&] {
    Put(old_bytes);
    FailingFile *phys = new FailingFile;
    tINIFILE ini(phys, 1);
    ini.SetName(path().c_str());
    ini.Replace("Old", "a", "2");
    phys->fail_at = 1;
    phys->and_after = true;
    ini.Save();
    ini.SetModified(0);  // destroyed with the fault in force
  };
  interrupted();
  ASSERT_TRUE(ReadWholeFile(sav, &side));
  EXPECT_EQ("", Bytes());
#if !defined(_WIN32)
  {
    // The side copy is as private as the file was.
    struct stat st_file, st_side;
    ASSERT_EQ(0, stat(path().c_str(), &st_file));
    ASSERT_EQ(0, stat(sav.c_str(), &st_side));
    EXPECT_EQ(st_file.st_mode & 0777, st_side.st_mode & 0777);
  }
#endif
  struct {
    const char *what;
    std::string file;   // the file after the interruption
    long a;             // what a load reads
    bool foreign;       // the side copy replaced by one of the user's
  } rows[] = {
      {"left empty: the side copy", "", 1, false},
      {"a beginning of the new content: the side copy", "[Old]\r\n", 1, false},
      {"edited by hand afterwards: the file", "[Old]\na=7\n", 7, false},
      {"a side copy the library did not write: the file", "[Old]\na=5\n", 5, true},
  };
  for (auto &r : rows) {
    SCOPED_TRACE(r.what);
    interrupted();
    if (r.foreign) {
      ASSERT_TRUE(WriteWholeFile(sav, "[Old]\na=9\n"));
    }
    Put(r.file);
    tINIFILE ini(*new tOSFILE, 1);
    ini.SetName(path().c_str());
    EXPECT_EQ(r.a, ini.Get("Old", "a", 0L));
    ini.Replace("Old", "b", "x");
    ini.Save();
    EXPECT_EQ(0, ini.Modified());
    EXPECT_NE(std::string::npos, Bytes().find("a=" + std::to_string(r.a)));
    EXPECT_EQ(r.foreign, ReadWholeFile(sav, &side));
    if (r.foreign) {
      EXPECT_EQ("[Old]\na=9\n", side) << "never touched";
    }
    std::remove(sav.c_str());
  }
}
