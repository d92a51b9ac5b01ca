package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import @NATIVE_PACKAGE@.IDriver;
import @NATIVE_PACKAGE@.IIResultSet;
import @NATIVE_PACKAGE@.IIStatement;
import java.io.ByteArrayInputStream;
import java.io.StringReader;
import java.math.BigDecimal;
import java.nio.charset.StandardCharsets;
import java.sql.SQLException;
import java.util.Arrays;
import vqtest.Cases;
import vqtest.Check;

/**
 * Changing rows through an updatable result set: update, delete, refresh and cancel of
 * rows of static and dynamic cursors, every updater type sent and read back, the refused
 * updates (off a row, bad columns, long columns, values too large for their buffer, a
 * refused value that must not spoil the row), and the insert row: entered from inside a
 * rowset, before the first and after the last row, rows added with untouched columns as
 * NULL, and updateRow/deleteRow there refused without touching a row of the cursor. Every
 * change is checked with a fresh query on another statement.
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class ResultSetUpdateTest {
    private ResultSetUpdateTest() {
    }

    static final int BUILD = IDriver.BUILD_NUMBER;
    static final int FORWARD_ONLY = 1003;
    static final int SCROLL_INSENSITIVE = 1004;
    static final int SCROLL_SENSITIVE = 1005;
    static final int READ_ONLY = 1007;
    static final int UPDATABLE = 1008;

    interface Body {
        void run(IConnection c, IIStatement plain) throws Throwable;
    }

    static void withConnection(String conn, Body body) throws Throwable {
        IConnection c = IDriver.makeODBCConnection(conn, null, BUILD);
        Check.notNull(c, "connection");
        try {
            IIStatement plain = c.nativeCreateStatement();
            body.run(c, plain);
            plain.close();
        } finally {
            c.close();
        }
    }

    static void drop(IIStatement s, String table) {
        try {
            s.nativeExecuteUpdate("DROP TABLE " + table);
        } catch (Exception e) {
            // there was none
        }
    }

    /** Table `t` of rows k = 1 .. n with v = 'r<k>' and m = 10 * k. */
    static void keyTable(IIStatement s, String t, int n) throws SQLException {
        drop(s, t);
        s.nativeExecuteUpdate("CREATE TABLE " + t + " (k INT PRIMARY KEY, v VARCHAR(20), m INT)");
        StringBuilder insert = new StringBuilder("INSERT INTO " + t + " VALUES ");
        for (int k = 1; k <= n; k++) {
            insert.append(k == 1 ? "" : ", ").append('(').append(k).append(", 'r").append(k).append("', ")
                .append(10 * k).append(')');
        }
        Check.equal(n, s.nativeExecuteUpdate(insert.toString()), "rows of " + t);
    }

    /** "k:v:m k:v:m ..." of the table in key order, read on the plain statement. */
    static String contents(IIStatement s, String t) throws SQLException {
        IIResultSet rs = s.executeQuery("SELECT k, v, m FROM " + t + " ORDER BY k");
        StringBuilder out = new StringBuilder();
        while (rs.next()) {
            int k = rs.getInt(1);
            String v = rs.getString(2);
            int m = rs.getInt(3);
            out.append(out.length() == 0 ? "" : " ").append(k).append(':').append(v).append(':')
                .append(rs.wasNull() ? "null" : Integer.toString(m));
        }
        rs.doClose();
        return out.toString();
    }

    /** The expected contents of keyTable(n) with some rows replaced or removed (null). */
    static String expected(int n, String... changes) {
        String[] rows = new String[n + 1];
        for (int k = 1; k <= n; k++) {
            rows[k] = k + ":r" + k + ":" + (10 * k);
        }
        StringBuilder extra = new StringBuilder();
        for (String change : changes) {
            int k = Integer.parseInt(change.substring(0, change.indexOf(':')));
            if (change.endsWith(":gone")) {
                rows[k] = null;
            } else if (k <= n) {
                rows[k] = change;
            } else {
                extra.append(' ').append(change);
            }
        }
        StringBuilder out = new StringBuilder();
        for (int k = 1; k <= n; k++) {
            if (rows[k] != null) {
                out.append(out.length() == 0 ? "" : " ").append(rows[k]);
            }
        }
        return out.append(extra).toString();
    }

    static IIResultSet updatable(IConnection c, int type, int fetchSize, String sql) throws SQLException {
        IIStatement s = c.nativeCreateStatement(type, UPDATABLE);
        s.setFetchSize(fetchSize);
        IIResultSet rs = s.executeQuery(sql);
        Check.notNull(rs, "result of " + sql);
        Check.equal(UPDATABLE, rs.getConcurrency(), "updatable concurrency");
        return rs;
    }

    static void moveTo(IIResultSet rs, int row) throws SQLException {
        Check.isTrue(rs.absolute(row), "absolute(" + row + ")");
        Check.equal(row, rs.getInt(1), "the key of row " + row);
    }

    public static void main(String[] args) {
        final String conn = args[0];
        final String link = args[1];
        Cases cases = new Cases("ResultSetUpdateTest " + Variant.NAME + " " + link);
        IDriver.initEnv(Variant.LEVEL, false);

        for (int type : new int[] {SCROLL_INSENSITIVE, SCROLL_SENSITIVE}) {
            final String kind = type == SCROLL_INSENSITIVE ? "static" : "dynamic";
            final String t = "upd_" + kind + "_" + link;
            cases.run(kind + " cursor: update, delete, refresh and cancel, each seen by a fresh query",
                      () -> withConnection(conn, (c, plain) -> {
                keyTable(plain, t, 25);
                IIResultSet rs = updatable(c, type, 10, "SELECT k, v, m FROM " + t + " ORDER BY k");

                // Off a row nothing is sent and the result bits stay as they were.
                rs.updateRow();
                rs.deleteRow();
                rs.cancelRowUpdates();
                Check.isTrue(!rs.rowUpdated() && !rs.rowDeleted(), "nothing done before the first row");

                // Update in the middle of the first rowset, two columns, one of them twice.
                moveTo(rs, 3);
                rs.updateString(2, "first");
                rs.updateString("v", "three");
                rs.updateInt(3, -3);
                Check.equal("three", rs.getString(2), "the pending value is in the row's buffer");
                rs.updateRow();
                Check.isTrue(rs.rowUpdated(), "rowUpdated after updateRow");
                Check.equal(expected(25, "3:three:-3"), contents(plain, t), "row 3 updated");

                // Update on a later rowset, and the position kept on the row.
                moveTo(rs, 17);
                rs.updateNull(3);
                rs.updateRow();
                Check.equal(17, rs.getRow(), "still on row 17");
                Check.equal(expected(25, "3:three:-3", "17:r17:null"), contents(plain, t), "row 17 updated");

                // Cancel: the buffer holds the stored row again and nothing is sent.
                moveTo(rs, 5);
                rs.updateInt(3, 999);
                rs.updateString(2, "never");
                rs.cancelRowUpdates();
                Check.equal(50, rs.getInt(3), "the fetched m after cancel");
                Check.equal("r5", rs.getString(2), "the fetched v after cancel");
                rs.updateRow();  // sends the row as stored
                Check.equal(expected(25, "3:three:-3", "17:r17:null"), contents(plain, t), "row 5 as it was");

                // Delete: the row is gone, and rowDeleted stays true after moving on.
                moveTo(rs, 8);
                rs.deleteRow();
                Check.isTrue(rs.rowDeleted(), "rowDeleted after deleteRow");
                Check.isTrue(rs.next(), "a move after the delete");
                Check.isTrue(rs.rowDeleted(), "rowDeleted is the latest delete's outcome");
                Check.equal(expected(25, "3:three:-3", "17:r17:null", "8:gone"), contents(plain, t),
                            "row 8 deleted");

                // Refresh: the row is read again, replacing values not sent, showing those sent.
                moveTo(rs, 12);
                rs.updateString(2, "pending");
                rs.updateNull(3);
                rs.refreshRow();
                Check.equal("r12", rs.getString(2), "v after refreshRow");
                Check.equal(120, rs.getInt(3), "m after refreshRow");
                Check.isTrue(!rs.wasNull(), "m is no longer NULL");
                moveTo(rs, 3);
                rs.refreshRow();
                Check.equal("three", rs.getString(2), "the cursor's own update after refreshRow");
                Check.equal(3, rs.getRow(), "refreshRow keeps the position");

                // After the last row nothing is sent, and the result bits stay as they were.
                Check.isTrue(rs.rowUpdated(), "rowUpdated from row 17");
                rs.afterLast();
                rs.updateRow();
                rs.deleteRow();
                Check.isTrue(rs.rowUpdated() && rs.rowDeleted(), "the bits after no-ops past the last row");
                rs.doClose();
                Check.equal(expected(25, "3:three:-3", "17:r17:null", "8:gone"),
                            contents(plain, t), "the table at the end");
                drop(plain, t);
            }));
        }

        cases.run("every updater type sent and read back, index and label forms", () -> withConnection(conn, (c, plain) -> {
            String t = "updtypes_" + link;
            drop(plain, t);
            plain.nativeExecuteUpdate("CREATE TABLE " + t + " (id INT PRIMARY KEY, i INT, si SMALLINT, "
                                      + "ti TINYINT, bi BIGINT, d DOUBLE, r REAL, n NUMERIC(10,2), "
                                      + "vc VARCHAR(20), vb VARBINARY(8), dt DATE, tm TIME, ts TIMESTAMP, "
                                      + "bt BIT, n2 NUMERIC(20,4), vc2 VARCHAR(20), vb2 VARBINARY(8))");
            plain.nativeExecuteUpdate("INSERT INTO " + t + " VALUES (1, 1, 1, 1, 1, 1, 1, 1, 'x', X'01', "
                                      + "'2000-01-01', '00:00:01', '2000-01-01 00:00:01', 0, 1, 'y', X'02')");
            IIResultSet rs = updatable(c, SCROLL_INSENSITIVE, 5, "SELECT * FROM " + t);
            Check.isTrue(rs.next(), "the row");
            rs.updateInt(2, -2000000000);
            rs.updateShort("si", (short) -32768);
            rs.updateByte(4, (byte) 100);
            rs.updateLong("bi", 9007199254740993L);
            rs.updateDouble(6, -0.125);
            rs.updateFloat("r", 1.5f);
            rs.updateBigDecimal(8, new BigDecimal("-12345678.91"));
            rs.updateString("vc", "h\u00e9llo \u20ac");
            rs.updateBytes(10, new byte[] {0, (byte) 0xFF, 0x10});
            rs.updateDate("dt", java.sql.Date.valueOf("2024-02-29"));
            rs.updateTime(12, java.sql.Time.valueOf("13:45:07"));
            rs.updateTimestamp("ts", java.sql.Timestamp.valueOf("2024-02-29 13:45:07.5"));
            rs.updateBoolean(14, true);
            rs.updateBigDecimal("n2", new BigDecimal("1234567890123456.7891"));
            rs.updateCharacterStream(16, new StringReader("from a reader"), 13);
            rs.updateBinaryStream("vb2", new ByteArrayInputStream(new byte[] {7, 8, 9}), 3);
            rs.updateRow();
            Check.isTrue(rs.rowUpdated(), "rowUpdated");
            rs.doClose();

            IIResultSet back = plain.executeQuery("SELECT * FROM " + t);
            Check.isTrue(back.next(), "the row read back");
            Check.equal(-2000000000, back.getInt(2), "INT");
            Check.equal((short) -32768, back.getShort(3), "SMALLINT");
            Check.equal(100, back.getInt(4), "TINYINT");
            Check.equal(9007199254740993L, back.getLong(5), "BIGINT");
            Check.equal(-0.125, back.getDouble(6), "DOUBLE");
            Check.equal(1.5f, back.getFloat(7), "REAL");
            Check.equal(new BigDecimal("-12345678.91"), back.getBigDecimal(8), "NUMERIC(10,2)");
            Check.equal("h\u00e9llo \u20ac", back.getString(9), "VARCHAR");
            Check.isTrue(Arrays.equals(new byte[] {0, (byte) 0xFF, 0x10}, back.getBytes(10)), "VARBINARY");
            Check.equal(java.sql.Date.valueOf("2024-02-29"), back.getDate(11), "DATE");
            Check.equal(java.sql.Time.valueOf("13:45:07"), back.getTime(12), "TIME");
            Check.equal(java.sql.Timestamp.valueOf("2024-02-29 13:45:07.5"), back.getTimestamp(13), "TIMESTAMP");
            Check.isTrue(back.getBoolean(14), "BIT");
            Check.equal(0, new BigDecimal("1234567890123456.7891").compareTo(back.getBigDecimal(15)),
                        "NUMERIC(20,4) as decimal text: " + back.getBigDecimal(15));
            Check.equal("from a reader", back.getString(16), "VARCHAR from a reader");
            Check.isTrue(Arrays.equals(new byte[] {7, 8, 9}, back.getBytes(17)), "VARBINARY from a stream");
            back.doClose();

            // updateNull and null objects in every kind of column, and a hex ASCII stream.
            rs = updatable(c, SCROLL_INSENSITIVE, 5, "SELECT * FROM " + t);
            Check.isTrue(rs.next(), "the row again");
            rs.updateNull(2);
            rs.updateNull("bi");
            rs.updateString(9, null);
            rs.updateBytes("vb", null);
            rs.updateDate(11, null);
            rs.updateTimestamp(13, null);
            rs.updateBigDecimal(8, null);
            rs.updateAsciiStream(17, new ByteArrayInputStream("0A0b".getBytes(StandardCharsets.US_ASCII)), 4);
            rs.updateRow();
            rs.doClose();
            back = plain.executeQuery("SELECT i, bi, vc, vb, dt, ts, n, vb2, si FROM " + t);
            Check.isTrue(back.next(), "the row read back again");
            for (int col = 1; col <= 7; col++) {
                back.getString(col);
                Check.isTrue(back.wasNull(), "column " + col + " is NULL");
            }
            Check.isTrue(Arrays.equals(new byte[] {0x0A, 0x0B}, back.getBytes(8)), "VARBINARY from hex digits");
            Check.equal((short) -32768, back.getShort(9), "an untouched column keeps its value");
            back.doClose();
            drop(plain, t);
        }));

        cases.run("refused updates: off a row, bad columns, long columns, oversize and out-of-range values",
                  () -> withConnection(conn, (c, plain) -> {
            String t = "updbad_" + link;
            drop(plain, t);
            plain.nativeExecuteUpdate("CREATE TABLE " + t + " (k INT PRIMARY KEY, v VARCHAR(20), "
                                      + "s SMALLINT, lv LONG VARCHAR, b VARBINARY(8))");
            plain.nativeExecuteUpdate("INSERT INTO " + t + " VALUES (1, 'one', 1, 'long', X'01'), "
                                      + "(2, 'two', 2, 'long', X'02')");
            IIResultSet rs = updatable(c, SCROLL_INSENSITIVE, 5, "SELECT k, v, s, lv, b FROM " + t + " ORDER BY k");

            // The row check comes before the column check.
            Check.failsWithKey("NOT_ON_ROW", () -> rs.updateInt(1, 5), "before the first row");
            Check.failsWithKey("NOT_ON_ROW", () -> rs.updateInt(99, 5), "before the first row, bad column");
            Check.isTrue(rs.next(), "row 1");
            Object[][] columns = {{0, "BAD_COLUMN_NUM|0"}, {6, "BAD_COLUMN_NUM|6"}, {-1, "BAD_COLUMN_NUM|-1"}};
            for (Object[] row : columns) {
                SQLException e = Check.fails(SQLException.class, () -> rs.updateInt((Integer) row[0], 1),
                                             "column " + row[0]);
                Check.equal(row[1], e.getMessage(), "the column number in the message");
            }
            SQLException named = Check.fails(SQLException.class, () -> rs.updateString("nosuch", "x"),
                                             "a label naming no column");
            Check.equal("BAD_COLUMN_NAME|nosuch", named.getMessage(), "the label in the message");
            Check.failsWithKey("NULL_POINTER", () -> rs.updateInt((String) null, 1), "a null label");
            SQLException longColumn = Check.fails(SQLException.class, () -> rs.updateString(4, "x"), "long column");
            Check.equal("NO_LONG_UPDATE|4", longColumn.getMessage(), "the long column's number");
            Check.failsWithKey("NO_LONG_UPDATE", () -> rs.updateNull("lv"), "updateNull of a long column");
            Check.failsWithKey("UNSUPPORTED_CONVERSION", () -> rs.updateBytes(1, new byte[] {1}),
                               "bytes into an INT");
            Check.failsWithKey("OUT_OF_I16_RANGE", () -> rs.updateInt(3, 40000), "SMALLINT range");
            Check.failsWithKey("BAD_STREAM_LEN",
                               () -> rs.updateCharacterStream(2, new StringReader("abc"), 0), "stream length 0");
            Check.failsWithKey("INCOMPLETE_CHAR_STREAM_READ",
                               () -> rs.updateCharacterStream(2, new StringReader("abc"), 5), "a reader ending early");

            // The declared size fits; far more does not, and a refused value spoils nothing.
            String twenty = "abcdefghijklmnopqrst";
            rs.updateString(2, twenty);
            Check.equal(twenty, rs.getString(2), "20 characters fit VARCHAR(20)");
            rs.updateString(2, "kept");
            char[] big = new char[5000];
            Arrays.fill(big, 'z');
            Check.failsWithKey("OVERSIZE_UPDATE", () -> rs.updateString(2, new String(big)), "5000 characters");
            // Streams read straight into the buffer: a refused one leaves the bytes as they were.
            rs.updateBytes(5, new byte[] {5, 6});
            byte[] many = new byte[20000];
            Arrays.fill(many, (byte) 0x77);
            Check.failsWithKey("OVERSIZE_UPDATE",
                               () -> rs.updateBinaryStream(5, new ByteArrayInputStream(many), -1),
                               "a binary stream of unknown length larger than the buffer");
            Check.failsWithKey("OVERSIZE_UPDATE",
                               () -> rs.updateAsciiStream(5, new ByteArrayInputStream(hexDigits(40)), -1),
                               "hex digits of unknown length beyond the buffer");
            Check.isTrue(Arrays.equals(new byte[] {5, 6}, rs.getBytes(5)), "the bytes before the refused streams");
            Check.failsWithKey("OVERSIZE_UPDATE",
                               () -> rs.updateCharacterStream(2, new StringReader(new String(big)), 5000),
                               "a reader larger than the buffer");
            Check.equal("kept", rs.getString(2), "the value before the refused ones");
            rs.updateRow();
            Check.equal("kept", contentsOf(plain, t, 1), "the value sent");
            IIResultSet bytes = plain.executeQuery("SELECT b FROM " + t + " WHERE k = 1");
            Check.isTrue(bytes.next() && Arrays.equals(new byte[] {5, 6}, bytes.getBytes(1)), "the bytes sent");
            bytes.doClose();

            // After the last row.
            Check.isTrue(rs.next() && !rs.next(), "past the last row");
            Check.failsWithKey("NOT_ON_ROW", () -> rs.updateString(2, "x"), "after the last row");
            rs.doClose();

            // A read-only cursor takes the value into its buffer; the driver refuses the update.
            IIStatement ro = c.nativeCreateStatement(SCROLL_INSENSITIVE, READ_ONLY);
            IIResultSet rr = ro.executeQuery("SELECT k, v FROM " + t + " ORDER BY k");
            Check.isTrue(rr.next(), "read-only row 1");
            rr.updateString(2, "no");
            Check.fails(SQLException.class, rr::updateRow, "updateRow on a read-only cursor");
            Check.isTrue(!rr.rowUpdated(), "rowUpdated cleared by the failure");
            rr.doClose();
            ro.close();
            Check.equal("kept", contentsOf(plain, t, 1), "row 1 after the refused update");
            drop(plain, t);
        }));

        cases.run("the insert row: rows added, untouched columns NULL, back to the saved row re-fetched",
                  () -> withConnection(conn, (c, plain) -> {
            String t = "updins_" + link;
            keyTable(plain, t, 40);
            IIResultSet rs = updatable(c, SCROLL_INSENSITIVE, 33, "SELECT k, v, m FROM " + t + " ORDER BY k");
            moveTo(rs, 5);
            rs.moveToInsertRow();
            Check.failsWithKey("ALREADY_ON_INSERT", rs::moveToInsertRow, "entering twice");
            Check.failsWithKey("NO_SCROLL_ON_INSERT", rs::next, "no moves on the insert row");
            Check.failsWithKey("NO_ROW_NUM_ON_INSERT", rs::getRow, "no row number on the insert row");
            rs.getInt(3);
            Check.isTrue(rs.wasNull(), "the insert row starts NULL");
            rs.updateInt(1, 101);
            rs.updateString("v", "new101");
            rs.insertRow();
            Check.isTrue(rs.rowInserted(), "rowInserted");
            rs.updateInt(1, 102);  // v keeps new101, m stays NULL
            rs.insertRow();
            // A row the server refuses (the key exists) clears rowInserted.
            Check.fails(SQLException.class, rs::insertRow, "a duplicate key");
            Check.isTrue(!rs.rowInserted(), "rowInserted after a refused insert");

            // updateRow and deleteRow would send element 0 to the cursor's row 1.
            rs.updateInt(1, 1);
            rs.updateString(2, "clobbered");
            Check.failsWithKey("NOT_ON_ROW", rs::updateRow, "updateRow on the insert row");
            Check.failsWithKey("NOT_ON_ROW", rs::deleteRow, "deleteRow on the insert row");
            rs.refreshRow();
            rs.cancelRowUpdates();

            rs.moveToCurrentRow();
            Check.equal(5, rs.getRow(), "back on row 5");
            Check.equal(5, rs.getInt(1), "row 5 re-fetched, not the insert row's values");
            Check.equal("r5", rs.getString(2), "row 5's v");
            Check.equal(33, rs.getFetchSize(), "the rowset size again");
            Check.isTrue(rs.absolute(1), "row 1");
            Check.equal("r1", rs.getString(2), "row 1 was never overwritten");
            Check.isTrue(rs.absolute(38), "row 38, in the second rowset");
            Check.equal(38, rs.getInt(1), "the rowset after the insert row reads normally");
            Check.equal(expected(40, "101:new101:null", "102:new101:null"), contents(plain, t),
                        "the rows added, and row 1 untouched");

            // A fetch size set on the insert row waits for the way back: insertRow adds the
            // one row built, never the cursor's rows still in the other elements.
            moveTo(rs, 2);
            rs.moveToInsertRow();
            rs.setFetchSize(10);
            rs.updateInt(1, 104);
            rs.insertRow();
            Check.isTrue(rs.rowInserted(), "rowInserted after a fetch size change");
            rs.moveToCurrentRow();
            Check.equal(2, rs.getRow(), "back on row 2");
            Check.equal(10, rs.getFetchSize(), "the fetch size set on the insert row");
            Check.isTrue(rs.absolute(12), "row 12");
            Check.equal("r12", rs.getString(2), "row 12 in a rowset of the new size");
            Check.equal(expected(40, "101:new101:null", "102:new101:null", "104:null:null"),
                        contents(plain, t), "one row added from the insert row");
            rs.setFetchSize(33);

            // Entered before the first and after the last row, the cursor goes back there.
            rs.beforeFirst();
            rs.moveToInsertRow();
            rs.updateInt(1, 103);
            rs.insertRow();
            rs.moveToCurrentRow();
            Check.isTrue(rs.isBeforeFirst(), "before the first row again");
            Check.isTrue(rs.next(), "next from before the first row");
            Check.equal(1, rs.getInt(1), "row 1, not the insert row");
            rs.afterLast();
            rs.moveToInsertRow();
            rs.moveToCurrentRow();
            Check.isTrue(rs.isAfterLast(), "after the last row again");

            // Off the insert row moveToCurrentRow leaves the cursor alone.
            moveTo(rs, 7);
            rs.moveToCurrentRow();
            Check.equal(7, rs.getRow(), "still on row 7");
            // insertRow off the insert row adds nothing.
            rs.insertRow();
            rs.doClose();
            Check.equal(expected(40, "101:new101:null", "102:new101:null", "103:null:null", "104:null:null"),
                        contents(plain, t), "the table at the end");
            drop(plain, t);
        }));

        cases.run("forward-only cursor: update in place, and the insert row never read as a row",
                  () -> withConnection(conn, (c, plain) -> {
            String t = "updfwd_" + link;
            keyTable(plain, t, 6);
            IIResultSet rs = updatable(c, FORWARD_ONLY, 1, "SELECT k, v, m FROM " + t + " ORDER BY k");
            Check.isTrue(rs.next() && rs.next(), "row 2");
            rs.updateString(2, "two");
            rs.updateRow();
            Check.isTrue(rs.rowUpdated(), "rowUpdated");
            rs.moveToInsertRow();
            rs.updateInt(1, 100);
            rs.updateString(2, "hundred");
            rs.insertRow();
            String back;
            try {
                rs.moveToCurrentRow();
                back = "ok";
            } catch (Exception e) {
                back = "refused";
            }
            StringBuilder seen = new StringBuilder();
            try {
                while (rs.next()) {
                    seen.append(rs.getInt(1)).append(' ');
                }
            } catch (Exception e) {
                seen.append("refused");
            }
            // The saved row cannot be fetched again on a forward-only cursor; the next move
            // reads on from the driver's cursor, never element 0 of the insert row. The
            // cursor may see its own insert at the end.
            Check.equal("refused", back, "moveToCurrentRow on a forward-only cursor");
            Check.isTrue(seen.toString().startsWith("3 4 5 6 "), "the rows after the insert row: " + seen);
            rs.doClose();
            Check.equal(expected(6, "2:two:20", "100:hundred:null"), contents(plain, t), "the table");
            drop(plain, t);
        }));

        cases.finish();
    }

    /** `n` ASCII hex digits "0A0A...". */
    static byte[] hexDigits(int n) {
        byte[] digits = new byte[n];
        for (int i = 0; i < n; i++) {
            digits[i] = (byte) (i % 2 == 0 ? '0' : 'A');
        }
        return digits;
    }

    /** Column v of row k of a table of the refused-update case. */
    static String contentsOf(IIStatement s, String t, int k) throws SQLException {
        IIResultSet rs = s.executeQuery("SELECT v FROM " + t + " WHERE k = " + k);
        Check.isTrue(rs.next(), "row " + k + " of " + t);
        String v = rs.getString(1);
        rs.doClose();
        return v;
    }
}
