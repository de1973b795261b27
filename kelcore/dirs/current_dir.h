// The process's current directory, kept aside while drives are tried.
// Internal to the library.
#ifndef KELCORE_DIRS_CURRENT_DIR_H
#define KELCORE_DIRS_CURRENT_DIR_H

namespace keldirs {

// Remembers the current directory when built. Making another drive current
// and then the remembered drive again would land in whatever that drive
// remembers (on Windows often its root); Restore goes back to the very
// directory, or, when it could not be read, to its drive.
class tSAVED_CURRENT_DIR {
 public:
  tSAVED_CURRENT_DIR();
  // 0, or 0xFFFFFFFF (nothing recorded) when neither can be made current.
  unsigned int Restore() const;

 private:
  tSAVED_CURRENT_DIR(const tSAVED_CURRENT_DIR &);
  tSAVED_CURRENT_DIR &operator=(const tSAVED_CURRENT_DIR &);

  enum { cSIZE = 4096 };
  char text_[cSIZE];
  int whole_;  // text_ holds the directory
  unsigned int drive_;
};

}  // namespace keldirs

#endif  // KELCORE_DIRS_CURRENT_DIR_H
