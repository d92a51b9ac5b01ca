package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import @NATIVE_PACKAGE@.IDriver;
import java.sql.SQLException;
import vqtest.Cases;
import vqtest.Check;
import vqtest.JniTest;

import static vqtest.@VARIANT@.Db.*;

/**
 * The connection operations of the native peer: auto-commit, isolation levels, read-only,
 * catalog, native SQL, string and number attributes, commit and rollback (seen from a
 * second connection), warnings, and the closed object.
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class ConnectionTest {
    private ConnectionTest() {
    }

    // ODBC connection attributes.
    static final short SQL_ATTR_ACCESS_MODE = 101;
    static final short SQL_ATTR_AUTOCOMMIT = 102;
    static final short SQL_ATTR_TXN_ISOLATION = 108;
    static final short SQL_ATTR_TRACEFILE = 105;
    static final short SQL_ATTR_CURRENT_CATALOG = 109;

    public static void main(String[] args) {
        final String conn = args[0];
        final String link = args[1];
        Cases cases = Db.start("ConnectionTest", args);

        cases.run("auto-commit is on at first and follows setAutoCommit", () -> withConnection(conn, c -> {
            Check.isTrue(c.getAutoCommit(), "on at first");
            Check.equal(1, c.getNumAttr(SQL_ATTR_AUTOCOMMIT), "attribute 102");
            c.setAutoCommit(false);
            Check.isTrue(!c.getAutoCommit(), "off");
            Check.equal(0, c.getNumAttr(SQL_ATTR_AUTOCOMMIT), "attribute 102 off");
            c.setAutoCommit(true);
            Check.isTrue(c.getAutoCommit(), "on again");
        }));

        cases.run("isolation levels, the snapshot levels through the driver's attribute", () -> withConnection(conn, c -> {
            for (int level : new int[] {1, 2, 4, 8, 32, 64, 128}) {
                c.setTransactionIsolation(level);
                Check.equal(level, c.getTransactionIsolation(), "level " + level);
                Check.equal(level, c.getNumAttr(SQL_ATTR_TXN_ISOLATION), "attribute 108 at " + level);
            }
            // Any other value goes to the standard attribute, which refuses it.
            SQLException e = Check.fails(SQLException.class, () -> c.setTransactionIsolation(16),
                                         "level 16");
            Check.equal("HY024", e.getSQLState(), "a bad value");
            Check.equal(128, c.getTransactionIsolation(), "unchanged by the refusal");
        }));

        cases.run("read-only follows setReadOnly", () -> withConnection(conn, c -> {
            Check.isTrue(!c.isReadOnly(), "read-write at first");
            c.setReadOnly(true);
            Check.isTrue(c.isReadOnly(), "read-only");
            Check.equal(1, c.getNumAttr(SQL_ATTR_ACCESS_MODE), "attribute 101");
            c.setReadOnly(false);
            Check.isTrue(!c.isReadOnly(), "read-write again");
        }));

        cases.run("the catalog: the driver's refusal reaches Java; no value reads as null", () -> withConnection(conn, c -> {
            SQLException e = Check.fails(SQLException.class, () -> c.setCatalog("vqcatalog"),
                                         "setCatalog");
            Check.equal("HYC00", e.getSQLState(), "the driver does not set catalogs");
            // The driver has no value: nothing is read from a length it never wrote.
            Check.equal(null, c.getStrAttr(SQL_ATTR_CURRENT_CATALOG), "getStrAttr(109)");
            c.getCatalog();  // no value and no error
            Check.failsWithKey("NULL_POINTER", () -> c.setCatalog(null), "null catalog");
        }));

        cases.run("string attributes are set and read back, growing the shared buffer", () -> withConnection(conn, c -> {
            Check.equal("", c.getStrAttr(SQL_ATTR_TRACEFILE), "empty at first");
            c.setAttribute(SQL_ATTR_TRACEFILE, "vqtrace.log");
            Check.equal("vqtrace.log", c.getStrAttr(SQL_ATTR_TRACEFILE), "a short value");
            // Longer than the shared buffer: it grows and the value comes back whole.
            String longName = "/tmp/" + "t".repeat(400) + ".log";
            c.setAttribute(SQL_ATTR_TRACEFILE, longName);
            Check.equal(longName, c.getStrAttr(SQL_ATTR_TRACEFILE), "a long value");
            SQLException e = Check.fails(SQLException.class,
                                         () -> c.setAttribute(SQL_ATTR_TRACEFILE, null), "null value");
            Check.equal("HY009", e.getSQLState(), "the driver refuses a null text");
        }));

        cases.run("nativeSQL translates escapes and keeps long texts whole", () -> withConnection(conn, c -> {
            Check.equal("", c.nativeSQL(""), "empty text");
            Check.failsWithKey("NULL_POINTER", () -> c.nativeSQL(null), "null text");
            String plain = "SELECT 1";
            Check.equal(plain, c.nativeSQL(plain), "nothing to translate");
            String escaped = c.nativeSQL("SELECT {d '2024-02-29'}");
            Check.isTrue(!escaped.contains("{"), "the escape is translated: " + escaped);
            Check.isTrue(escaped.contains("2024-02-29"), "the value stays: " + escaped);
            StringBuilder longText = new StringBuilder("SELECT ");
            for (int i = 0; i < 60; i++) {
                longText.append(i == 0 ? "" : ", ").append("'col").append(i).append("'");
            }
            String text = longText.toString();
            Check.isTrue(text.length() > 127, "longer than the first buffer");
            Check.equal(text, c.nativeSQL(text), "a long text");
        }));

        cases.run("string attributes the driver does not know raise its diagnostics", () -> withConnection(conn, c -> {
            SQLException e = Check.fails(SQLException.class, () -> c.setAttribute(-5, "x"),
                                         "unknown attribute");
            Check.equal("HYC00", e.getSQLState(), "not supported");
            c.setAttribute(1041, "ignored");  // attributes 1041 and 1042 are passed over
            c.setAttribute(1042, null);
            c.setAttribute(1909, "VqJavaTest");  // the client's API name
            Check.isTrue(!c.isClosed(), "still open");
        }));

        cases.run("commit and rollback, checked from a second connection", () -> {
            String table = "jni_tx_" + Variant.NAME + "_" + link;
            long mine = JniTest.connect(conn);
            long other = JniTest.connect(conn);
            Check.isTrue(mine != 0 && other != 0, "raw connects: " + JniTest.lastError());
            IConnection c = IDriver.joinODBCConnection(mine, JniTest.releaseFunction(), 0, BUILD);
            try {
                Check.equal(0, JniTest.execDirect(mine, "CREATE TABLE " + table + " (k INT PRIMARY KEY)"),
                            "create");
                c.setAutoCommit(false);
                Check.equal(0, JniTest.execDirect(mine, "INSERT INTO " + table + " VALUES (1)"), "insert 1");
                c.rollback();
                // The rolled-back key is free for the other connection.
                Check.equal(0, JniTest.execDirect(other, "INSERT INTO " + table + " VALUES (1)"),
                            "key 1 after rollback");
                Check.equal(0, JniTest.execDirect(mine, "INSERT INTO " + table + " VALUES (2)"), "insert 2");
                c.commit();
                // The committed key is taken.
                Check.isTrue(JniTest.execDirect(other, "INSERT INTO " + table + " VALUES (2)") < 0,
                             "key 2 after commit");
            } finally {
                c.close();  // the release function disconnects and frees `mine`
                JniTest.disconnect(other);
            }
        });

        cases.run("warnings are null at first and cleared by clearWarnings", () -> withConnection(conn, c -> {
            Check.equal(null, c.getWarnings(), "no warning");
            c.clearWarnings();
            Check.equal(null, c.getWarnings(), "still none");
        }));

        cases.run("setIsolationOnOpen never raises; setDefaultFetchSize keeps the connection usable", () -> withConnection(conn, c -> {
            c.setIsolationOnOpen(0);
            c.setIsolationOnOpen(1);
            c.setDefaultFetchSize(0);
            c.setDefaultFetchSize(-5);
            c.setDefaultFetchSize(100);
            Check.isTrue(c.getAutoCommit(), "usable");
        }));

        cases.run("a closed connection raises the closed-object error", () -> {
            IConnection c = connect(conn);
            c.setAutoCommit(false);
            c.close();
            Check.isTrue(c.isClosed(), "isClosed");
            Check.failsWithKey("NATIVE_ACCESS_ERROR|Connection", c::getAutoCommit, "getAutoCommit");
            Check.failsWithKey("NATIVE_ACCESS_ERROR|Connection", () -> c.setReadOnly(true), "setReadOnly");
            Check.failsWithKey("NATIVE_ACCESS_ERROR|Connection", c::commit, "commit");
            Check.failsWithKey("NATIVE_ACCESS_ERROR|Connection", () -> c.nativeSQL("x"), "nativeSQL");
            Check.failsWithKey("NATIVE_ACCESS_ERROR|Connection", c::getODBCHandle, "getODBCHandle");
            c.close();  // a second close does nothing
            c.nFree();  // and so does nFree
        });

        cases.run("nFree ends a connection as close does", () -> {
            IConnection c = connect(conn);
            c.nFree();
            Check.isTrue(c.isClosed(), "isClosed after nFree");
            Check.equal(0L, c.nativeHandle(), "detached");
        });

        cases.finish();
    }
}
