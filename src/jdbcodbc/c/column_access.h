// Helpers of the column value getters that need no Java VM.
#ifndef VQ_JDBCODBC_COLUMN_ACCESS_H
#define VQ_JDBCODBC_COLUMN_ACCESS_H

#include <sql.h>
#include <sqlext.h>

// The byte length of a value that a converter may read, from the indicator ODBC left:
// SQL_NULL_DATA passes as it is; for a bound element (`lateBound` false, `elementSize`
// the element's bytes) SQL_NO_TOTAL or a length beyond the element's data (a cut value)
// becomes the bytes before the element's terminator (2 for UTF-16 text, 1 for narrow
// and numeric text, none for binary and fixed types), UTF-16 lengths kept even; for a
// late-bound value `elementSize` is the length read and bounds the indicator.
SQLLEN ClampValueLength(SQLLEN indicator, SQLLEN elementSize, SQLSMALLINT cType,
                        bool lateBound);

#endif  // VQ_JDBCODBC_COLUMN_ACCESS_H
