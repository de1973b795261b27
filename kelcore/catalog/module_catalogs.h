// The library modules' catalogs, message classes and factories, under the
// path they had before they moved below the message files
// (kelcore/msgcat/): code that includes this header keeps building
// unchanged.
#ifndef KELCORE_CATALOG_MODULE_CATALOGS_H
#define KELCORE_CATALOG_MODULE_CATALOGS_H

#include "kelcore/msgcat/module_catalogs.h"

#endif  // KELCORE_CATALOG_MODULE_CATALOGS_H
