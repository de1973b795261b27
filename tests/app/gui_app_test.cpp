// The windowed application: boxes through the replaceable hook, their
// captions and icons by severity, the log line, the entry point's values,
// and the run sequence showing its failure in a box.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <cstdio>

#include "kelcore/app/application.h"
#include "kelcore/error/os_error.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/sync/thread.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/message_file.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> g_boxes;

void RecordBox(const char *caption, const char *text, unsigned int style) {
  g_boxes.push_back(std::string(caption) + "|" + text + "|" + std::to_string(style));
}

class ViewerApp : public tGUI_APP {
 public:
  explicit ViewerApp(bool fail = false)
      : tGUI_APP(0, nullptr, "viewer", nullptr, "A.01.00"), fail_(fail) {}
  unsigned int Main() {
    if (!fail_) return 0;
    tTHREAD::SetLastError(new tMSGSTR("No picture", "viewer error", tMSG::eSEVERITY3));
    return 3;
  }

 private:
  bool fail_;
};

class GuiApp : public kelcore_test::TempDirTest {
 protected:
  GuiApp() : previous_(tGUI_APP::SetMessageBoxHook(RecordBox)) { g_boxes.clear(); }
  ~GuiApp() {
    EXPECT_EQ(RecordBox, tGUI_APP::SetMessageBoxHook(previous_));
    tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  }

 private:
  tMESSAGE_BOX_HOOK previous_;
};

// Captions come from the APP catalog's set 1 and are kept for the process:
// this is the one test that shows boxes of severities 0 to 4.
TEST_F(GuiApp, CaptionsAndIconsBySeverityAndTheLogLine) {
  kelcore_test::RegisteredMessageFile captions(
      tmp.File("app.cat"), {"$catalog APP library message catalog\n$version A.01.00\n"
                            "$set 1\n0 Info\n1 Fatal\n3 Careful\n4 Note\n"});
  ViewerApp app;
  kelcore_test::LogCapture log(tLOGDEFS::eAPP, "app");
  for (int severity = 0; severity <= 5; ++severity) {
    app.Display("text", static_cast<tMSG::eSEVERITY>(severity));
  }
  tMSGSTR msg("formatted %0", "viewer error", tMSG::eSTOP);
  msg << 7;
  app.Display(msg);
  const std::vector<std::string> want = {
      "Info|text|64", "Fatal|text|16",
      "|text|48",  // no caption in the catalog: empty, and still the exclamation icon
      "Careful|text|48", "Note|text|48",
      "|text|0",  // outside 0 to 4: neither caption nor icon
      "Fatal|formatted 7|16"};
  EXPECT_EQ(want, g_boxes);
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(7u, lines.size());
  EXPECT_EQ("Displayed Info \"text\"", lines[0]);
  EXPECT_EQ("Displayed  \"text\"", lines[2]);
}

TEST_F(GuiApp, EntryPointValuesAndTheHookItReplaces) {
  tGUI_APP::SetWinMainParms(0x400000, 0, 5);
  ViewerApp app;
  EXPECT_EQ(0x400000u, static_cast<unsigned int>(app));
  EXPECT_EQ(0u, tGUI_APP::_hPrevInstance);
  EXPECT_EQ(5, tGUI_APP::_nCmdShow);
  EXPECT_EQ(&app, &GetKelApplication());
  tGUI_APP::SetWinMainParms(0, 0, 0);
  // Null puts the library's own back; the fixture's hook was in place.
  EXPECT_EQ(RecordBox, tGUI_APP::SetMessageBoxHook(nullptr));
  EXPECT_EQ(nullptr, tGUI_APP::SetMessageBoxHook(RecordBox));
}

TEST_F(GuiApp, TheRunSequenceShowsItsFailuresInBoxes) {
  kelcore_test::ScopedEnv env;
  env.Set("MSGFILE", tmp.File("missing.cat").c_str()).Set("TRACELEVEL", nullptr);
  {
    ViewerApp app;
    EXPECT_EQ(1, app.Run());
  }
  // The fixed text, then the reason (the file and the system's words).
  ASSERT_EQ(2u, g_boxes.size());
  EXPECT_NE(std::string::npos, g_boxes[0].find("|Unable to open message catalog|64"))
      << g_boxes[0];
  char reason[1024];
  tPARM_SYSERR(2).Format(reason, nullptr);
  EXPECT_NE(std::string::npos, g_boxes[1].find(std::string("missing.cat: ") + reason + "|64"))
      << g_boxes[1];
  g_boxes.clear();
  kelcore_test::RegisteredMessageFile own(
      tmp.File("viewer.cat"), {"$catalog viewer message catalog\n$version A.01.00\n$set 1\n"});
  env.Set("MSGFILE", tmp.File("viewer.cat").c_str());
  {
    ViewerApp app(true);
    EXPECT_EQ(1, app.Run());
  }
  ASSERT_EQ(1u, g_boxes.size());
  EXPECT_NE(std::string::npos, g_boxes[0].find("|No picture|48")) << g_boxes[0];
}

// The library's own box, in a child whose standard error is a file: on
// Windows MessageBoxA, reached through the program's import slot replaced
// by a recorder (so no window waits for a click); elsewhere one line on
// standard error. No catalog: the caption is empty.
#if defined(_WIN32)
// The slot's symbol as the linker spells it: 32-bit imports carry the
// stdcall decoration.
#if defined(_WIN64)
extern "C" void *g_message_box_slot __asm__("__imp_MessageBoxA");
#else
extern "C" void *g_message_box_slot __asm__("__imp__MessageBoxA@16");
#endif
std::string g_real_box;
int WINAPI FakeMessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT style) {
  g_real_box = std::string(caption) + "|" + text + "|" + std::to_string(style);
  return IDOK;
}
#endif

KELCORE_CHILD_MAIN(gui_default_box) {
  if (args.size() != 1 || std::freopen(args[0].c_str(), "w", stderr) == nullptr) return 10;
#if defined(_WIN32)
  void **slot = &g_message_box_slot;
  DWORD old = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return 11;
  *slot = reinterpret_cast<void *>(&FakeMessageBoxA);
#endif
  ViewerApp app;
  app.Display("Disk full", tMSG::eERROR);
#if defined(_WIN32)
  std::fputs(g_real_box.c_str(), stderr);
#endif
  return 0;
}

TEST_F(GuiApp, TheLibrarysOwnBoxOnEachSystem) {
  kelcore_test::ChildProcess child;
  ASSERT_TRUE(child.Start("gui_default_box", {tmp.File("err.txt")}));
  EXPECT_EQ(0, child.Wait());
  std::string text;
  EXPECT_TRUE(kelcore_test::ReadWholeFile(tmp.File("err.txt"), &text));
#if defined(_WIN32)
  EXPECT_EQ("|Disk full|48", text);  // MessageBoxA with the exclamation icon
#else
  EXPECT_EQ("Disk full\n", text);
#endif
}

}  // namespace
