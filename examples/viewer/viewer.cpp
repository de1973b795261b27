// A windowed program on libkelcore: the same run sequence as a console
// program, with its messages in message boxes.
//
//   viewer.exe picture.bmp
//
// shows the size of the file in an information box, or the reason it could
// not be read in an exclamation box.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "kelcore/kelcore.h"

class tVIEWER : public tGUI_APP {
 public:
  tVIEWER(unsigned int argc, const char **argv)
      : tGUI_APP(argc, argv, "viewer", nullptr, "A.01.00") {}

  // Runs without a catalog of its own: the library's built-in texts do.
  unsigned int OpenMessageCatalog(tSTDMSGFILE &) { return 0; }

  unsigned int Main() {
    if (ArgC() < 2) {
      Display("Usage: viewer <file>", tMSG::eINFORMATION);
      return 0;
    }
    tFILE file;
    file.SetName(ArgV(1));
    unsigned long size = 0;
    unsigned int status = file.GetSize(&size);
    if (status != 0) return status;  // Run shows the last error in a box
    char text[64];
    std::snprintf(text, sizeof text, "%lu bytes", size);
    Display(text, tMSG::eINFORMATION);
    return 0;
  }
};

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int show) {
  tGUI_APP::SetWinMainParms(static_cast<unsigned int>(reinterpret_cast<UINT_PTR>(instance)),
                            static_cast<unsigned int>(reinterpret_cast<UINT_PTR>(previous)),
                            show);
  tVIEWER app(static_cast<unsigned int>(__argc), const_cast<const char **>(__argv));
  return app.Run();
}
