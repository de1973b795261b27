// Internal to the library (not exported): turning a finished text into a
// format text that shows it as it is.
#ifndef KELCORE_MSGCAT_FORMAT_TEXT_H
#define KELCORE_MSGCAT_FORMAT_TEXT_H

#include <cstddef>

namespace kelcore_internal {

// A new char[] copy of the first `length` characters of `text` with every
// '%' doubled, so that formatting it (with any parameters) gives the text
// back; null without memory.
char *EscapedFormatText(const char *text, std::size_t length);

}  // namespace kelcore_internal

#endif  // KELCORE_MSGCAT_FORMAT_TEXT_H
