// The command-line splitter on arbitrary bytes.
//
// Input: a command line (cut at its first NUL byte). Besides the
// sanitizers' checks, the target traps when the arguments differ from a
// plain one-pass statement of the rules: white space separates, a double
// quote toggles quoting and is dropped, nothing escapes.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kelcore/app/application.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

std::vector<std::string> Reference(const std::string &line) {
  std::vector<std::string> args;
  bool in_arg = false, quoted = false;
  for (char c : line) {
    if (!quoted && std::isspace(static_cast<unsigned char>(c))) {
      in_arg = false;
      continue;
    }
    if (!in_arg) {
      args.emplace_back();
      in_arg = true;
    }
    if (c == '"') {
      quoted = !quoted;
    } else {
      args.back() += c;
    }
  }
  return args;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string line(reinterpret_cast<const char *>(data), strnlen(reinterpret_cast<const char *>(data), size));
  unsigned int argc = 0;
  char **argv = nullptr;
  if (tAPP::ParseArgs(line.c_str(), &argc, &argv) != 0) return 0;
  const std::vector<std::string> expected = Reference(line);
  Check(argc == expected.size());
  for (unsigned int i = 0; i < argc; ++i) Check(expected[i] == argv[i]);
  Check(argv[argc] == nullptr);
  tAPP::FreeArgs(argc, argv);
  return 0;
}
