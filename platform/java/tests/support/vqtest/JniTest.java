package vqtest;

/**
 * The test-only JNI library libvqjnitest.so: what a real application would hand the
 * driver as C pointers. Addresses travel as full 64-bit longs.
 */
public final class JniTest {
    static {
        System.loadLibrary("vqjnitest");
    }

    private JniTest() {
    }

    /** The address of a C function void release(void* context, SQLHDBC dbc) that records
     *  its arguments, then disconnects and frees the connection handle. */
    public static native long releaseFunction();

    /** How often the release function ran, and its last arguments. */
    public static native int releaseCount();

    public static native long lastReleasedContext();

    public static native long lastReleasedHandle();

    /** An address above 4 GiB whose low 32 bits have the top bit set (a mapped page, so a
     *  callee may even read it); the same address on every call. */
    public static native long highAddress();

    /** A connection handle made through the library's exported ODBC API (its own
     *  environment handle, ODBC 3) and connected with the string; 0 on failure, with the
     *  first diagnostic in lastError(). */
    public static native long connect(String connectionString);

    /** Disconnects and frees a handle from connect() that was not handed to the driver. */
    public static native void disconnect(long dbc);

    /** SQLSTATE and message of the last failure of connect(). */
    public static native String lastError();

    /** Runs an SQL text on a raw handle from connect(); the ODBC return code. */
    public static native int execDirect(long dbc, String sql);

    /** A zero-filled block of native memory (a row-reader record); give it back with freeBlock. */
    public static native long allocBlock(int bytes);

    public static native void freeBlock(long block);

    /** Reads one row through the row-reader record at `reader` into `cellCount` cells that
     *  start filled with 0xAB. Null when the reader answered 0; otherwise one text per cell
     *  ("-" untouched, "null", "type:value", "bad-cell") and a last entry, "end", or
     *  "overrun" when the reader wrote past the cells it was given. */
    public static native String[] readRow(long reader, int cellCount);

    /** Narrow SQLGetInfo on a driver's connection handle at the width `bytes`: 16 (a text:
     *  its first byte), 2 (unsigned 16-bit) or 4 (unsigned 32-bit); -1 when refused. */
    public static native long getInfo(long dbc, int item, int bytes);

    /** Wide SQLGetInfoW of a text item; null when refused. */
    public static native String getInfoString(long dbc, int item);
}
