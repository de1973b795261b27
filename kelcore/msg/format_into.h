// Internal to the library (not exported): formatting a message text with
// parameters that live on the caller's stack.
//
// The block trace writes two lines per traced block; building a message
// for each (a parameter list, two parameters, the formatted text) cost
// more than the writing. FormatInto gives the very same text without
// allocating anything.
#ifndef KELCORE_MSG_FORMAT_INTO_H
#define KELCORE_MSG_FORMAT_INTO_H

#include <cstddef>

class tPARAMETER;

namespace kelcore_internal {

// Size of the buffer FormatInto works in: the 1023 characters of a text
// and room for one parameter's full text after them.
const std::size_t kFormatWorkSize = 1023 + 1024;

// Expands `format` (null: an empty text) with `parms[0]` to
// `parms[count - 1]` (a null entry, like a missing one, shows as "NULL")
// into `buf`, which holds kFormatWorkSize bytes, exactly as a message with
// those parameters formats; the text is NUL-terminated and at most 1023
// characters long. Returns its length.
std::size_t FormatInto(char *buf, const char *format, const tPARAMETER *const *parms,
                       unsigned int count);

}  // namespace kelcore_internal

#endif  // KELCORE_MSG_FORMAT_INTO_H
