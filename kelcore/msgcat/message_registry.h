// Internal to the library: the message-file registry as catalog handles
// see it. The lookup's floor owns this interface; the message files, a
// floor above (catalog/message_file.cpp), register themselves and
// implement it, so that no include runs from here up to the record files.
//
// Each registered file carries a serial number, unique for the process's
// life. A handle remembers the file and serial it was bound to and asks
// Holds before every use: a destroyed file is gone from the registry, and a
// new file at the same address has another serial, so a handle never
// touches a destroyed file.
#ifndef KELCORE_MSGCAT_MESSAGE_REGISTRY_H
#define KELCORE_MSGCAT_MESSAGE_REGISTRY_H

#include <atomic>

class tMSG;
class tMSGFILE;

namespace kelmsgreg {

bool Empty();
// The generation of `file`, registered with `serial`: it changes whenever
// the file is opened, closed or renamed; 0 once the file is destroyed.
unsigned long Generation(const tMSGFILE *file, unsigned long serial);
// Changes (after the file's generation) whenever any file's generation
// changes or a file is destroyed: a generation found unchanged while the
// epoch was E is unchanged as long as the epoch is still E. Never 0.
extern std::atomic<unsigned long long> g_epoch;
inline unsigned long long Epoch() { return g_epoch.load(std::memory_order_acquire); }

// Records a failure of a catalog lookup: as the thread's last error, or,
// inside a tCAPTURE of this thread, into the capture (the message's own
// lookup keeps its cause there, so that no record and no last error is
// left behind by a lookup whose failure only selects a fallback text).
void Record(tMSG *msg);
class tCAPTURE {
 public:
  // Failures recorded from now on replace *into (set to null here); the
  // caller disposes of what is left there.
  explicit tCAPTURE(tMSG **into);
  ~tCAPTURE();

 private:
  tCAPTURE(const tCAPTURE &);
  tCAPTURE &operator=(const tCAPTURE &);
  tMSG **saved_;
};
// Whether `file`, registered with `serial`, is still registered.
bool Holds(const tMSGFILE *file, unsigned long serial);
// Searches the registered files in order for catalog `name` in `language`
// (null or empty: any): each file's FindCatalog from offset 0 under its
// lock. 0 with the file, its serial and the catalog's file offset (taken
// under the file's lock, so another thread's read cannot change it); 10
// with MSGFILE set-1 error 0 (the catalog name) when no file holds it; any
// other failure of a file ends the search with that file's result.
unsigned int Search(const char *name, const char *language, tMSGFILE **file,
                    unsigned long *serial, unsigned long *start);

}  // namespace kelmsgreg

#endif  // KELCORE_MSGCAT_MESSAGE_REGISTRY_H
