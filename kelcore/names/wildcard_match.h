// The wildcard matcher behind tPCFILENAME::NameMatches and
// tUNIXFILENAME::NameMatches. Internal to the library.
#ifndef KELCORE_NAMES_WILDCARD_MATCH_H
#define KELCORE_NAMES_WILDCARD_MATCH_H

namespace kelnames {

// Non-zero when `pattern` matches `name` whole or a tail of `name` that
// starts just after a separator ("\" and "/" when `dos_separators`, else
// "/" only). See tPCFILENAME::NameMatches for the rules.
int MatchNameOrTail(const char *name, const char *pattern, int dos_separators);

}  // namespace kelnames

#endif  // KELCORE_NAMES_WILDCARD_MATCH_H
