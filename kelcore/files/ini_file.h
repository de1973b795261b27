// INI files: named sections of "name=value" keys, kept in memory.
//
// tINIFILE is a text file that loads its whole content on first use,
// answers typed queries, applies changes in memory and writes everything
// back in one piece when saved, closed or destroyed while modified.
//
// Reading: lines before the first section header are kept as raw entries,
// unchanged. A header is a line whose first non-blank character is '[' and
// that holds a ']'; the name is what lies between, trimmed. Inside a
// section a line starting (after blanks) with ';' is a comment, kept as a
// key without a name; a line holding '=' after a non-blank character is a
// key (name trimmed, value trimmed, further '=' belong to the value); any
// other line is dropped, and so is a '[' line without ']' after the first
// header (it ends the section: the lines after it are raw entries). Lines
// of any length are read whole.
//
// Writing: raw entries as they were; each section as "[name]", its keys as
// "name=value" and its comments as read, one blank line between entries;
// nothing after the last entry (but a blank last raw line keeps its line
// end), and a line "[" before raw entries that follow a section. A load
// and save thus keeps raw lines, comments, duplicates and order, and
// removes the blanks around '=' and blank lines inside sections.
//
// Names and values that would not read back as they were set (line ends,
// 0x1A, blanks at either end, ']' in a section name, an empty key name or
// one with '=' or starting with ';' or '[') are refused by Add, Replace and
// Insert: nothing changes and the last error is TXT library error 3.
//
// Names of sections and keys compare without regard to ASCII case. Only the
// first section of a name is searched, and only the first key of a name in
// it; duplicates are kept and written in order.
//
// Walking the content: GetFirstSection and tSECTION::GetNext visit the
// sections (raw entries skipped); GetFirstEntry and tSECTION::GetNextEntry
// visit raw entries too. tSECTION::GetFirstKey and tKEY::GetNext visit a
// section's keys and comments in order:
//
//   for (tINIFILE::tSECTION *s = ini.GetFirstSection(); s; s = s->GetNext())
//     for (tINIFILE::tKEY *k = s->GetFirstKey(); k; k = k->GetNext())
//       if (!k->IsComment()) use(s->GetName(), k->GetName(), k->GetValue());
//
// Pointers to sections and keys stay valid until the entry is removed, the
// file is loaded again or destroyed.
//
// Saving never loses the file: before the file is rewritten, a side copy
// (the file's name followed by ".sav", with the file's permissions) records
// the new content and the current one. When the new content is completely
// written the side copy is deleted; when writing fails, the old content is
// written back; if even that fails, the side copy stays, and the next Load
// reads the old content from it, but only while the file is provably what
// the interrupted save left (see docs/text-and-config.md). Where no side
// copy can be made (a folder that cannot be written), the file is
// rewritten in place. Load and Save hold a region lock over the whole file
// (shared, resp. exclusive), so processes that share a file through
// tINIFILE never read a half-written one; neither leaves the lock or a
// descriptor behind, whatever fails.
//
// A missing file is created, empty, by the first query or change: Load
// opens the file with OpenAlways. To read a file that may be missing
// without creating it, open it first (OpenExisting; with write access if
// the program may save): a missing file is then the open's status 1, and
// Load and Save use the open file and leave it open.
//
// Load reports nothing and leaves the thread's last error as it was; so
// does a successful Save. A save that could not write the new content keeps
// the modified flag set, so the destructor or a later Save tries again, and
// leaves its reason as the last error. One tINIFILE is used by one thread
// at a time.
#ifndef KELCORE_FILES_INI_FILE_H
#define KELCORE_FILES_INI_FILE_H

#include "kelcore/files/text_file.h"
#include "kelcore/platform/export.h"

namespace kelini {
struct tNAME_INDEX;  // a list's index of names (ini_file.cpp)
}

// An INI file: sections of name=value keys held in memory, loaded whole and saved whole with a
// safe save (see the file comment).
class KELCORE_API tINIFILE : public tTXTFILE {
 public:
  class tSECTION;

  // A key, or a comment line (a key without a name).
  class KELCORE_API tKEY {
   public:
    // The key's name; null for a comment.
    char const *GetName() const { return name_; }
    // The value; for a comment the whole line as read. Null when the key
    // was given no value.
    char const *GetValue() const { return value_; }
    // Non-zero for a comment line, which has no name.
    int IsComment() const { return name_ == 0; }
    // The next key or comment of the section, or null.
    tKEY *GetNext() const { return next_; }
    // The previous key or comment of the section, or null.
    tKEY *GetPrev() const { return prev_; }
    // The section the key belongs to.
    tSECTION *GetSection() const { return section_; }

   private:
    friend class tINIFILE;
    tKEY();
    ~tKEY();
    tKEY(const tKEY &);
    tKEY &operator=(const tKEY &);

    char *name_;
    char *value_;
    tKEY *prev_;
    tKEY *next_;
    tSECTION *section_;
  };

