// Internal to the library (not exported): the test behind the "null object"
// behaviour of a few members that must answer sensibly when called through a
// null pointer or reference (tMSG::NumParms, tPARMLIST::Add, ...).
#ifndef KELCORE_MSG_NULL_OBJECT_H
#define KELCORE_MSG_NULL_OBJECT_H

namespace kelcore_internal {

// True for a null address. Defined out of line, in its own file, so that the
// optimiser cannot see a `this == nullptr` comparison, which compilers may
// fold to false (and warn about).
bool IsNull(const void *p);

}  // namespace kelcore_internal

#endif  // KELCORE_MSG_NULL_OBJECT_H
