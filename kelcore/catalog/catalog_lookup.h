// Internal to the library: what the catalog lookup (catalog.cpp) shares
// with the catalog messages that format through it (catalog_message.cpp).
#ifndef KELCORE_CATALOG_CATALOG_LOOKUP_H
#define KELCORE_CATALOG_CATALOG_LOOKUP_H

namespace kelcatalog_internal {

// How deep the calling thread is inside a catalog lookup. A lookup that
// fails records an error, and recording an error may format it for the
// log; that formatting must not start a second lookup in the middle of the
// first (it would move the message file's position under the outer read,
// and could wait for the binding lock while holding a file's lock), so
// nested messages go straight to their fallbacks.
extern thread_local int t_lookup_depth;

// The name a catalog's errors show for a catalog without a name.
extern const char kUndefinedFile[];

}  // namespace kelcatalog_internal

#endif  // KELCORE_CATALOG_CATALOG_LOOKUP_H
