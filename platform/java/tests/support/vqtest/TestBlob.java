package vqtest;

import java.io.ByteArrayInputStream;
import java.io.InputStream;
import java.io.OutputStream;
import java.sql.Blob;
import java.sql.SQLException;
import java.util.Arrays;

/**
 * A Blob whose behaviour a test controls: it holds bytes, may answer a length other than
 * its size, may hand out at most `pieceLimit` bytes per getBytes call (0: none at all),
 * and may throw from getBytes or length. It counts the calls it receives.
 */
public final class TestBlob implements Blob {
    private final byte[] data;
    public volatile long reportedLength;
    public volatile int pieceLimit = Integer.MAX_VALUE;
    public volatile SQLException throwOnGetBytes;
    public volatile SQLException throwOnLength;
    public volatile int getBytesCalls;
    public volatile int lengthCalls;

    public TestBlob(byte[] data) {
        this.data = data.clone();
        this.reportedLength = data.length;
    }

    @Override
    public long length() throws SQLException {
        lengthCalls++;
        if (throwOnLength != null) {
            throw throwOnLength;
        }
        return reportedLength;
    }

    /** `pos` counts from 1, as in java.sql.Blob. */
    @Override
    public byte[] getBytes(long pos, int length) throws SQLException {
        getBytesCalls++;
        if (throwOnGetBytes != null) {
            throw throwOnGetBytes;
        }
        if (pos < 1 || length < 0) {
            throw new SQLException("bad position or length");
        }
        int from = (int) Math.min(pos - 1, data.length);
        int n = Math.min(Math.min(length, pieceLimit), data.length - from);
        return Arrays.copyOfRange(data, from, from + n);
    }

    @Override
    public InputStream getBinaryStream() {
        return new ByteArrayInputStream(data);
    }

    @Override
    public InputStream getBinaryStream(long pos, long length) {
        return new ByteArrayInputStream(data, (int) pos - 1, (int) length);
    }

    @Override
    public long position(byte[] pattern, long start) throws SQLException {
        throw new SQLException("not supported by the test blob");
    }

    @Override
    public long position(Blob pattern, long start) throws SQLException {
        throw new SQLException("not supported by the test blob");
    }

    @Override
    public int setBytes(long pos, byte[] bytes) throws SQLException {
        throw new SQLException("read-only test blob");
    }

    @Override
    public int setBytes(long pos, byte[] bytes, int offset, int len) throws SQLException {
        throw new SQLException("read-only test blob");
    }

    @Override
    public OutputStream setBinaryStream(long pos) throws SQLException {
        throw new SQLException("read-only test blob");
    }

    @Override
    public void truncate(long len) throws SQLException {
        throw new SQLException("read-only test blob");
    }

    @Override
    public void free() {
    }
}
