// Internal to the library: the byte layout of message files, shared by the
// library's catalog reader and the catalog compiler (tools/kelmsgc), so that
// the two cannot drift apart. docs/formats.md describes the layout.
//
// A message file is catalogs one after another, each a record file of its
// own: identification + terminator, version record, header record (type
// 0, 25 bytes), message records (type 1), then the set area (type 2 records,
// each followed by its index entries). Integers are unsigned 32-bit,
// little-endian; offsets are relative to the catalog's first byte.
#ifndef KELCORE_CATALOG_MESSAGE_FILE_LAYOUT_H
#define KELCORE_CATALOG_MESSAGE_FILE_LAYOUT_H

namespace kelmsgfmt {

// The identification closes with carriage return, line feed and 0x1A.
const unsigned char cID_TERMINATOR[3] = {0x0D, 0x0A, 0x1A};
// Longest identification (catalog name) a reader accepts, in bytes.
const unsigned int cMAX_ID = 127;

// Record header: type, then body length.
const unsigned int cRECORD_HEADER = 8;
const unsigned int cTYPE_HEADER = 0;
const unsigned int cTYPE_MESSAGE = 1;
const unsigned int cTYPE_SET = 2;
const unsigned int cTYPE_VERSION = 255;

// Version record body: three NUL-terminated fields of 8 bytes.
const unsigned int cVERSION_BODY = 24;
const unsigned int cVERSION_FIELD = 8;
const char cRECORD_LAYOUT_VERSION[] = "A.01.00";
const char cCATALOG_FORMAT_VERSION[] = "A.02.00";
// Versions match when their first five characters are equal.
const unsigned int cVERSION_MATCH = 5;

// Catalog header record body.
const unsigned int cHEADER_BODY = 25;
const unsigned int cHDR_RESERVED = 0;
const unsigned int cHDR_FIRST_SET = 4;
const unsigned int cHDR_LENGTH = 8;
const unsigned int cHDR_WIDTH = 12;
const unsigned int cHDR_LANGUAGE = 16;
const unsigned int cLANGUAGE_FIELD = 9;  // at most 8 characters and a NUL

// Set record body: set id, message count; then count index entries of
// {message id, catalog-relative offset of the message record}.
const unsigned int cSET_BODY = 8;
const unsigned int cINDEX_ENTRY = 8;
// Never a message id: marks a window slot past a set's last entry.
const unsigned int cNO_MSG_ID = 0xFFFFFFFFu;

inline unsigned int GetU32(const unsigned char *p) {
  return static_cast<unsigned int>(p[0]) | (static_cast<unsigned int>(p[1]) << 8) |
         (static_cast<unsigned int>(p[2]) << 16) | (static_cast<unsigned int>(p[3]) << 24);
}

inline void PutU32(unsigned char *p, unsigned int v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace kelmsgfmt

#endif  // KELCORE_CATALOG_MESSAGE_FILE_LAYOUT_H
