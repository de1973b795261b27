#include "kelcore/files/plain_file.h"

tFILE::tFILE(tPHYSICAL_FILE *file, int own) : tLOGICAL_FILE(file, own) {}
tFILE::tFILE(tPHYSICAL_FILE &file, int own) : tLOGICAL_FILE(file, own) {}
tFILE::~tFILE() {}

tBINFILE::tBINFILE(tPHYSICAL_FILE *file, int own) : tLOGICAL_FILE(file, own) {}
tBINFILE::tBINFILE(tPHYSICAL_FILE &file, int own) : tLOGICAL_FILE(file, own) {}
tBINFILE::~tBINFILE() {}
