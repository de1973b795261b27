// Table translation of codes: system error codes to status codes.
#ifndef KELCORE_ERROR_UTIL_H
#define KELCORE_ERROR_UTIL_H

#include "kelcore/platform/export.h"

// Table translation of codes; no objects of it are made.
class KELCORE_API tUTIL {
 public:
  // One row of a translation table. A table is an array of rows ended by a
  // row whose `value` is 0; that row's `result` is the default.
  struct tXLATETBL {
    // The code to translate; 0 marks the table's end row.
    unsigned int value;
    // The code it translates to; in the end row, the default.
    unsigned int result;
  };

  // The result of the first row whose value equals `value`, else the end
  // row's result. 0 ends the table, so it always gives the default. A null
  // table gives 0xFFFFFFFF.
  static unsigned int Xlate(unsigned int value, const tXLATETBL *table);
};

#endif  // KELCORE_ERROR_UTIL_H
