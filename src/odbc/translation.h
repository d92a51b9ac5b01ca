// A connection's translation library: an ODBC translation library named by the
// connection (attribute SQL_ATTR_TRANSLATE_LIB, else the TranslationDLL connection
// attribute) converts text between the data source and the driver. Loaded after a
// connect or when the attribute is set, unloaded at disconnect.
//
// Called with the connection's mutex held.
#ifndef VQ_ODBC_TRANSLATION_H
#define VQ_ODBC_TRANSLATION_H

#include <sql.h>

#include "odbc/handles.h"

// Unloads any loaded library, then loads the one the connection names. 1 when none is
// named or the named one loaded with both functions; 0 when it could not be loaded or
// lacks a function (nothing is left loaded; the caller records IM009). With a library
// named and option 107 (SQL_ATTR_TRANSLATE_OPTION) never set, the TranslationOption
// attribute, read as a decimal number, becomes option 107.
int InitTranslation(tagDBC* dbc);
// Unloads the connection's library, if any.
void FiniTranslation(tagDBC* dbc);

// Translates `length` bytes of `buffer` in place (the output room is the input length),
// driver to data source or back, passing SQL type `sql_type` and option 107. Without a
// library the text stays as it is and the result is SQL_SUCCESS. When the library
// reports failure: HY000/S1000 with its error text on the connection, SQL_ERROR; the
// buffer holds whatever the library left.
SQLRETURN TranslateToDataSource(tagDBC* dbc, SQLSMALLINT sql_type, void* buffer,
                                SQLINTEGER length, SQLINTEGER* out_length);
SQLRETURN TranslateToDriver(tagDBC* dbc, SQLSMALLINT sql_type, void* buffer, SQLINTEGER length,
                            SQLINTEGER* out_length);

#endif  // VQ_ODBC_TRANSLATION_H
