#include "tools/kelmsgc/msgc.h"

#include <cstring>
#include <set>
#include <utility>

#include "kelcore/catalog/message_file_layout.h"

namespace kelmsgc {

namespace {

using namespace kelmsgfmt;

// Messages before a $set belong to the default set, as with gencat
// (NL_SETD), so that X/Open sources keep their meaning.
const unsigned int cDEFAULT_SET = 1;
const unsigned int cMAX_ID_VALUE = 0xFFFFFFFEu;

enum eSEEN { cSEEN_VERSION = 1, cSEEN_LANGUAGE = 2, cSEEN_WIDTH = 4 };

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the well-formed UTF-8 sequence at s[i] (shortest form, no
// surrogates, at most U+10FFFF), or 0; *cp receives its code point.
std::size_t Utf8Sequence(const std::string &s, std::size_t i, unsigned int *cp) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  std::size_t n;
  unsigned int v, min;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, v = c & 0x1Fu, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, v = c & 0x0Fu, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, v = c & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    unsigned char t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    v = (v << 6) | (t & 0x3Fu);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return n;
}

void PutUtf8(std::string *out, unsigned int cp) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void PutUnit(std::string *out, unsigned int unit) {
  *out += static_cast<char>(unit & 0xFF);
  *out += static_cast<char>(unit >> 8);
}

// Appends a character of the source text (a code point) as the catalog
// stores it: UTF-8 bytes, or UTF-16LE units.
void PutChar(std::string *out, unsigned int cp, unsigned int width) {
  if (width == 1) {
    PutUtf8(out, cp);
  } else if (cp < 0x10000) {
    PutUnit(out, cp);
  } else {
    cp -= 0x10000;
    PutUnit(out, 0xD800 | (cp >> 10));
    PutUnit(out, 0xDC00 | (cp & 0x3FF));
  }
}

// A decimal id at s[*i]; false when there is none or it is out of range.
bool ParseId(const std::string &s, std::size_t *i, unsigned int *id) {
  if (*i >= s.size() || !IsDigit(s[*i])) return false;
  unsigned long long v = 0;
  while (*i < s.size() && IsDigit(s[*i])) {
    v = v * 10 + static_cast<unsigned int>(s[*i] - '0');
    if (v > cMAX_ID_VALUE) return false;
    ++*i;
  }
  *id = static_cast<unsigned int>(v);
  return true;
}

std::string Trimmed(const std::string &s, std::size_t from) {
  while (from < s.size() && IsBlank(s[from])) ++from;
  std::size_t to = s.size();
  while (to > from && IsBlank(s[to - 1])) --to;
  return s.substr(from, to - from);
}

// A version or language: printable ASCII without blanks or backslashes.
bool IsWord(const std::string &s) {
  for (char c : s) {
    if (c <= ' ' || c > '~' || c == '\\') return false;
  }
  return true;
}

struct tLINE {
  unsigned int number;  // physical line where the logical line starts
  std::string text;
};

// Splits a source into logical lines: "\r\n" ends a line like "\n", and a
// line ending in an odd number of backslashes continues on the next one.
// false when the source ends inside a continuation.
bool SplitLines(const std::string &src, std::vector<tLINE> *lines, unsigned int *bad_line) {
  std::size_t i = 0;
  unsigned int number = 0;
  if (src.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;  // a byte-order mark
  tLINE current{0, std::string()};
  bool continuing = false;
  while (i < src.size()) {
    std::size_t end = src.find('\n', i);
    bool has_newline = end != std::string::npos;
    if (!has_newline) end = src.size();
    std::size_t stop = end;
    if (has_newline && stop > i && src[stop - 1] == '\r') --stop;
    ++number;
    if (!continuing) current = tLINE{number, std::string()};
    current.text.append(src, i, stop - i);
    std::size_t backslashes = 0;
    while (backslashes < current.text.size() &&
           current.text[current.text.size() - 1 - backslashes] == '\\') {
      ++backslashes;
    }
    continuing = backslashes % 2 == 1;
    if (continuing) {
      current.text.pop_back();
      if (!has_newline) {
        *bad_line = number;
        return false;
      }
    } else {
      lines->push_back(current);
    }
    i = has_newline ? end + 1 : end;
  }
  if (continuing) {
    *bad_line = number;
    return false;
  }
  return true;
}

}  // namespace

bool tCOMPILER::Fail(const std::string &file, unsigned int line, const std::string &message) {
  error_ = file + ":" + std::to_string(line) + ": " + message;
  return false;
}

bool tCOMPILER::AddSource(const std::string &file, const std::string &src) {
  // Sources are UTF-8 throughout; the first bad byte names its line.
  {
    unsigned int line = 1;
    for (std::size_t i = 0; i < src.size();) {
      unsigned int cp;
      std::size_t n = Utf8Sequence(src, i, &cp);
      if (n == 0) return Fail(file, line, "invalid UTF-8");
      if (cp == '\n') ++line;
      i += n;
    }
  }
  std::vector<tLINE> lines;
  unsigned int bad = 0;
  if (!SplitLines(src, &lines, &bad)) {
    return Fail(file, bad, "continuation line at the end of the source");
  }

  // Within one source, sets and the messages of each set ascend; a later
  // source may reopen a set (or go on in the set the source before ended
  // in) and replace its messages, as gencat merges.
  // The current set and the quote character go on from the source before,
  // as gencat carries them across the files of one run.
  unsigned int &set = set_;
  long long last_set = -1;
  long long last_msg = -1;
  char &quote = quote_;
  // What this source defined: its deletions may not remove it (gencat
  // deletes only from a catalog that exists before the source).
  std::set<unsigned int> defined_sets;
  std::set<std::pair<unsigned int, unsigned int>> defined_msgs;

  for (const tLINE &l : lines) {
    const std::string &s = l.text;
    const unsigned int ln = l.number;
    tCATALOG *cat = catalogs_.empty() ? nullptr : &catalogs_.back();
    if (Trimmed(s, 0).empty()) continue;

    if (s[0] == '$') {
      if (s.size() == 1 || IsBlank(s[1])) continue;  // comment
      std::size_t k = 1;
      while (k < s.size() && !IsBlank(s[k])) ++k;
      const std::string word = s.substr(1, k - 1);
      const std::string rest = Trimmed(s, k);

      if (word == "catalog") {
        if (rest.empty()) return Fail(file, ln, "$catalog needs a name");
        if (rest.size() > cMAX_ID) {
          return Fail(file, ln, "catalog name longer than " + std::to_string(cMAX_ID) + " bytes");
        }
        for (char c : rest) {
          if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return Fail(file, ln, "control character in catalog name");
          }
        }
        // Written back as a source line, it would continue on the next.
        if (rest.back() == '\\') return Fail(file, ln, "catalog name ends in a backslash");
        for (const tCATALOG &c : catalogs_) {
          if (c.name == rest) {
            return Fail(file, ln, "duplicate catalog \"" + rest + "\" (first at " + c.file + ":" +
                                      std::to_string(c.line) + ")");
          }
        }
        tCATALOG c;
        c.name = rest;
        c.file = file;
        c.line = ln;
        catalogs_.push_back(c);
        set = cDEFAULT_SET;
        last_set = -1;
        last_msg = -1;
        defined_sets.clear();
        defined_msgs.clear();
        continue;
      }
      if (word == "quote") {
        if (rest.empty()) {
          quote = 0;
        } else if (rest.size() == 1 && rest[0] > ' ' && rest[0] <= '~' && rest[0] != '\\') {
          quote = rest[0];
        } else {
          return Fail(file, ln, "$quote takes one ASCII character or none");
        }
        continue;
      }
      if (word != "set" && word != "delset" && word != "version" && word != "language" &&
          word != "width") {
        return Fail(file, ln, "unknown directive $" + word);
      }
      if (cat == nullptr) return Fail(file, ln, "$" + word + " before any $catalog");

      if (word == "set" || word == "delset") {
        std::size_t p = k;
        while (p < s.size() && IsBlank(s[p])) ++p;
        unsigned int id;
        if (!ParseId(s, &p, &id) || (p < s.size() && !IsBlank(s[p]))) {
          return Fail(file, ln, "$" + word + " needs a set number from 0 to 4294967294");
        }
        if (word == "delset") {
          if (defined_sets.count(id) != 0) {
            return Fail(file, ln, "set " + std::to_string(id) + " is defined in this source");
          }
          cat->sets.erase(id);
          continue;
        }
        if (static_cast<long long>(id) <= last_set) {
          return Fail(file, ln,
                      static_cast<long long>(id) == last_set
                          ? "duplicate set " + std::to_string(id)
                          : "set " + std::to_string(id) + " after set " +
                                std::to_string(last_set) + ": sets must ascend");
        }
        set = id;
        last_set = id;
        defined_sets.insert(id);
        last_msg = -1;
        cat->sets[id];
        continue;
      }
      // The catalog's own properties come before its contents, once each.
      if (!cat->sets.empty() || last_set >= 0) {
        return Fail(file, ln, "$" + word + " after the catalog's first set or message");
      }
      unsigned int flag = word == "version" ? cSEEN_VERSION
                          : word == "language" ? cSEEN_LANGUAGE
                                               : cSEEN_WIDTH;
      if (cat->seen & flag) return Fail(file, ln, "duplicate $" + word);
      cat->seen |= flag;
      if (word == "version") {
        if (rest.empty() || rest.size() > 7 || !IsWord(rest)) {
          return Fail(file, ln, "$version needs 1 to 7 printable characters, no backslash");
        }
        cat->version = rest;
      } else if (word == "language") {
        if (rest.size() > 8 || !IsWord(rest)) {
          return Fail(file, ln, "$language takes at most 8 printable characters, no backslash");
        }
        cat->language = rest;
      } else {
        if (rest != "1" && rest != "2") return Fail(file, ln, "$width must be 1 or 2");
        cat->width = rest == "1" ? 1 : 2;
      }
      continue;
    }

    if (!IsDigit(s[0])) {
      return Fail(file, ln, "a line must start with a message number or a $ directive");
    }
    std::size_t p = 0;
    unsigned int id;
    if (!ParseId(s, &p, &id)) return Fail(file, ln, "message number above 4294967294");
    if (cat == nullptr) return Fail(file, ln, "message before any $catalog");
    if (p == s.size()) {
      // A number alone deletes that message, as with gencat.
      if (defined_msgs.count(std::make_pair(set, id)) != 0) {
        return Fail(file, ln, "message " + std::to_string(id) + " of set " + std::to_string(set) +
                                  " is defined in this source");
      }
      auto found = cat->sets.find(set);
      if (found != cat->sets.end()) found->second.erase(id);
      continue;
    }
    if (!IsBlank(s[p])) return Fail(file, ln, "a blank must follow the message number");
    if (static_cast<long long>(id) <= last_msg) {
      return Fail(file, ln,
                  static_cast<long long>(id) == last_msg
                      ? "duplicate message " + std::to_string(id) + " in set " +
                            std::to_string(set)
                      : "message " + std::to_string(id) + " after message " +
                            std::to_string(last_msg) + " in set " + std::to_string(set) +
                            ": messages must ascend");
    }
    ++p;

    std::string body;
    const bool quoted = quote != 0 && p < s.size() && s[p] == quote;
    if (quoted) ++p;
    bool closed = false;
    while (p < s.size()) {
      char c = s[p];
      if (quoted && c == quote) {
        closed = true;
        ++p;
        break;
      }
      if (c == quote && quote != 0) {
        // gencat ends an unquoted text there, silently; better to say so.
        return Fail(file, ln, "quote character inside an unquoted text; escape it");
      }
      if (c != '\\') {
        unsigned int cp;
        p += Utf8Sequence(s, p, &cp);
        PutChar(&body, cp, cat->width);
        continue;
      }
      ++p;
      if (p == s.size()) return Fail(file, ln, "backslash at the end of a text");
      char e = s[p++];
      unsigned int value;
      switch (e) {
        case 'n': value = '\n'; break;
        case 't': value = '\t'; break;
        case 'v': value = '\v'; break;
        case 'b': value = '\b'; break;
        case 'r': value = '\r'; break;
        case 'f': value = '\f'; break;
        case '\\': value = '\\'; break;
        default:
          if (e >= '0' && e <= '7') {
            value = static_cast<unsigned int>(e - '0');
            for (int d = 0; d < 2 && p < s.size() && s[p] >= '0' && s[p] <= '7'; ++d) {
              value = value * 8 + static_cast<unsigned int>(s[p++] - '0');
            }
            if (value > 0xFF) return Fail(file, ln, "octal escape above \\377");
          } else if (quote != 0 && e == quote) {
            value = static_cast<unsigned char>(e);
          } else {
            return Fail(file, ln, std::string("unknown escape \\") + e);
          }
      }
      // An escape gives a byte of a width-1 text, a character of a width-2
      // one: escapes write bytes that UTF-8 cannot spell.
      if (cat->width == 1) {
        body += static_cast<char>(value);
      } else {
        PutUnit(&body, value);
      }
    }
    if (quoted && !closed) return Fail(file, ln, "unterminated quote");
    if (quoted && !Trimmed(s, p).empty()) return Fail(file, ln, "text after the closing quote");
    if (body.size() > cMAX_TEXT) {
      return Fail(file, ln, "text of message " + std::to_string(id) + " is " +
                                std::to_string(body.size()) + " bytes long; at most " +
                                std::to_string(cMAX_TEXT) + " fit a record");
    }
    cat->sets[set][id] = body;
    last_msg = id;
    defined_sets.insert(set);
    defined_msgs.insert(std::make_pair(set, id));
  }
  return true;
}

bool tCOMPILER::Write(std::string *bytes) {
  bytes->clear();
  for (const tCATALOG &cat : catalogs_) {
    // Sizes first: every offset in the catalog must fit 32 bits.
    unsigned long long texts = 0, set_area = 0;
    for (const auto &set : cat.sets) {
      set_area += cRECORD_HEADER + cSET_BODY + cINDEX_ENTRY * set.second.size();
      for (const auto &msg : set.second) texts += cRECORD_HEADER + msg.second.size();
    }
    const unsigned long long head = cat.name.size() + sizeof(cID_TERMINATOR) +
                                    cRECORD_HEADER + cVERSION_BODY + cRECORD_HEADER +
                                    cHEADER_BODY;
    const unsigned long long length = head + texts + set_area;
    if (length > 0xFFFFFFFFull) {
      return Fail(cat.file, cat.line, "catalog \"" + cat.name + "\" exceeds 4 GiB");
    }
    const std::size_t start = bytes->size();
    bytes->reserve(start + length);

    unsigned char word[4];
    auto put = [&](unsigned int v) {
      PutU32(word, v);
      bytes->append(reinterpret_cast<const char *>(word), 4);
    };
    auto field = [&](const std::string &text, std::size_t size) {
      std::string f(size, '\0');
      f.replace(0, text.size(), text);
      *bytes += f;
    };

    *bytes += cat.name;
    bytes->append(reinterpret_cast<const char *>(cID_TERMINATOR), sizeof(cID_TERMINATOR));
    put(cTYPE_VERSION);
    put(cVERSION_BODY);
    field(cRECORD_LAYOUT_VERSION, cVERSION_FIELD);
    field(cCATALOG_FORMAT_VERSION, cVERSION_FIELD);
    field(cat.version, cVERSION_FIELD);
    put(cTYPE_HEADER);
    put(cHEADER_BODY);
    put(0);  // the reserved word
    put(static_cast<unsigned int>(head + texts));
    put(static_cast<unsigned int>(length));
    put(cat.width);
    field(cat.language, cLANGUAGE_FIELD);

    std::vector<unsigned int> offsets;
    for (const auto &set : cat.sets) {
      for (const auto &msg : set.second) {
        offsets.push_back(static_cast<unsigned int>(bytes->size() - start));
        put(cTYPE_MESSAGE);
        put(static_cast<unsigned int>(msg.second.size()));
        *bytes += msg.second;
      }
    }
    std::size_t next = 0;
    for (const auto &set : cat.sets) {
      const unsigned int count = static_cast<unsigned int>(set.second.size());
      put(cTYPE_SET);
      put(cSET_BODY + cINDEX_ENTRY * count);
      put(set.first);
      put(count);
      for (const auto &msg : set.second) {
        put(msg.first);
        put(offsets[next++]);
      }
    }
  }
  return true;
}

// ------------------------------------------------------------------ reader

namespace {

struct tREADER {
  const std::string &bytes;
  std::string *error;

