// Text files: the reading rules in both widths and byte orders, through
// every buffering, lines cut at and around the caller's buffer, writing,
// line positions, pushback and the TXT library messages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/files/text_file.h"
#include "kelcore/msg/message.h"
#include "kelcore/physical/cstream/cstream_file.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/thread.h"
#include "tests/support/temp_dir.h"

namespace {

const unsigned int kFail = 0xFFFFFFFFu, kEnd = 4;

// The last error is TXT library message `number`; *line (if given)
// receives its unsigned long parameter.
void ExpectTxtError(unsigned int number, unsigned long *line = nullptr) {
  tMSG *msg = tTHREAD::GetLastError();
  const tCATMSG *cat = dynamic_cast<const tCATMSG *>(msg);
  ASSERT_TRUE(cat && cat->GetCatalog() == &keltxt::Catalog()) << (msg ? msg->Format() : "none");
  EXPECT_EQ(number, cat->GetMsgId());
  ASSERT_GE(msg->NumParms(), 1u) << "the file name comes first";
  if (line) {
    ASSERT_EQ(2u, msg->NumParms());
    auto *p = dynamic_cast<const tPARM_ULONG *>(&(*msg)[1]);
    ASSERT_TRUE(p);
    *line = p->Value();
  }
}

// How the file under test is buffered: none (every character is one read
// of the physical file), the reference constructor's 512 bytes, windows
// small enough that every line crosses several, and windows of 4 KiB and
// 64 KiB.
enum Buffering { kUnbuffered, kDefault512, kWindow1, kWindow7, kWindow4K, kWindow64K };
const Buffering kAllBufferings[] = {kUnbuffered, kDefault512, kWindow1, kWindow7, kWindow4K,
                                    kWindow64K};

// The back end of the file under test: the test suite's parameter.
bool g_cstream = false;

struct OpenText {
  tPHYSICAL_FILE *phys = g_cstream ? static_cast<tPHYSICAL_FILE *>(new tCSTREAM)
                                   : static_cast<tPHYSICAL_FILE *>(new tOSFILE);
  tTXTFILE *txt;
  OpenText(const std::string &path, Buffering b) {
    static const unsigned int windows[] = {0, 0, 1, 7, 4096, 65536};
    txt = b == kDefault512 ? new tTXTFILE(*phys, 1) : new tTXTFILE(phys, 1);
    if (windows[b] != 0) txt->SetBuffer(windows[b], nullptr);
    txt->SetName(path.c_str());
  }
  ~OpenText() { delete txt; }
};

// Every test runs over the operating-system and the C-stream back end.
class TextFileTest : public kelcore_test::TempDirTest, public ::testing::WithParamInterface<bool> {
 protected:
  TextFileTest() { g_cstream = GetParam(); }

