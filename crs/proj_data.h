// Where PROJ finds its database (proj.db) and its other resource files.
//
// On POSIX systems PROJ's own rules hold: the PROJ_DATA variable, else the
// directory of the installed data (Debian's proj-data: /usr/share/proj).
// The Windows programs carry proj.db beside the .exe, and there PROJ is told
// to look in the directory of the running program and nowhere else, so that
// an unpacked zip works from wherever it lies, from any current directory,
// and whatever PROJ_DATA another program's installation may have left.
#ifndef SEVENPARAM_CRS_PROJ_DATA_H
#define SEVENPARAM_CRS_PROJ_DATA_H

#include <proj.h>

#include <string>

namespace sevenparam {

// The directory PROJ is told to search, in UTF-8 without a final separator
// (GetModuleFileNameW's path less its last part); empty where PROJ keeps
// its own rules.
std::string proj_data_directory();

// The database file PROJ's C++ API is to open: proj.db in
// proj_data_directory(), or empty for PROJ's own choice.
std::string proj_database_path();

// Applies proj_data_directory() to `context` (nullptr: PROJ's default
// context, from which new contexts start). Does nothing where it is empty.
void use_proj_data(PJ_CONTEXT* context);

} // namespace sevenparam

#endif
