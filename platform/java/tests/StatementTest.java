package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import @NATIVE_PACKAGE@.IIResultSet;
import @NATIVE_PACKAGE@.IIStatement;
import java.sql.SQLException;
import vqtest.Cases;
import vqtest.Check;

import static vqtest.@VARIANT@.Db.*;

/**
 * The statement peer: direct execution with update counts, results with and without
 * columns, several results, the attribute getters and setters with their error keys,
 * cursor type and concurrency, column attributes, and the statement's life with its
 * connection (close, release, closed connection).
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class StatementTest {
    private StatementTest() {
    }

    static final int SQL_DESC_COUNT = 1001;
    static final int SQL_DESC_NAME = 1011;

    static int rows(IIResultSet rs) throws SQLException {
        int n = 0;
        while (rs.next()) {
            n++;
        }
        return n;
    }

    public static void main(String[] args) {
        final String conn = args[0];
        Cases cases = Db.start("StatementTest", args);

        cases.run("DDL and DML give their update counts", () -> withStatement(conn, (c, s) -> {
            fresh(s, "t", "a INT, b VARCHAR(20)");
            Check.equal(3, s.nativeExecuteUpdate("INSERT INTO t VALUES (1, 'x'), (2, 'y'), (3, 'z')"),
                        "insert");
            Check.equal(2, s.nativeExecuteUpdate("UPDATE t SET b = 'w' WHERE a >= 2"), "update");
            Check.equal(0, s.nativeExecuteUpdate("UPDATE t SET b = 'v' WHERE a > 100"), "no row");
            // execute of DML: no columns; the count is read afterwards, once.
            Check.isTrue(!s.execute("DELETE FROM t WHERE a = 1"), "execute of DML");
            Check.equal(1, s.getUpdateCount(), "delete count");
            Check.isTrue(s.getResultSet() == null, "no result set for DML");
            Check.isTrue(!s.getMoreResults(), "no further result");
            Check.isTrue(s.getWarnings() == null, "no warning after the last result");
            Check.isTrue(s.executeQuery("DELETE FROM t WHERE a = 99") == null,
                         "executeQuery of DML: null, nothing raised");
        }));

        cases.run("queries: executeUpdate gives 0, execute and getResultSet give one result set",
                  () -> withStatement(conn, (c, s) -> {
            fresh(s, "q", "a INT");
            s.nativeExecuteUpdate("INSERT INTO q VALUES (1), (2), (3), (4)");
            Check.equal(0, s.nativeExecuteUpdate("SELECT a FROM q"), "executeUpdate of a query");
            Check.equal(-1, s.getUpdateCount(), "a result with columns has no count");
            Check.isTrue(s.execute("SELECT a FROM q"), "execute of a query");
            IIResultSet rs = s.getResultSet();
            Check.notNull(rs, "result set");
            // Asked again for the same result, the statement gives the same result set.
            Check.isTrue(rs == s.getResultSet(), "getResultSet twice");
            Check.equal(4, rows(rs), "rows");
            IIResultSet rs2 = s.executeQuery("SELECT a, a * 2 FROM q WHERE a > 1");
            Check.notNull(rs2, "executeQuery");
            Check.isTrue(rs2 == s.getResultSet(), "executeQuery's result set is the current one");
            Check.isTrue(rs.isClosed(), "the previous result set is closed by the next execution");
            Check.equal(2, s.getColNumAttr(SQL_DESC_COUNT, 0), "column count");
            Check.equal(3, rows(rs2), "rows of the second query");
        }));

        cases.run("several results one after the other", () -> withStatement(conn, (c, s) -> {
            fresh(s, "m1", "a INT");
            fresh(s, "m2", "b VARCHAR(10), c INT");
            s.nativeExecuteUpdate("INSERT INTO m1 VALUES (1), (2)");
            s.nativeExecuteUpdate("INSERT INTO m2 VALUES ('x', 1)");
            Check.isTrue(s.execute("SELECT a FROM m1; SELECT b, c FROM m2"), "first has columns");
            IIResultSet first = s.getResultSet();
            Check.equal(1, s.getColNumAttr(SQL_DESC_COUNT, 0), "first result's columns");
            Check.isTrue(s.getMoreResults(), "a second result");
            Check.isTrue(first.isClosed(), "the first result set closed by getMoreResults");
            Check.equal(2, s.getColNumAttr(SQL_DESC_COUNT, 0), "second result's columns");
            Check.equal("b", s.getColStrAttr(SQL_DESC_NAME, 1), "second result's first name");
            Check.equal(1, rows(s.getResultSet()), "second result's rows");
            Check.isTrue(!s.getMoreResults(), "no third result");
            Check.isTrue(s.getWarnings() == null, "no warning");
            Check.equal(-1, s.getUpdateCount(), "nothing left");
        }));

        cases.run("bad texts raise their keys and leave the statement usable", () -> withStatement(conn, (c, s) -> {
            Check.failsWithKey("EMPTY_STMT", () -> s.execute(""), "empty text");
            Check.failsWithKey("NULL_POINTER", () -> s.execute(null), "null text");
            Check.failsWithKey("NULL_POINTER", () -> s.executeQuery(null), "null query");
            SQLException e = Check.fails(SQLException.class, () -> s.execute("SELEKT 1"), "bad SQL");
            Check.isTrue(e.getSQLState() != null && e.getSQLState().length() == 5, "a state");
            IIResultSet rs = s.executeQuery("SELECT 1");
            Check.notNull(rs, "usable after the errors");
            Check.isTrue(rs.next(), "one row");
            Check.equal(1, rs.getInt(1), "its value");
        }));

        cases.run("column attributes: names longer than the first buffer come back whole",
                  () -> withStatement(conn, (c, s) -> {
            String longName = "a_column_name_that_is_longer_than_the_first_attribute_buffer_of_128_bytes_x";
            Check.isTrue(longName.length() * 2 + 2 > 128, "long enough");
            Check.notNull(s.executeQuery("SELECT 1 AS " + longName + ", 'v' AS short_one"), "query");
            Check.equal(longName, s.getColStrAttr(SQL_DESC_NAME, 1), "long name");
            Check.equal("short_one", s.getColStrAttr(SQL_DESC_NAME, 2), "short name");
            Check.equal(2, s.getColNumAttr(SQL_DESC_COUNT, 0), "two columns");
            Check.fails(SQLException.class, () -> s.getColStrAttr(SQL_DESC_NAME, 9), "no column 9");
            Check.failsWithKey("BAD_COLUMN_NUMBER|-1", () -> s.getColNumAttr(SQL_DESC_NAME, -1),
                               "negative column");
            Check.isTrue(s.getODBCHandle() != 0, "a handle");
        }));

        cases.run("query time-out, max rows, field size and fetch size with their keys",
                  () -> withStatement(conn, (c, s) -> {
            Check.equal(0, s.getQueryTimeout(), "no time-out at first");
            s.setQueryTimeout(30);
            Check.equal(30, s.getQueryTimeout(), "time-out");
            Check.failsWithKey("BAD_QUERY_TIMEOUT|-1", () -> s.setQueryTimeout(-1), "negative time-out");
            Check.equal(30, s.getQueryTimeout(), "time-out unchanged");

            Check.equal(33, s.getFetchSize(), "the connection's default fetch size");
            Check.failsWithKey("BAD_ROW_LIMIT|-2", () -> s.setMaxRows(-2), "negative max rows");
            s.setMaxRows(5);
            Check.equal(5, s.getMaxRows(), "max rows");
            Check.equal(5, s.getFetchSize(), "fetch size lowered to max rows");
            fresh(s, "r", "a INT");
            s.nativeExecuteUpdate("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40) "
                                  + "INSERT INTO r SELECT i FROM n");
            Check.equal(5, rows(s.executeQuery("SELECT a FROM r")), "rows limited by max rows");
            Check.failsWithKey("BAD_FETCH_SIZE|50", () -> s.setFetchSize(50), "fetch size above max rows");
            Check.equal(5, s.getFetchSize(), "fetch size unchanged");
            s.setFetchSize(3);
            Check.equal(3, s.getFetchSize(), "fetch size within max rows");
            s.setMaxRows(0);
            Check.equal(3, s.getFetchSize(), "max rows 0 leaves the fetch size");
            s.setFetchSize(50);
            Check.equal(50, s.getFetchSize(), "no limit: any fetch size");
            Check.failsWithKey("BAD_FETCH_SIZE|-1", () -> s.setFetchSize(-1), "negative fetch size");
            Check.equal(40, rows(s.executeQuery("SELECT a FROM r")), "all rows without max rows");

            Check.failsWithKey("BAD_FIELD_SIZE|-1", () -> s.setMaxFieldSize(-1), "negative field size");
            s.setMaxFieldSize(1000);
            Check.equal(1000, s.getMaxFieldSize(), "field size");

            Check.equal(1000, s.getFetchDirection(), "always forward");
            Check.failsWithKey("NYI", () -> s.setFetchDirection(1000), "setFetchDirection");
            s.setEscapeProcessing(false);
            s.setEscapeProcessing(true);
        }));

        cases.run("a cursor name is set while no cursor is open, and refused while one is",
                  () -> withStatement(conn, (c, s) -> {
            s.setCursorName("vqcursor");
            Check.failsWithKey("NULL_POINTER", () -> s.setCursorName(null), "null name");
            Check.notNull(s.executeQuery("SELECT 1"), "a cursor");
            SQLException e = Check.fails(SQLException.class, () -> s.setCursorName("other"), "open cursor");
            Check.equal("24000", e.getSQLState(), "invalid cursor state");
        }));

        cases.run("cursor type and concurrency are mapped and read back", () -> {
            IConnection c = connect(conn);
            try {
                int[][] table = {
                    // type, concurrency, expected type, expected concurrency
                    {1003, 1007, 1003, 1007},
                    {1004, 1007, 1004, 1007},
                    {1005, 1008, 1005, 1008},
                };
                for (int[] row : table) {
                    IIStatement s = c.nativeCreateStatement(row[0], row[1]);
                    String what = row[0] + "/" + row[1];
                    Check.equal(row[2], s.getResultSetType(), "type " + what);
                    Check.equal(row[3], s.getResultSetConcurrency(), "concurrency " + what);
                    s.close();
                }
                IIStatement plain = c.nativeCreateStatement();
                Check.equal(1003, plain.getResultSetType(), "no type given");
                Check.equal(1007, plain.getResultSetConcurrency(), "no concurrency given");
                plain.close();
                IIStatement defaults = c.nativeCreateStatement(-100, -100);
                Check.notNull(defaults, "the driver's defaults");
                Check.equal(1003, defaults.getResultSetType(), "driver default type");
                defaults.close();
                Check.failsWithKey("UNKNOWN_JDBC_RSET_TYPE|999", () -> c.nativeCreateStatement(999, 1007), "type 999");
                Check.failsWithKey("UNKNOWN_JDBC_RSET_TYPE|-100", () -> c.nativeCreateStatement(-100, 1007),
                                   "-100 with a concurrency");
                Check.failsWithKey("UNKNOWN_JDBC_RSET_CONCUR|5", () -> c.nativeCreateStatement(1003, 5),
                                   "concurrency 5");
                IIStatement after = c.nativeCreateStatement(1004, 1007);
                Check.notNull(after.executeQuery("SELECT 1"), "the connection still makes statements");
                after.close();
            } finally {
                c.close();
            }
        });

        cases.run("closing a connection closes its statements", () -> {
            IConnection c = connect(conn);
            IIStatement a = c.nativeCreateStatement();
            IIStatement b = c.nativeCreateStatement(1004, 1007);
            IIResultSet rs = b.executeQuery("SELECT 1");
            IIStatement closedEarly = c.nativeCreateStatement();
            closedEarly.close();
            closedEarly.close();
            c.close();
            Check.failsWithKey("NATIVE_ACCESS_ERROR|Statement", () -> a.execute("SELECT 1"), "first");
            Check.failsWithKey("NATIVE_ACCESS_ERROR|Statement", b::getMaxRows, "second");
            Check.isTrue(rs.isClosed(), "its result set");
            Check.failsWithKey("NATIVE_ACCESS_ERROR|Statement", () -> closedEarly.execute("SELECT 1"),
                               "closed before");
            a.close();
            a.nFree();
            a.cancel();
        });

        cases.run("a released statement is closed by the next statement creation", () -> {
            IConnection c = connect(conn);
            try {
                IIStatement s = c.nativeCreateStatement();
                s.release();
                Check.notNull(s.executeQuery("SELECT 1"), "still open until the next creation");
                IIStatement next = c.nativeCreateStatement();
                Check.failsWithKey("NATIVE_ACCESS_ERROR|Statement", () -> s.execute("SELECT 1"), "released");
                Check.notNull(next.executeQuery("SELECT 2"), "the new one works");
                next.release();
            } finally {
                c.close();
            }
        });

        cases.finish();
    }
}
