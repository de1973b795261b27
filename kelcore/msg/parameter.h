// Typed message parameters and the owning parameter list.
//
// A message carries an ordered list of parameters; each knows its own type
// and prints itself into a character buffer, either with its type's default
// printf conversion or with a conversion ("spec") that the message text
// supplies, as in "%0'%08X'". Buffers handed to Format hold 1024 bytes; the
// text written there is always cut to 1023 characters and NUL-terminated.
//
// Specs come from message texts, which may come from files, so a spec is
// checked before it is used: it must hold exactly one conversion whose
// character suits the parameter's type (d i o u x X c for the integer
// classes, f F e E g G a A for the floating ones, s for text), with flags
// "-+ 0#" where C defines them for that conversion, a width and a precision
// of at most 1023, literal text and "%%" around it, and no "%n", "*" or "$".
// A spec that fails the check is ignored: the parameter shows with its
// default conversion, as with an empty spec.
//
// Message texts are often written for systems where int and long are one
// size, so the length modifier of a spec is not taken at its word: it is
// replaced by the one the parameter's own type needs, and the value prints
// whole ("%08X" on an unsigned long, "%ld" on an int, "%.2Lf" on a double).
// Only "h" and "hh" keep their meaning on integers: the value is shown
// narrowed to a short or a char, as C does.
//
// tPARM_LONG and tPARM_ULONG keep the native long, so no value is cut where
// long has 64 bits.
//
// Copying: parameters that own heap data (tPARM_STRING, tPARM_MSG) and the
// list itself cannot be copied; the plain-value parameters copy trivially.
#ifndef KELCORE_MSG_PARAMETER_H
#define KELCORE_MSG_PARAMETER_H

#include <cstddef>
#include <iosfwd>
#include <new>
#include <type_traits>

#include "kelcore/platform/export.h"

class tMSG;
class tPARAMETER;

// Every parameter class that declares its own operator== also states this
// in its body. Under C++20, `base == derived` otherwise picks the derived
// class's member with its operands reversed, and a reversed operator==
// must return bool, so the call does not compile. The friend is an exact,
// non-reversed match that calls the left parameter's operator==.
#define KELCORE_PARM_EQUALITY(CLASS)                                  \
  friend int operator==(const tPARAMETER &a, const CLASS &b) {        \
    return a.operator==(static_cast<const tPARAMETER &>(b));          \
  }

// A message parameter: a value that formats itself into a message's text (see the file
// comment).
class KELCORE_API tPARAMETER {
 public:
  virtual ~tPARAMETER();
  // Writes the parameter's text into `buf` (1024 bytes). A null or empty
  // `spec` selects the class's default conversion.
  virtual void Format(char *buf, const char *spec) const = 0;
  // Non-zero when both parameters are of the same class (and, in the derived
  // classes, hold equal values). Parameters of different classes are never
  // equal: tPARM_INT(5) != tPARM_UINT(5).
  virtual int operator==(const tPARAMETER &other) const;

  // Parameters come from the calling thread's block pool, as messages do
  // (tMSG::UseThreadPool); both forms of new return null without memory.
  static void *operator new(std::size_t size) noexcept;
  static void *operator new(std::size_t size, const std::nothrow_t &) noexcept;
  static void *operator new(std::size_t, void *where) noexcept { return where; }
  // The class-level delete, matching the class-level new.
  static void operator delete(void *p, std::size_t size);
  static void operator delete(void *p, const std::nothrow_t &) noexcept;
  static void operator delete(void *, void *) noexcept {}

 protected:
  tPARAMETER();
  explicit tPARAMETER(const void *type_tag);
  // vsprintf into buf. Bounded all the same: at most 1023 characters and a
  // NUL are written, so `buf` must hold 1024 bytes.
  static void PrintfFormat(char *buf, const char *format, ...);
  // `spec` when it is non-empty, passes the check described at the top of
  // this header, and its conversion as written (length modifier included)
  // takes the argument type that `default_conversion` (for example "%d" or
  // "%lu") takes; `default_conversion` otherwise. Parameter classes call it
  // before handing a spec to PrintfFormat, which cannot rewrite it.
  static const char *ValidSpec(const char *spec, const char *default_conversion);

  // Identity of the concrete class: the address of a private static object
  // of that class; never dereferenced.
  const void *type_tag_;
};

// Declares a parameter class CLASS holding a copy of a TYPE value: Format prints it with a
// checked spec or the type's default conversion, operator== compares class and value, Value
// returns it.
#define KELCORE_DECLARE_SCALAR_PARM(CLASS, TYPE)                 \
  class KELCORE_API CLASS : public tPARAMETER {                  \
   public:                                                       \
    explicit CLASS(TYPE value);                                  \
    ~CLASS();                                                    \
    void Format(char *buf, const char *spec) const;              \
    int operator==(const tPARAMETER &other) const;               \
    TYPE Value() const { return value_; }                        \
    KELCORE_PARM_EQUALITY(CLASS)                                 \
                                                                 \
   private:                                                      \
    TYPE value_;                                                 \
  }

