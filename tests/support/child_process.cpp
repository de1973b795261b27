#include "tests/support/child_process.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  include <windows.h>
#else
#  include <signal.h>
#  include <spawn.h>
#  include <sys/stat.h>
#  include <sys/wait.h>
#  include <unistd.h>
extern char **environ;
#endif

namespace kelcore_test {
namespace {

std::map<std::string, ChildMain> &Registry() {
  static std::map<std::string, ChildMain> registry;
  return registry;
}

std::string &SelfPath() {
  static std::string self;
  return self;
}

const char kChildFlag[] = "--kelcore-child=";

}  // namespace

bool RegisterChildMain(const char *name, ChildMain fn) {
  Registry()[name] = fn;
  return true;
}

void SetSelfPath(const char *argv0) { SelfPath() = argv0 ? argv0 : ""; }

bool MaybeRunChild(int argc, char **argv, int *exit_code) {
  if (argc < 2 || std::strncmp(argv[1], kChildFlag, sizeof kChildFlag - 1) != 0) return false;
  std::string name = argv[1] + sizeof kChildFlag - 1;
  std::vector<std::string> args(argv + 2, argv + argc);
  auto it = Registry().find(name);
  if (it == Registry().end()) {
    std::fprintf(stderr, "unknown child entry point %s\n", name.c_str());
    *exit_code = 127;
  } else {
    *exit_code = it->second(args);
  }
  return true;
}

#if defined(_WIN32)

namespace {
std::string Quote(const std::string &arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}
}  // namespace

bool ChildProcess::Start(const std::string &name, const std::vector<std::string> &args) {
  char module[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, module, sizeof module);
  std::string exe = (n > 0 && n < sizeof module) ? std::string(module, n) : SelfPath();
  std::string cmd = Quote(exe) + " " + Quote(std::string(kChildFlag) + name);
  for (const auto &a : args) cmd += " " + Quote(a);
  STARTUPINFOA si;
  std::memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  std::vector<char> line(cmd.begin(), cmd.end());
  line.push_back('\0');
  if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &pi))
    return false;
  CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  started_ = true;
  return true;
}

int ChildProcess::Wait() {
  if (!started_) return -1;
  WaitForSingleObject(process_, INFINITE);
  DWORD code = 0;
  int result = GetExitCodeProcess(process_, &code) ? static_cast<int>(code) : -1;
  CloseHandle(process_);
  process_ = nullptr;
  started_ = false;
  return result;
}

void ChildProcess::Kill() {
  if (!started_) return;
  TerminateProcess(process_, 137);
  Wait();
}

void SleepMs(int ms) { ::Sleep(static_cast<DWORD>(ms)); }

#else

bool ChildProcess::Start(const std::string &name, const std::vector<std::string> &args) {
  std::string exe = SelfPath();
  std::vector<std::string> argv_s;
  argv_s.push_back(exe);
  argv_s.push_back(std::string(kChildFlag) + name);
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (auto &s : argv_s) argv.push_back(&s[0]);
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  pid_ = pid;
  started_ = true;
  return true;
}

int ChildProcess::Wait() {
  if (!started_) return -1;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &status, 0);
  } while (r < 0 && errno == EINTR);
  started_ = false;
  pid_ = -1;
  if (r < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void ChildProcess::Kill() {
  if (!started_) return;
  kill(pid_, SIGKILL);
  Wait();
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

#endif

ChildProcess::~ChildProcess() { Kill(); }

void TouchFile(const std::string &path) { std::ofstream(path.c_str()) << "x"; }

bool WaitForFile(const std::string &path, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream f(path.c_str());
    if (f.good()) return true;
    SleepMs(5);
  }
  return false;
}

}  // namespace kelcore_test
