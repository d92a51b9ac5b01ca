package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IIStatement;
import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.sql.SQLException;
import java.sql.SQLWarning;
import java.util.ArrayList;
import java.util.List;
import vqtest.Cases;
import vqtest.Check;

import static vqtest.@VARIANT@.Db.*;

/**
 * Server messages and file-transfer requests delivered to the Java connection: messages
 * that lead a reply (on the thread running the statement) and messages sent on their own
 * (on whatever thread the client library reads them), each a SQLWarning with the
 * message type | 0x80 as vendor code; no thread stays attached to the VM afterwards; a
 * file-transfer request allowed or refused by the Java answer; nothing after close.
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class CallbacksTest {
    private CallbacksTest() {
    }

    interface Body {
        void run(@PEER_PACKAGE@.IConnection c, IIStatement s) throws Throwable;
    }

    // A statement of a new connection, the connection as its peer class.
    static void withStatement(String conn, Body body) throws Throwable {
        Db.withStatement(conn, (c, s) -> body.run(peer(c), s));
    }

    // The connection as the class the native side looks up (a subclass at level 3).
    static @PEER_PACKAGE@.IConnection peer(Object c) {
        return (@PEER_PACKAGE@.IConnection) c;
    }

    // A scripted fault rule of the server for this connection.
    static void rule(IIStatement s, String rule) throws SQLException {
        s.execute("SET TEMPORARY OPTION vqeng_fault = '" + rule + "'");
    }

    // The messages once `count` have arrived (they may come on another thread).
    static List<@PEER_PACKAGE@.IConnection.Message> awaitMessages(@PEER_PACKAGE@.IConnection c, int count) throws InterruptedException {
        long deadline = System.nanoTime() + 10_000_000_000L;
        synchronized (c.messages) {
            while (c.messages.size() < count) {
                long left = deadline - System.nanoTime();
                if (left <= 0) {
                    break;
                }
                c.messages.wait(Math.max(1, left / 1_000_000));
            }
            return new ArrayList<>(c.messages);
        }
    }

    static void checkWarning(@PEER_PACKAGE@.IConnection.Message m, String text, int vendorCode, String what) {
        Check.isTrue(m.warning instanceof SQLWarning, what + ": a SQLWarning");
        Check.equal(text, m.warning.getMessage(), what + ": reason");
        Check.equal(null, m.warning.getSQLState(), what + ": no SQLSTATE");
        Check.equal(vendorCode, m.warning.getErrorCode(), what + ": type | 0x80");
    }

    // Whether the thread of that name is still alive after waiting for it to end (the
    // handler records the message before the native side detaches its thread).
    static boolean threadStaysAlive(String name) throws InterruptedException {
        for (Thread t : Thread.getAllStackTraces().keySet()) {
            if (t.getName().equals(name)) {
                t.join(10_000);
                return t.isAlive();
            }
        }
        return false;
    }

    public static void main(String[] args) {
        final String conn = args[0];
        Cases cases = Db.start("CallbacksTest", args);

        cases.run("a message leading a reply reaches the handler on the statement's thread",
                  () -> withStatement(conn, (c, s) -> {
            c.setVSRMessageHandler();
            c.setVSRMessageHandler();  // once only: one delivery per message
            rule(s, "any nth=1 text=vqmsglead message 3 7 hello from the server");
            Check.isTrue(s.execute("SELECT 1 AS vqmsglead"), "the statement runs");
            List<@PEER_PACKAGE@.IConnection.Message> got = awaitMessages(c, 1);
            Check.equal(1, got.size(), "one message");
            checkWarning(got.get(0), "hello from the server", 131, "leading message");
            Check.equal(Thread.currentThread().getName(), got.get(0).threadName,
                        "delivered on the statement's thread");
        }));

        cases.run("a message sent on its own is delivered, and no thread stays attached",
                  () -> withStatement(conn, (c, s) -> {
            c.setVSRMessageHandler();
            rule(s, "any nth=1 text=vqmsgnotice notice 5 0 caf\u00e9 notice");
            Check.isTrue(s.execute("SELECT 2 AS vqmsgnotice"), "the statement runs");
            List<@PEER_PACKAGE@.IConnection.Message> got = awaitMessages(c, 1);
            Check.equal(1, got.size(), "one message");
            checkWarning(got.get(0), "caf\u00e9 notice", 133, "notice");
            String thread = got.get(0).threadName;
            if (!thread.equals(Thread.currentThread().getName())) {
                // A thread of the client library, attached for the call: gone again.
                Check.isTrue(!threadStaysAlive(thread), "thread " + thread + " detached");
            }
            // The connection goes on working.
            Check.isTrue(s.execute("SELECT 3"), "a later statement");
        }));

        cases.run("without a handler nothing is delivered", () -> withStatement(conn, (c, s) -> {
            rule(s, "any text=vqmsgnone message 3 0 unheard");
            Check.isTrue(s.execute("SELECT 1 AS vqmsgnone"), "the statement runs");
            Check.equal(0, c.messages.size(), "no message");
        }));

        cases.run("a file transfer is asked of Java and follows its answer",
                  () -> withStatement(conn, (c, s) -> {
            File f = File.createTempFile("vqclientfile", ".txt");
            try {
                Files.write(f.toPath(), "client bytes".getBytes(StandardCharsets.UTF_8));
                c.setVCValidateFileTransferCallback();
                String path = f.getAbsolutePath().replace("'", "''");
                c.fileTransferAnswer = 0;
                Check.fails(SQLException.class,
                            () -> s.execute("SELECT vqeng_read_client_file('" + path + "')"),
                            "refused by Java");
                int asked;
                synchronized (c.fileTransferRequests) {
                    asked = c.fileTransferRequests.size();
                    Check.isTrue(asked >= 1, "Java was asked");
                    for (String request : c.fileTransferRequests) {
                        Check.isTrue(request.startsWith(f.getAbsolutePath() + "|"),
                                     "the file's name: " + request);
                    }
                }
                c.fileTransferAnswer = 1;
                Check.isTrue(s.execute("SELECT vqeng_read_client_file('" + path + "')"),
                             "allowed by Java");
                synchronized (c.fileTransferRequests) {
                    Check.isTrue(c.fileTransferRequests.size() > asked, "asked again: "
                                 + c.fileTransferRequests);
                }
            } finally {
                f.delete();
            }
        }));

        cases.finish();
    }
}
