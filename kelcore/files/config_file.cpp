#include "kelcore/files/config_file.h"

#include <cstring>

#include "kelcore/sync/lock.h"

char const *const cCFG_VERSION = "A.00.00";

namespace {

const unsigned int cDELETED_TYPE = 255;
const unsigned int cSTATUS_TOO_SHORT = 9;

}  // namespace

tCFGFILE::tCFGFILE(tPHYSICAL_FILE *file, int own) : tRECFILE(file, own) {}

tCFGFILE::tCFGFILE(tPHYSICAL_FILE &file, int own) : tRECFILE(file, own) {}

tCFGFILE::~tCFGFILE() {}

unsigned int tCFGFILE::SetFile(char const *name, char const *id, char const *version,
                               char const *formatVersion) {
  return tRECFILE::SetFile(name, id, version, formatVersion);
}

unsigned int tCFGFILE::SetFile(tPHYFILENAMEOBJ const &name, char const *id,
                               char const *version, char const *formatVersion) {
  return tRECFILE::SetFile(name, id, version, formatVersion);
}

unsigned int tCFGFILE::GetRec(unsigned int type, void *buf, unsigned int size,
                              unsigned int *length) {
  tOBJECT_LOCK lock(*this);
  unsigned int status = FindRec(type);
  if (status != 0) return status;
  return ReadRec(buf, size, 0, length);
}

unsigned int tCFGFILE::GetRec(unsigned int type, char *buf, unsigned int size) {
  unsigned int status = GetRec(type, static_cast<void *>(buf), size, 0);
  return status == cSTATUS_TOO_SHORT ? 0 : status;
}

unsigned int tCFGFILE::AddRec(unsigned int type, void const *data, unsigned int length) {
  tOBJECT_LOCK lock(*this);
  unsigned int status = Seek(tFILEDEFS::SEEK_FROM_END, 0, 0);
  if (status != 0) return status;
  return WriteRec(data, type, length);
}

unsigned int tCFGFILE::AddRec(unsigned int type, char const *s) {
  return AddRec(type, s, static_cast<unsigned int>(std::strlen(s) + 1));
}

unsigned int tCFGFILE::DeleteRec() {
  tOBJECT_LOCK lock(*this);
  unsigned long pos = 0;
  unsigned int status = GetPos(&pos);
  unsigned int type = 0, length = 0;
  if (status == 0) status = ReadHeader(&type, &length);
  if (status == 0) status = Seek(static_cast<long>(pos), 0);
  if (status != 0) return status;
  // WriteHeader refuses the reserved type, which is exactly what marks a
  // deleted entry: the header is written here byte by byte, in the record
  // file's little-endian order.
  unsigned char header[8];
  for (int i = 0; i < 4; ++i) {
    header[i] = static_cast<unsigned char>(cDELETED_TYPE >> (8 * i));
    header[4 + i] = static_cast<unsigned char>(length >> (8 * i));
  }
  status = Write(header, sizeof header, 0);
  if (status != 0) return status;
  return Seek(static_cast<long>(pos), 0);
}

unsigned int tCFGFILE::DeleteRec(unsigned int type) {
  tOBJECT_LOCK lock(*this);
  unsigned int status = FindRec(type);
  if (status != 0) return status;
  return DeleteRec();
}
