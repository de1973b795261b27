// The catalog compiler behind kelmsgc: reads catalog sources, writes message
// files, and reads message files back (dump, list). A separate library from
// the command-line program so that tests and fuzz targets drive it in
// process.
//
// Source format (docs/catalogs.md has the whole description): the X/Open
// message source that gencat reads ($set, $delset, $quote, "$ " comments,
// numbered messages, continuation lines, backslash escapes), plus four
// directives of this library:
//   $catalog NAME      starts a catalog (rest of the line, up to 127 bytes)
//   $version V         its version, at most 7 characters (default A.00.00)
//   $language L        its language, at most 8 characters (default none)
//   $width 1|2         bytes per character of its texts (default 1)
// Sources are UTF-8; width-2 catalogs store UTF-16 (little-endian).
//
// The compiler is not part of libkelcore and may use the standard library's
// containers freely; it is built without exceptions, so running out of
// memory ends the program.
#ifndef KELCORE_TOOLS_KELMSGC_MSGC_H
#define KELCORE_TOOLS_KELMSGC_MSGC_H

#include <map>
#include <string>
#include <vector>

namespace kelmsgc {

// The longest text body (in bytes, as stored) the compiler accepts.
const unsigned int cMAX_TEXT = 0xFFFF;

struct tCATALOG {
  std::string name;
  std::string version = "A.00.00";
  std::string language;
  unsigned int width = 1;
  // set id -> (message id -> text body as stored: bytes, or UTF-16LE)
  std::map<unsigned int, std::map<unsigned int, std::string>> sets;
  unsigned int line = 0;  // where its $catalog stood, for later errors
  std::string file;
  unsigned int seen = 0;  // the compiler's note of the directives given
};

class tCOMPILER {
 public:
  // Parses one source whose name (for messages) is `file`, continuing the
  // catalogs of earlier sources, in the set and with the quote character
  // the source before ended with (as gencat does). false with Error() on
  // the first error.
  bool AddSource(const std::string &file, const std::string &text);
  // The message file of every catalog added so far, in order.
  bool Write(std::string *bytes);
  // "file:line: message" of the last failure.
  const std::string &Error() const { return error_; }
  const std::vector<tCATALOG> &Catalogs() const { return catalogs_; }

 private:
  bool Fail(const std::string &file, unsigned int line, const std::string &message);

  std::vector<tCATALOG> catalogs_;
  std::string error_;
  unsigned int set_ = 1;  // the current set: gencat's default set, then the last $set
  char quote_ = 0;        // the quote character: none until a $quote
};

// Reads a whole message file; false and "offset N: message" on the first
// fault. Checks everything the library's reader relies on.
bool ReadMessageFile(const std::string &bytes, std::vector<tCATALOG> *catalogs,
                     std::string *error);

// Source text that compiles back to the same catalogs. false (and the
// reason) when a width-2 text holds a lone surrogate, which UTF-8 cannot
// carry, or when two catalogs have one name (the compiler takes a name
// once).
bool Dump(const std::vector<tCATALOG> &catalogs, std::string *source, std::string *error);

// One line per catalog and one per set: names, versions, ids and counts.
std::string List(const std::vector<tCATALOG> &catalogs);

}  // namespace kelmsgc

#endif  // KELCORE_TOOLS_KELMSGC_MSGC_H
