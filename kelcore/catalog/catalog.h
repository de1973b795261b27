// Catalogs and catalog messages (tMSGCAT, tCATMSG), under the path they had
// before the lookup moved below the message files (kelcore/msgcat/): code
// that includes this header keeps building unchanged.
#ifndef KELCORE_CATALOG_CATALOG_H
#define KELCORE_CATALOG_CATALOG_H

#include "kelcore/msgcat/catalog.h"

#endif  // KELCORE_CATALOG_CATALOG_H
