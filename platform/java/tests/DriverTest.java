package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import @NATIVE_PACKAGE@.IDriver;
import java.sql.SQLException;
import vqtest.Cases;
import vqtest.Check;
import vqtest.JniTest;

import static vqtest.@VARIANT@.Db.*;

/**
 * The door of the native library: the version natives, set-up and teardown of the
 * shared environment, connect by connection string (with and without URL), the
 * build-number gate, the exception chain of a failed connect, the join form with its
 * release function, and peer addresses that need all 64 bits.
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class DriverTest {
    private DriverTest() {
    }

    public static void main(String[] args) {
        final String conn = args[0];
        Cases cases = Db.cases("DriverTest", args);

        cases.run("the version natives answer this package's version", () -> {
            Check.equal(Variant.MAJOR_VERSION, IDriver.getNativeLibraryMajorVersion(), "major");
            Check.equal(0, IDriver.getNativeLibraryMinorVersion(), "minor");
        });

        cases.run("a native of a connection before initEnv raises the key, no crash", () -> {
            // No wrapper exists yet: the library still answers with an SQLException.
            Check.fails(SQLException.class, () -> IDriver.makeODBCConnection(conn, null, BUILD - 1),
                        "mismatch before initEnv");
        });

        IDriver.initEnv(Variant.LEVEL, false);

        cases.run("a connection string connects; close ends it", () -> {
            IConnection c = IDriver.makeODBCConnection(conn, null, BUILD);
            Check.notNull(c, "connection");
            Check.isTrue(!c.isClosed(), "open after connect");
            Check.isTrue(c.getClass().getName().startsWith(Variant.PEER_PACKAGE + "."),
                         "the peer is the looked-up class: " + c.getClass().getName());
            c.close();
            Check.isTrue(c.isClosed(), "closed after close");
            Check.equal(0L, c.nativeHandle(), "nhandle after close");
        });

        cases.run("a connection string and a URL connect", () -> {
            IConnection c = IDriver.makeODBCConnection(conn, "jdbc:vellumcrest:" + conn, BUILD);
            Check.notNull(c, "connection");
            Check.isTrue(!c.isClosed(), "open");
            c.close();
        });

        cases.run("the peer address and the ODBC handle cross Java whole", () -> {
            IConnection c = IDriver.makeODBCConnection(conn, null, BUILD);
            try {
                long peer = c.nativeHandle();
                long handle = c.getODBCHandle();
                // Heap addresses of a 64-bit process lie above 4 GiB; a truncated or
                // sign-extended 32-bit value would not reach the native object again.
                Check.isTrue((peer >>> 32) != 0, "peer address above 4 GiB: 0x" + Long.toHexString(peer));
                Check.isTrue((handle >>> 32) != 0, "handle above 4 GiB: 0x" + Long.toHexString(handle));
                Check.isTrue(c.getAutoCommit(), "the peer is reached through nhandle");
            } finally {
                c.close();
            }
        });

        cases.run("another build number is refused before any ODBC call", () -> {
            SQLException e = Check.failsWithKey("VCJAR_MISMATCH",
                () -> IDriver.makeODBCConnection(conn, null, BUILD - 1), "build 2565");
            Check.equal(null, e.getSQLState(), "a key carries no SQLSTATE");
            // The gate comes first: even a connection string that could never connect
            // reports the mismatch.
            Check.failsWithKey("VCJAR_MISMATCH",
                () -> IDriver.makeODBCConnection("UID=nobody", null, 0), "build 0");
        });

        cases.run("a wrong password gives the server's SQLSTATE, code and reason", () -> {
            String wrong = conn.replace("PWD=sql", "PWD=wrong");
            SQLException e = Check.fails(SQLException.class,
                () -> IDriver.makeODBCConnection(wrong, null, BUILD), "wrong password");
            Check.sqlState("28000", -103, e, "wrong password");
            Check.isTrue(e.getMessage() != null && e.getMessage().contains("password"),
                         "reason: " + e.getMessage());
            Check.isTrue(e.getMessage().length() <= 1024, "reason within 1024 units");
        });

        cases.run("a server that is not there gives an SQLException chain", () -> {
            SQLException e = Check.fails(SQLException.class,
                () -> IDriver.makeODBCConnection("UID=dba;PWD=sql;ServerName=vq_no_such_server;"
                                                     + "CommLinks=ShMem", null, BUILD),
                "no server");
            Check.notNull(e.getSQLState(), "SQLSTATE");
            Check.equal(5, e.getSQLState().length(), "SQLSTATE length");
        });

        cases.run("an ODBC call on an invalid handle gives HY000 and vendor code -1", () -> {
            IConnection c = IDriver.joinODBCConnection(0, 0, 0, BUILD);
            Check.isTrue(c.isClosed(), "no handle: closed");
            SQLException e = Check.failsWithKey("BAD_ODBC_HANDLE", c::isReadOnly, "isReadOnly");
            Check.sqlState("HY000", -1, e, "invalid handle");
            c.close();
        });

        cases.run("a null connection string is refused", () -> {
            Check.failsWithKey("NULL_POINTER", () -> IDriver.makeODBCConnection(null, null, BUILD),
                               "null string");
        });

        cases.run("finiEnv releases the wrappers; initEnv builds them again", () -> {
            IDriver.finiEnv();
            IDriver.initEnv(Variant.LEVEL, false);
            IConnection c = IDriver.makeODBCConnection(conn, null, BUILD);
            Check.isTrue(!c.isClosed(), "connect after a new initEnv");
            c.close();
        });

        cases.run("a second initEnv with another level changes nothing", () -> {
            IDriver.initEnv(Variant.LEVEL == 4 ? 0 : 4, true);
            IConnection c = IDriver.makeODBCConnection(conn, null, BUILD);
            Check.isTrue(c.getClass().getName().startsWith(Variant.PEER_PACKAGE + "."),
                         "still this variant's classes: " + c.getClass().getName());
            c.close();
        });

        cases.run("the join form hands the handle back through its release function", () -> {
            long dbc = JniTest.connect(conn);
            Check.isTrue(dbc != 0, "raw connect: " + JniTest.lastError());
            long context = JniTest.highAddress();
            Check.isTrue((context >>> 32) != 0 && (int) context < 0, "a context above 4 GiB");
            int before = JniTest.releaseCount();
            IConnection c = IDriver.joinODBCConnection(dbc, JniTest.releaseFunction(), context, BUILD);
            Check.notNull(c, "joined connection");
            Check.equal(dbc, c.getODBCHandle(), "the joined handle");
            Check.isTrue(!c.isClosed(), "open");
            c.setAutoCommit(false);  // transaction control is allowed with a release function
            Check.isTrue(!c.getAutoCommit(), "auto-commit off");
            c.rollback();
            c.close();
            Check.equal(before + 1, JniTest.releaseCount(), "released once");
            Check.equal(context, JniTest.lastReleasedContext(), "context given back whole");
            Check.equal(dbc, JniTest.lastReleasedHandle(), "handle given back whole");
            c.close();
            Check.equal(before + 1, JniTest.releaseCount(), "a second close releases nothing");
        });

        cases.run("the join form without a release function allows no transaction control", () -> {
            long dbc = JniTest.connect(conn);
            Check.isTrue(dbc != 0, "raw connect: " + JniTest.lastError());
            try {
                IConnection c = IDriver.joinODBCConnection(dbc, 0, 0, BUILD);
                Check.failsWithKey("DISABLED_FUNCTION|Connection.setAutoCommit( jboolean )",
                                   () -> c.setAutoCommit(false), "setAutoCommit");
                Check.failsWithKey("DISABLED_FUNCTION|Connection.setTransactionIsolation( int )",
                                   () -> c.setTransactionIsolation(2), "setTransactionIsolation");
                Check.failsWithKey("DISABLED_FUNCTION|Connection.commit()", c::commit, "commit");
                Check.failsWithKey("DISABLED_FUNCTION|Connection.rollback()", c::rollback, "rollback");
                Check.isTrue(c.getAutoCommit(), "reading is allowed");
                c.setAllowTransactionControl(true);
                c.commit();
                int before = JniTest.releaseCount();
                c.close();
                Check.equal(before, JniTest.releaseCount(), "no release function to call");
            } finally {
                JniTest.disconnect(dbc);
            }
        });

        cases.run("a join with another build number gives the handle back", () -> {
            long dbc = JniTest.connect(conn);
            Check.isTrue(dbc != 0, "raw connect: " + JniTest.lastError());
            int before = JniTest.releaseCount();
            Check.failsWithKey("VCJAR_MISMATCH",
                () -> IDriver.joinODBCConnection(dbc, JniTest.releaseFunction(), 7, BUILD + 1),
                "join with build 2567");
            Check.equal(before + 1, JniTest.releaseCount(), "released at once");
            Check.equal(dbc, JniTest.lastReleasedHandle(), "the handle");
        });

        cases.finish();
    }
}
