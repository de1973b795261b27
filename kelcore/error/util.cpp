#include "kelcore/error/util.h"

unsigned int tUTIL::Xlate(unsigned int value, const tXLATETBL *table) {
  if (table == nullptr) return 0xFFFFFFFFu;
  const tXLATETBL *row = table;
  for (; row->value != 0; ++row) {
    if (row->value == value) return row->result;
  }
  return row->result;
}
