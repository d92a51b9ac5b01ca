/* The stored table the fetch benchmarks read: a million rows of (integer, integer,
 * double, varchar(10)), row n holding (n, n * 7 - 3, n * 0.25, 'v' and n in nine digits),
 * in the order of n. The runner creates and fills it once before anything is timed, so
 * the figures per row measure the driver and the server's row path rather than the
 * database engine making the rows. Used by the C and the C++ benchmarks alike. */
#ifndef VQ_BENCH_FETCH_BENCH_TABLE_H
#define VQ_BENCH_FETCH_BENCH_TABLE_H

#define FETCH_BENCH_ROWS 1000000

#define FETCH_BENCH_CREATE \
  "CREATE TABLE fetch_bench (n INTEGER, m INTEGER, x DOUBLE, t VARCHAR(10))"

/* Row n from the numbers 1 to FETCH_BENCH_ROWS, made by a recursive query. */
#define FETCH_BENCH_FILL                                                                  \
  "INSERT INTO fetch_bench SELECT n, n * 7 - 3, n * 0.25, printf('v%09d', n) FROM "      \
  "(WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < 1000000) " \
  "SELECT n FROM s)"

/* The rows are read in the order they were written. */
#define FETCH_BENCH_QUERY "SELECT n, m, x, t FROM fetch_bench"

#endif
