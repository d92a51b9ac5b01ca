package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import @NATIVE_PACKAGE@.IIResultSet;
import @NATIVE_PACKAGE@.IIStatement;
import java.sql.SQLException;
import java.util.Random;
import vqtest.Cases;
import vqtest.Check;

import static vqtest.@VARIANT@.Db.*;

/**
 * Moving a result set's cursor over results of 40, 33 and 100 rows with rowsets of 33
 * and 10 rows: every move of a scrollable cursor checked against a model of the cursor
 * (the row reached is the value read), the row numbers counted from the start and from
 * the end, a forward-only cursor with its refusals, changes of the fetch size while
 * reading, and the errors off a row.
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class ResultSetNavigationTest {
    private ResultSetNavigationTest() {
    }

    /** Tables n40, n33 and n100 whose column x holds 1 .. n, and the empty n0. */
    static void makeTables(IConnection c) throws SQLException {
        IIStatement s = c.nativeCreateStatement();
        for (int n : new int[] {40, 33, 100, 0}) {
            drop(s, "n" + n);
        }
        for (int n : new int[] {40, 33, 100}) {
            s.nativeExecuteUpdate("CREATE TABLE n" + n + " (x INT)");
            StringBuilder insert = new StringBuilder("INSERT INTO n" + n + " VALUES ");
            for (int i = 1; i <= n; i++) {
                insert.append(i == 1 ? "" : ", ").append('(').append(i).append(')');
            }
            Check.equal(n, s.nativeExecuteUpdate(insert.toString()), "rows of n" + n);
        }
        s.nativeExecuteUpdate("CREATE TABLE n0 (x INT)");
        s.close();
    }

    static IIResultSet query(IConnection c, int type, int fetchSize, String table) throws SQLException {
        IIStatement s = c.nativeCreateStatement(type, READ_ONLY);
        s.setFetchSize(fetchSize);
        IIResultSet rs = s.executeQuery("SELECT x FROM " + table + " ORDER BY x");
        Check.notNull(rs, "result of " + table);
        Check.equal(fetchSize, rs.getFetchSize(), "rowset size of " + table);
        return rs;
    }

    /**
     * A scrollable cursor over rows 1 .. n: p is 0 before the first row, n + 1 after the
     * last. The answers are those of the moves of the result set.
     */
    static final class Model {
        final int n;
        int p;

        Model(int n) {
            this.n = n;
        }

        boolean next() {
            if (p <= n) {
                p++;
            }
            return p <= n;
        }

        boolean previous() {
            if (p <= 1) {
                return false;  // before the first row, or on it: no move
            }
            p--;
            return true;
        }

        /** Goes to row t: past the end or before the start when there is no such row. */
        boolean land(int t) {
            if (t > n) {
                p = n + 1;
                return false;
            }
            if (t < 1) {
                p = 0;
                return false;
            }
            p = t;
            return true;
        }

        boolean absolute(int r) {
            if (r == 0) {
                return false;  // names no row: the position stays
            }
            return land(r > 0 ? r : n + 1 + r);
        }

        boolean relative(int k) {
            if (p == 0 || p == n + 1) {
                return false;
            }
            return land(p + k);
        }

        boolean last() {
            p = n > 0 ? n : 0;
            return n > 0;
        }
    }

    /** The result set stands where the model does: the value read is the row reached. */
    static void samePlace(IIResultSet rs, Model m, String what) throws SQLException {
        if (m.p >= 1 && m.p <= m.n) {
            int value;
            try {
                value = rs.getInt(1);
            } catch (Exception e) {
                throw new AssertionError(what + ": no value where the model is on row " + m.p
                                         + " (row number " + rs.getRow() + ")", e);
            }
            Check.equal(m.p, value, what + ": the row's value");
            Check.isTrue(!rs.isBeforeFirst() && !rs.isAfterLast(), what + ": on a row");
        } else {
            Check.equal(m.p == 0, rs.isBeforeFirst(), what + ": before the first row");
            Check.equal(m.p == m.n + 1 && m.n > 0, rs.isAfterLast(), what + ": after the last row");
            Check.failsWithKey("NOT_ON_ROW", () -> rs.getInt(1), what + ": no value off a row");
        }
    }

    /** One move on both; the answers and the places must agree. */
    static void move(IIResultSet rs, Model m, int op, int arg, String what) throws SQLException {
        boolean expected;
        boolean got;
        String name;
        switch (op) {
            case 0: name = "next"; expected = m.next(); got = rs.next(); break;
            case 1: name = "previous"; expected = m.previous(); got = rs.previous(); break;
            case 2: name = "absolute(" + arg + ")"; expected = m.absolute(arg); got = rs.absolute(arg); break;
            case 3: name = "relative(" + arg + ")"; expected = m.relative(arg); got = rs.relative(arg); break;
            case 4: name = "beforeFirst"; m.p = 0; expected = false; rs.beforeFirst(); got = false; break;
            case 5: name = "afterLast"; m.p = m.n + 1; expected = false; rs.afterLast(); got = false; break;
            default: name = "last"; expected = m.last(); got = rs.last(); break;
        }
        String step = what + " " + name;
        Check.equal(expected, got, step + ": answer");
        samePlace(rs, m, step);
    }

    public static void main(String[] args) {
        final String conn = args[0];
        Cases cases = Db.start("ResultSetNavigationTest", args);

        cases.run("next reads every row once, rowset by rowset, and stops at the end", () -> withConnection(conn, c -> {
            makeTables(c);
            for (int type : new int[] {FORWARD_ONLY, SCROLL_INSENSITIVE}) {
                for (int size : new int[] {33, 10}) {
                    for (int n : new int[] {40, 33, 100, 0}) {
                        String what = "type " + type + ", rowset " + size + ", " + n + " rows";
                        IIResultSet rs = query(c, type, size, "n" + n);
                        Check.isTrue(rs.isBeforeFirst(), what + ": before the first row");
                        for (int i = 1; i <= n; i++) {
                            Check.isTrue(rs.next(), what + ": next to row " + i);
                            Check.equal(i, rs.getInt(1), what + ": value of row " + i);
                            Check.equal(i, rs.getRow(), what + ": number of row " + i);
                        }
                        Check.isTrue(!rs.next(), what + ": past the end");
                        Check.isTrue(!rs.next(), what + ": still past the end");
                        Check.equal(-100, rs.getRow(), what + ": row number after the last row");
                        Check.failsWithKey("NOT_ON_ROW", () -> rs.getInt(1), what + ": after the last row");
                        rs.doClose();
                        Check.isTrue(rs.isClosed(), what + ": closed");
                    }
                }
            }
        }));

        cases.run("every move of a scrollable cursor lands where the model does", () -> withConnection(conn, c -> {
            makeTables(c);
            Random random = new Random(4917);
            for (int size : new int[] {33, 10}) {
                for (int n : new int[] {40, 33, 100}) {
                    String what = "rowset " + size + ", " + n + " rows";
                    IIResultSet rs = query(c, SCROLL_INSENSITIVE, size, "n" + n);
                    Model m = new Model(n);
                    // The edges first: each move from each place a rowset can leave the cursor.
                    int[][] script = {
                        {1, 0}, {0, 0}, {1, 0}, {1, 0}, {5, 0}, {1, 0}, {1, 0}, {0, 0}, {6, 0}, {1, 0},
                        {2, 0}, {2, -1}, {2, 1}, {1, 0}, {2, size}, {1, 0}, {2, size + 1}, {1, 0},
                        {2, 5}, {1, 0}, {1, 0}, {2, n}, {0, 0}, {1, 0}, {2, n + 1}, {1, 0}, {2, -n},
                        {1, 0}, {2, -n - 1}, {0, 0}, {3, 0}, {2, 7}, {3, 0}, {3, n}, {3, -1},
                        {2, 3}, {3, -5}, {0, 0}, {2, -3}, {3, 5}, {1, 0}, {4, 0}, {0, 0},
                        {2, 2 * size + 1}, {1, 0}, {1, 0}, {3, -size}, {3, size}, {3, 1}, {5, 0}, {3, -1},
                        {6, 0}, {3, -(n - 1)}, {3, n - 1}, {2, -2}, {1, 0}, {0, 0}, {0, 0}, {0, 0},
                    };
                    int i = 0;
                    for (int[] step : script) {
                        move(rs, m, step[0], step[1], what + " step " + i++);
                    }
                    // The moves before a failing one are named with it.
                    StringBuilder trail = new StringBuilder();
                    for (int k = 0; k < 400; k++) {
                        int op = random.nextInt(7);
                        int arg = random.nextInt(2 * n + 5) - n - 2;
                        move(rs, m, op, arg, what + " random step " + k + " after [" + trail + "]");
                        trail.append(' ').append(op).append('/').append(arg).append("->").append(m.p);
                        if (trail.length() > 120) {
                            trail.delete(0, trail.length() - 120);
                        }
                    }
                    rs.doClose();
                }
            }
        }));

        cases.run("row numbers count from the end after last and afterLast", () -> withConnection(conn, c -> {
            makeTables(c);
            IIResultSet rs = query(c, SCROLL_INSENSITIVE, 33, "n100");
            Check.isTrue(rs.last(), "last");
            Check.equal(-1, rs.getRow(), "the last row is -1");
            Check.equal(100, rs.getInt(1), "its value");
            Check.isTrue(rs.isLast(), "isLast on the last row");
            Check.equal(100, rs.getInt(1), "isLast leaves the cursor there");
            Check.isTrue(rs.previous(), "previous");
            Check.equal(-2, rs.getRow(), "the row before it");
            Check.isTrue(!rs.isLast(), "not the last row");
            Check.equal(99, rs.getInt(1), "isLast leaves the cursor on row 99");
            for (int r = -3; r >= -34; r--) {
                Check.isTrue(rs.previous(), "previous to " + r);
                Check.equal(r, rs.getRow(), "row number " + r);
                Check.equal(101 + r, rs.getInt(1), "value at " + r);
            }
            Check.isTrue(rs.absolute(-1), "absolute(-1)");
            Check.equal(-1, rs.getRow(), "absolute(-1) is the last row");
            Check.isTrue(!rs.absolute(0), "absolute(0)");
            Check.equal(-1, rs.getRow(), "absolute(0) keeps the position");
            Check.isTrue(rs.relative(0), "relative(0) on a row");
            Check.equal(100, rs.getInt(1), "relative(0) stays");
            rs.afterLast();
            Check.equal(-100, rs.getRow(), "after the last row");
            Check.isTrue(rs.previous(), "previous from after the last row");
            Check.equal(100, rs.getInt(1), "the last row");
            rs.doClose();

            // The rowset starting at row 5 (or at the rowset size) steps back through a
            // fetch from row 1.
            for (int start : new int[] {5, 10}) {
                IIResultSet r2 = query(c, SCROLL_INSENSITIVE, 10, "n40");
                Check.isTrue(r2.absolute(start), "absolute(" + start + ")");
                Check.isTrue(r2.previous(), "previous from " + start);
                Check.equal(start - 1, r2.getRow(), "row number before " + start);
                Check.equal(start - 1, r2.getInt(1), "value before " + start);
                Check.isTrue(r2.previous(), "previous again");
                Check.equal(start - 2, r2.getInt(1), "two before " + start);
                r2.doClose();
            }
        }));

        cases.run("a forward-only cursor reads every row and cannot tell its last row", () -> withConnection(conn, c -> {
            makeTables(c);
            IIResultSet rs = query(c, FORWARD_ONLY, 33, "n40");
            for (int i = 1; i <= 5; i++) {
                Check.isTrue(rs.next(), "next " + i);
            }
            Check.equal(5, rs.getInt(1), "row 5");
            for (int i = 6; i <= 33; i++) {
                Check.isTrue(rs.next(), "next " + i);
                Check.equal(i, rs.getInt(1), "value " + i);
            }
            Check.failsWithKey("ISLAST_NOT_AVAILABLE", () -> rs.isLast(), "isLast at the rowset's end");
            for (int i = 34; i <= 40; i++) {
                Check.isTrue(rs.next(), "next " + i);
                Check.equal(i, rs.getInt(1), "value " + i);
            }
            Check.isTrue(!rs.next(), "end");
            rs.doClose();
        }));

        cases.run("the fetch size changes while reading: no row lost, numbers kept", () -> withConnection(conn, c -> {
            makeTables(c);
            for (int type : new int[] {FORWARD_ONLY, SCROLL_INSENSITIVE}) {
                IIResultSet rs = query(c, type, 33, "n100");
                // Smaller, then larger again (never above the 33 rows the buffers hold).
                int[] sizes = {10, 33, 7, 33};
                int row = 0;
                for (int size : sizes) {
                    rs.setFetchSize(size);
                    Check.equal(size, rs.getFetchSize(), "fetch size " + size);
                    for (int k = 0; k < 20; k++) {
                        Check.isTrue(rs.next(), "type " + type + " next " + (row + 1));
                        row++;
                        Check.equal(row, rs.getInt(1), "type " + type + " value " + row);
                        Check.equal(row, rs.getRow(), "type " + type + " number " + row);
                    }
                }
                rs.setFetchSize(100);
                Check.equal(33, rs.getFetchSize(), "capped at the rowset the buffers hold");
                while (rs.next()) {
                    row++;
                    Check.equal(row, rs.getInt(1), "type " + type + " value " + row);
                }
                Check.equal(100, row, "type " + type + ": every row read");
                rs.setFetchSize(0);
                Check.equal(0, rs.getFetchSize(), "0: the default, answered as 0");
                Check.failsWithKey("BAD_FETCH_SIZE", () -> rs.setFetchSize(-1), "negative size");
                rs.doClose();
            }
            IIStatement s = c.nativeCreateStatement(SCROLL_INSENSITIVE, READ_ONLY);
            s.setMaxRows(20);
            IIResultSet rs = s.executeQuery("SELECT x FROM n40");
            Check.failsWithKey("BAD_FETCH_SIZE", () -> rs.setFetchSize(21), "above the maximum row count");
            rs.setFetchSize(20);
            rs.doClose();
        }));

        cases.run("an empty result and a closed result set", () -> withConnection(conn, c -> {
            makeTables(c);
            IIResultSet rs = query(c, SCROLL_INSENSITIVE, 33, "n0");
            Check.isTrue(!rs.next(), "next on no rows");
            Check.equal(-100, rs.getRow(), "after the last row");
            Check.isTrue(!rs.last(), "last on no rows");
            Check.isTrue(!rs.previous(), "previous on no rows");
            Check.isTrue(!rs.absolute(1), "absolute(1) on no rows");
            Check.isTrue(!rs.isLast(), "isLast on no rows");
            rs.doClose();
            Check.isTrue(rs.isClosed(), "closed");
            Check.failsWithKey("NATIVE_ACCESS_ERROR", () -> rs.next(), "next after close");
            Check.failsWithKey("NATIVE_ACCESS_ERROR", () -> rs.absolute(1), "absolute after close");
            Check.failsWithKey("NATIVE_ACCESS_ERROR", () -> rs.last(), "last after close");
            rs.doClose();
            rs.nFree();
        }));

        cases.finish();
    }
}
