#include <cstdio>

int main() {
  std::printf("libkelcore demo\n");
  return 0;
}
