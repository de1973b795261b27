// Messages: an id string, a severity, typed parameters and a format text
// with numbered placeholders.
//
// Placeholders: "%d" (one decimal digit) shows parameter d; "%d'spec'"
// formats it with a printf spec (its first 15 characters; an unclosed spec
// runs to the end of the text); "%x" for any other x shows x ("%%" is a
// percent sign); a trailing "%" ends the text. A missing or null parameter
// shows as "NULL". A spec that does not suit the parameter's type, or could
// do harm ("%n", "%s" for a number, huge widths), is ignored and the
// parameter shows with its default conversion (see parameter.h). Output is
// cut at 1023 characters.
//
// Texts returned by the static Format functions are arrays allocated with
// new (std::nothrow) char[]: release them with delete[].
//
// Disposal: messages are released through tMSG::Dispose, which never frees
// a static message such as tERRMSG::OutOfMemory. `delete` on a message works
// for heap messages too, but it runs the destructor even on a static one.
//
// Copying messages is not possible.
#ifndef KELCORE_MSG_MESSAGE_H
#define KELCORE_MSG_MESSAGE_H

#include <cstddef>
#include <new>
#include <type_traits>

#include "kelcore/msg/parameter.h"
#include "kelcore/platform/export.h"

class tMSG;

// Every message class that declares its own operator== (a catalog message,
// say) also states this in its body, for the reason given at
// KELCORE_PARM_EQUALITY in parameter.h.
#define KELCORE_MSG_EQUALITY(CLASS)                                   \
  friend int operator==(const tMSG &a, const CLASS &b) {              \
    return a.operator==(static_cast<const tMSG &>(b));                \
  }

// A message: an id string, a severity, parameters and a format text from which its text is made
// (see the file comment). Messages are what the thread's last error and the error lists hold.
class KELCORE_API tMSG {
 public:
  // How grave a message is; the application's display decorates each severity differently.
  enum eSEVERITY {
    eINFORMATION = 0,
    eSTOP = 1,
    eERROR = 2,
    eSEVERITY3 = 3,
    eSEVERITY4 = 4
  };

  virtual ~tMSG();
  // Same id string object, same severity, same number of parameters and
  // pairwise equal parameters (compared with the left parameter's ==).
  virtual int operator==(const tMSG &other) const;

  // The number of parameters.
  unsigned int NumParms() const;
  // The message's severity.
  eSEVERITY GetSeverity() const;
  // The id string given when the message was made (the text object itself: catalog code
  // compares id strings by address).
  const char *GetIdString() const;
  // The format text (GetFormatStr); "<NULL> message" on a null object.
  const char *GetText();
  // The formatted text, computed on the first call and kept for the
  // message's life; "Out of memory" (not kept) when it cannot be built. A
  // static message whose text has no "%" returns its text itself, so the
  // out-of-memory message formats without allocating, from any thread.
  const char *Format();
  // The parameter at `index`, or a reference with null address.
  const tPARAMETER &operator[](unsigned int index) const;

  // Each appends a new parameter of the matching class; if it cannot be
  // allocated a null parameter (shown as "NULL") is appended instead. When
  // even the list has no room the parameter is dropped (and an adopted
  // message disposed of).
  tMSG &operator<<(char value);
  tMSG &operator<<(signed char value);
  tMSG &operator<<(unsigned char value);
  tMSG &operator<<(short value);
  tMSG &operator<<(unsigned short value);
  tMSG &operator<<(int value);
  tMSG &operator<<(unsigned int value);
  tMSG &operator<<(long value);
  tMSG &operator<<(unsigned long value);
  tMSG &operator<<(float value);
  tMSG &operator<<(double value);
  tMSG &operator<<(long double value);
  tMSG &operator<<(const char *text);
  tMSG &operator<<(tMSG *adopted);
  tMSG &operator<<(tMSG &borrowed);
  // Adopts `parm`; a static message destroys it at once instead.
  tMSG &operator<<(tPARAMETER *parm);

  // Formats `format` with `parms`; a new char[] text, or null without memory.
  // A null `format` formats as an empty text.
  static char *Format(const char *format, const tPARMLIST &parms);
  // Formats `format` with `count` freshly allocated parameters, which are
  // adopted and destroyed; a new char[] text, or null without memory.
  static char *Format(const char *format, unsigned int count, ...);

