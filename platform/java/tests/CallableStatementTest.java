package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import @NATIVE_PACKAGE@.IDriver;
import @NATIVE_PACKAGE@.IICallableStatement;
import @NATIVE_PACKAGE@.IIStatement;
import java.math.BigDecimal;
import java.sql.SQLException;
import java.util.Arrays;
import vqtest.Cases;
import vqtest.Check;

/**
 * The callable-statement peer against vqeng12's procedures: outputs of every type read
 * back through their getters with wasNull, input/output parameters set before and after
 * their registration, a return value, the parameter error keys, and outputs longer than
 * their buffer, which are read no further than the buffer (run with the sanitizer runtime
 * preloaded in the AddressSanitizer build).
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class CallableStatementTest {
    private CallableStatementTest() {
    }

    static final int BUILD = IDriver.BUILD_NUMBER;

    interface Body {
        void run(IConnection c, IIStatement s) throws Throwable;
    }

    static void withConnection(String conn, Body body) throws Throwable {
        IConnection c = IDriver.makeODBCConnection(conn, null, BUILD);
        Check.notNull(c, "connection");
        Throwable failure = null;
        try {
            IIStatement s = c.nativeCreateStatement();
            Check.notNull(s, "statement");
            body.run(c, s);
            s.close();
        } catch (Throwable t) {
            failure = t;
        }
        try {
            c.close();
        } catch (Throwable t) {
            if (failure == null) {
                failure = t;
            }
        }
        if (failure != null) {
            throw failure;  // the body's failure, not a later one of close
        }
    }

    static void procedure(IIStatement s, String name, String rest) throws SQLException {
        try {
            s.execute("DROP PROCEDURE " + name);  // left by the run over the other link
        } catch (Exception e) {  // the native declares nothing it throws
            Check.isTrue(e instanceof SQLException && e.getMessage().contains("not found"), "drop of " + name + ": " + e);
        }
        s.execute("CREATE PROCEDURE " + name + rest);
    }

    static IICallableStatement prepareCall(IConnection c, String sql) throws SQLException {
        IICallableStatement p = c.nativePrepareCall(sql, false, false);
        Check.notNull(p, "callable statement");
        return p;
    }

    // java.sql.Types codes.
    static final int BIT = -7, TINYINT = -6, BIGINT = -5, VARBINARY = -3, LONGVARBINARY = -4,
        LONGVARCHAR = -1, DECIMAL = 3, INTEGER = 4, SMALLINT = 5, REAL = 7, DOUBLE = 8,
        VARCHAR = 12, DATE = 91, TIME = 92, TIMESTAMP = 93;

    /** One output per type: the procedure's parameter, the registered type. */
    static final String[][] OUTPUTS = {
        {"i INTEGER", "42"},
        {"l BIGINT", "9007199254740993"},
        {"sh SMALLINT", "-32768"},
        {"y TINYINT", "100"},
        {"d DOUBLE", "2.5"},
        {"f REAL", "1.5"},
        {"v VARCHAR(100)", "'h\u00e9llo \u4e16\u754c'"},
        {"b VARBINARY(20)", "X'0001FF7F'"},
        {"n DECIMAL(20,4)", "12.375"},
        {"bo BIT", "1"},
        {"dt DATE", "'2024-02-29'"},
        {"tm TIME", "'13:45:30'"},
        {"ts TIMESTAMP", "'2024-02-29 13:45:30.123'"},
    };
    static final int[] OUTPUT_TYPES = {INTEGER, BIGINT, SMALLINT, TINYINT, DOUBLE, REAL, VARCHAR,
                                       VARBINARY, DECIMAL, BIT, DATE, TIME, TIMESTAMP};

    /** Every output is NULL when k is 0, else its value. */
    static void everyOutputProcedure(IIStatement s) throws SQLException {
        StringBuilder parms = new StringBuilder("(IN k INTEGER");
        StringBuilder body = new StringBuilder(" BEGIN ");
        for (String[] o : OUTPUTS) {
            String name = o[0].substring(0, o[0].indexOf(' '));
            parms.append(", OUT ").append(o[0]);
            body.append("SET ").append(name).append(" = CASE WHEN k = 0 THEN NULL ELSE ")
                .append(o[1]).append(" END; ");
        }
        procedure(s, "every_out", parms.append(")").toString() + body.append("END"));
    }

    static String callText(String name, int markers) {
        StringBuilder sb = new StringBuilder("{call " + name + "(");
        for (int k = 0; k < markers; k++) {
            sb.append(k == 0 ? "?" : ", ?");
        }
        return sb.append(")}").toString();
    }

    public static void main(String[] args) {
        final String conn = args[0];
        final String link = args[1];
        Cases cases = new Cases("CallableStatementTest " + Variant.NAME + " " + link);
        IDriver.initEnv(Variant.LEVEL, false);

        cases.run("outputs of every type through their getters, then as NULL", () -> withConnection(conn, (c, s) -> {
            everyOutputProcedure(s);
            IICallableStatement p = prepareCall(c, callText("every_out", OUTPUTS.length + 1));
            for (int k = 0; k < OUTPUT_TYPES.length; k++) {
                if (OUTPUT_TYPES[k] == DECIMAL) {
                    p.nativeRegisterOutParameter(k + 2, DECIMAL, 2);
                } else {
                    p.nativeRegisterOutParameter(k + 2, OUTPUT_TYPES[k]);
                }
            }
            // Before an execution every output reads as NULL.
            Check.equal(0, p.getInt(2), "int before execution");
            Check.isTrue(p.wasNull(), "NULL before execution");
            Check.equal(null, p.getString(8), "string before execution");

            p.setInt(1, 1);
            p.execute();
            Check.equal(42, p.getInt(2), "int");
            Check.isTrue(!p.wasNull(), "int is not NULL");
            Check.equal(9007199254740993L, p.getLong(3), "bigint");
            Check.equal((short) -32768, p.getShort(4), "smallint");
            Check.equal((byte) 100, p.getByte(5), "tinyint");
            Check.equal(2.5, p.getDouble(6), "double");
            Check.equal(1.5f, p.getFloat(7), "real");
            Check.equal("h\u00e9llo \u4e16\u754c", p.getString(8), "varchar");
            Check.isTrue(Arrays.equals(new byte[] {0, 1, (byte) 0xFF, 0x7F}, p.getBytes(9)), "varbinary");
            // A decimal output is text: every getter reads it, the scale of the
            // registration rounds getBigDecimal without one.
            Check.equal(new BigDecimal("12.38"), p.getBigDecimal(10), "decimal at the registered scale");
            Check.equal(new BigDecimal("12.3750"), p.getBigDecimal(10, 4), "decimal at scale 4");
            Check.equal(new BigDecimal("12.375"), new BigDecimal(p.getString(10)), "decimal as text");
            Check.equal(12.375, p.getDouble(10), "decimal as double");
            Check.equal(12, p.getInt(10), "decimal as int");
            Check.isTrue(p.getBoolean(11), "bit");
            Check.equal(java.sql.Date.valueOf("2024-02-29"), p.getDate(12), "date");
            Check.equal(java.sql.Time.valueOf("13:45:30"), p.getTime(13), "time");
            Check.equal(java.sql.Timestamp.valueOf("2024-02-29 13:45:30.123"), p.getTimestamp(14), "timestamp");
            // Other getters of the same buffers.
            Check.equal("42", p.getString(2), "int as text");
            Check.equal(42L, p.getLong(2), "int as long");

            p.setInt(1, 0);
            p.execute();
            Check.equal(0, p.getInt(2), "NULL int");
            Check.isTrue(p.wasNull(), "int is NULL");
            Check.equal("h\u00e9llo \u4e16\u754c".length(), 8, "sanity");
            Check.equal(null, p.getString(8), "NULL varchar");
            Check.isTrue(p.wasNull(), "varchar is NULL");
            Check.equal(null, p.getBytes(9), "NULL varbinary");
            Check.equal(null, p.getBigDecimal(10), "NULL decimal");
            Check.isTrue(!p.getBoolean(11), "NULL bit");
            Check.isTrue(p.wasNull(), "bit is NULL");
            Check.equal(null, p.getDate(12), "NULL date");
            Check.equal(null, p.getTimestamp(14), "NULL timestamp");
            Check.equal(0.0, p.getDouble(6), "NULL double");
            Check.isTrue(p.wasNull(), "double is NULL");
            p.close();
        }));

        cases.run("input/output parameters set before and after their registration", () -> withConnection(conn, (c, s) -> {
            procedure(s, "bump", "(INOUT counter INTEGER, INOUT label VARCHAR(50), INOUT amount DOUBLE) BEGIN "
                      + "SET counter = counter + 1; SET label = label || '!'; SET amount = amount * 2; END");
            IICallableStatement p = prepareCall(c, callText("bump", 3));
            // A setter, then the registration: the value set is sent.
            p.setInt(1, 41);
            p.nativeRegisterOutParameter(1, INTEGER);
            p.setString(2, "abc");
            p.nativeRegisterOutParameter(2, VARCHAR);
            // The registration, then a setter.
            p.nativeRegisterOutParameter(3, DOUBLE);
            p.setDouble(3, 1.25);
            p.execute();
            Check.equal(42, p.getInt(1), "counter");
            Check.equal("abc!", p.getString(2), "label");
            Check.equal(2.5, p.getDouble(3), "amount");
            Check.isTrue(!p.wasNull(), "amount is not NULL");
            // New inputs through the same buffers.
            p.setInt(1, 7);
            p.setString(2, "a longer label than before");
            p.execute();
            Check.equal(8, p.getInt(1), "counter again");
            Check.equal("a longer label than before!", p.getString(2), "label again");
            // A NULL input: the output is NULL too.
            p.setNull(1, INTEGER);
            p.execute();
            Check.equal(0, p.getInt(1), "NULL counter");
            Check.isTrue(p.wasNull(), "counter is NULL");
            p.close();

            // An input set to NULL before its registration still gets a buffer for the
            // output.
            IICallableStatement q = prepareCall(c, callText("bump", 3));
            q.setNull(2, VARCHAR);
            q.nativeRegisterOutParameter(2, VARCHAR);
            q.setInt(1, 1);
            q.nativeRegisterOutParameter(1, INTEGER);
            q.setDouble(3, 1);
            q.nativeRegisterOutParameter(3, DOUBLE);
            q.execute();
            Check.equal(2, q.getInt(1), "counter beside a NULL label");
            Check.equal(null, q.getString(2), "NULL label");
            Check.isTrue(q.wasNull(), "label is NULL");
            q.setString(2, "x");
            q.execute();
            Check.equal("x!", q.getString(2), "label after the NULL");
            q.close();
        }));

        cases.run("an output whose NULL input has a larger type than its registration", () -> withConnection(conn, (c, s) -> {
            // The output comes back as the C type of the last setter: its buffer must take
            // a value of that type, whatever size the registration gave it.
            procedure(s, "widen", "(INOUT n BIGINT, INOUT ts TIMESTAMP, INOUT d DOUBLE) BEGIN "
                      + "SET n = coalesce(n, 9007199254740993); "
                      + "SET ts = coalesce(ts, '2024-02-29 13:45:30.123'); "
                      + "SET d = coalesce(d, -0.125); END");
            IICallableStatement p = prepareCall(c, callText("widen", 3));
            p.nativeRegisterOutParameter(1, TINYINT);
            p.setNull(1, BIGINT);
            p.nativeRegisterOutParameter(2, DATE);
            p.setNull(2, TIMESTAMP);
            p.nativeRegisterOutParameter(3, BIT);
            p.setDate(3, null);
            p.setNull(3, DOUBLE);
            p.execute();
            Check.equal(9007199254740993L, p.getLong(1), "bigint into a tinyint registration");
            Check.equal(java.sql.Timestamp.valueOf("2024-02-29 13:45:30.123"), p.getTimestamp(2),
                        "timestamp into a date registration");
            Check.equal(-0.125, p.getDouble(3), "double into a bit registration");
            Check.isTrue(!p.wasNull(), "the double is not NULL");
            p.close();
        }));

        cases.run("a return value and an output beside inputs", () -> withConnection(conn, (c, s) -> {
            procedure(s, "scaled", "(IN amount INTEGER, OUT label VARCHAR(20), IN rate DOUBLE) BEGIN "
                      + "SET label = 'n=' || (amount * rate); RETURN amount * 3 END");
            IICallableStatement p = prepareCall(c, "{? = call scaled(?, ?, ?)}");
            p.nativeRegisterOutParameter(1, INTEGER);
            p.setInt(2, 14);
            p.nativeRegisterOutParameter(3, VARCHAR);
            p.setDouble(4, 0.5);
            p.execute();
            Check.equal(42, p.getInt(1), "return value");
            Check.isTrue(!p.wasNull(), "return value is not NULL");
            Check.equal("n=7.0", p.getString(3), "label");
            Check.equal(42L, p.getLong(1), "return value as long");
            p.close();
            Check.failsWithKey("NATIVE_ACCESS_ERROR|CallableStatement", () -> p.getInt(1), "closed");

            // A released callable statement stays usable until the next creation; one
            // left open closes with its connection.
            IICallableStatement q = prepareCall(c, "{? = call scaled(?, ?, ?)}");
            q.release();
            q.nativeRegisterOutParameter(1, INTEGER);
            IICallableStatement open = prepareCall(c, "{? = call scaled(?, ?, ?)}");
            Check.failsWithKey("NATIVE_ACCESS_ERROR|CallableStatement", () -> q.getInt(1), "released");
            open.nativeRegisterOutParameter(1, INTEGER);
            open.nativeRegisterOutParameter(3, VARCHAR);
            open.setInt(2, 1);
            open.setDouble(4, 1);
            open.execute();
            Check.equal(3, open.getInt(1), "the new one works");
            c.close();
            Check.failsWithKey("NATIVE_ACCESS_ERROR|CallableStatement", () -> open.getInt(1),
                               "closed with its connection");
        }));

        cases.run("the parameter error keys", () -> withConnection(conn, (c, s) -> {
            procedure(s, "pair", "(IN a INTEGER, OUT b INTEGER) BEGIN SET b = a * 10; END");
            IICallableStatement p = prepareCall(c, callText("pair", 2));
            p.setInt(1, 4);
            p.nativeRegisterOutParameter(2, INTEGER);
            SQLException twice = Check.failsWithKey("PARAM_REGISTERED_OUT",
                () -> p.nativeRegisterOutParameter(2, VARCHAR), "registered twice");
            Check.isTrue(twice.getMessage().endsWith("|2"), "the index travels as text");
            Check.failsWithKey("PARAM_REGISTERED_IN", () -> p.getInt(1), "input only");
            Check.failsWithKey("PARAM_NOT_REGISTERED", () -> p.getString(3), "never used");
            Check.failsWithKey("UNSUPPORTED_JDBC_SQL_TYPE", () -> p.nativeRegisterOutParameter(3, 2004), "BLOB");
            Check.failsWithKey("UNKNOWN_JDBC_SQL_TYPE", () -> p.nativeRegisterOutParameter(3, 70), "70");
            // A refused type leaves nothing registered.
            Check.failsWithKey("PARAM_NOT_REGISTERED", () -> p.getInt(3), "refused type");
            Check.failsWithKey("BAD_PARAMETER_NUMBER", () -> p.nativeRegisterOutParameter(65538, INTEGER),
                               "a number beyond 16 bits is not wrapped onto parameter 2");
            Check.failsWithKey("BAD_PARAMETER_NUMBER", () -> p.getInt(-1), "negative index");
            // The first registration stays in force.
            p.execute();
            Check.equal(40, p.getInt(2), "output after the refused registrations");
            // A failed getter leaves wasNull as the last one left it.
            Check.failsWithKey("PARAM_NOT_REGISTERED", () -> p.getInt(9), "unknown index");
            Check.isTrue(!p.wasNull(), "wasNull of the last good getter");
            // A text output read as a number it is not.
            p.close();

            procedure(s, "texty", "(OUT t VARCHAR(20)) BEGIN SET t = 'not a number'; END");
            IICallableStatement q = prepareCall(c, callText("texty", 1));
            q.nativeRegisterOutParameter(1, VARCHAR);
            q.execute();
            Check.failsWithKey("INVALID_NUMERIC_STRING", () -> q.getInt(1), "text as int");
            Check.isTrue(!q.wasNull(), "the value was there");
            q.close();
            Check.failsWithKey("NATIVE_ACCESS_ERROR", () -> q.getInt(1), "closed statement");
        }));

        cases.run("outputs longer than their buffer are read no further than it", () -> withConnection(conn, (c, s) -> {
            procedure(s, "long_out", "(IN n INTEGER, OUT t LONG VARCHAR, OUT b LONG BINARY) BEGIN "
                      + "SET t = REPEAT('xy', n); SET b = CAST(REPEAT('ab', n) AS LONG BINARY); END");
            IICallableStatement p = prepareCall(c, callText("long_out", 3));
            p.setMaxFieldSize(16 << 20);
            p.nativeRegisterOutParameter(2, LONGVARCHAR);
            p.nativeRegisterOutParameter(3, LONGVARBINARY);
            // 2,000 units fit; 80,000 units are 160,000 bytes in a 65,536-byte buffer.
            for (int n : new int[] {1000, 40000}) {
                p.setInt(1, n);
                p.execute();
                String t = p.getString(2);
                Check.isTrue(!p.wasNull(), "text is not NULL");
                byte[] b = p.getBytes(3);
                if (n == 1000) {
                    Check.equal(2000, t.length(), "whole text");
                    Check.equal(2000, b.length, "whole bytes");
                } else {
                    // The buffer less its 2-byte terminator, in whole units; all bytes.
                    Check.equal(32767, t.length(), "text cut at the buffer");
                    Check.equal(65536, b.length, "bytes cut at the buffer");
                }
                for (int k = 0; k < t.length(); k++) {
                    if (t.charAt(k) != (k % 2 == 0 ? 'x' : 'y')) {
                        throw new AssertionError("text unit " + k + " of " + n + ": " + (int) t.charAt(k));
                    }
                }
                for (int k = 0; k < b.length; k++) {
                    if (b[k] != (k % 2 == 0 ? 'a' : 'b')) {
                        throw new AssertionError("byte " + k + " of " + n + ": " + b[k]);
                    }
                }
            }
            p.close();
        }));

        cases.finish();
    }
}
