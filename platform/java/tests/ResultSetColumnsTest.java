package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import @NATIVE_PACKAGE@.IIResultSet;
import @NATIVE_PACKAGE@.IIStatement;
import vqtest.Cases;
import vqtest.Check;

import static vqtest.@VARIANT@.Db.*;

/**
 * Result sets built by executeQuery: each column fetched in the C type its SQL type
 * calls for (values at the edges of the narrower types come back whole, over several
 * rowsets), long columns read late and what they do to the rowset size, the label
 * lookup, the result set's statement, type, cursor name, and its closing.
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class ResultSetColumnsTest {
    private ResultSetColumnsTest() {
    }

    public static void main(String[] args) {
        final String conn = args[0];
        Cases cases = Db.start("ResultSetColumnsTest", args);

        cases.run("each column type is fetched whole, in every row of several rowsets", () -> withStatement(conn, (c, s) -> {
            drop(s, "v");
            s.nativeExecuteUpdate("CREATE TABLE v (k INT, ui UNSIGNED INT, us UNSIGNED SMALLINT, "
                                  + "ub UNSIGNED BIGINT, n9 NUMERIC(9,0), n18 NUMERIC(18,0), "
                                  + "n19 NUMERIC(19,0), n52 NUMERIC(5,2), r REAL, d DOUBLE, "
                                  + "vc VARCHAR(10), nv NVARCHAR(5), bi BIGINT, ti TINYINT, dt DATE)");
            // Row i holds values at the edges of what a narrower binding would cut. The
            // unsigned columns stay within the signed range: the driver describes them
            // with SQL_DESC_UNSIGNED 0, so they are bound as their signed types.
            for (int i = 1; i <= 40; i++) {
                s.nativeExecuteUpdate("INSERT INTO v VALUES (" + i + ", " + (2000000000L + i) + ", "
                                      + (30000 + i) + ", " + (9000000000000000000L + i) + ", "
                                      + (999999900 + i) + ", " + (123456789012345600L + i) + ", "
                                      + "12345678901234567" + (10 + i) + ", " + "123." + (10 + i) + ", "
                                      + "1.5, " + (i + 0.25) + ", '" + "abcdefghi" + (i % 10) + "', "
                                      + "'\u00e9t\u00e9" + (i % 10) + "x', " + (-9000000000000000000L + i)
                                      + ", " + (i % 100) + ", '2024-02-" + (10 + i % 19) + "')");
            }
            s.setFetchSize(33);
            IIResultSet rs = s.executeQuery("SELECT * FROM v ORDER BY k");
            Check.notNull(rs, "result");
            for (int i = 1; i <= 40; i++) {
                Check.isTrue(rs.next(), "row " + i);
                String at = " in row " + i;
                Check.equal(i, rs.getInt(1), "INT" + at);
                Check.equal(2000000000L + i, rs.getLong(2), "UNSIGNED INT" + at);
                Check.equal(30000 + i, rs.getInt(3), "UNSIGNED SMALLINT" + at);
                Check.equal(String.valueOf(9000000000000000000L + i), rs.getString(4), "UNSIGNED BIGINT as text" + at);
                Check.equal(999999900 + i, rs.getInt(5), "NUMERIC(9,0)" + at);
                Check.equal(123456789012345600L + i, rs.getLong(6), "NUMERIC(18,0)" + at);
                Check.equal("12345678901234567" + (10 + i), rs.getString(7), "NUMERIC(19,0) as text" + at);
                Check.equal("123." + (10 + i), rs.getString(8), "NUMERIC(5,2) as text" + at);
                Check.equal(1.5, rs.getDouble(9), "REAL" + at);
                Check.equal(i + 0.25, rs.getDouble(10), "DOUBLE" + at);
                Check.equal("abcdefghi" + (i % 10), rs.getString(11), "VARCHAR(10) full" + at);
                Check.equal("\u00e9t\u00e9" + (i % 10) + "x", rs.getString(12), "NVARCHAR(5) full" + at);
                Check.equal(-9000000000000000000L + i, rs.getLong(13), "BIGINT" + at);
                Check.equal(i % 100, rs.getInt(14), "TINYINT" + at);
                Check.equal("2024-02-" + (10 + i % 19), rs.getDate(15).toString(), "DATE" + at);
            }
            Check.isTrue(!rs.next(), "40 rows");
            rs.doClose();
        }));

        cases.run("long columns are read late; they shrink the rowset only where they must",
                  () -> withStatement(conn, (c, s) -> {
            drop(s, "l");
            drop(s, "lb");
            s.nativeExecuteUpdate("CREATE TABLE l (k INT, t LONG VARCHAR, a INT, b VARCHAR(8))");
            s.nativeExecuteUpdate("CREATE TABLE lb (k INT, t LONG BINARY)");
            StringBuilder big = new StringBuilder();
            for (int i = 0; i < 5000; i++) {
                big.append((char) ('a' + i % 26));
            }
            for (int i = 1; i <= 12; i++) {
                s.nativeExecuteUpdate("INSERT INTO l VALUES (" + i + ", '" + big.substring(i) + "', " + (i * 10)
                                      + ", 'b" + i + "')");
                s.nativeExecuteUpdate("INSERT INTO lb VALUES (" + i + ", CAST('xy' AS LONG BINARY))");
            }
            int[][] expect = {{FORWARD_ONLY, 1, 0}, {SCROLL_INSENSITIVE, 10, 0}, {SCROLL_INSENSITIVE, 1, 1}};
            for (int[] e : expect) {
                String table = e[2] == 1 ? "lb" : "l";
                IIStatement st = c.nativeCreateStatement(e[0], READ_ONLY);
                st.setFetchSize(10);
                IIResultSet rs = st.executeQuery("SELECT * FROM " + table + " ORDER BY k");
                String what = "type " + e[0] + " over " + table;
                Check.equal(e[1], rs.getFetchSize(), what + ": rowset size");
                for (int i = 1; i <= 12; i++) {
                    Check.isTrue(rs.next(), what + ": row " + i);
                    if (table.equals("l")) {
                        // Later columns first, then the long one: late binding keeps them right.
                        Check.equal("b" + i, rs.getString(4), what + ": column 4 of row " + i);
                        Check.equal(i * 10, rs.getInt(3), what + ": column 3 of row " + i);
                        Check.equal(big.substring(i), rs.getString(2), what + ": long text of row " + i);
                    }
                    Check.equal(i, rs.getInt(1), what + ": key of row " + i);
                }
                Check.isTrue(!rs.next(), what + ": end");
                st.close();
                Check.isTrue(rs.isClosed(), what + ": closed with its statement");
            }
        }));

        cases.run("findColumn: ASCII case folded, other letters exact, no label, no match", () -> withStatement(conn, (c, s) -> {
            IIResultSet rs = s.executeQuery("SELECT 1 AS \"AB\", 2 AS \"ABC\", 3 AS \"\u00c9t\", 4 AS \"x_y\", "
                                            + "5 AS \"Ab2\", 6 AS \"zed\", 7 AS \"A\"");
            Check.notNull(rs, "result");
            Check.equal(1, rs.findColumn("ab"), "ab");
            Check.equal(2, rs.findColumn("abc"), "abc");
            Check.equal(2, rs.findColumn("ABC"), "ABC");
            Check.equal(3, rs.findColumn("\u00c9T"), "the exact non-ASCII letter");
            Check.equal(0, rs.findColumn("\u00e9t"), "another case of a non-ASCII letter");
            Check.equal(4, rs.findColumn("X_Y"), "underscore");
            Check.equal(5, rs.findColumn("aB2"), "Ab2");
            Check.equal(6, rs.findColumn("ZED"), "zed");
            Check.equal(7, rs.findColumn("a"), "a shorter label that starts the others");
            Check.equal(0, rs.findColumn(""), "empty label: 0, no error");
            Check.equal(0, rs.findColumn("abcd"), "no such label");
            Check.failsWithKey("NULL_POINTER", () -> rs.findColumn(null), "null label");
            Check.isTrue(rs.next(), "row");
            Check.equal(6, rs.getInt("Zed"), "a getter by label");
            Check.failsWithKey("BAD_COLUMN_NAME", () -> rs.getInt("nope"), "unknown label in a getter");
            rs.doClose();
        }));

        cases.run("the result set's statement, type, concurrency, fetch size and cursor name",
                  () -> withStatement(conn, (c, s) -> {
            IIStatement st = c.nativeCreateStatement(SCROLL_INSENSITIVE, READ_ONLY);
            st.setFetchSize(12);
            st.setCursorName("vq_named_cursor");
            IIResultSet rs = st.executeQuery("SELECT 1 AS a");
            Check.isTrue(rs.getStatement() == st, "the statement's own Java object");
            Check.equal(SCROLL_INSENSITIVE, rs.getType(), "type");
            Check.equal(READ_ONLY, rs.getConcurrency(), "concurrency");
            Check.equal(12, rs.getFetchSize(), "fetch size");
            Check.equal(1000, rs.getFetchDirection(), "forward");
            Check.equal("vq_named_cursor", rs.getCursorName(), "the cursor name");
            Check.isTrue(rs.getWarnings() == null, "no warnings");
            rs.clearWarnings();
            Check.isTrue(!rs.wasNull() && !rs.rowUpdated() && !rs.rowInserted() && !rs.rowDeleted(),
                         "no flag set");
            // A new query closes the result before it.
            IIResultSet second = st.executeQuery("SELECT 2 AS b");
            Check.isTrue(rs.isClosed(), "the earlier result is closed");
            Check.failsWithKey("NATIVE_ACCESS_ERROR", () -> rs.getType(), "a closed result set");
            Check.isTrue(second.next(), "the new result reads");
            Check.equal(2, second.getInt(1), "its value");
            second.doClose();
            second.doClose();
            second.nFree();
            Check.isTrue(second.isClosed(), "closed twice, freed");
            // The statement goes on with new results after its result was closed.
            IIResultSet third = st.executeQuery("SELECT 3 AS c");
            Check.isTrue(third.next(), "a third result");
            Check.equal(3, third.getInt(1), "its value");
            st.close();
            Check.isTrue(third.isClosed(), "closed with its statement");
        }));

        cases.run("closing the connection closes its statements' result sets", () -> {
            IConnection c = connect(conn);
            IIStatement s = c.nativeCreateStatement();
            IIResultSet rs = s.executeQuery("SELECT 1 AS a");
            Check.notNull(rs, "result");
            c.close();
            Check.isTrue(rs.isClosed(), "the result set is closed");
            Check.failsWithKey("NATIVE_ACCESS_ERROR", () -> rs.next(), "next on it");
        });

        cases.finish();
    }
}