  // A section, or a raw line from before the first section.
  class KELCORE_API tSECTION {
   public:
    // The section's name without brackets; for a raw entry, the line.
    char const *GetName() const { return name_; }
    // Non-zero for a raw line from before the first section.
    int IsRaw() const { return raw_; }
    // Keys and comments of the section.
    unsigned int NumKeys() const { return key_count_; }
    // The section's first key or comment, or null.
    tKEY *GetFirstKey() const { return first_key_; }
    // The section's last key or comment, or null.
    tKEY *GetLastKey() const { return last_key_; }
    // The first key of that name (comments never match), or null.
    tKEY *FindKey(char const *name);
    // The next section, raw entries skipped; null after the last.
    tSECTION *GetNext() const;
    // The next entry, raw or not; null after the last.
    tSECTION *GetNextEntry() const { return next_; }
    // The previous entry, raw or not; null before the first.
    tSECTION *GetPrevEntry() const { return prev_; }
    // The INI file the entry belongs to.
    tINIFILE *GetFile() const { return file_; }

   private:
    friend class tINIFILE;
    tSECTION();
    ~tSECTION();
    tSECTION(const tSECTION &);
    tSECTION &operator=(const tSECTION &);

    char *name_;
    int raw_;
    unsigned int key_count_;
    tKEY *first_key_;
    tKEY *last_key_;
    tSECTION *prev_;
    tSECTION *next_;
    tINIFILE *file_;
    kelini::tNAME_INDEX *index_;  // of the keys' names; null while the list is short
  };

  // Unbuffered, as tTXTFILE's.
  tINIFILE(tPHYSICAL_FILE *file = 0, int own = 1);
  // With a 512-byte buffer, as tTXTFILE's.
  tINIFILE(tPHYSICAL_FILE &file, int own);
  // Saves a modified file, then frees the content.
  virtual ~tINIFILE();

  // Reads the file and appends its content to what is held (a second Load
  // adds it again). Creates an empty file when there is none. Uses the file
  // from its start and leaves it open when the caller opened it.
  void Load();
  // Writes the whole content (see the file comment).
  void Save();
  // Save if modified, then closes the file if it is open.
  unsigned int Close();

  // Every query and change below loads the file first if it has not been
  // loaded yet.

  // The first section of that name, or null.
  tSECTION *FindSection(char const *name);
  // The first section, raw entries skipped, or null.
  tSECTION *GetFirstSection();
  // The first entry, raw or not, or null.
  tSECTION *GetFirstEntry();
  // Number of entries, raw entries included (loads the file first).
  unsigned int NumSections() const;
  // Non-zero when the content was changed since it was loaded or saved.
  int Modified() const;
  // Sets or clears the modified flag, which decides whether Close and the destructor save.
  void SetModified(int modified);

  // Creates the section at the end unless one of that name exists.
  void Add(char const *section);
  // Appends a key to the section (found or created at the end), even when
  // the section has a key of that name.
  void Add(char const *section, char const *key, char const *value);
  void Add(char const *section, char const *key, char value);
  void Add(char const *section, char const *key, unsigned char value);
  void Add(char const *section, char const *key, int value);
  void Add(char const *section, char const *key, unsigned int value);
  void Add(char const *section, char const *key, long value);
  void Add(char const *section, char const *key, unsigned long value);

  // Sets the value of the section's first key of that name, or appends the
  // key. A value equal to the old one without regard to case changes
  // nothing; a null value leaves the key without a value.
  void Replace(char const *section, char const *key, char const *value);
  void Replace(char const *section, char const *key, char value);
  void Replace(char const *section, char const *key, unsigned char value);
  void Replace(char const *section, char const *key, int value);
  void Replace(char const *section, char const *key, unsigned int value);
  void Replace(char const *section, char const *key, long value);
  void Replace(char const *section, char const *key, unsigned long value);

  // Inserts a new key before `before`, a key of that section; null appends.
  void Insert(char const *section, char const *key, char const *value, tKEY *before);
  void Insert(char const *section, char const *key, char value, tKEY *before);
  void Insert(char const *section, char const *key, unsigned char value, tKEY *before);
  void Insert(char const *section, char const *key, int value, tKEY *before);
  void Insert(char const *section, char const *key, unsigned int value, tKEY *before);
  void Insert(char const *section, char const *key, long value, tKEY *before);
  void Insert(char const *section, char const *key, unsigned long value, tKEY *before);
  // Creates a section (even if the name exists) before `before`, an entry
  // of this file; null appends.
  void Insert(char const *section, tSECTION *before);

  // Removes the entry with its keys.
  void Remove(tSECTION *section);
  // Removes, from the first section of that name, every key of that name
  // whose value equals `value` without regard to case (a key without a
  // value counts as empty); a null `value` removes every key of that name.
  // Keys of that name with other values, and comments, stay.
  void Remove(char const *section, char const *key, char const *value);
  // The same, matching keys whose value reads as that number (as the
  // numeric Get reads it).
  void Remove(char const *section, char const *key, char value);
  void Remove(char const *section, char const *key, unsigned char value);
  void Remove(char const *section, char const *key, int value);
  void Remove(char const *section, char const *key, unsigned int value);
  void Remove(char const *section, char const *key, long value);
  void Remove(char const *section, char const *key, unsigned long value);

