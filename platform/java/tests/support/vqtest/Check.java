package vqtest;

import java.sql.SQLException;
import java.util.Objects;

/**
 * Assertions of the Java tests. Each failure throws an AssertionError naming what was
 * checked; no test framework is needed.
 */
public final class Check {
    private Check() {
    }

    /** A piece of test code that may throw anything. */
    public interface Body {
        void run() throws Throwable;
    }

    public static void isTrue(boolean condition, String what) {
        if (!condition) {
            throw new AssertionError(what);
        }
    }

    public static void equal(Object expected, Object actual, String what) {
        if (!Objects.equals(expected, actual)) {
            throw new AssertionError(what + ": expected <" + expected + "> but was <" + actual + ">");
        }
    }

    public static void equal(long expected, long actual, String what) {
        if (expected != actual) {
            throw new AssertionError(what + ": expected <" + expected + " (0x"
                                     + Long.toHexString(expected) + ")> but was <" + actual
                                     + " (0x" + Long.toHexString(actual) + ")>");
        }
    }

    public static void notNull(Object value, String what) {
        if (value == null) {
            throw new AssertionError(what + ": null");
        }
    }

    /** Runs the body, which must throw a `type`; returns what it threw. */
    public static <T extends Throwable> T fails(Class<T> type, Body body, String what) {
        try {
            body.run();
        } catch (Throwable t) {
            if (type.isInstance(t)) {
                return type.cast(t);
            }
            throw new AssertionError(what + ": expected " + type.getName() + " but got " + t, t);
        }
        throw new AssertionError(what + ": expected " + type.getName() + ", nothing was thrown");
    }

    /**
     * Runs the body, which must throw an SQLException raised by a message key of the
     * driver (its message is "KEY|arg1|..."); returns the exception.
     */
    public static SQLException failsWithKey(String key, Body body, String what) {
        SQLException e = fails(SQLException.class, body, what);
        messageKey(key, e, what);
        return e;
    }

    /** The exception's message is the driver's text for `key` (any arguments). */
    public static void messageKey(String key, Throwable e, String what) {
        String message = e.getMessage();
        if (message == null || !(message.equals(key) || message.startsWith(key + "|"))) {
            throw new AssertionError(what + ": expected message key " + key + " but the message was <"
                                     + message + ">", e);
        }
    }

    /** The exception carries exactly this SQLSTATE and vendor code. */
    public static void sqlState(String state, int vendorCode, SQLException e, String what) {
        equal(state, e.getSQLState(), what + ": SQLSTATE");
        equal(vendorCode, e.getErrorCode(), what + ": vendor code");
    }
}
