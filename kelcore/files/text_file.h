// Text files: characters and lines on top of a logical file.
//
// tTXTFILE reads and writes text one character or one line at a time. It
// turns line ends into single line feeds on reading (every carriage return
// and NUL is dropped) and writes each line feed as a carriage return and a
// line feed; it counts the line ends it passes, lets the caller push up to 10
// characters back, and takes the control character 0x1A as the end of the
// text even when bytes follow it.
//
// In 16-bit mode every character is one 16-bit unit on disk, holding the
// character's code 0..255 (units above 255 read as 255). Units are low byte
// first unless byte-swapped; a byte-order mark met while reading decides the
// order (FF FE: low first, FE FF: high first) and is dropped. A file written
// in 16-bit mode starts with the mark in its order. The library never turns
// 16-bit mode on by itself: set it after opening (opening resets it).
//
// Results are status codes (error/status.h); 4 is the end of the text. The
// text file's own failures are TXT library messages (catalog/module_catalogs.h)
// with the file's name appended:
//
//   1  ReadLine met a line longer than the caller's buffer; parameter: the
//      number of that line (1 for the first); result 0xFFFFFFFF
//   2  GetChar read 0x1A, or was called after the end of the text; result 4
//
// Over-long lines are cut, never dropped: ReadLine fills the buffer with
// size - 1 characters, reports message 1, and the next ReadLine continues
// with the rest of the same line (the line number does not move until the
// line's end is read). A caller that wants whole lines of any length reads
// on while the last error is message 1 and joins the pieces; a caller that
// only wants the start of a line reads on and ignores the pieces.
//
// A text file is used by one thread at a time; each read, write and seek is
// locked by the logical file underneath.
#ifndef KELCORE_FILES_TEXT_FILE_H
#define KELCORE_FILES_TEXT_FILE_H

#include "kelcore/files/plain_file.h"
#include "kelcore/platform/export.h"

// A text file: characters and lines over a logical file (see the file comment). Failures are
// TXT library messages or the logical file's, as the last error.
class KELCORE_API tTXTFILE : public tFILE {
 public:
  // Unbuffered; give the file a buffer with SetBuffer before heavy use.
  tTXTFILE(tPHYSICAL_FILE *file = 0, int own = 1);
  // With a 512-byte buffer that the library owns.
  tTXTFILE(tPHYSICAL_FILE &file, int own);
  virtual ~tTXTFILE();

  // The logical file's operations of the same names; a successful open
  // resets the text state (16-bit mode, byte order, line number, pushback,
  // end of text).
  unsigned int OpenExisting(unsigned int access, unsigned int share);
  // The logical file's OpenAlways; a successful open resets the text state.
  unsigned int OpenAlways(unsigned int access, unsigned int share, unsigned int attributes);
  // The logical file's Create; a successful open resets the text state.
  unsigned int Create(unsigned int access, unsigned int share, unsigned int attributes);
  // The logical file's CreateNew; a successful open resets the text state.
  unsigned int CreateNew(unsigned int access, unsigned int share, unsigned int attributes);

  // The next character; 4 at the end of the text.
  unsigned int GetChar(char *c);
  // Pushes a character back (carriage returns and NULs are ignored). At
  // most 10 are held: the 11th fails with tERRMSG::OutOfMemory and
  // 0xFFFFFFFF. Pushing back a line feed or 0x1A takes one off the line
  // number; any pushback clears the end of the text. GetChar returns a
  // pushed-back character with status 0 and changes nothing else: a line
  // feed is not counted again, a 0x1A does not end the text again.
  unsigned int UngetChar(char c);
  // The next line without its line end, NUL-terminated in `buf` (`size`
  // bytes). The last line needs no line end. 4 when no character is left.
  // A line of `size` characters or more: see the file comment.
  unsigned int ReadLine(char *buf, unsigned int size);

  // Writes one character; a carriage return is not written, a line feed
  // is written as a line end.
  unsigned int PutChar(char c);
  // PutChar for each character up to the NUL; stops at the first failure.
  unsigned int WriteStr(char const *s);
  // WriteStr, then a line end.
  unsigned int WriteLine(char const *s);

  // The line number (if `line` is not null) and the position, a pair that
  // SetLinePos restores. `pos` is required.
  unsigned int GetLinePos(unsigned long *line, unsigned long *pos);
  // Seeks to `pos`; on success the line number becomes `line`, the pushback
  // is emptied and the end of the text is cleared.
  unsigned int SetLinePos(unsigned long line, unsigned long pos);
  // SetLinePos(0, 0).
  unsigned int Rewind();

  // Each stores the new flag and returns the previous one.
  int Set16BitFlag(int on);
  // Stores the byte-swap flag (16-bit units high byte first) and returns
  // the previous one.
  int SetByteSwap(int on);
  // The 16-bit flag: non-zero when characters are 16-bit units on disk.
  int Get16BitFlag() const;
  // The byte-swap flag: non-zero when 16-bit units are high byte first.
  int GetByteSwap() const;

 protected:
  // ReadLine's work. Returns 0 with *cut 0 for a whole line, 0 with *cut 1
  // for the first size - 1 characters of a longer line (nothing recorded,
  // the rest is read next), or ReadLine's failures.
  unsigned int _ReadLinePiece(char *buf, unsigned int size, int *cut);

 private:
  enum { cPUSHBACK_MAX = 10 };

  tTXTFILE(const tTXTFILE &);
  tTXTFILE &operator=(const tTXTFILE &);

  unsigned int PostOpen(unsigned int status);
  // One raw unit from the file: a byte, or a 16-bit unit low byte first.
  unsigned int ReadUnit(unsigned int *unit);
  // One 16-bit unit in the file's byte order, or one byte.
  unsigned int WriteUnit(unsigned int unit);
  unsigned int EndOfText();
  // _ReadLinePiece in 8-bit mode without pushback: reads in blocks and
  // gives back what follows the line. *handled 0: nothing was delivered,
  // go on one character at a time.
  unsigned int ReadLineBlocks(char *buf, unsigned int size, int *cut, int *handled);
  // The same out of the logical file's window, held locked by the caller.
  unsigned int ReadLineWindow(char *buf, unsigned int size, int *cut, int *handled);

  int end_of_text_;
  unsigned long line_;
  char pushback_[cPUSHBACK_MAX];
  unsigned int pushback_count_;
  int wide_;
  int swap_;
  // Whether an unbuffered file can seek, as ReadLine found out: 0 not yet
  // asked since it was opened or positioned, 1 yes, 2 no (a pipe, a
  // terminal: its lines are read one character at a time, without asking
  // again).
  int no_seek_;
};

#endif  // KELCORE_FILES_TEXT_FILE_H
