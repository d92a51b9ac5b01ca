package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import @NATIVE_PACKAGE@.IIResultSet;
import @NATIVE_PACKAGE@.IIStatement;
import java.nio.file.Files;
import java.nio.file.Paths;
import vqtest.Cases;
import vqtest.Check;

import static vqtest.@VARIANT@.Db.*;

/**
 * A million rows read through next() and the getters: every value arrives, and neither
 * the Java VM's local references (a leak there ends the VM under -Xcheck:jni) nor the
 * process's resident memory grow with the rows read.
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class ResultSetMillionRowsTest {
    private ResultSetMillionRowsTest() {
    }

    static final int ROWS = 1_000_000;

    /** The process's resident set in KiB, from /proc. */
    static long residentKiB() throws Exception {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        throw new AssertionError("no VmRSS in /proc/self/status");
    }

    public static void main(String[] args) {
        final String conn = args[0];
        Cases cases = Db.start("ResultSetMillionRowsTest", args);

        cases.run("a million rows through next() and the getters, memory flat", () -> {
            IConnection c = connect(conn);
            try {
                IIStatement s = c.nativeCreateStatement();
                IIResultSet rs = s.executeQuery("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                                + "FROM n WHERE i < " + ROWS + ") "
                                                + "SELECT i, i * 2, i * 0.5, 'v' || i FROM n");
                long sum = 0;
                long after100k = 0;
                for (int row = 1; row <= ROWS; row++) {
                    Check.isTrue(rs.next(), "row " + row);
                    int i = rs.getInt(1);
                    if (i != row || rs.getInt(2) != 2 * row || rs.getDouble(3) != row * 0.5
                        || !rs.getString(4).equals("v" + row)) {
                        throw new AssertionError("row " + row + " came back as " + i + ", " + rs.getInt(2)
                                                 + ", " + rs.getDouble(3) + ", " + rs.getString(4));
                    }
                    sum += i;
                    if (row == 100_000) {
                        System.gc();
                        after100k = residentKiB();
                    }
                }
                Check.isTrue(!rs.next(), "the end");
                Check.equal((long) ROWS * (ROWS + 1) / 2, sum, "every row once");
                System.gc();
                long grown = residentKiB() - after100k;
                // 900,000 more rows of four values: a per-row leak of even 64 bytes would
                // show as over 56 MB.
                Check.isTrue(grown < 48 * 1024, "resident memory grew by " + grown + " KiB");
                rs.doClose();
                s.close();
            } finally {
                c.close();
            }
        });

        cases.finish();
    }
}
