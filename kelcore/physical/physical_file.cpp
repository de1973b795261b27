// The facets have no state; their constructors and destructors live here
// so that each class has one home for its virtual table.
#include "kelcore/physical/physical_file.h"

tPHYFILESYSOBJ::tPHYFILESYSOBJ() {}
tPHYFILESYSOBJ::~tPHYFILESYSOBJ() {}

tPHYFILEIOOBJ::tPHYFILEIOOBJ() {}
tPHYFILEIOOBJ::~tPHYFILEIOOBJ() {}

tPHYSICAL_FILE::tPHYSICAL_FILE() {}
tPHYSICAL_FILE::~tPHYSICAL_FILE() {}
