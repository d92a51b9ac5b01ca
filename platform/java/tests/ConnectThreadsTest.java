package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import vqtest.Cases;
import vqtest.Check;

import static vqtest.@VARIANT@.Db.*;

/**
 * Connections made from several Java threads at once, the first of them racing for the
 * shared ODBC environment, each used and closed on its own thread; and one connection
 * used from several threads, which its Java monitor serialises.
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class ConnectThreadsTest {
    private ConnectThreadsTest() {
    }

    static final int THREADS = 4;

    interface Work {
        void run(int index) throws Throwable;
    }

    /** Runs the work on THREADS threads released together; the failures, if any. */
    static List<Throwable> together(Work work) throws InterruptedException {
        CountDownLatch start = new CountDownLatch(1);
        ConcurrentLinkedQueue<Throwable> failures = new ConcurrentLinkedQueue<>();
        List<Thread> threads = new ArrayList<>();
        for (int i = 0; i < THREADS; i++) {
            final int index = i;
            Thread t = new Thread(() -> {
                try {
                    start.await();
                    work.run(index);
                } catch (Throwable e) {
                    failures.add(e);
                }
            });
            threads.add(t);
            t.start();
        }
        start.countDown();
        for (Thread t : threads) {
            t.join(TimeUnit.SECONDS.toMillis(120));
            Check.isTrue(!t.isAlive(), "a thread finished in time");
        }
        return new ArrayList<>(failures);
    }

    public static void main(String[] args) {
        final String conn = args[0];
        Cases cases = Db.start("ConnectThreadsTest", args);

        cases.run("threads connect at once, the first ones racing for the environment", () -> {
            List<Throwable> failures = together(i -> {
                for (int round = 0; round < 3; round++) {
                    IConnection c = connect(conn);
                    Check.isTrue(c.getAutoCommit(), "usable");
                    c.setReadOnly(round % 2 == 0);
                    Check.equal(round % 2 == 0, c.isReadOnly(), "its own attribute");
                    c.close();
                    Check.isTrue(c.isClosed(), "closed");
                }
            });
            Check.equal(List.of(), failures, "failures");
        });

        cases.run("one connection shared by threads, closed by one of them", () -> {
            IConnection c = connect(conn);
            List<Throwable> failures = together(i -> {
                for (int round = 0; round < 20; round++) {
                    try {
                        c.setTransactionIsolation(round % 2 == 0 ? 1 : 2);
                        c.getTransactionIsolation();
                        if (i == 0 && round == 10) {
                            c.close();
                        }
                    } catch (Exception e) {
                        // After the close every call finds no peer, and says so.
                        Check.isTrue(e instanceof java.sql.SQLException, "an SQLException: " + e);
                        Check.messageKey("NATIVE_ACCESS_ERROR", e, "after close");
                    }
                }
            });
            Check.equal(List.of(), failures, "failures");
            Check.isTrue(c.isClosed(), "closed");
        });

        cases.finish();
    }
}
