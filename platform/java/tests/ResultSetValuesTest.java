package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IIResultSet;
import @NATIVE_PACKAGE@.IIStatement;
import java.io.ByteArrayOutputStream;
import java.io.InputStream;
import java.io.Reader;
import java.math.BigDecimal;
import java.nio.charset.StandardCharsets;
import java.sql.SQLException;
import java.util.Arrays;
import vqtest.Cases;
import vqtest.Check;
import vqtest.JniTest;

import static vqtest.@VARIANT@.Db.*;

/**
 * Column values of a result set: every SQL type through the getters it allows, SQL NULL
 * and wasNull, the label forms and bad labels and numbers, getters off a row, dates and
 * times made by the Java result set, numeric text, GUID text, long text and binary values
 * of several MB whole and in pieces, the per-row cache of late-bound values, text values
 * cut to their bound element, and the native row reader.
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class ResultSetValuesTest {
    private ResultSetValuesTest() {
    }

    // The typed table: row 1 holds a value in every column, row 2 only NULLs.
    static final String COLUMNS = "id INT, i INT, si SMALLINT, ti TINYINT, bi BIGINT, d DOUBLE, "
        + "r REAL, n NUMERIC(10,2), vc VARCHAR(20), vb VARBINARY(8), dt DATE, tm TIME, "
        + "ts TIMESTAMP, bt BIT, g UNIQUEIDENTIFIER, lv LONG VARCHAR, lb LONG BINARY";
    static final String ROW1 = "1, -123456, -1234, 7, 9007199254740993, 2.5, 1.25, 12345.67, "
        + "'h\u00e9llo', X'00FF10', '2024-02-29', '13:45:07', '2024-02-29 13:45:07.123456', 1, "
        + "CAST('00112233-4455-6677-8899-AABBCCDDEEFF' AS UNIQUEIDENTIFIER), 'long text', X'0102'";
    static final int NCOLS = 17;

    static void typedTable(IIStatement s, String table) throws SQLException {
        drop(s, table);
        s.nativeExecuteUpdate("CREATE TABLE " + table + " (" + COLUMNS + ")");
        s.nativeExecuteUpdate("INSERT INTO " + table + " VALUES (" + ROW1 + ")");
        s.nativeExecuteUpdate("INSERT INTO " + table + " (id) VALUES (2)");
    }

    static String readAll(Reader reader) throws Exception {
        StringBuilder out = new StringBuilder();
        char[] buf = new char[1000];
        for (int n; (n = reader.read(buf)) > 0; ) {
            out.append(buf, 0, n);
        }
        return out.toString();
    }

    static byte[] readAll(InputStream in) throws Exception {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        byte[] buf = new byte[1000];
        for (int n; (n = in.read(buf)) > 0; ) {
            out.write(buf, 0, n);
        }
        return out.toByteArray();
    }

    /** The first index where two texts differ, -1 when they are equal. */
    static int firstDifference(String a, String b) {
        int n = Math.min(a.length(), b.length());
        for (int i = 0; i < n; i++) {
            if (a.charAt(i) != b.charAt(i)) {
                return i;
            }
        }
        return a.length() == b.length() ? -1 : n;
    }

    public static void main(String[] args) {
        final String conn = args[0];
        final String link = args[1];
        final String table = "vals_" + link;
        Cases cases = Db.start("ResultSetValuesTest", args);

        cases.run("every type through the getters it allows", () -> withStatement(conn, (c, s) -> {
            typedTable(s, table);
            IIResultSet rs = s.executeQuery("SELECT * FROM " + table + " WHERE id = 1");
            Check.isTrue(rs.next(), "row 1");
            // Integers through every numeric getter and as text.
            Check.equal(-123456, rs.getInt(2), "INT getInt");
            Check.equal(-123456L, rs.getLong(2), "INT getLong");
            Check.equal(-123456.0, rs.getDouble(2), "INT getDouble");
            Check.equal("-123456", rs.getString(2), "INT getString");
            Check.equal(new BigDecimal(-123456), rs.getBigDecimal(2), "INT getBigDecimal");
            Check.failsWithKey("OUT_OF_I16_RANGE", () -> rs.getShort(2), "INT into short");
            Check.equal((short) -1234, rs.getShort(3), "SMALLINT getShort");
            Check.failsWithKey("OUT_OF_I8_RANGE", () -> rs.getByte(3), "SMALLINT into byte");
            Check.equal((byte) 7, rs.getByte(4), "TINYINT getByte");
            Check.equal(7, rs.getInt(4), "TINYINT getInt");
            Check.equal(9007199254740993L, rs.getLong(5), "BIGINT getLong, every bit");
            Check.equal("9007199254740993", rs.getString(5), "BIGINT getString");
            Check.failsWithKey("OUT_OF_I32_RANGE", () -> rs.getInt(5), "BIGINT into int");
            // Floating values.
            Check.equal(2.5, rs.getDouble(6), "DOUBLE getDouble");
            Check.equal(2.5f, rs.getFloat(6), "DOUBLE getFloat");
            Check.equal(2, rs.getInt(6), "DOUBLE getInt truncates");
            Check.equal(1.25f, rs.getFloat(7), "REAL getFloat");
            Check.equal(new BigDecimal("1.25"), rs.getBigDecimal(7, 2), "REAL getBigDecimal(2)");
            // Text.
            Check.equal("h\u00e9llo", rs.getString(9), "VARCHAR getString");
            Check.equal("h\u00e9llo", readAll(rs.getCharacterStream(9)), "VARCHAR getCharacterStream");
            Check.failsWithKey("INVALID_NUMERIC_STRING", () -> rs.getInt(9), "VARCHAR as a number");
            Check.failsWithKey("UNSUPPORTED_CONVERSION", () -> rs.getBytes(9), "VARCHAR getBytes");
            // Binary.
            Check.isTrue(Arrays.equals(new byte[] {0, (byte) 0xFF, 0x10}, rs.getBytes(10)),
                         "VARBINARY getBytes");
            Check.isTrue(Arrays.equals(new byte[] {0, (byte) 0xFF, 0x10}, readAll(rs.getBinaryStream(10))),
                         "VARBINARY getBinaryStream");
            Check.failsWithKey("UNSUPPORTED_CONVERSION", () -> rs.getInt(10), "VARBINARY getInt");
            // A bit.
            Check.isTrue(rs.getBoolean(14), "BIT getBoolean");
            Check.equal(1, rs.getInt(14), "BIT getInt");
            // Dates and times; the wrong pairs are refused.
            Check.failsWithKey("UNSUPPORTED_CONVERSION", () -> rs.getTime(11), "DATE getTime");
            Check.failsWithKey("UNSUPPORTED_CONVERSION", () -> rs.getDate(12), "TIME getDate");
            Check.failsWithKey("UNSUPPORTED_CONVERSION", () -> rs.getDate(2), "INT getDate");
            rs.doClose();
        }));

        cases.run("dates and times are made by the Java result set", () -> withStatement(conn, (c, s) -> {
            typedTable(s, table);
            IIResultSet rs = s.executeQuery("SELECT dt, tm, ts FROM " + table + " WHERE id = 1");
            Check.isTrue(rs.next(), "row");
            Check.equal(java.sql.Date.valueOf("2024-02-29"), rs.getDate(1), "DATE getDate");
            Check.equal(java.sql.Timestamp.valueOf("2024-02-29 00:00:00"), rs.getTimestamp(1),
                        "DATE getTimestamp");
            Check.equal(java.sql.Time.valueOf("13:45:07"), rs.getTime(2), "TIME getTime");
            java.sql.Timestamp ts = rs.getTimestamp(3);
            Check.equal(java.sql.Timestamp.valueOf("2024-02-29 13:45:07.123456"), ts, "TIMESTAMP");
            Check.equal(123456000, ts.getNanos(), "the fraction survives");
            Check.equal(java.sql.Date.valueOf("2024-02-29"), rs.getDate(3), "TIMESTAMP getDate");
            Check.equal(java.sql.Time.valueOf("13:45:07"), rs.getTime(3), "TIMESTAMP getTime");
            Check.equal("2024-02-29", rs.getString(1), "DATE as text");
            rs.doClose();
        }));

        cases.run("numeric values travel as decimal text", () -> withStatement(conn, (c, s) -> {
            drop(s, "num_" + link);
            s.nativeExecuteUpdate("CREATE TABLE num_" + link + " (k INT, n NUMERIC(12,3))");
            s.nativeExecuteUpdate("INSERT INTO num_" + link + " VALUES (1, 12345.675), (2, -0.5), (3, 1)");
            IIResultSet rs = s.executeQuery("SELECT n FROM num_" + link + " ORDER BY k");
            Check.isTrue(rs.next(), "row 1");
            Check.equal(new BigDecimal("12345.675"), rs.getBigDecimal(1), "getBigDecimal");
            Check.equal(new BigDecimal("12345.68"), rs.getBigDecimal(1, 2), "rounded half up");
            Check.equal("12345.675", rs.getString(1), "getString");
            Check.equal(12345, rs.getInt(1), "getInt drops the fraction");
            Check.equal(12345L, rs.getLong(1), "getLong");
            Check.equal(12345.675, rs.getDouble(1), "getDouble");
            Check.failsWithKey("OUT_OF_I8_RANGE", () -> rs.getByte(1), "too big for a byte");
            Check.isTrue(!rs.getBoolean(1), "not 1");
            Check.isTrue(rs.next(), "row 2");
            Check.equal(0, rs.getInt(1), "-0.5 as int");
            Check.equal(new BigDecimal("-0.500"), rs.getBigDecimal(1), "negative");
            Check.isTrue(rs.next(), "row 3");
            Check.isTrue(rs.getBoolean(1), "1.000 is true");
            rs.doClose();
        }));

        cases.run("a GUID reads as its 16 bytes in buffer order", () -> withStatement(conn, (c, s) -> {
            typedTable(s, table);
            IIResultSet rs = s.executeQuery("SELECT g FROM " + table + " WHERE id = 1");
            Check.isTrue(rs.next(), "row");
            Check.equal("00112233-4455-6677-8899-AABBCCDDEEFF", rs.getString(1), "GUID text");
            Check.equal("00112233-4455-6677-8899-AABBCCDDEEFF", rs.getString("G"), "by label");
            rs.doClose();
        }));

        cases.run("SQL NULL in every column: zero values and wasNull", () -> withStatement(conn, (c, s) -> {
            typedTable(s, table);
            IIResultSet rs = s.executeQuery("SELECT * FROM " + table + " ORDER BY id");
            Check.isTrue(rs.next(), "row 1");
            Check.equal(-123456, rs.getInt(2), "a value first");
            Check.isTrue(!rs.wasNull(), "not null");
            Check.isTrue(rs.next(), "row 2");
            for (int col = 2; col <= NCOLS; col++) {
                String at = " of column " + col;
                Check.equal(null, rs.getString(col), "getString" + at);
                Check.isTrue(rs.wasNull(), "wasNull after getString" + at);
                Check.equal(0, rs.getInt(2), "getInt of column 2 after column " + col);
                Check.isTrue(rs.wasNull(), "wasNull after getInt" + at);
                Check.isTrue(!rs.getBoolean(2), "getBoolean");
                Check.equal(null, rs.getBytes(col == 10 || col == 17 ? col : 10), "getBytes");
                Check.equal(null, rs.getBigDecimal(2), "getBigDecimal");
                Check.equal(null, rs.getDate(11), "getDate");
                Check.equal(null, rs.getTimestamp(13), "getTimestamp");
                Check.equal(null, rs.getCharacterStream(col), "getCharacterStream" + at);
            }
            Check.equal(null, rs.getClobCharacterStream(16), "clob of NULL");
            Check.equal(null, rs.getNextClobPiece(16), "no piece of NULL");
            Check.equal(2, rs.getInt(1), "a value again");
            Check.isTrue(!rs.wasNull(), "wasNull cleared");
            rs.doClose();
            IIResultSet blob = s.executeQuery("SELECT lb FROM " + table + " WHERE id = 2");
            Check.isTrue(blob.next(), "the NULL row");
            Check.equal(-1L, blob.getBlobLength(1), "getBlobLength of a NULL long binary");
            Check.isTrue(blob.wasNull(), "wasNull after getBlobLength");
            Check.equal(null, blob.getBlobBytes(1, 10), "no piece of NULL");
            blob.doClose();
        }));

        cases.run("labels, bad labels and bad column numbers", () -> withStatement(conn, (c, s) -> {
            typedTable(s, table);
            IIResultSet rs = s.executeQuery("SELECT * FROM " + table + " WHERE id = 1");
            Check.isTrue(rs.next(), "row");
            Check.equal(-123456, rs.getInt("i"), "label");
            Check.equal(-123456, rs.getInt("I"), "label in upper case");
            Check.equal("h\u00e9llo", rs.getString("VC"), "text by label");
            Check.equal(new BigDecimal("12345.7"), rs.getBigDecimal("n", 1), "BigDecimal with scale by label");
            Check.equal(0, rs.findColumn("nope"), "findColumn of no column");
            SQLException e = Check.failsWithKey("BAD_COLUMN_NAME", () -> rs.getInt("nope"), "no such label");
            Check.equal("BAD_COLUMN_NAME|nope", e.getMessage(), "the label is the argument");
            Check.failsWithKey("BAD_COLUMN_NAME", () -> rs.getString(""), "empty label");
            Check.failsWithKey("NULL_POINTER", () -> rs.getInt((String) null), "null label");
            Check.failsWithKey("BAD_COLUMN_NAME", () -> rs.getNextClobPiece("nope"),
                               "the locked label form");
            for (int bad : new int[] {0, -1, NCOLS + 1, Integer.MAX_VALUE, Integer.MIN_VALUE}) {
                e = Check.failsWithKey("BAD_COLUMN_NUM", () -> rs.getInt(bad), "column " + bad);
                Check.equal("BAD_COLUMN_NUM|" + bad, e.getMessage(), "the number is the argument");
                Check.failsWithKey("BAD_COLUMN_NUM", () -> rs.getBlobBytes(bad, 10), "getBlobBytes " + bad);
            }
            Check.equal(-123456, rs.getInt(2), "still readable after the errors");
            rs.doClose();
            Check.failsWithKey("NATIVE_ACCESS_ERROR", () -> rs.getInt(2), "closed result set");
            Check.failsWithKey("NATIVE_ACCESS_ERROR", () -> rs.getString("i"), "closed, label form");
            Check.failsWithKey("NATIVE_ACCESS_ERROR", () -> rs.getRow(), "closed, getRow");
        }));

        cases.run("getters off a row, and the row-position queries", () -> withStatement(conn, (c, s) -> {
            typedTable(s, table);
            IIStatement scroll = c.nativeCreateStatement(SCROLL_INSENSITIVE, READ_ONLY);
            IIResultSet rs = scroll.executeQuery("SELECT id FROM " + table + " ORDER BY id");
            Check.equal(0, rs.getRow(), "before the first row");
            Check.isTrue(rs.isBeforeFirst() && !rs.isFirst() && !rs.isAfterLast(), "before first");
            Check.failsWithKey("NOT_ON_ROW", () -> rs.getInt(1), "before the first row");
            Check.failsWithKey("NOT_ON_ROW", () -> rs.getString("id"), "label form before the first row");
            Check.isTrue(rs.next(), "row 1");
            Check.equal(1, rs.getRow(), "row 1");
            Check.isTrue(rs.isFirst() && !rs.isBeforeFirst() && !rs.isAfterLast(), "on the first");
            Check.isTrue(rs.next(), "row 2");
            Check.equal(2, rs.getRow(), "row 2");
            Check.isTrue(!rs.isFirst(), "not first");
            Check.isTrue(!rs.next(), "end");
            Check.equal(-100, rs.getRow(), "after the last row");
            Check.isTrue(rs.isAfterLast() && !rs.isBeforeFirst(), "after last");
            Check.failsWithKey("NOT_ON_ROW", () -> rs.getInt(1), "after the last row");
            Check.isTrue(rs.previous(), "back to row 2");
            Check.equal(2, rs.getInt(1), "readable again");
            rs.doClose();
            scroll.close();
        }));

        cases.run("long text and binary of several MB, whole and in pieces", () -> withStatement(conn, (c, s) -> {
            // 64 characters, one of them outside ASCII, repeated to 3 MB of text.
            String unit = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+\u00e9";
            int repeats = 49152;
            StringBuilder want = new StringBuilder(unit.length() * repeats);
            for (int i = 0; i < repeats; i++) {
                want.append(unit);
            }
            String text = want.toString();
            byte[] bytes = text.getBytes(StandardCharsets.UTF_8);
            String t = "long_" + link;
            drop(s, t);
            s.nativeExecuteUpdate("CREATE TABLE " + t + " (k INT, lv LONG VARCHAR, lb LONG BINARY)");
            s.nativeExecuteUpdate("INSERT INTO " + t + " SELECT 1, REPEAT('" + unit + "', " + repeats
                                  + "), CAST(REPEAT('" + unit + "', " + repeats + ") AS LONG BINARY)");
            s.nativeExecuteUpdate("INSERT INTO " + t + " VALUES (2, 'short', X'0A0B')");

            IIResultSet rs = s.executeQuery("SELECT k, lv, lb FROM " + t + " ORDER BY k");
            Check.isTrue(rs.next(), "row 1");
            String got = rs.getString(2);
            Check.equal(text.length(), got.length(), "whole text length");
            Check.equal(-1, firstDifference(text, got), "whole text, every character");
            // Read once per row: the second getter makes no new read and sees the same value.
            Check.equal(-1, firstDifference(text, rs.getString("lv")), "the cached value");
            Check.isTrue(Arrays.equals(bytes, rs.getBytes(3)), "whole binary, every byte");
            Check.isTrue(Arrays.equals(bytes, rs.getBytes(3)), "the cached binary");
            rs.doClose();

            // Text in pieces: the first piece opens the value, the rest follow until null.
            rs = s.executeQuery("SELECT k, lv FROM " + t + " ORDER BY k");
            Check.isTrue(rs.next(), "row 1 for pieces");
            StringBuilder pieces = new StringBuilder(readAll(rs.getClobCharacterStream(2)));
            Check.isTrue(pieces.length() > 0 && pieces.length() < text.length(), "a first piece only");
            int count = 1;
            for (String piece; (piece = rs.getNextClobPiece(2)) != null; count++) {
                pieces.append(piece);
            }
            Check.isTrue(count > 2, "several pieces");
            Check.equal(-1, firstDifference(text, pieces.toString()), "pieces, every character");
            Check.equal(null, rs.getNextClobPiece(2), "nothing after the last piece");
            Check.isTrue(rs.next(), "row 2");
            Check.equal(null, rs.getNextClobPiece(2), "a value opened on another row does not go on");
            Check.equal("short", readAll(rs.getClobCharacterStream("lv")), "short value as one piece");
            Check.equal(null, rs.getNextClobPiece("lv"), "and no more");
            rs.doClose();

            // Binary in pieces of Java's size.
            IIResultSet bin = s.executeQuery("SELECT k, lb FROM " + t + " ORDER BY k");
            Check.isTrue(bin.next(), "row 1 for binary pieces");
            long length = bin.getBlobLength(2);
            Check.isTrue(length == bytes.length || length == -4, "length or unknown: " + length);
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            for (byte[] piece; (piece = bin.getBlobBytes(2, 100000)) != null; ) {
                Check.isTrue(piece.length <= 100000, "a piece within its size");
                out.write(piece, 0, piece.length);
            }
            Check.isTrue(Arrays.equals(bytes, out.toByteArray()), "binary pieces, every byte");
            Check.equal(-3L, bin.getBlobLength(1), "getBlobLength of a bound column");
            Check.failsWithKey("BAD_STREAM_LEN", () -> bin.getBlobBytes(2, -1), "a negative piece size");
            bin.doClose();
        }));

        cases.run("text longer than its bound element is cut inside the element", () -> withStatement(conn, (c, s) -> {
            String t = "cut_" + link;
            drop(s, t);
            s.nativeExecuteUpdate("CREATE TABLE " + t + " (k INT, v VARCHAR(4), n NUMERIC(5,2))");
            s.nativeExecuteUpdate("INSERT INTO " + t + " VALUES (1, 'abcdefghij', 123.45)");
            IIResultSet rs = s.executeQuery("SELECT v, n FROM " + t);
            Check.isTrue(rs.next(), "row");
            String v = rs.getString(1);
            Check.isTrue(v != null && "abcdefghij".startsWith(v) && v.indexOf('\0') < 0,
                         "a prefix of the value, no terminator in it: <" + v + ">");
            Check.equal("123.45", rs.getString(2), "numeric text");
            rs.doClose();
        }));

        cases.run("the native row reader: rows by address, NULLs as NULLs, cells as offered", () -> withStatement(conn, (c, s) -> {
            typedTable(s, table);
            String t = "rr_" + link;
            drop(s, t);
            s.nativeExecuteUpdate("CREATE TABLE " + t + " (k INT, ti TINYINT, si SMALLINT, bi BIGINT, "
                                  + "d DOUBLE, r REAL, vc VARCHAR(8), vb VARBINARY(4), dt DATE, tm TIME, "
                                  + "ts TIMESTAMP, bt BIT, n NUMERIC(6,2))");
            s.nativeExecuteUpdate("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 70) "
                                  + "INSERT INTO " + t + " SELECT i, CASE WHEN i % 2 = 0 THEN NULL ELSE 200 END, "
                                  + "-2, " + (1L << 40) + " + i, 0.5, 0.25, 'r' || i, X'0A0B', '2024-02-29', "
                                  + "'13:45:07', '2024-02-29 13:45:07.5', 1, 12.5 FROM n");
            s.setFetchSize(33);
            IIResultSet rs = s.executeQuery("SELECT * FROM " + t + " ORDER BY k");
            long reader = JniTest.allocBlock(24);
            try {
                rs.getNativeRowReader(reader);
                for (int i = 1; i <= 70; i++) {
                    String[] cells = JniTest.readRow(reader, 13);
                    Check.notNull(cells, "row " + i);
                    String at = " in row " + i;
                    // Each row from its own element, not the rowset's first row again.
                    Check.equal("-16:" + i, cells[0], "INT" + at);
                    // The driver reports TINYINT unsigned: it is fetched as a short.
                    Check.equal(i % 2 == 0 ? "null" : "-16:200", cells[1], "TINYINT, NULL as NULL" + at);
                    Check.equal("-16:-2", cells[2], "SMALLINT" + at);
                    Check.equal("-25:" + ((1L << 40) + i), cells[3], "BIGINT" + at);
                    Check.equal("8:0.5", cells[4], "DOUBLE" + at);
                    Check.equal("8:0.25", cells[5], "REAL widened" + at);
                    Check.equal("-8:r" + i, cells[6], "VARCHAR by address" + at);
                    Check.equal("-2:0A0B", cells[7], "VARBINARY by address" + at);
                    Check.equal("9:2024-02-29", cells[8], "DATE" + at);
                    Check.equal("10:13:45:07", cells[9], "TIME" + at);
                    Check.equal("11:2024-02-29 13:45:07.500000000", cells[10], "TIMESTAMP" + at);
                    Check.equal("-", cells[11], "BIT is left as it was" + at);
                    Check.isTrue(cells[12].startsWith("1:12.5"), "numeric text" + at + ": " + cells[12]);
                    Check.equal("end", cells[13], "nothing past the cells" + at);
                }
                Check.equal(null, JniTest.readRow(reader, 13), "0 after the last row");
                rs.doClose();

                rs = s.executeQuery("SELECT * FROM " + t + " ORDER BY k");
                rs.getNativeRowReader(reader);
                String[] two = JniTest.readRow(reader, 2);
                Check.equal("-16:1", two[0], "two cells: the first");
                Check.equal("end", two[2], "two cells only");
                String[] none = JniTest.readRow(reader, 0);
                Check.equal("end", none[0], "no cells: the cursor moves all the same");
                Check.equal("-16:3", JniTest.readRow(reader, 1)[0], "row 3 next");
                rs.getNativeRowReader(0);  // writes nothing
                rs.doClose();
            } finally {
                JniTest.freeBlock(reader);
            }
        }));

        cases.finish();
    }
}