  bool Fail(std::size_t offset, const std::string &message) {
    *error = "offset " + std::to_string(offset) + ": " + message;
    return false;
  }
  const unsigned char *At(std::size_t offset) const {
    return reinterpret_cast<const unsigned char *>(bytes.data()) + offset;
  }
  // A record header at `offset` whose whole header lies before `end`.
  bool Header(std::size_t offset, std::size_t end, unsigned int *type, unsigned int *length) {
    if (offset + cRECORD_HEADER > end) return Fail(offset, "record header cut short");
    *type = GetU32(At(offset));
    *length = GetU32(At(offset + 4));
    return true;
  }
  std::string Field(std::size_t offset, std::size_t size) const {
    const char *p = bytes.data() + offset;
    const void *nul = std::memchr(p, 0, size);
    return std::string(p, nul != nullptr ? static_cast<const char *>(nul) - p : size);
  }

  bool Catalog(std::size_t start, tCATALOG *cat, std::size_t *next) {
    const std::size_t size = bytes.size();
    std::size_t p = start;
    while (p < size && bytes[p] != '\r') {
      if (bytes[p] == '\0') return Fail(p, "NUL in a catalog name");
      if (p - start >= cMAX_ID) return Fail(start, "catalog name longer than 127 bytes");
      ++p;
    }
    if (p + sizeof(cID_TERMINATOR) > size ||
        std::memcmp(At(p), cID_TERMINATOR, sizeof(cID_TERMINATOR)) != 0) {
      return Fail(p, "catalog name without its terminator");
    }
    cat->name = bytes.substr(start, p - start);
    p += sizeof(cID_TERMINATOR);

    unsigned int type = 0, length = 0;
    if (!Header(p, size, &type, &length)) return false;
    if (type != cTYPE_VERSION || length != cVERSION_BODY) return Fail(p, "no version record");
    if (p + cRECORD_HEADER + cVERSION_BODY > size) return Fail(p, "version record cut short");
    p += cRECORD_HEADER;
    if (std::strncmp(Field(p, cVERSION_FIELD).c_str(), cRECORD_LAYOUT_VERSION,
                     cVERSION_MATCH) != 0) {
      return Fail(p, "record layout version is not " + std::string(cRECORD_LAYOUT_VERSION));
    }
    if (std::strncmp(Field(p + cVERSION_FIELD, cVERSION_FIELD).c_str(),
                     cCATALOG_FORMAT_VERSION, cVERSION_MATCH) != 0) {
      return Fail(p, "catalog format version is not " + std::string(cCATALOG_FORMAT_VERSION));
    }
    cat->version = Field(p + 2 * cVERSION_FIELD, cVERSION_FIELD);
    p += cVERSION_BODY;

    if (!Header(p, size, &type, &length)) return false;
    if (type != cTYPE_HEADER || length != cHEADER_BODY) return Fail(p, "no catalog header");
    if (p + cRECORD_HEADER + cHEADER_BODY > size) return Fail(p, "catalog header cut short");
    const std::size_t h = p + cRECORD_HEADER;
    const unsigned int first_set = GetU32(At(h + cHDR_FIRST_SET));
    const unsigned int cat_length = GetU32(At(h + cHDR_LENGTH));
    cat->width = GetU32(At(h + cHDR_WIDTH));
    if (std::memchr(At(h + cHDR_LANGUAGE), 0, cLANGUAGE_FIELD) == nullptr) {
      return Fail(h + cHDR_LANGUAGE, "language without its NUL");
    }
    cat->language = Field(h + cHDR_LANGUAGE, cLANGUAGE_FIELD);
    const std::size_t body_start = h + cHEADER_BODY - start;
    if (cat->width != 1 && cat->width != 2) return Fail(h, "character width not 1 or 2");
    if (cat_length == 0 || cat_length > size - start) {
      return Fail(h, "catalog length beyond the end of the file");
    }
    if (first_set < body_start || first_set > cat_length) {
      return Fail(h, "first set outside the catalog");
    }
    const std::size_t end = start + cat_length;

    long long last_set = -1;
    for (std::size_t s = start + first_set; s != end;) {
      if (!Header(s, end, &type, &length)) return false;
      if (type != cTYPE_SET || length < cSET_BODY) return Fail(s, "not a set record");
      if (s + cRECORD_HEADER + cSET_BODY > end) return Fail(s, "set record cut short");
      const unsigned int set_id = GetU32(At(s + cRECORD_HEADER));
      const unsigned int count = GetU32(At(s + cRECORD_HEADER + 4));
      if (static_cast<long long>(set_id) <= last_set) return Fail(s, "sets out of order");
      last_set = set_id;
      std::size_t e = s + cRECORD_HEADER + cSET_BODY;
      if (count > (end - e) / cINDEX_ENTRY) return Fail(s, "index beyond the catalog's end");
      std::map<unsigned int, std::string> &msgs = cat->sets[set_id];
      long long last_msg = -1;
      for (unsigned int i = 0; i < count; ++i, e += cINDEX_ENTRY) {
        const unsigned int msg_id = GetU32(At(e));
        const unsigned int offset = GetU32(At(e + 4));
        if (msg_id == cNO_MSG_ID || static_cast<long long>(msg_id) <= last_msg) {
          return Fail(e, "index entries out of order");
        }
        last_msg = msg_id;
        if (offset < body_start || offset >= first_set) {
          return Fail(e, "message record outside the message area");
        }
        unsigned int mtype = 0, mlength = 0;
        if (!Header(start + offset, start + first_set, &mtype, &mlength)) return false;
        if (mtype != cTYPE_MESSAGE) return Fail(start + offset, "not a message record");
        const std::size_t text = start + offset + cRECORD_HEADER;
        if (mlength > start + first_set - text) return Fail(text, "message text cut short");
        if (cat->width == 2 && mlength % 2 != 0) return Fail(text, "odd length of a 16-bit text");
        msgs[msg_id] = bytes.substr(text, mlength);
      }
      s = e;
    }
    *next = end;
    return true;
  }
};

void Escape(std::string *out, unsigned int value) {
  switch (value) {
    case '\n': *out += "\\n"; return;
    case '\t': *out += "\\t"; return;
    case '\\': *out += "\\\\"; return;
    case '"': *out += "\\\""; return;
  }
  if (value >= 0x20 && value < 0x7F) {
    *out += static_cast<char>(value);
    return;
  }
  // Always three digits, so that a digit after the escape stays a digit.
  char oct[5] = {'\\', static_cast<char>('0' + ((value >> 6) & 7)),
                 static_cast<char>('0' + ((value >> 3) & 7)), static_cast<char>('0' + (value & 7)),
                 0};
  *out += oct;
}

}  // namespace

bool ReadMessageFile(const std::string &bytes, std::vector<tCATALOG> *catalogs,
                     std::string *error) {
  catalogs->clear();
  tREADER reader{bytes, error};
  for (std::size_t at = 0; at < bytes.size();) {
    tCATALOG cat;
    if (!reader.Catalog(at, &cat, &at)) return false;
    catalogs->push_back(cat);
  }
  return true;
}

bool Dump(const std::vector<tCATALOG> &catalogs, std::string *source, std::string *error) {
  std::string &out = *source;
  out = "$ Message file dumped by kelmsgc; \"kelmsgc compile\" gives it back.\n$quote \"\n";
  // The compiler takes each catalog name once (a reader only ever finds the
  // first catalog of a name): a file holding one twice has no source.
  for (std::size_t i = 0; i < catalogs.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (catalogs[j].name == catalogs[i].name) {
        *error = "catalog \"" + catalogs[i].name + "\" appears twice (catalogs " +
                 std::to_string(j + 1) + " and " + std::to_string(i + 1) +
                 "): no source compiles to this file";
        return false;
      }
    }
  }
  for (const tCATALOG &cat : catalogs) {
    if (cat.name.empty() || IsBlank(cat.name.front()) || IsBlank(cat.name.back())) {
      *error = "catalog name \"" + cat.name + "\" cannot be written as a source line";
      return false;
    }
    for (char c : cat.name) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        *error = "control character in catalog name";
        return false;
      }
    }
    unsigned int dummy;
    for (std::size_t i = 0; i < cat.name.size();) {
      std::size_t n = Utf8Sequence(cat.name, i, &dummy);
      if (n == 0) {
        *error = "catalog name is not UTF-8";
        return false;
      }
      i += n;
    }
    out += "\n$catalog " + cat.name + "\n";
    out += "$version " + cat.version + "\n";
    if (!cat.language.empty()) out += "$language " + cat.language + "\n";
    if (cat.width != 1) out += "$width " + std::to_string(cat.width) + "\n";
    for (const auto &set : cat.sets) {
      out += "$set " + std::to_string(set.first) + "\n";
      for (const auto &msg : set.second) {
        out += std::to_string(msg.first) + " \"";
        const std::string &t = msg.second;
        if (cat.width == 1) {
          for (std::size_t i = 0; i < t.size();) {
            unsigned int cp;
            std::size_t n = Utf8Sequence(t, i, &cp);
            if (n > 1) {
              out.append(t, i, n);
              i += n;
            } else {
              Escape(&out, static_cast<unsigned char>(t[i]));
              ++i;
            }
          }
        } else {
          for (std::size_t i = 0; i + 1 < t.size(); i += 2) {
            unsigned int u = static_cast<unsigned char>(t[i]) |
                             (static_cast<unsigned int>(static_cast<unsigned char>(t[i + 1])) << 8);
            if (u >= 0xD800 && u <= 0xDBFF && i + 3 < t.size()) {
              unsigned int lo = static_cast<unsigned char>(t[i + 2]) |
                                (static_cast<unsigned int>(static_cast<unsigned char>(t[i + 3]))
                                 << 8);
              if (lo >= 0xDC00 && lo <= 0xDFFF) {
                PutUtf8(&out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                i += 2;
                continue;
              }
            }
            if (u >= 0xD800 && u <= 0xDFFF) {
              *error = "catalog \"" + cat.name + "\", set " + std::to_string(set.first) +
                       ", message " + std::to_string(msg.first) + ": a lone UTF-16 surrogate";
              return false;
            }
            if (u < 0x80) {
              Escape(&out, u);
            } else {
              PutUtf8(&out, u);
            }
          }
        }
        out += "\"\n";
      }
    }
  }
  return true;
}

std::string List(const std::vector<tCATALOG> &catalogs) {
  std::string out;
  for (const tCATALOG &cat : catalogs) {
    std::size_t total = 0;
    for (const auto &set : cat.sets) total += set.second.size();
    out += "\"" + cat.name + "\" version " + cat.version + ", language " +
           (cat.language.empty() ? std::string("(none)") : cat.language) + ", width " +
           std::to_string(cat.width) + ": " + std::to_string(cat.sets.size()) +
           (cat.sets.size() == 1 ? " set, " : " sets, ") + std::to_string(total) +
           (total == 1 ? " message\n" : " messages\n");
    for (const auto &set : cat.sets) {
      out += "  set " + std::to_string(set.first) + ": " + std::to_string(set.second.size()) +
             (set.second.size() == 1 ? " message" : " messages");
      if (!set.second.empty()) {
        out += " (" + std::to_string(set.second.begin()->first) + " to " +
               std::to_string(set.second.rbegin()->first) + ")";
      }
      out += "\n";
    }
  }
  return out;
}

}  // namespace kelmsgc
