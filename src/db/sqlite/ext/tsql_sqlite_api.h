#pragma once

// Which SQLite the T-SQL functions call. Their code is compiled twice: into
// the conversion core, which links SQLite itself, and into the loadable
// extension libtsqlext, which may reach SQLite only through the table of
// functions that the loading program hands to its entry point (tsql_ext.cpp
// keeps that table). The extension's target defines CONVERT_TSQL_EXTENSION.

#ifdef CONVERT_TSQL_EXTENSION
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT3
#else
#include <sqlite3.h>
#endif
