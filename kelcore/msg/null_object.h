// Internal to the library (not exported): the test behind the "null object"
// behaviour of a few members that must answer sensibly when called through a
// null pointer or reference (tMSG::NumParms, tPARMLIST::Add, ...).
#ifndef KELCORE_MSG_NULL_OBJECT_H
#define KELCORE_MSG_NULL_OBJECT_H

namespace kelcore_internal {

// True for a null address. The address passes through an empty asm
// statement (GCC and Clang) or an out-of-line call (elsewhere), so that the
// optimiser cannot see a `this == nullptr` comparison, which compilers may
// fold to false (and warn about). Inline where it can be: messages test it
// several times over on every parameter they take.
#if defined(__GNUC__)
inline bool IsNull(const void *p) {
  __asm__("" : "+r"(p));
  return p == nullptr;
}
#else
bool IsNull(const void *p);
#endif

}  // namespace kelcore_internal

#endif  // KELCORE_MSG_NULL_OBJECT_H