  std::string Put(const std::string &bytes) {
    std::string path = tmp.File("t.txt");
    EXPECT_TRUE(kelcore_test::WriteWholeFile(path, bytes));
    return path;
  }
};

// ---------------------------------------------------------------- reading

struct ReadCase {
  const char *what;
  std::string bytes;
  int wide;
  std::string chars;               // what GetChar delivers before 4
  std::vector<std::string> lines;  // what ReadLine delivers before 4
  unsigned long line_at_end;       // the line number after the end
  int swap_at_end;
};

const ReadCase kReadCases[] = {
    {"CR LF", std::string("ab\r\nc"), 0, "ab\nc", {"ab", "c"}, 2, 0},
    {"bare LF", std::string("ab\nc"), 0, "ab\nc", {"ab", "c"}, 2, 0},
    {"stray CRs and NULs dropped", std::string("a\rb\r\n\r\0c\r", 10), 0, "ab\nc", {"ab", "c"}, 2, 0},
    {"final line end", std::string("x\ny\n"), 0, "x\ny\n", {"x", "y"}, 3, 0},
    {"empty lines", std::string("\n\n"), 0, "\n\n", {"", ""}, 3, 0},
    {"empty file", std::string(), 0, "", {}, 1, 0},
    {"0x1A ends the text", std::string("A\x1A" "B\nC"), 0, "A", {"A"}, 1, 0},
    {"0x1A at a line start", std::string("A\n\x1A" "B"), 0, "A\n", {"A"}, 2, 0},
    {"high bytes", std::string("\xff\x80\n"), 0, "\xff\x80\n", {"\xff\x80"}, 2, 0},
    {"16-bit big-endian mark", std::string("\xFE\xFF\0A\0\n", 6), 1, "A\n", {"A"}, 2, 1},
    {"16-bit little-endian mark", std::string("\xFF\xFE" "A\0", 4), 1, "A", {"A"}, 1, 0},
    {"16-bit unit above 255", std::string("\x01\x01", 2), 1, "\xff", {"\xff"}, 1, 0},
    {"16-bit CR LF", std::string("\xFF\xFE" "A\0\r\0\n\0B\0", 10), 1, "A\nB", {"A", "B"}, 2, 0},
    {"16-bit mark switches order", std::string("\xFE\xFF\0A\xFF\xFE" "B\0", 8), 1, "AB", {"AB"}, 1, 0},
    {"16-bit without mark", std::string("A\0\n\0", 4), 1, "A\n", {"A"}, 2, 0},
    {"16-bit 0x1A", std::string("A\0\x1A\0" "B\0", 6), 1, "A", {"A"}, 1, 0},
    {"16-bit odd last byte", std::string("A\0B", 3), 1, "A", {"A"}, 1, 0},
};

TEST_P(TextFileTest, ReadingRulesInEveryWidthAndBuffering) {
  for (const ReadCase &c : kReadCases) {
    std::string path = Put(c.bytes);
    for (Buffering b : kAllBufferings) {
      SCOPED_TRACE(std::string(c.what) + ", buffering " + std::to_string(b));
      OpenText f(path, b);
      ASSERT_EQ(0u, f.txt->OpenExisting(1, 1));
      f.txt->Set16BitFlag(c.wide);
      std::string got;
      char ch;
      unsigned int status;
      while ((status = f.txt->GetChar(&ch)) == 0) got += ch;
      EXPECT_EQ(kEnd, status);
      EXPECT_EQ(c.chars, got);
      unsigned long line = 99, pos = 0;
      EXPECT_EQ(0u, f.txt->GetLinePos(&line, &pos));
      EXPECT_EQ(c.line_at_end, line);
      EXPECT_EQ(c.swap_at_end, f.txt->GetByteSwap());
      // The end stays the end, with message 2, until the position moves.
      EXPECT_EQ(kEnd, f.txt->GetChar(&ch));
      ExpectTxtError(2);
      // Rewound, the same text comes as lines (a leading mark sets the order again).
      ASSERT_EQ(0u, f.txt->Rewind());
      std::vector<std::string> lines;
      char buf[64];
      while ((status = f.txt->ReadLine(buf, sizeof buf)) == 0) lines.push_back(buf);
      EXPECT_EQ(kEnd, status);
      EXPECT_EQ(c.lines, lines);
    }
  }
}

// Lines at, just under and over the caller's buffer, ended by a line feed
// or by the end of the text: a line that fits comes whole; a longer one
// comes in pieces of size - 1 characters, each but the last reported with
// message 1 and the line's number, and nothing is lost or merged.
TEST_P(TextFileTest, OverlongLinesAreCutAndContinued) {
  const unsigned int size = 8;
  for (unsigned int len : {0u, 1u, size - 2, size - 1, size, size + 1, 2 * size - 2, 2 * size, 600u}) {
    for (bool final_lf : {true, false}) {
      std::string line;
      for (unsigned int i = 0; i < len; ++i) line += static_cast<char>('a' + i % 26);
      std::string bytes = "first\n" + line + (final_lf ? "\nnext\n" : "");
      std::string path = Put(bytes);
      for (Buffering b : kAllBufferings) {
        SCOPED_TRACE("length " + std::to_string(len) + (final_lf ? " LF" : " end") + " buffering " +
                     std::to_string(b));
        OpenText f(path, b);
        ASSERT_EQ(0u, f.txt->OpenExisting(1, 1));
        char buf[size];
        ASSERT_EQ(0u, f.txt->ReadLine(buf, size));
        std::string joined;
        unsigned int pieces = 0, status;
        while ((status = f.txt->ReadLine(buf, size)) == kFail) {
          unsigned long number = 0;
          ExpectTxtError(1, &number);
          EXPECT_EQ(2u, number);
          EXPECT_EQ(size - 1, std::strlen(buf));
          joined += buf;
          ++pieces;
        }
        if (len == 0 && !final_lf) {
          EXPECT_EQ(kEnd, status) << "nothing after the first line";
          continue;
        }
        ASSERT_EQ(0u, status);
        joined += buf;
        EXPECT_EQ(line, joined);
        EXPECT_EQ(len < size ? 0u : (len - 1) / (size - 1), pieces);
        unsigned long number = 0, pos = 0;
        f.txt->GetLinePos(&number, &pos);
        EXPECT_EQ(2u, number);
        if (final_lf) {
          ASSERT_EQ(0u, f.txt->ReadLine(buf, size));
          EXPECT_STREQ("next", buf);
        }
        EXPECT_EQ(kEnd, f.txt->ReadLine(buf, size));
      }
    }
  }
}

TEST_P(TextFileTest, TinyLineBuffers) {
  std::string path = Put("ab\n\n");
  OpenText f(path, kDefault512);
  ASSERT_EQ(0u, f.txt->OpenExisting(1, 1));
  char buf[2] = {'x', 'x'};
  EXPECT_EQ(kFail, f.txt->ReadLine(buf, 0)) << "not even the NUL fits";
  EXPECT_EQ('x', buf[0]);
  EXPECT_EQ(kFail, f.txt->ReadLine(buf, 1));
  EXPECT_STREQ("", buf) << "a piece without characters: nothing is consumed";
  EXPECT_EQ(kFail, f.txt->ReadLine(buf, 2));
  EXPECT_STREQ("a", buf);
  EXPECT_EQ(0u, f.txt->ReadLine(buf, 2));
  EXPECT_STREQ("b", buf);
  EXPECT_EQ(0u, f.txt->ReadLine(buf, 1));
  EXPECT_STREQ("", buf) << "an empty line fits a 1-byte buffer";
  EXPECT_EQ(kEnd, f.txt->ReadLine(buf, 2));
}

// ---------------------------------------------------------------- writing

TEST_P(TextFileTest, WritingInEveryWidthAndOrder) {
  struct {
    int wide, swap;
    std::string bytes;
  } cases[] = {
      {0, 0, "hi\r\nx\r\n"},
      {1, 0, std::string("\xFF\xFEh\0i\0\r\0\n\0x\0\r\0\n\0", 16)},
      {1, 1, std::string("\xFE\xFF\0h\0i\0\r\0\n\0x\0\r\0\n", 16)},
  };
  std::string path = tmp.File("w.txt");
  for (auto &c : cases) {
    for (Buffering b : kAllBufferings) {
      SCOPED_TRACE(std::to_string(c.wide) + std::to_string(c.swap) + " buffering " + std::to_string(b));
      {
        OpenText f(path, b);
        ASSERT_EQ(0u, f.txt->Create(3, 1, 0666));
        f.txt->Set16BitFlag(c.wide);
        f.txt->SetByteSwap(c.swap);
        EXPECT_EQ(0u, f.txt->WriteLine("h\ri"));
        EXPECT_EQ(0u, f.txt->WriteStr("x\n"));
        EXPECT_EQ(0u, f.txt->PutChar('\r'));
        unsigned long line = 0, pos = 0;
        EXPECT_EQ(0u, f.txt->GetLinePos(&line, &pos));
        EXPECT_EQ(2u, line);
        EXPECT_EQ(c.bytes.size(), pos);
        EXPECT_EQ(0u, f.txt->Close());
      }
      // Reading these marks and widths back is the reading table's work.
      std::string got;
      ASSERT_TRUE(kelcore_test::ReadWholeFile(path, &got));
      EXPECT_EQ(c.bytes, got);
    }
  }
}

// ----------------------------------------------- positions and pushback

// A line cut by ReadLine continues from the file, so a position saved right
// after the cut and restored finds the first character that did not fit,
// in either width and through every buffering.
TEST_P(TextFileTest, APositionSavedAtACutLineKeepsTheNextCharacter) {
  for (int wide = 0; wide < 2; ++wide) {
    std::string bytes;
    for (char c : std::string("ABCDEFGHIJ\n")) {
      bytes += c;
      if (wide) bytes += '\0';
    }
    if (wide) bytes = "\xFF\xFE" + bytes;
    std::string path = Put(bytes);
    for (Buffering b : kAllBufferings) {
      SCOPED_TRACE(std::to_string(wide) + " " + std::to_string(b));
      OpenText f(path, b);
      ASSERT_EQ(0u, f.txt->OpenExisting(1, 1));
      f.txt->Set16BitFlag(wide);
      char buf[6];
      EXPECT_EQ(kFail, f.txt->ReadLine(buf, sizeof buf));
      EXPECT_STREQ("ABCDE", buf);
      unsigned long line = 9, pos = 0;
      ASSERT_EQ(0u, f.txt->GetLinePos(&line, &pos));
      ASSERT_EQ(0u, f.txt->SetLinePos(line, pos));
      ASSERT_EQ(0u, f.txt->ReadLine(buf, sizeof buf));
      EXPECT_STREQ("FGHIJ", buf);
    }
  }
}

TEST_P(TextFileTest, LinePositionsPushbackAndTheEnd) {
  std::string path = Put("one\ntwo\nthree\x1Atail");
  for (Buffering b : kAllBufferings) {
    SCOPED_TRACE(b);
    OpenText f(path, b);
    ASSERT_EQ(0u, f.txt->OpenExisting(1, 1));
    char buf[16], ch;
    ASSERT_EQ(0u, f.txt->ReadLine(buf, sizeof buf));
    unsigned long line = 0, pos = 0;
    ASSERT_EQ(0u, f.txt->GetLinePos(&line, &pos));
    EXPECT_EQ(1u, line);
    EXPECT_EQ(4u, pos);
    ASSERT_EQ(0u, f.txt->ReadLine(buf, sizeof buf));
    ASSERT_EQ(0u, f.txt->ReadLine(buf, sizeof buf));
    EXPECT_STREQ("three", buf) << "0x1A ends the last line";
    EXPECT_EQ(kEnd, f.txt->ReadLine(buf, sizeof buf));

    // Back to a saved pair: the same line with the same number.
    ASSERT_EQ(0u, f.txt->SetLinePos(line, pos));
    ASSERT_EQ(0u, f.txt->ReadLine(buf, sizeof buf));
    EXPECT_STREQ("two", buf);
    ASSERT_EQ(0u, f.txt->GetLinePos(&line, &pos));
    EXPECT_EQ(2u, line);

    // Pushing back a line feed or 0x1A takes one off the line number; read
    // again from the pushback they come back with status 0 and change
    // nothing: not counted again, and 0x1A does not end the text.
    ASSERT_EQ(0u, f.txt->UngetChar('\n'));
    ASSERT_EQ(0u, f.txt->UngetChar('\x1A'));
    f.txt->GetLinePos(&line, &pos);
    EXPECT_EQ(0u, line);
    for (char want : {'\x1A', '\n'}) {
      ASSERT_EQ(0u, f.txt->GetChar(&ch));
      EXPECT_EQ(want, ch);
    }
    f.txt->GetLinePos(&line, &pos);
    EXPECT_EQ(0u, line);
    ASSERT_EQ(0u, f.txt->SetLinePos(2, pos));

    // Ten characters come back last in, first out; the eleventh is refused;
    // CR and NUL are ignored and do not count.
    for (char c = '0'; c <= '9'; ++c) ASSERT_EQ(0u, f.txt->UngetChar(c));
    EXPECT_EQ(0u, f.txt->UngetChar('\r'));
    EXPECT_EQ(0u, f.txt->UngetChar('\0'));
    EXPECT_EQ(kFail, f.txt->UngetChar('x'));
    EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
    ASSERT_EQ(0u, f.txt->ReadLine(buf, sizeof buf));
    EXPECT_STREQ("9876543210three", buf);

    // Pushback after the end clears it for the pushed character only.
    EXPECT_EQ(kEnd, f.txt->GetChar(&ch));
    ASSERT_EQ(0u, f.txt->UngetChar('z'));
    ASSERT_EQ(0u, f.txt->GetChar(&ch));
    EXPECT_EQ('z', ch);

    ASSERT_EQ(0u, f.txt->Rewind());
    ASSERT_EQ(0u, f.txt->ReadLine(buf, sizeof buf));
    EXPECT_STREQ("one", buf);
    f.txt->GetLinePos(&line, &pos);
    EXPECT_EQ(1u, line);

    // Opening again resets width, order and pushback.
    EXPECT_EQ(0, f.txt->Set16BitFlag(1));
    EXPECT_EQ(0, f.txt->SetByteSwap(1));
    EXPECT_EQ(1, f.txt->Get16BitFlag());
    ASSERT_EQ(0u, f.txt->UngetChar('q'));
    ASSERT_EQ(0u, f.txt->Close());
    ASSERT_EQ(0u, f.txt->OpenExisting(1, 1));
    EXPECT_EQ(0, f.txt->Get16BitFlag());
    EXPECT_EQ(0, f.txt->GetByteSwap());
    ASSERT_EQ(0u, f.txt->GetChar(&ch));
    EXPECT_EQ('o', ch) << "the pushback went with the close";
  }
}

INSTANTIATE_TEST_SUITE_P(OsAndCStream, TextFileTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return std::string(info.param ? "CStream" : "Os");
                         });

}  // namespace