  // The value of the first key of that name in the first section of that
  // name, at most `size` characters and a NUL (`buf` holds size + 1
  // bytes); `def` when the section or key is missing or the value empty.
  void Get(char const *section, char const *key, char *buf, unsigned int size, char const *def);
  // The value as a decimal number: leading blanks, an optional sign, digits
  // up to the first other character; 0 when there are no digits (an empty
  // value or a key without value gives 0, not `def`); numbers beyond the
  // type's range stop at its largest or smallest value. `def` when the
  // section or key is missing. The signed types take the long reading,
  // cast; the unsigned types read the digits as an unsigned long (a minus
  // sign negates it, as strtoul does), cast, so that every value stored
  // from an unsigned type reads back, also where long has 32 bits.
  long Get(char const *section, char const *key, long def);
  char Get(char const *section, char const *key, char def);
  unsigned char Get(char const *section, char const *key, unsigned char def);
  int Get(char const *section, char const *key, int def);
  unsigned int Get(char const *section, char const *key, unsigned int def);
  unsigned long Get(char const *section, char const *key, unsigned long def);

  // A checked numeric read, for values a user may have mistyped: the
  // numeric Get reads "thirty" as 0 and "12abc" as 12, and cannot say so.
  // 0 with the number in *value when the first key of that name in the
  // first section of that name holds a whole decimal number of the type's
  // range: an optional sign (no minus for the unsigned types) and digits,
  // nothing else. 1 when the section or key is missing (TXT library error
  // 5: the file's name, the section, the key). 0xFFFFFFFF for an empty
  // value, a key without value, any other text or a number out of range
  // (TXT library error 4: the file's name, the section, the key, the value,
  // the smallest and the largest number allowed). *value changes only on
  // success, so a default set before the call stays on any failure.
  unsigned int GetChecked(char const *section, char const *key, long *value);
  unsigned int GetChecked(char const *section, char const *key, int *value);
  unsigned int GetChecked(char const *section, char const *key, unsigned long *value);
  unsigned int GetChecked(char const *section, char const *key, unsigned int *value);

 private:
  tINIFILE(const tINIFILE &);
  tINIFILE &operator=(const tINIFILE &);

  void LoadIfNeeded();
  unsigned int OpenWhole(unsigned int access, unsigned int lockFlags, int *opened, int *locked);
  void CloseWhole(int opened, int locked);
  // Reads entries from `src` (this file, or its side copy's old content).
  void Parse(tINIFILE &src);
  // Parses `size` bytes in memory as text of this file's character mode.
  void ParseBytes(char const *bytes, unsigned long size);
  // Writes the entries to `out` by the file syntax.
  unsigned int Write(tTXTFILE &out);
  // Save's work once the file is open and locked; 0 when the new content
  // is completely written, else the failure (with its last error).
  unsigned int SaveLocked();
  // What the side copy of this file is (ini_file.cpp); the old content it
  // holds when it is to be trusted, as new[] bytes.
  int InspectSide(char const *current, unsigned long currentSize, char **old,
                  unsigned long *oldSize);
  // Writes the side copy; 1 when it exists complete under its name.
  int MakeSideCopy(char const *fresh, unsigned long freshSize, char const *old,
                   unsigned long oldSize);
  void DeleteSide();
  // Empties the file and writes `size` bytes to the device.
  unsigned int Rewrite(char const *bytes, unsigned long size);
  // 0 when the names and the value can be written and read back as they
  // are; otherwise TXT library error 3 as the last error and 1.
  int Refused(char const *section, char const *key, char const *value);
  // The section of that name, created at the end when missing; null only
  // without memory.
  tSECTION *FindOrAdd(char const *section);
  tSECTION *NewSection(char const *name, int raw, tSECTION *before);
  tKEY *NewKey(tSECTION *section, char const *name, char const *value, tKEY *before);
  void RemoveKey(tKEY *key);
  // Removes the keys named `key` in the first section named `section`
  // whose value `matches` what `wanted` points at.
  void RemoveMatching(char const *section, char const *key,
                      int (*matches)(char const *value, void const *wanted), void const *wanted);
  template <class T>
  static void Link(T *entry, T *before, T *&first, T *&last, kelini::tNAME_INDEX *&index);
  template <class T>
  static void Unlink(T *entry, T *&first, T *&last, kelini::tNAME_INDEX *&index);
  void FreeAll();
  // The first key of that name in the first section of that name.
  tKEY *FindValueKey(char const *section, char const *key);

  int loaded_;
  int modified_;
  unsigned int count_;
  tSECTION *first_;
  tSECTION *last_;
  kelini::tNAME_INDEX *index_;  // of the sections' names; null while the list is short
};

#endif  // KELCORE_FILES_INI_FILE_H