KELCORE_DECLARE_SCALAR_PARM(tPARM_CHAR, char);
KELCORE_DECLARE_SCALAR_PARM(tPARM_SHORT, short);
KELCORE_DECLARE_SCALAR_PARM(tPARM_USHORT, unsigned short);
KELCORE_DECLARE_SCALAR_PARM(tPARM_INT, int);
KELCORE_DECLARE_SCALAR_PARM(tPARM_UINT, unsigned int);
KELCORE_DECLARE_SCALAR_PARM(tPARM_LONG, long);
KELCORE_DECLARE_SCALAR_PARM(tPARM_ULONG, unsigned long);
KELCORE_DECLARE_SCALAR_PARM(tPARM_FLOAT, float);
KELCORE_DECLARE_SCALAR_PARM(tPARM_DOUBLE, double);
KELCORE_DECLARE_SCALAR_PARM(tPARM_LDOUBLE, long double);

#undef KELCORE_DECLARE_SCALAR_PARM

// A text parameter: keeps its own heap copy of the text (null stays null,
// and so does a text that cannot be copied for lack of memory). A null text
// shows as "(null)" on every system.
class KELCORE_API tPARM_STRING : public tPARAMETER {
 public:
  // Holds a copy of `text` (null stays null).
  explicit tPARM_STRING(const char *text);
  ~tPARM_STRING();
  void Format(char *buf, const char *spec) const;
  // Equal when both texts are absent, or both present and byte-identical.
  int operator==(const tPARAMETER &other) const;
  // The held text; null when none.
  const char *Value() const { return text_; }
  KELCORE_PARM_EQUALITY(tPARM_STRING)

 private:
  tPARM_STRING(const tPARM_STRING &);
  tPARM_STRING &operator=(const tPARM_STRING &);
  char *text_;
};

// A message shown as a parameter of another message. Built from a pointer it
// adopts the message and disposes of it (tMSG::Dispose); built from a
// reference it borrows. The conversion spec is ignored: the text is the message's
// formatted text, cut to 1023 characters ("NULL" for a null pointer). A
// message must not show itself, directly or through others.
class KELCORE_API tPARM_MSG : public tPARAMETER {
 public:
  // Adopts `adopted` and disposes of it when destroyed; null shows as "NULL".
  explicit tPARM_MSG(tMSG *adopted);
  explicit tPARM_MSG(tMSG &borrowed);
  ~tPARM_MSG();
  void Format(char *buf, const char *spec) const;
  int operator==(const tPARAMETER &other) const;
  // The shown message; null for a null pointer.
  tMSG *Message() const { return msg_; }
  KELCORE_PARM_EQUALITY(tPARM_MSG)

 private:
  tPARM_MSG(const tPARM_MSG &);
  tPARM_MSG &operator=(const tPARM_MSG &);
  tMSG *msg_;
  int borrowed_;
};

// Ordered, owning list of parameters. A null parameter may be stored; it
// shows as "NULL" when a message is formatted.
class KELCORE_API tPARMLIST {
 public:
  // constexpr so that messages in static storage are initialised before any
  // code runs.
  constexpr tPARMLIST() : head_(nullptr), count_(0) {}
  ~tPARMLIST();

  // Appends `parm` and returns its index. Without memory for the list node
  // the parameter is not adopted (the caller keeps it) and the result is
  // 0xFFFFFFFF.
  unsigned int Add(tPARAMETER *parm);
  // The parameter at `index` in order of addition. When there is none the
  // reference's address is null: callers test &list[i] before use.
  const tPARAMETER &operator[](unsigned int index) const;
  // The same as a pointer: null when there is no parameter at `index` or a
  // null parameter is stored there. Prefer it to operator[], whose null
  // reference is undefined behaviour in C++ terms.
  const tPARAMETER *Get(unsigned int index) const;
  // The number of parameters in the list.
  unsigned int GetItemsInContainer() const;

 private:
  tPARMLIST(const tPARMLIST &);
  tPARMLIST &operator=(const tPARMLIST &);

  struct tNODE {
    tNODE *next;
    tPARAMETER *parm;
  };
  tNODE *head_;
  unsigned int count_;
};

// Writes the parameter's default text.
KELCORE_API std::ostream &operator<<(std::ostream &os, const tPARAMETER &parm);
// Writes the parameter's default text, then destroys it (for parameters
// created inline with new). A null pointer writes nothing.
KELCORE_API std::ostream &operator<<(std::ostream &os, tPARAMETER *parm);

// `a == b` for two parameters of different classes. C++20 also tries the
// reversed form `b == a` of the member operator, and when neither side's
// type is the parameter type of the other's operator== neither form wins:
// the call is ambiguous. This exact-match template is chosen instead and
// calls the left parameter's (virtual) operator==, as C++11 to C++17 do.
namespace kelcore_detail {
template <class A, class B,
          bool = std::is_base_of<tPARAMETER, A>::value && std::is_base_of<tPARAMETER, B>::value>
struct tPARM_PAIR {};
template <class A, class B> struct tPARM_PAIR<A, B, true> { typedef int type; };
}  // namespace kelcore_detail

template <class A, class B>
inline typename kelcore_detail::tPARM_PAIR<A, B>::type operator==(const A &a, const B &b) {
  return static_cast<const tPARAMETER &>(a).operator==(static_cast<const tPARAMETER &>(b));
}

#endif  // KELCORE_MSG_PARAMETER_H
