// Internal to the library: the message-file registry as catalog handles
// see it (message_file.cpp keeps it).
//
// Each registered file carries a serial number, unique for the process's
// life. A handle remembers the file and serial it was bound to and asks
// Holds before every use: a destroyed file is gone from the registry, and a
// new file at the same address has another serial, so a handle never
// touches a destroyed file.
#ifndef KELCORE_CATALOG_MESSAGE_REGISTRY_H
#define KELCORE_CATALOG_MESSAGE_REGISTRY_H

class tMSGFILE;

namespace kelmsgreg {

bool Empty();
// Whether `file`, registered with `serial`, is still registered.
bool Holds(const tMSGFILE *file, unsigned long serial);
// Searches the registered files in order for catalog `name` in `language`
// (null or empty: any): each file's FindCatalog from offset 0 under its
// lock. 0 with the file (positioned at the catalog) and its serial; 10
// with MSGFILE set-1 error 0 (the catalog name) when no file holds it; any
// other failure of a file ends the search with that file's result.
unsigned int Search(const char *name, const char *language, tMSGFILE **file,
                    unsigned long *serial);

}  // namespace kelmsgreg

#endif  // KELCORE_CATALOG_MESSAGE_REGISTRY_H