  // The disposal step: destroys and frees a message unless it is static.
  static void Dispose(tMSG *msg);
  // Non-zero for a static message (such as tERRMSG::OutOfMemory), which parameters and disposal
  // leave alone.
  int IsStatic() const { return static_; }

  // Messages are allocated through these so that the class-level delete,
  // which leaves static messages alone, has matching allocation functions.
  // Both forms of new return null without memory. Messages and parameters
  // come from a small pool of freed blocks that each thread keeps in front
  // of operator new (see UseThreadPool).
  static void *operator new(std::size_t size) noexcept;
  static void *operator new(std::size_t size, const std::nothrow_t &) noexcept;
  static void *operator new(std::size_t, void *where) noexcept { return where; }
  // The class-level delete: frees the message unless it is static.
  static void operator delete(void *p, std::size_t size);
  static void operator delete(void *p, const std::nothrow_t &) noexcept;
  static void operator delete(void *, void *) noexcept {}

  // Turns the calling thread's block pool on (1, the default) or off (0)
  // and returns the setting before the call. With the pool off, every
  // message, parameter, list node and parameter text of the thread is
  // allocated from and freed to operator new (nothrow) one by one: for a
  // replaced operator new that must see each allocation (one that counts or
  // fails them, a heap checker). Off frees the blocks the pool holds.
  static int UseThreadPool(int on);

 protected:
  // constexpr so that a message in static storage is initialised before any
  // code runs and can be handed out during other objects' construction.
  constexpr tMSG(const char *id_string, eSEVERITY severity, int is_static)
      : parms_(), formatted_(nullptr), static_(is_static), severity_(severity),
        id_string_(id_string) {}

  // The text to format: the literal text, or the catalog's text (or default) for catalog
  // messages.
  virtual const char *GetFormatStr() = 0;
  // A built-in format text for catalog messages whose catalog lacks the
  // message; null here.
  virtual const char *GetDefaultMsg();

 private:
  tMSG(const tMSG &);
  tMSG &operator=(const tMSG &);

  tPARMLIST parms_;
  char *formatted_;
  int static_;
  eSEVERITY severity_;
  const char *id_string_;
};

// A message with a literal format text (not owned).
class KELCORE_API tMSGSTR : public tMSG {
 public:
  // A message of `severity` with `id_string` whose text is `format` (neither is copied; both
  // must outlive the message).
  tMSGSTR(const char *format, const char *id_string, eSEVERITY severity);
  ~tMSGSTR();

 protected:
  // For the library's static messages: sets the static flag.
  constexpr tMSGSTR(const char *format, const char *id_string, eSEVERITY severity,
                    int is_static)
      : tMSG(id_string, severity, is_static), format_(format) {}
  // The format text given to the constructor.
  const char *GetFormatStr();

 private:
  const char *format_;
  friend class tERRMSG;
};

// Block-trace line: id string "Block trace log message", severity 0.
class KELCORE_API tTRACEMSG : public tMSGSTR {
 public:
  // A trace line with the format text `format` (not copied).
  explicit tTRACEMSG(const char *format);
  ~tTRACEMSG();
};

// The library's one static message, used wherever a message cannot be
// allocated. Streaming parameters into it or disposing of it has no effect.
class KELCORE_API tERRMSG {
 public:
  static const char *const OutOfMemoryStr;  // "Out of memory"
  static tMSGSTR OutOfMemory;  // id "Out of memory object", severity eERROR
};

// `a == b` for two messages of different classes (a tMSGSTR and a
// tTRACEMSG, say): under C++20 the member operator and its reversed form tie
// and the call is ambiguous. This exact-match template is chosen instead and
// calls the left message's (virtual) operator==, as C++11 to C++17 do.
namespace kelcore_detail {
template <class A, class B,
          bool = std::is_base_of<tMSG, A>::value && std::is_base_of<tMSG, B>::value>
struct tMSG_PAIR {};
template <class A, class B> struct tMSG_PAIR<A, B, true> { typedef int type; };
}  // namespace kelcore_detail

template <class A, class B>
inline typename kelcore_detail::tMSG_PAIR<A, B>::type operator==(const A &a, const B &b) {
  return static_cast<const tMSG &>(a).operator==(static_cast<const tMSG &>(b));
}

#endif  // KELCORE_MSG_MESSAGE_H
