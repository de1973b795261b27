#include "tests/support/child_process.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <signal.h>
#  include <spawn.h>
#  include <sys/wait.h>
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
  auto it = Registry().find(argv[1] + sizeof kChildFlag - 1);
  if (it == Registry().end()) std::fprintf(stderr, "unknown child entry point %s\n", argv[1]);
  *exit_code = it == Registry().end() ? 127 : it->second(std::vector<std::string>(argv + 2, argv + argc));
  return true;
}

#if defined(_WIN32)

bool ChildProcess::Start(const std::string &name, const std::vector<std::string> &args) {
  char module[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, module, sizeof module);
  std::string exe = (n > 0 && n < sizeof module) ? std::string(module, n) : SelfPath(), cmd;
  std::vector<std::string> argv = {exe, kChildFlag + name};
  argv.insert(argv.end(), args.begin(), args.end());
  for (const std::string &arg : argv) {
    cmd += cmd.empty() ? "\"" : " \"";
    for (char c : arg) cmd += c == '"' ? std::string("\\\"") : std::string(1, c);
    cmd += '"';
  }
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  return started_ = true;
}

int ChildProcess::Wait() {
  if (!started_) return -1;
  started_ = false;
  DWORD code = 0;
  WaitForSingleObject(process_, INFINITE);
  int result = GetExitCodeProcess(process_, &code) ? static_cast<int>(code) : -1;
  CloseHandle(process_);
  return result;
}

void ChildProcess::Kill() {
  if (started_) { TerminateProcess(process_, 137); Wait(); }
}

int ChildProcess::WaitFor(int timeout_ms) {
  if (!started_) return -1;
  if (WaitForSingleObject(process_, static_cast<DWORD>(timeout_ms)) == WAIT_TIMEOUT) {
    Kill();
    return -2;
  }
  return Wait();
}

#else

bool ChildProcess::Start(const std::string &name, const std::vector<std::string> &args) {
  std::vector<std::string> strings = {SelfPath(), kChildFlag + name};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &s : strings) argv.push_back(&s[0]);
  argv.push_back(nullptr);
  pid_t pid = -1;
  started_ = posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
  pid_ = pid;
  return started_;
}

int ChildProcess::Wait() {
  if (!started_) return -1;
  started_ = false;
  int status = 0;
  pid_t r;
  while ((r = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {}
  return r < 0 || !WIFEXITED(status) ? -1 : WEXITSTATUS(status);
}

void ChildProcess::Kill() {
  if (started_) { kill(pid_, SIGKILL); Wait(); }
}

int ChildProcess::WaitFor(int timeout_ms) {
  if (!started_) return -1;
  for (int waited = 0;; waited += 10) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      started_ = false;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (r < 0 && errno != EINTR) {
      started_ = false;
      return -1;
    }
    if (waited >= timeout_ms) {
      Kill();
      return -2;
    }
    SleepMs(10);
  }
}

#endif

ChildProcess::~ChildProcess() { Kill(); }

void TouchFile(const std::string &path) { std::ofstream(path.c_str()) << "x"; }

bool WaitForFile(const std::string &path, int timeout_ms) {
  for (auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
       std::chrono::steady_clock::now() < deadline; SleepMs(5))
    if (std::ifstream(path.c_str()).good()) return true;
  return false;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace kelcore_test
