import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import tovrak.jdbc4.vellumcrest.IConnection;
import tovrak.jdbc4.vellumcrest.IDriver;
import tovrak.jdbc4.vellumcrest.IIResultSet;
import tovrak.jdbc4.vellumcrest.IIStatement;

/**
 * Fetch speed through the driver's Java classes: reads a million rows of (integer,
 * integer, double, short text) from a running vqeng12 with next() and getInt, getDouble
 * and getString, from the stored table the ODBC C fetch benchmark reads (the runner
 * creates and fills it first), so the two compare row for row. Unmeasured runs first let
 * the VM compile the loop; then each measured run times the fetch loop alone (the query's
 * open apart) and prints one line of key=value figures per row: the fetching thread's CPU (ThreadMXBean), the whole VM process's CPU
 * over the loop (compiler and collector threads included) and the wall time.
 *
 *   java -Djava.library.path=<driver dir> -cp <classes jar>:<this jar> FetchBench <connection string> [runs]
 * The environment variable VQ_BENCH_FETCH_SIZE, when set, is passed to the statement's
 * setFetchSize before the query (the driver's default rowset size otherwise).
 * Exits 0 when every run read every row with the right values.
 */
public final class FetchBench {
    private FetchBench() {
    }

    static final int ROWS = 1_000_000;
    /**
     * Unmeasured runs before the measured ones. The first ends in the loop's exit, which
     * the loop compiled during it has not seen: the VM compiles it again in the second.
     */
    static final int WARM_UP_RUNS = 2;
    /** The stored table the runner fills before anything is timed (fetch_bench_table.h). */
    static final String QUERY = "SELECT n, m, x, t FROM fetch_bench";

    /** The figures of the measured runs, summed. */
    static final class Totals {
        long threadCpu, threadUser, processCpu, wall, open;
        int fetchSize;
    }

    static long processCpuNanos() {
        java.lang.management.OperatingSystemMXBean os = ManagementFactory.getOperatingSystemMXBean();
        return ((com.sun.management.OperatingSystemMXBean) os).getProcessCpuTime();
    }

    /**
     * Whether text is "v" and n in nine digits. Checked by hand: a formatter here would
     * keep the VM's compiler busy with its own code through the measured runs.
     */
    static boolean isText(String text, int n) {
        if (text.length() != 10 || text.charAt(0) != 'v') {
            return false;
        }
        for (int i = 9; i >= 1; i--, n /= 10) {
            if (text.charAt(i) != '0' + n % 10) {
                return false;
            }
        }
        return n == 0;
    }

    /** One run; adds its figures to totals when given. Throws when a row reads wrong. */
    static void run(IConnection c, Totals totals) {
        ThreadMXBean threads = ManagementFactory.getThreadMXBean();
        IIStatement s = c.nativeCreateStatement();
        String fetchSize = System.getenv("VQ_BENCH_FETCH_SIZE");
        if (fetchSize != null && !fetchSize.isEmpty()) {
            s.setFetchSize(Integer.parseInt(fetchSize));
        }
        long openStart = System.nanoTime();
        IIResultSet rs = s.executeQuery(QUERY);
        if (rs == null) {
            throw new IllegalStateException("the query gave no result set");
        }
        long cpu0 = threads.getCurrentThreadCpuTime();
        long user0 = threads.getCurrentThreadUserTime();
        long process0 = processCpuNanos();
        long wall0 = System.nanoTime();

        long sumFirst = 0;
        long sumSecond = 0;
        double sumThird = 0;
        long textBytes = 0;
        int rows = 0;
        while (rs.next()) {
            int n = rs.getInt(1);
            int second = rs.getInt(2);
            double third = rs.getDouble(3);
            String fourth = rs.getString(4);
            sumFirst += n;
            sumSecond += second;
            sumThird += third;
            textBytes += fourth.length();
            ++rows;
            // Every value of one row in a thousand: wrong offsets or a stale buffer show.
            if (n % 1000 == 0 && (second != n * 7 - 3 || third != n * 0.25 || !isText(fourth, n))) {
                throw new IllegalStateException("row " + n + " read as " + second + ", " + third + ", " + fourth);
            }
        }

        long wall1 = System.nanoTime();
        long process1 = processCpuNanos();
        long user1 = threads.getCurrentThreadUserTime();
        long cpu1 = threads.getCurrentThreadCpuTime();
        long n = ROWS;
        if (rows != ROWS || sumFirst != n * (n + 1) / 2 || sumSecond != 7 * (n * (n + 1) / 2) - 3 * n
            || sumThird != 0.25 * (n * (n + 1) / 2) || textBytes != 10L * ROWS) {
            throw new IllegalStateException(rows + " rows read, sums " + sumFirst + " " + sumSecond + " "
                                            + sumThird + " " + textBytes);
        }
        if (totals != null) {
            totals.threadCpu += cpu1 - cpu0;
            totals.threadUser += user1 - user0;
            totals.processCpu += process1 - process0;
            totals.wall += wall1 - wall0;
            totals.open += wall0 - openStart;
            totals.fetchSize = rs.getFetchSize();
        }
        rs.doClose();
        s.close();
    }

    public static void main(String[] args) {
        if (args.length < 1) {
            System.err.println("usage: FetchBench <connection string> [runs]");
            System.exit(2);
        }
        int runs = args.length > 1 ? Integer.parseInt(args[1]) : 3;
        IDriver.initEnv(4, false);
        IConnection c = IDriver.makeODBCConnection(args[0], null, IDriver.BUILD_NUMBER);
        if (c == null) {
            System.err.println("FetchBench: no connection");
            System.exit(1);
        }
        Totals totals = new Totals();
        try {
            for (int i = 0; i < WARM_UP_RUNS; i++) {
                run(c, null);
            }
            for (int i = 0; i < runs; i++) {
                run(c, totals);
            }
        } catch (RuntimeException e) {
            System.err.println("FetchBench: " + e);
            System.exit(1);
        } finally {
            c.close();
        }
        double rows = (double) ROWS * runs;
        System.out.printf("rows=%.0f thread_cpu_ns_per_row=%.1f thread_user_ns_per_row=%.1f "
                          + "process_cpu_ns_per_row=%.1f wall_ns_per_row=%.1f open_ms=%.1f fetch_size=%d%n",
                          rows, totals.threadCpu / rows, totals.threadUser / rows, totals.processCpu / rows,
                          totals.wall / rows, totals.open / 1e6 / runs, totals.fetchSize);
    }
}
