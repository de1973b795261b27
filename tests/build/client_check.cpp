// Runs the message/string client of tests/msg as a program of its own, built
// once per language level (see checks.cmake).
#include "tests/msg/client_compile_check.cpp"

int main() { return KelcoreClientCompileCheck(); }
