// The placeholder syntax of message texts, as one table, and the static and
// member Format functions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kelcore/msg/message.h"
#include "tests/msg/msg_test_util.h"

namespace {

using kelcore_test::CountingParm;
using kelcore_test::Formatted;

// Parameters of the table, written as a small code: "s:text" a string,
// "i:n" an int, "u:n" an unsigned, "d:x" a double, "0" a null parameter.
void AddParms(tPARMLIST &list, const std::vector<std::string> &codes) {
  for (const std::string &code : codes) {
    std::string v = code.size() > 2 ? code.substr(2) : "";
    tPARAMETER *p = nullptr;
    switch (code[0]) {
      case 's': p = new tPARM_STRING(v.c_str()); break;
      case 'i': p = new tPARM_INT(std::stoi(v)); break;
      case 'u': p = new tPARM_UINT(static_cast<unsigned int>(std::stoul(v))); break;
      case 'd': p = new tPARM_DOUBLE(std::stod(v)); break;
      default: break;
    }
    list.Add(p);
  }
}

struct SyntaxCase {
  const char *name;
  std::string format;
  std::vector<std::string> parms;
  std::string expect;
};

TEST(Placeholders, SyntaxTable) {
  const std::string k1020(1020, 'x');
  const std::string k1023(1023, 'y');
  const SyntaxCase cases[] = {
      {"two texts joined", "%0%1", {"s:Hello ", "s:world"}, "Hello world"},
      {"spec in apostrophes", "Logging level: 0x%0'%08X'", {"u:196"}, "Logging level: 0x000000C4"},
      {"any order", "%1 before %0", {"s:A", "s:B"}, "B before A"},
      {"repeats and unused", "%0-%0", {"i:3", "i:4"}, "3-3"},
      {"missing parameter", "%2", {"s:a", "s:b"}, "NULL"},
      {"null parameter", "[%0]", {"0"}, "[NULL]"},
      {"no parameters at all", "%0 and %9", {}, "NULL and NULL"},
      {"double percent", "100%%", {}, "100%"},
      {"percent before letter", "a%b", {}, "ab"},
      {"trailing percent", "abc%", {}, "abc"},
      {"only a percent", "%", {}, ""},
      {"percent apostrophe", "x%'y", {}, "x'y"},
      {"apostrophe after placeholder", "'%0%'", {"s:q"}, "'q'"},
      {"empty spec is the default", "%0''", {"u:255"}, "255"},
      {"empty spec then text", "%0''!", {"u:255"}, "255!"},
      {"one digit only", "%10", {"s:a", "s:b"}, "b0"},
      {"spec with literal text", "%0'[%d]'", {"i:5"}, "[5]"},
      {"spec with percent sign", "%0'%d%%'", {"i:50"}, "50%"},
      {"unclosed spec runs to the end", "%0'%5d", {"i:7"}, "    7"},
      {"unclosed empty spec", "a%0'", {"i:7"}, "a7"},
      {"spec kept to 15 characters", "%0'%08X-abcdefghijklmnop'!", {"u:255"}, "000000FF-abcdefghij!"},
      {"spec cut to 15 then skipped", "<%0'%d_____________tail'>", {"i:1"}, "<1_____________>"},
      {"double default", "%0", {"d:0.1"}, "0.1"},
      {"double spec", "%0'%.3f'", {"d:2"}, "2.000"},
      {"example with set", "Message set %1not found (%0, msg:%2)", {"s:cat", "s:X "}, "Message set X not found (cat, msg:NULL)"},
      {"cut plain text", std::string(1500, 'z'), {}, std::string(1023, 'z')},
      {"cut inside a parameter", k1020 + "%0", {"s:abcdef"}, k1020 + "abc"},
      {"cut drops a late escape", k1023 + "%%" + "%0", {"s:a"}, k1023},
      {"cut after a placeholder", "%0" + std::string(1030, 'w'), {"s:ab"}, "ab" + std::string(1021, 'w')},
  };
  for (const SyntaxCase &c : cases) {
    tPARMLIST list;
    AddParms(list, c.parms);
    EXPECT_EQ(Formatted(tMSG::Format(c.format.c_str(), list)), c.expect) << c.name;
  }
}

TEST(Placeholders, LongParameterTextsAreCutAtTheEnd) {
  std::string big(1023, 'b');
  tPARMLIST list;
  list.Add(new tPARM_STRING(big.c_str()));
  list.Add(new tPARM_STRING(big.c_str()));
  std::string out = Formatted(tMSG::Format("%0%1", list));
  EXPECT_EQ(out, big);
}

TEST(Placeholders, StaticFormatReturnsAnExactLengthArray) {
  tPARMLIST list;
  list.Add(new tPARM_INT(12));
  char *text = tMSG::Format("n=%0", list);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "n=12");
  delete[] text;  // documented: an array released with delete[]
}

TEST(Placeholders, NullFormatTextFormatsAsEmpty) {
  tPARMLIST list;
  EXPECT_EQ(Formatted(tMSG::Format(nullptr, list)), "");
}

// --- the variadic form -------------------------------------------------------

TEST(VariadicFormat, AdoptsAndDestroysTheParametersInOrder) {
  CountingParm::live = 0;
  std::string out = Formatted(tMSG::Format("%1/%0/%2", 3, static_cast<tPARAMETER *>(new tPARM_STRING("a")),
                                           static_cast<tPARAMETER *>(new CountingParm),
                                           static_cast<tPARAMETER *>(new tPARM_INT(9))));
  EXPECT_EQ(out, "counting/a/9");
  EXPECT_EQ(CountingParm::live, 0);
}

TEST(VariadicFormat, CountZeroFormatsWithAnEmptyList) {
  EXPECT_EQ(Formatted(tMSG::Format("a%0b%%", 0)), "aNULLb%");
}

// --- member Format -----------------------------------------------------------

TEST(MemberFormat, CachesTheFirstResult) {
  tMSGSTR msg("%0:%1", "id", tMSG::eERROR);
  msg << "x" << 5;
  const char *first = msg.Format();
  EXPECT_STREQ(first, "x:5");
  msg << 6;  // appended after formatting: not shown
  EXPECT_EQ(msg.Format(), first);
  EXPECT_STREQ(msg.Format(), "x:5");
  EXPECT_EQ(msg.NumParms(), 3u);
}

TEST(MemberFormat, OutOfMemoryIsNotCached) {
  tMSGSTR msg("v=%0", "id", tMSG::eERROR);
  msg << 1;
  {
    kelcore_test::ScopedAllocFailure fail(1, true);
    EXPECT_STREQ(msg.Format(), "Out of memory");
  }
  EXPECT_STREQ(msg.Format(), "v=1") << "a later call tries again";
}

}  // namespace
