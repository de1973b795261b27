// kelmsgc: compiles catalog sources into a message file, and shows message
// files as source (dump) or as a summary (list).
//
// Exit status: 0 done; 1 a source, message file or output could not be
// used (the reason on stderr); 2 the command line was wrong.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/kelmsgc/msgc.h"
#include "tools/kelmsgc/stdio_mode.h"

#ifndef KELMSGC_VERSION
#define KELMSGC_VERSION "unknown"
#endif

namespace {

const char kUsage[] =
    "usage: kelmsgc compile -o OUTPUT SOURCE...\n"
    "       kelmsgc dump [-o OUTPUT] MESSAGEFILE\n"
    "       kelmsgc list MESSAGEFILE\n"
    "       kelmsgc --help | --version\n";

const char kHelp[] =
    "\n"
    "Commands:\n"
    "  compile   compile the sources, in order, into one message file\n"
    "            (\"-\" reads standard input); OUTPUT is written only when\n"
    "            every source compiles; the current set and the $quote\n"
    "            character carry from one source to the next, as with\n"
    "            gencat\n"
    "  -o -      writes to standard output (compile and dump)\n"
    "  dump      print a message file as catalog source; compiling that\n"
    "            source gives the same file back\n"
    "  list      show each catalog's name, version, language, width, sets\n"
    "            and message counts\n"
    "\n"
    "Sources follow the X/Open message source format ($set, $delset,\n"
    "$quote, \"$ \" comments, numbered messages, continuation lines and\n"
    "backslash escapes) with these directives for each catalog:\n"
    "  $catalog NAME    start a catalog named NAME\n"
    "  $version V       its version (default A.00.00)\n"
    "  $language L      its language, at most 8 characters (default none)\n"
    "  $width 1|2       8-bit (UTF-8) or 16-bit (UTF-16) texts (default 1)\n"
    "\n"
    "Exit status: 0 done, 1 bad input or output, 2 bad command line.\n";

int Usage(const char *problem) {
  std::fprintf(stderr, "kelmsgc: %s\n%s", problem, kUsage);
  return 2;
}

// The whole of `name` ("-": standard input); false with a message on stderr.
bool ReadAll(const std::string &name, std::string *data) {
  std::FILE *f = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "%s: cannot open: %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  data->clear();
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) data->append(buf, n);
  bool ok = !std::ferror(f);
  if (!ok) std::fprintf(stderr, "%s: read error\n", name.c_str());
  if (f != stdin) std::fclose(f);
  return ok;
}

// Writes `data` to `name` through a temporary file in the same directory
// and a rename at the end, so that a failure never leaves a partial file
// under the name. A directory of that name is refused and left as it is.
bool WriteAll(const std::string &name, const std::string &data) {
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec)) {
    std::fprintf(stderr, "%s: cannot write: is a directory\n", name.c_str());
    return false;
  }
  const std::string tmp =
      name + ".tmp" +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
  std::FILE *f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "%s: cannot create: %s\n", tmp.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = std::fclose(f) == 0 && ok;
  if (ok && std::rename(tmp.c_str(), name.c_str()) != 0) {
    // Windows does not rename over an existing file: a file (and nothing
    // else, such as a directory made meanwhile) is removed first.
    ok = std::filesystem::is_regular_file(name, ec) && std::remove(name.c_str()) == 0 &&
         std::rename(tmp.c_str(), name.c_str()) == 0;
  }
  if (!ok) {
    std::fprintf(stderr, "%s: cannot write: %s\n", name.c_str(), std::strerror(errno));
    std::remove(tmp.c_str());
  }
  return ok;
}

// To `name`, or to standard output for no name or "-" (as gencat does).
bool WriteOut(const std::string &name, const std::string &data) {
  if (!name.empty() && name != "-") return WriteAll(name, data);
  return std::fwrite(data.data(), 1, data.size(), stdout) == data.size() &&
         std::fflush(stdout) == 0;
}

bool LoadMessageFile(const std::string &name, std::vector<kelmsgc::tCATALOG> *catalogs) {
  std::string bytes, error;
  if (!ReadAll(name, &bytes)) return false;
  if (!kelmsgc::ReadMessageFile(bytes, catalogs, &error)) {
    std::fprintf(stderr, "%s: %s\n", name.c_str(), error.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  kelmsgc::BinaryStdio();
  if (argc < 2) return Usage("no command");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("kelmsgc %s\n", KELMSGC_VERSION);
    return 0;
  }
  if (command != "compile" && command != "dump" && command != "list") {
    return Usage(("unknown command \"" + command + "\"").c_str());
  }

  std::string output;
  std::vector<std::string> inputs;
  bool options_done = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && (arg == "-o" || arg == "--output")) {
      if (command == "list") return Usage("list takes no -o");
      if (++i == argc) return Usage("-o needs a file name");
      output = argv[i];
    } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
      return Usage(("unknown option \"" + arg + "\"").c_str());
    } else {
      inputs.push_back(arg);
    }
  }

  if (command == "compile") {
    if (output.empty()) return Usage("compile needs -o OUTPUT");
    if (inputs.empty()) return Usage("compile needs at least one source");
    kelmsgc::tCOMPILER compiler;
    for (const std::string &name : inputs) {
      std::string text;
      if (!ReadAll(name, &text)) return 1;
      if (!compiler.AddSource(name == "-" ? "<stdin>" : name, text)) {
        std::fprintf(stderr, "%s\n", compiler.Error().c_str());
        return 1;
      }
    }
    std::string bytes;
    if (!compiler.Write(&bytes)) {
      std::fprintf(stderr, "%s\n", compiler.Error().c_str());
      return 1;
    }
    return WriteOut(output, bytes) ? 0 : 1;
  }

  if (inputs.size() != 1) return Usage((command + " takes one message file").c_str());
  std::vector<kelmsgc::tCATALOG> catalogs;
  if (!LoadMessageFile(inputs[0], &catalogs)) return 1;
  std::string text;
  if (command == "list") {
    text = kelmsgc::List(catalogs);
  } else {
    std::string error;
    if (!kelmsgc::Dump(catalogs, &text, &error)) {
      std::fprintf(stderr, "%s: %s\n", inputs[0].c_str(), error.c_str());
      return 1;
    }
  }
  return WriteOut(output, text) ? 0 : 1;
}
