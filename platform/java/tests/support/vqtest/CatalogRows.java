package vqtest;

import java.lang.reflect.Method;

/**
 * Reads catalog result sets as text, so that a test compares a whole answer at once: each
 * row becomes the chosen columns joined by ":" (a null value is "-"), the rows joined by
 * ",". Works on the result-set class of any package variant.
 */
public final class CatalogRows {
    private CatalogRows() {
    }

    static Object call(Object target, String name, Class<?>[] types, Object... args) throws Throwable {
        Method m = target.getClass().getMethod(name, types);
        try {
            return m.invoke(target, args);
        } catch (java.lang.reflect.InvocationTargetException e) {
            throw e.getCause();
        }
    }

    /** Reads every remaining row of `rs`; the columns by number. */
    public static String rows(Object rs, int... columns) throws Throwable {
        StringBuilder out = new StringBuilder();
        while ((Boolean) call(rs, "next", new Class<?>[0])) {
            if (out.length() > 0) {
                out.append(',');
            }
            for (int i = 0; i < columns.length; i++) {
                if (i > 0) {
                    out.append(':');
                }
                Object v = call(rs, "getString", new Class<?>[] {int.class}, columns[i]);
                out.append(v == null ? "-" : v);
            }
        }
        return out.toString();
    }

    /** The names of the result's columns 1..n, as the driver describes them, joined by ",". */
    public static String columnNames(Object rs) throws Throwable {
        Object stmt = call(rs, "getStatement", new Class<?>[0]);
        final int descCount = 1001;
        final int descName = 1011;
        int n = (Integer) call(stmt, "getColNumAttr", new Class<?>[] {int.class, int.class}, descCount, 0);
        StringBuilder out = new StringBuilder();
        for (int k = 1; k <= n; k++) {
            if (k > 1) {
                out.append(',');
            }
            out.append(call(stmt, "getColStrAttr", new Class<?>[] {int.class, int.class}, descName, k));
        }
        return out.toString();
    }
}
