package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import @NATIVE_PACKAGE@.IIResultSet;
import @NATIVE_PACKAGE@.IIStatement;
import java.sql.SQLException;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;
import vqtest.Cases;
import vqtest.Check;

import static vqtest.@VARIANT@.Db.*;

/**
 * Statements and threads: cancel from a second thread while a long statement runs,
 * several threads each with a statement of their own on one connection, and a statement
 * closed while another thread keeps cancelling it.
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class StatementThreadsTest {
    private StatementThreadsTest() {
    }

    // Runs for many seconds in the server unless it is cancelled.
    static final String LONG_QUERY = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                     + "WHERE i < 2000000000) SELECT COUNT(*) FROM n";

    static void joinAll(List<Thread> threads, AtomicReference<Throwable> failure) throws Throwable {
        for (Thread t : threads) {
            t.join(TimeUnit.SECONDS.toMillis(120));
            Check.isTrue(!t.isAlive(), "thread " + t.getName() + " finished (no deadlock)");
        }
        if (failure.get() != null) {
            throw failure.get();
        }
    }

    public static void main(String[] args) {
        final String conn = args[0];
        Cases cases = Db.start("StatementThreadsTest", args);

        cases.run("cancel from a second thread stops a long statement and keeps the connection", () -> {
            IConnection c = connect(conn);
            try {
                IIStatement s = c.nativeCreateStatement();
                CountDownLatch started = new CountDownLatch(1);
                AtomicReference<Throwable> outcome = new AtomicReference<>();
                long[] elapsed = new long[1];
                Thread runner = new Thread(() -> {
                    started.countDown();
                    long t0 = System.nanoTime();
                    try {
                        s.execute(LONG_QUERY);
                    } catch (Throwable t) {
                        outcome.set(t);
                    }
                    elapsed[0] = System.nanoTime() - t0;
                }, "runner");
                runner.start();
                Check.isTrue(started.await(30, TimeUnit.SECONDS), "runner started");
                // Cancel repeatedly until the statement gives up: the first cancel may come
                // before the request reached the server.
                long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(60);
                while (runner.isAlive() && System.nanoTime() < deadline) {
                    Thread.sleep(200);
                    s.cancel();
                }
                runner.join(TimeUnit.SECONDS.toMillis(30));
                Check.isTrue(!runner.isAlive(), "the statement returned");
                Check.isTrue(outcome.get() instanceof SQLException,
                             "the cancelled statement raised: " + outcome.get());
                Check.isTrue(elapsed[0] < TimeUnit.SECONDS.toNanos(30), "returned promptly");
                IIResultSet rs = s.executeQuery("SELECT 7");
                Check.isTrue(rs.next(), "the statement works again");
                Check.equal(7, rs.getInt(1), "its value");
                IIStatement other = c.nativeCreateStatement();
                other.nativeExecuteUpdate("DROP TABLE IF EXISTS after_cancel");
                Check.isTrue(!other.execute("CREATE TABLE after_cancel (a INT)"),
                             "the connection works again");
                other.close();
                s.close();
                s.cancel();
            } finally {
                c.close();
            }
        });

        cases.run("several threads, each with its own statement on one connection", () -> {
            IConnection c = connect(conn);
            try {
                IIStatement setup = c.nativeCreateStatement();
                setup.nativeExecuteUpdate("DROP TABLE IF EXISTS shared");
                setup.nativeExecuteUpdate("CREATE TABLE shared (a INT)");
                setup.nativeExecuteUpdate("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                          + "WHERE i < 100) INSERT INTO shared SELECT i FROM n");
                setup.close();
                AtomicReference<Throwable> failure = new AtomicReference<>();
                List<Thread> threads = new ArrayList<>();
                for (int t = 0; t < 4; t++) {
                    final int id = t;
                    threads.add(new Thread(() -> {
                        try {
                            for (int round = 0; round < 20; round++) {
                                IIStatement s = c.nativeCreateStatement();
                                IIResultSet rs = s.executeQuery("SELECT a FROM shared WHERE a > " + id);
                                int n = 0;
                                while (rs.next()) {
                                    n++;
                                }
                                Check.equal(100 - id, n, "rows seen by thread " + id);
                                if (round % 2 == 0) {
                                    s.close();
                                } else {
                                    s.release();
                                }
                            }
                        } catch (Throwable e) {
                            failure.compareAndSet(null, e);
                        }
                    }, "worker-" + t));
                }
                threads.forEach(Thread::start);
                joinAll(threads, failure);
            } finally {
                c.close();
            }
        });

        cases.run("a statement closed while another thread cancels it", () -> {
            IConnection c = connect(conn);
            try {
                for (int round = 0; round < 20; round++) {
                    IIStatement s = c.nativeCreateStatement();
                    AtomicReference<Throwable> failure = new AtomicReference<>();
                    CountDownLatch go = new CountDownLatch(1);
                    List<Thread> threads = new ArrayList<>();
                    threads.add(new Thread(() -> {
                        try {
                            go.await();
                            for (int i = 0; i < 200; i++) {
                                s.cancel();
                            }
                        } catch (Throwable e) {
                            failure.compareAndSet(null, e);
                        }
                    }, "canceller"));
                    threads.add(new Thread(() -> {
                        try {
                            go.await();
                            s.executeQuery("SELECT 1");
                        } catch (Throwable e) {
                            // Cancelled meanwhile is a possible outcome; anything else is not.
                            if (!(e instanceof SQLException)) {
                                failure.compareAndSet(null, e);
                            }
                        }
                        s.close();
                    }, "closer"));
                    threads.forEach(Thread::start);
                    go.countDown();
                    joinAll(threads, failure);
                }
                IIStatement last = c.nativeCreateStatement();
                Check.notNull(last.executeQuery("SELECT 1"), "the connection is usable");
            } finally {
                c.close();
            }
        });

        cases.run("a connection closed while other threads execute and release its statements", () -> {
            for (int round = 0; round < 10; round++) {
                IConnection c = connect(conn);
                AtomicReference<Throwable> failure = new AtomicReference<>();
                CountDownLatch running = new CountDownLatch(2);
                List<Thread> threads = new ArrayList<>();
                for (int t = 0; t < 2; t++) {
                    final boolean releasing = t == 1;
                    threads.add(new Thread(() -> {
                        try {
                            IIStatement s = c.nativeCreateStatement();
                            running.countDown();
                            for (int i = 0; i < 1000; i++) {
                                s.executeQuery("SELECT " + i);
                                if (releasing) {
                                    s.release();
                                    s = c.nativeCreateStatement();
                                }
                            }
                        } catch (Throwable e) {
                            // Once the connection is closed, its objects answer with
                            // NATIVE_ACCESS_ERROR; nothing else may come.
                            if (!(e instanceof SQLException) || !e.getMessage().startsWith("NATIVE_ACCESS_ERROR")) {
                                failure.compareAndSet(null, e);
                            }
                        }
                    }, "user-" + t));
                }
                threads.forEach(Thread::start);
                Check.isTrue(running.await(30, TimeUnit.SECONDS), "users started");
                Thread.sleep(20);
                c.close();
                joinAll(threads, failure);
            }
        });

        cases.finish();
    }
}
