// Internal to the library: how the INI file's sources compare names and
// skip blanks (ini_file.cpp defines them; ini_typed.cpp uses them too).
#ifndef KELCORE_FILES_INI_NAMES_H
#define KELCORE_FILES_INI_NAMES_H

namespace kelini {

// The blanks of the C locale's isspace, without depending on the locale.
inline int IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Whether two section or key names are the same, ignoring ASCII case.
int SameName(char const *a, char const *b);

}  // namespace kelini

#endif  // KELCORE_FILES_INI_NAMES_H
