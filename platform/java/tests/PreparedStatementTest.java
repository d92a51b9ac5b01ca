package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import @NATIVE_PACKAGE@.IIPreparedStatement;
import @NATIVE_PACKAGE@.IIResultSet;
import @NATIVE_PACKAGE@.IIStatement;
import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.StringReader;
import java.math.BigDecimal;
import java.sql.SQLException;
import java.sql.SQLWarning;
import java.util.Arrays;
import vqtest.Cases;
import vqtest.Check;
import vqtest.TestBlob;

import static vqtest.@VARIANT@.Db.*;

/**
 * The prepared-statement peer: every setter through insert and select, NULLs of every
 * type, refused types, numeric text at full precision, parameter metadata, batches in
 * array mode and row by row, streamed Blob and Clob values, and the buffers the driver
 * stays bound to after failed conversions and batches (run with the sanitizer runtime
 * preloaded in the AddressSanitizer build).
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class PreparedStatementTest {
    private PreparedStatementTest() {
    }

    static IIPreparedStatement prepare(IConnection c, String sql, boolean isQuery) throws SQLException {
        IIPreparedStatement p = c.nativePrepareStatement(sql, isQuery, false);
        Check.notNull(p, "prepared statement");
        // The driver refuses values longer than its maximum length (256 KiB by default, and
        // 0 means the default): raise it for the long values of these cases.
        p.setMaxFieldSize(16 << 20);
        return p;
    }

    /** The single integer a query answers. */
    static long count(IIStatement s, String sql) throws SQLException {
        IIResultSet rs = s.executeQuery(sql);
        Check.notNull(rs, "result of " + sql);
        Check.isTrue(rs.next(), "a row from " + sql);
        long n = rs.getLong(1);
        rs.doClose();
        return n;
    }

    static byte[] pattern(int n, int seed) {
        byte[] b = new byte[n];
        int x = seed;
        for (int i = 0; i < n; i++) {
            x = x * 1103515245 + 12345;
            b[i] = (byte) (x >>> 16);
        }
        return b;
    }

    static String text(int n) {
        StringBuilder sb = new StringBuilder(n);
        for (int i = 0; i < n; i++) {
            sb.append((char) ('a' + i % 26));
            if (i % 97 == 0) {
                sb.setCharAt(i, '\u00e9');
            }
        }
        return sb.toString();
    }

    /** Delivers `good` bytes, then throws. */
    static final class FailingStream extends InputStream {
        private final int good;
        private int given;

        FailingStream(int good) {
            this.good = good;
        }

        @Override
        public int read() throws IOException {
            byte[] one = new byte[1];
            return read(one, 0, 1) < 0 ? -1 : one[0] & 0xFF;
        }

        @Override
        public int read(byte[] b, int off, int len) throws IOException {
            if (given >= good) {
                throw new IOException("stream broke");
            }
            int n = Math.min(len, good - given);
            Arrays.fill(b, off, off + n, (byte) 'q');
            given += n;
            return n;
        }
    }

    public static void main(String[] args) {
        final String conn = args[0];
        Cases cases = Db.start("PreparedStatementTest", args);

        cases.run("every setter round-trips through insert and select", () -> withStatement(conn, (c, s) -> {
            fresh(s, "pv", "k INT, i INT, l BIGINT, sh SMALLINT, y TINYINT, d DOUBLE, f REAL, "
                  + "v VARCHAR(200), b VARBINARY(100), n VARCHAR(60), bo INT, dt DATE, tm TIME, ts TIMESTAMP");
            IIPreparedStatement p = prepare(c, "INSERT INTO pv VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)", false);
            byte[] bytes = {0, 1, (byte) 0xFF, 0x7F, (byte) 0x80, 'z'};
            p.setInt(1, 1);
            p.setInt(2, -2147483648);
            p.setLong(3, 9007199254740993L);
            p.setShort(4, (short) -32768);
            p.setByte(5, (byte) 100);
            p.setDouble(6, 2.5e-300);
            p.setFloat(7, 1.5f);
            p.setString(8, "h\u00e9llo \u4e16\u754c");
            p.setBytes(9, bytes);
            p.setBigDecimal(10, new BigDecimal("-12345678901234567890.123456789012345678"));
            p.setBoolean(11, true);
            p.setDate(12, java.sql.Date.valueOf("2024-02-29"));
            p.setTime(13, java.sql.Time.valueOf("13:45:30"));
            p.setTimestamp(14, java.sql.Timestamp.valueOf("2024-02-29 13:45:30.123"));
            Check.equal(1, p.executeUpdate(), "insert");
            // Setting again reuses the buffers; a longer string grows its buffer.
            p.setInt(1, 2);
            p.setString(8, text(150));
            Check.equal(1, p.executeUpdate(), "second insert");
            p.close();

            IIResultSet rs = s.executeQuery("SELECT i, l, sh, y, d, f, v, b, n, bo, "
                                            + "CAST(dt AS VARCHAR(10)), CAST(tm AS VARCHAR(8)), "
                                            + "CAST(ts AS VARCHAR(30)) FROM pv ORDER BY k");
            Check.isTrue(rs.next(), "row 1");
            Check.equal(-2147483648, rs.getInt(1), "int");
            Check.equal(9007199254740993L, rs.getLong(2), "bigint");
            Check.equal(-32768, rs.getInt(3), "smallint");
            Check.equal(100, rs.getInt(4), "tinyint");
            Check.equal(2.5e-300, rs.getDouble(5), "double");
            Check.equal(1.5, rs.getDouble(6), "float");
            Check.equal("h\u00e9llo \u4e16\u754c", rs.getString(7), "string");
            Check.isTrue(Arrays.equals(bytes, rs.getBytes(8)), "bytes");
            Check.equal("-12345678901234567890.123456789012345678", rs.getString(9), "numeric text");
            Check.equal(1, rs.getInt(10), "boolean");
            Check.equal("2024-02-29", rs.getString(11), "date");
            Check.equal("13:45:30", rs.getString(12), "time");
            Check.isTrue(rs.getString(13).startsWith("2024-02-29 13:45:30.123"), "timestamp " + rs.getString(13));
            Check.isTrue(rs.next(), "row 2");
            Check.equal(text(150), rs.getString(7), "grown string");
            Check.isTrue(!rs.next(), "two rows");
            rs.doClose();
        }));

        cases.run("stream setters read their value at once", () -> withStatement(conn, (c, s) -> {
            fresh(s, "ps", "k INT, v VARCHAR(100), b VARBINARY(100)");
            IIPreparedStatement p = prepare(c, "INSERT INTO ps VALUES (?, ?, ?)", false);
            p.setInt(1, 1);
            // Hexadecimal text: four digits per UTF-16 unit, most significant first.
            p.setAsciiStream(2, new ByteArrayInputStream("004100624E16".getBytes("US-ASCII")), 12);
            p.setBinaryStream(3, new ByteArrayInputStream(new byte[] {5, 6, 7, 8}), 4);
            Check.equal(1, p.executeUpdate(), "ascii and binary streams");
            p.setInt(1, 2);
            p.setCharacterStream(2, new StringReader("read at once"), 12);
            // A known length reads no further; a stream that ends early gives what it had.
            p.setBinaryStream(3, new ByteArrayInputStream(new byte[] {1, 2, 3, 4, 5}), 3);
            Check.equal(1, p.executeUpdate(), "reader");
            p.setInt(1, 3);
            p.setBinaryStream(3, new ByteArrayInputStream(new byte[] {9}), 50);
            p.setNull(2, 12);
            Check.equal(1, p.executeUpdate(), "short stream");
            Check.failsWithKey("NON4_ASCII_STREAM",
                               () -> p.setAsciiStream(2, new ByteArrayInputStream(new byte[6]), 6),
                               "hex digits that are not whole units");
            p.close();
            IIResultSet rs = s.executeQuery("SELECT v, b FROM ps ORDER BY k");
            Check.isTrue(rs.next(), "row 1");
            Check.equal("Ab\u4e16", rs.getString(1), "decoded hex text");
            Check.isTrue(Arrays.equals(new byte[] {5, 6, 7, 8}, rs.getBytes(2)), "binary stream");
            Check.isTrue(rs.next(), "row 2");
            Check.equal("read at once", rs.getString(1), "character stream");
            Check.isTrue(Arrays.equals(new byte[] {1, 2, 3}, rs.getBytes(2)), "known length");
            Check.isTrue(rs.next(), "row 3");
            Check.isTrue(Arrays.equals(new byte[] {9}, rs.getBytes(2)), "stream ended early");
            rs.doClose();
        }));

        cases.run("setNull for every type, and refused types", () -> withStatement(conn, (c, s) -> {
            fresh(s, "pn", "k INT, x VARCHAR(20)");
            int[] types = {-7, -6, -5, -4, -3, -2, -1, 1, 2, 3, 4, 5, 6, 7, 8, 12, -9, -15, -16, 91, 92, 93};
            IIPreparedStatement p = prepare(c, "INSERT INTO pn VALUES (?, ?)", false);
            for (int k = 0; k < types.length; k++) {
                p.setInt(1, k);
                p.setString(2, "not null");  // a value first: setNull must clear it
                p.setNull(2, types[k]);
                Check.equal(1, p.executeUpdate(), "insert NULL of type " + types[k]);
            }
            Check.equal((long) types.length, count(s, "SELECT COUNT(*) FROM pn WHERE x IS NULL"), "all NULL");
            Check.failsWithKey("UNSUPPORTED_JDBC_SQL_TYPE", () -> p.setNull(2, 1111), "OTHER");
            Check.failsWithKey("UNSUPPORTED_JDBC_SQL_TYPE", () -> p.setNull(2, 2004), "BLOB");
            Check.failsWithKey("UNKNOWN_JDBC_SQL_TYPE", () -> p.setNull(2, 16), "BOOLEAN");
            SQLException e = Check.failsWithKey("UNKNOWN_JDBC_SQL_TYPE", () -> p.setNull(2, 70), "70");
            Check.isTrue(e.getMessage().endsWith("|70"), "the type travels as text");
            p.close();
        }));

        cases.run("numeric text at full precision and parameter metadata", () -> withStatement(conn, (c, s) -> {
            fresh(s, "pd", "v VARCHAR(80)");
            IIPreparedStatement p = prepare(c, "INSERT INTO pd VALUES (?)", false);
            String[] values = {"0", "-0.5", "123456789012345678901234567890.123456789",
                               "1E+40", "-9.99999999999999999999999999E-30"};
            for (String v : values) {
                p.setBigDecimal(1, new BigDecimal(v));
                Check.equal(1, p.executeUpdate(), "insert " + v);
            }
            Check.equal(1, p.getParameterCount(), "parameter count");
            p.close();
            IIResultSet rs = s.executeQuery("SELECT v FROM pd");
            for (String v : values) {
                Check.isTrue(rs.next(), "row " + v);
                Check.equal(new BigDecimal(v).toString(), rs.getString(1), "text of " + v);
            }
            rs.doClose();
            IIPreparedStatement q = prepare(c, "SELECT v FROM pd WHERE v = ? OR v = ?", true);
            Check.equal(2, q.getParameterCount(), "two markers");
            q.setString(1, "x");
            q.setBigDecimal(2, new BigDecimal("1.5"));
            // The driver's own description of the marker, passed through unmapped.
            int type = q.getParameterType(1);
            Check.isTrue(type == 1 || type == 12 || type == -9, "a character type: " + type);
            Check.equal(1, q.getParameterNullable(2), "nullable");
            Check.isTrue(q.getParameterSize(2) > 0, "a size");
            Check.fails(SQLException.class, () -> q.getParameterType(3), "no third marker");
            Check.failsWithKey("BAD_PARAMETER_NUMBER", () -> q.getParameterType(65537),
                               "a number beyond 16 bits is not wrapped onto parameter 1");
            Check.failsWithKey("BAD_PARAMETER_NUMBER", () -> q.setInt(65537, 1), "setter too");
            q.close();
        }));

        cases.run("batches: array mode, row by row, 10000 rows, then one row", () -> withStatement(conn, (c, s) -> {
            fresh(s, "pb", "a INT, t VARCHAR(300000)");
            IIPreparedStatement p = prepare(c, "INSERT INTO pb VALUES (?, ?)", false);
            for (int i = 1; i <= 3; i++) {
                p.setInt(1, i);
                p.setString(2, "r" + i);
                p.addBatch();
            }
            int[] r = p.internalExecuteBatch();
            Check.isTrue(Arrays.equals(new int[] {1, 1, 1}, r), "array batch " + Arrays.toString(r));
            Check.isTrue(p.getWarnings() == null, "array batch: no warning");
            Check.equal(3L, count(s, "SELECT COUNT(*) FROM pb WHERE t = 'r' || a"), "three rows");
            // After an array batch one execution sends one row.
            p.setInt(1, 4);
            p.setString(2, "single");
            Check.equal(1, p.executeUpdate(), "single after batch");
            Check.equal(1L, count(s, "SELECT COUNT(*) FROM pb WHERE a = 4"), "one row of 4");

            // A value above the array threshold makes the batch run row by row.
            String big = text(270000);
            p.setInt(1, 5);
            p.setString(2, big);
            p.addBatch();
            p.setInt(1, 6);
            p.setString(2, "small");
            p.addBatch();
            r = p.internalExecuteBatch();
            Check.isTrue(Arrays.equals(new int[] {1, 1}, r), "row-by-row batch " + Arrays.toString(r));
            SQLWarning w = p.getWarnings();
            Check.notNull(w, "row-by-row warning");
            Check.messageKey("BATCH_OUT_OF_MEMORY", w, "row-by-row warning");
            IIPreparedStatement check = prepare(c, "SELECT COUNT(*) FROM pb WHERE a = 5 AND t = ?", true);
            check.setString(1, big);
            IIResultSet rs = check.executeQuery();
            Check.isTrue(rs.next(), "count row");
            Check.equal(1, rs.getInt(1), "the long value arrived whole");
            rs.doClose();
            check.close();
            // The batch's buffers are gone: an execution without setters must not send them.
            Check.fails(SQLException.class, () -> p.executeUpdate(), "execute with nothing bound");
            p.setInt(1, 7);
            p.setString(2, "after");
            Check.equal(1, p.executeUpdate(), "plain execute after row-by-row batch");
            Check.equal(1L, count(s, "SELECT COUNT(*) FROM pb WHERE a = 7 AND t = 'after'"), "row 7");

            s.nativeExecuteUpdate("DELETE FROM pb");
            for (int i = 0; i < 10000; i++) {
                p.setInt(1, i);
                p.setString(2, "v" + i);
                p.addBatch();
            }
            r = p.internalExecuteBatch();
            Check.equal(10000, r.length, "10000 results");
            Check.equal(10000L, count(s, "SELECT COUNT(*) FROM pb WHERE t = 'v' || a"), "10000 rows");
            Check.equal(49995000L, count(s, "SELECT SUM(a) FROM pb"), "every row once");
            p.close();
        }));

        cases.run("a parameter not set again between rows keeps its value", () -> withStatement(conn, (c, s) -> {
            fresh(s, "pk", "a INT, t VARCHAR(20)");
            IIPreparedStatement p = prepare(c, "INSERT INTO pk VALUES (?, ?)", false);
            p.setInt(1, 1);
            p.setString(2, "same");
            p.addBatch();
            p.setInt(1, 2);
            p.addBatch();
            p.setInt(1, 3);
            p.addBatch();
            p.internalExecuteBatch();
            Check.equal(3L, count(s, "SELECT COUNT(*) FROM pk WHERE t = 'same'"), "t repeated in every row");
            p.close();
        }));

        cases.run("streamed Blob and Clob values arrive whole", () -> withStatement(conn, (c, s) -> {
            fresh(s, "pl", "k INT, b VARBINARY(4000000), t VARCHAR(100000)");
            byte[] data = pattern(3 * 1024 * 1024, 7);
            String chars = text(50000);
            IIPreparedStatement p = prepare(c, "INSERT INTO pl VALUES (?, ?, ?)", false);
            TestBlob blob = new TestBlob(data);
            p.setInt(1, 1);
            p.setBlob(2, blob);
            p.setClob(3, chars.length(), new StringReader(chars));
            Check.equal(1, p.executeUpdate(), "insert streamed");
            Check.isTrue(blob.getBytesCalls >= 3, "the blob went in pieces: " + blob.getBytesCalls);
            Check.failsWithKey("BATCH_BLOB", () -> p.addBatch(), "a Blob cannot be held in a batch");
            // Short values are read at once.
            p.setInt(1, 2);
            p.setBlob(2, new TestBlob(new byte[] {1, 2, 3}));
            p.setClob(3, 5, new StringReader("short"));
            Check.equal(1, p.executeUpdate(), "insert short");
            Check.failsWithKey("INCOMPLETE_CHAR_STREAM_READ",
                               () -> p.setClob(3, 12, new StringReader("ten chars!")), "reader ends early");
            Check.failsWithKey("BAD_STREAM_LEN", () -> p.setClob(3, 0, new StringReader("")), "length 0");
            p.close();
            // A streamed Clob whose reader throws half-way: the execution fails with the
            // reader's exception, and the statement is usable again at once.
            IIPreparedStatement r = prepare(c, "INSERT INTO pl VALUES (?, ?, ?)", false);
            r.setInt(1, 3);
            r.setBytes(2, new byte[] {4});
            r.setClob(3, 5000, new java.io.Reader() {
                private int given;

                @Override
                public int read(char[] b, int off, int len) throws IOException {
                    if (given >= 3000) {
                        throw new IOException("reader broke");
                    }
                    int n = Math.min(len, 3000 - given);
                    Arrays.fill(b, off, off + n, 'w');
                    given += n;
                    return n;
                }

                @Override
                public void close() {
                }
            });
            Check.fails(IOException.class, () -> r.executeUpdate(), "the reader throws during execution");
            r.setString(3, "after the failure");
            Check.equal(1, r.executeUpdate(), "the next execution runs");
            r.close();
            Check.equal(1L, count(s, "SELECT COUNT(*) FROM pl WHERE k = 3"), "only the second row went in");
            IIPreparedStatement q = prepare(c, "SELECT COUNT(*) FROM pl WHERE k = 1 AND b = ? AND t = ?", true);
            q.setBytes(1, data);
            q.setString(2, chars);
            IIResultSet rs = q.executeQuery();
            Check.isTrue(rs.next(), "count row");
            Check.equal(1, rs.getInt(1), "every byte and character arrived");
            rs.doClose();
            q.close();
            IIResultSet rs2 = s.executeQuery("SELECT b, t FROM pl WHERE k = 2");
            Check.isTrue(rs2.next(), "short row");
            Check.isTrue(Arrays.equals(new byte[] {1, 2, 3}, rs2.getBytes(1)), "short blob");
            Check.equal("short", rs2.getString(2), "short clob");
            rs2.doClose();
        }));

        cases.run("failed conversions leave the bound buffer alive", () -> withStatement(conn, (c, s) -> {
            fresh(s, "pf", "k INT, b VARBINARY(300000)");
            IIPreparedStatement p = prepare(c, "INSERT INTO pf VALUES (?, ?)", false);
            p.setInt(1, 1);
            p.setBytes(2, new byte[] {9, 8, 7});
            // The stream grows past 128 KiB and then throws: the parameter keeps a live
            // buffer, so the execution sends what it holds (no freed memory).
            Check.fails(IOException.class, () -> p.setBinaryStream(2, new FailingStream(200000), -1),
                        "stream throws after growth");
            Check.equal(1, p.executeUpdate(), "insert after the failed stream");
            Check.failsWithKey("NON4_ASCII_STREAM",
                               () -> p.setAsciiStream(2, new ByteArrayInputStream(new byte[6]), 6),
                               "ascii stream of 6 digits");
            Check.failsWithKey("BAD_STREAM_LEN",
                               () -> p.setBinaryStream(2, new ByteArrayInputStream(new byte[6]), 0),
                               "binary stream of length 0");
            // Set again, the parameter sends its new value.
            p.setInt(1, 3);
            p.setBytes(2, new byte[] {9, 8, 7});
            Check.equal(1, p.executeUpdate(), "insert with a value set again");
            IIResultSet rs = s.executeQuery("SELECT b FROM pf WHERE k = 3");
            Check.isTrue(rs.next(), "row");
            Check.isTrue(Arrays.equals(new byte[] {9, 8, 7}, rs.getBytes(1)), "the value set again");
            rs.doClose();
            // A stream of unknown length grows as it reads.
            p.setInt(1, 2);
            p.setBinaryStream(2, new ByteArrayInputStream(pattern(200000, 3)), -1);
            Check.equal(1, p.executeUpdate(), "unknown length");
            IIPreparedStatement q = prepare(c, "SELECT COUNT(*) FROM pf WHERE k = 2 AND b = ?", true);
            q.setBytes(1, pattern(200000, 3));
            IIResultSet r2 = q.executeQuery();
            Check.isTrue(r2.next(), "count");
            Check.equal(1, r2.getInt(1), "200000 bytes arrived");
            r2.doClose();
            q.close();
            p.close();
        }));

        cases.run("executeUpdate of a query is refused", () -> withStatement(conn, (c, s) -> {
            fresh(s, "pq", "a INT");
            s.nativeExecuteUpdate("INSERT INTO pq VALUES (1)");
            IIPreparedStatement p = prepare(c, "SELECT a FROM pq WHERE a = ?", true);
            p.setInt(1, 1);
            Check.failsWithKey("EXECUTEUPDATE_ON_SELECT", () -> p.executeUpdate(), "executeUpdate of a query");
            IIResultSet rs = p.executeQuery();
            Check.notNull(rs, "the query still runs");
            Check.isTrue(rs.next(), "its row");
            Check.equal(1, rs.getInt(1), "value");
            rs.doClose();
            p.close();
        }));

        cases.finish();
    }
}
