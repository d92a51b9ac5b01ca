package vqtest.@VARIANT@;

import java.lang.reflect.Field;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.List;
import vqtest.Cases;
import vqtest.Check;

/**
 * The Java side of what the native library looks up, checked by reflection in the form the
 * library asks for it: every class under the name it rewrites for this variant's level,
 * and every constructor, method and field with its exact JNI descriptor; the natives of
 * each class with their counts; and that libvqjdbc12.so loads into the virtual machine.
 * No native of the library is called.
 */
public final class LookupsTest {
    private LookupsTest() {
    }

    /** The class name the native side asks FindClass for at this variant's level. */
    static String rewritten(String jdbcName) {
        final String prefix = "tovrak/jdbc/vellumcrest";
        if (Variant.LEVEL == 0 || !jdbcName.startsWith(prefix)) {
            return jdbcName;
        }
        String rest = jdbcName.substring(prefix.length());
        return Variant.LEVEL == 4 ? "tovrak/jdbc4/vellumcrest" + rest : prefix + "/jdbc3" + rest;
    }

    static Class<?> find(String jniName) throws ClassNotFoundException {
        return Class.forName(jniName.replace('/', '.'), false, LookupsTest.class.getClassLoader());
    }

    static String descriptor(Class<?> c) {
        if (c == void.class) return "V";
        if (c == boolean.class) return "Z";
        if (c == byte.class) return "B";
        if (c == char.class) return "C";
        if (c == short.class) return "S";
        if (c == int.class) return "I";
        if (c == long.class) return "J";
        if (c == float.class) return "F";
        if (c == double.class) return "D";
        if (c.isArray()) return c.getName().replace('.', '/');
        return "L" + c.getName().replace('.', '/') + ";";
    }

    static String descriptor(Class<?>[] params, Class<?> result) {
        StringBuilder d = new StringBuilder("(");
        for (Class<?> p : params) {
            d.append(descriptor(p));
        }
        return d.append(')').append(descriptor(result)).toString();
    }

    /** GetMethodID / GetStaticMethodID: the class or one of its superclasses declares it. */
    static void method(String jniClass, String name, String desc, boolean isStatic) throws Exception {
        Class<?> cls = find(rewritten(jniClass));
        for (Class<?> c = cls; c != null; c = c.getSuperclass()) {
            for (Method m : c.getDeclaredMethods()) {
                if (m.getName().equals(name)
                    && descriptor(m.getParameterTypes(), m.getReturnType()).equals(desc)) {
                    Check.equal(isStatic, Modifier.isStatic(m.getModifiers()),
                                cls.getName() + "." + name + desc + " is static");
                    return;
                }
            }
        }
        throw new AssertionError(cls.getName() + " has no method " + name + desc);
    }

    /** GetMethodID of "<init>": constructors are never inherited. */
    static void constructor(String jniClass, String desc) throws Exception {
        Class<?> cls = find(rewritten(jniClass));
        for (java.lang.reflect.Constructor<?> k : cls.getDeclaredConstructors()) {
            if (descriptor(k.getParameterTypes(), void.class).equals(desc)) {
                return;
            }
        }
        throw new AssertionError(cls.getName() + " has no constructor " + desc);
    }

    /** GetFieldID on the class (or, for a field found through an object, a superclass). */
    static void field(String jniClass, String name, String desc) throws Exception {
        Class<?> cls = find(rewritten(jniClass));
        for (Class<?> c = cls; c != null; c = c.getSuperclass()) {
            for (Field f : c.getDeclaredFields()) {
                if (f.getName().equals(name)) {
                    Check.equal(desc, descriptor(f.getType()), cls.getName() + "." + name + " type");
                    Check.isTrue(!Modifier.isStatic(f.getModifiers()), name + " is an instance field");
                    return;
                }
            }
        }
        throw new AssertionError(cls.getName() + " has no field " + name);
    }

    static int countNatives(String simpleName) throws Exception {
        Class<?> cls = find(Variant.NATIVE_PACKAGE.replace('.', '/') + "/" + simpleName);
        int n = 0;
        for (Method m : cls.getDeclaredMethods()) {
            if (Modifier.isNative(m.getModifiers())) {
                n++;
            }
        }
        return n;
    }

    static final String P = "tovrak/jdbc/vellumcrest/";
    static final String[] PEERS = {"IConnection", "IIStatement", "IStatementCancelToken",
                                   "IIPreparedStatement", "IICallableStatement", "IIResultSet",
                                   "IDatabaseMetaData"};

    public static void main(String[] args) {
        Cases cases = new Cases("LookupsTest " + Variant.NAME);

        cases.run("libvqjdbc12.so loads with the driver classes", () -> {
            Class<?> driver = Class.forName(Variant.NATIVE_PACKAGE + ".IDriver");
            Check.notNull(driver, "IDriver");
        });

        cases.run("every peer class extends INative and is built from its native address", () -> {
            Class<?> root = find(rewritten(P + "INative"));
            field(P + "INative", "nhandle", "J");
            for (String peer : PEERS) {
                Class<?> c = find(rewritten(P + peer));
                Check.isTrue(root.isAssignableFrom(c), c.getName() + " extends " + root.getName());
                constructor(P + peer, "(J)V");
                method(P + peer, "close", "()V", false);
                method(P + peer, "nFree", "()V", false);
            }
        });

        cases.run("the statement classes inherit in the order the natives need", () -> {
            Check.isTrue(find(rewritten(P + "IIStatement"))
                             .isAssignableFrom(find(rewritten(P + "IIPreparedStatement"))),
                         "IIPreparedStatement extends IIStatement");
            Check.isTrue(find(rewritten(P + "IIPreparedStatement"))
                             .isAssignableFrom(find(rewritten(P + "IICallableStatement"))),
                         "IICallableStatement extends IIPreparedStatement");
            String token = Variant.LEVEL == 4 ? "Ltovrak/jdbc4/vellumcrest/IStatementCancelToken;"
                : Variant.LEVEL == 3 ? "Ltovrak/jdbc/vellumcrest/jdbc3/IStatementCancelToken;"
                : "Ltovrak/jdbc/vellumcrest/IStatementCancelToken;";
            field(P + "IIStatement", "stmt_cancel_token", token);
            field(P + "IICallableStatement", "stmt_cancel_token", token);
        });

        cases.run("the connection's upcalls", () -> {
            String c = P + "IConnection";
            String cal = "(Ljava/lang/String;)Ljava/util/Calendar;";
            method(c, "parseDate", cal, false);
            method(c, "parseTime", cal, false);
            method(c, "parseTimestamp", cal, false);
            method(c, "formatDate", "(III)Ljava/lang/String;", false);
            method(c, "formatTime", "(III)Ljava/lang/String;", false);
            method(c, "formatTimestamp", "(IIIIIII)Ljava/lang/String;", false);
            method(c, "formatDate", "(Ljava/lang/Object;)Ljava/lang/String;", false);
            method(c, "formatTime", "(Ljava/lang/Object;)Ljava/lang/String;", false);
            method(c, "formatTimestamp", "(Ljava/lang/Object;)Ljava/lang/String;", false);
            method(c, "isTrue", "(Ljava/lang/String;)Z", false);
            method(c, "convertPointToComma", "()Z", false);
            method(c, "callMessageHandler", "(Ljava/sql/SQLException;)V", false);
            method(c, "callValidateFileTransferCallback", "(Ljava/lang/String;I)I", false);
        });

        cases.run("the result set's date and time constructors", () -> {
            String r = P + "IIResultSet";
            method(r, "computeTimestampInMillis", "(IIIIIII)Ljava/sql/Timestamp;", false);
            method(r, "computeTimeInMillis", "(III)Ljava/sql/Time;", false);
            method(r, "computeDateInMillis", "(III)Ljava/sql/Date;", false);
        });

        cases.run("the resource class and the stream classes", () -> {
            method(P + "IResource", "getString",
                   "(Ljava/lang/String;[Ljava/lang/String;)Ljava/lang/String;", true);
            method(P + "IResource", "setMillisecond", "(Ljava/sql/Timestamp;Ljava/util/Calendar;)V",
                   true);
            constructor(P + "ICharacterStreamReader", "(Ljava/lang/String;)V");
            constructor(P + "IStrAsciiStream", "([BI)V");
            constructor(P + "IBinAsciiStream", "([BI)V");
            Check.isTrue(java.io.Reader.class.isAssignableFrom(find(rewritten(P + "ICharacterStreamReader"))),
                         "ICharacterStreamReader is a Reader");
            Check.isTrue(java.io.InputStream.class.isAssignableFrom(find(rewritten(P + "IStrAsciiStream"))),
                         "IStrAsciiStream is an InputStream");
            Check.isTrue(java.io.InputStream.class.isAssignableFrom(find(rewritten(P + "IBinAsciiStream"))),
                         "IBinAsciiStream is an InputStream");
        });

        cases.run("the standard classes have the members the native side asks for", () -> {
            method("java/lang/Object", "toString", "()Ljava/lang/String;", false);
            constructor("java/lang/String", "([CII)V");
            for (String d : new String[] {"(I)", "(J)", "(F)", "(D)", "(Ljava/lang/Object;)"}) {
                method("java/lang/String", "valueOf", d + "Ljava/lang/String;", true);
            }
            for (String kind : new String[] {"Exception", "Warning"}) {
                String cls = "java/sql/SQL" + kind;
                constructor(cls, "(Ljava/lang/String;)V");
                constructor(cls, "(Ljava/lang/String;Ljava/lang/String;I)V");
                method(cls, "setNext" + kind, "(Ljava/sql/SQL" + kind + ";)V", false);
            }
            String cal = "java/util/Calendar";
            field(cal, "fields", "[I");
            field(cal, "time", "J");
            method(cal, "getInstance", "()Ljava/util/Calendar;", true);
            method(cal, "setTime", "(Ljava/util/Date;)V", false);
            method(cal, "set", "(IIIIII)V", false);
            method(cal, "set", "(II)V", false);
            method(cal, "get", "(I)I", false);
            method(cal, "computeTime", "()V", false);
            String bd = "java/math/BigDecimal";
            constructor(bd, "(Ljava/lang/String;)V");
            constructor(bd, "(D)V");
            method(bd, "valueOf", "(J)Ljava/math/BigDecimal;", true);
            method(bd, "setScale", "(II)Ljava/math/BigDecimal;", false);
            method(bd, "longValue", "()J", false);
            method(bd, "doubleValue", "()D", false);
            method(bd, "unscaledValue", "()Ljava/math/BigInteger;", false);
            method(bd, "scale", "()I", false);
            method(bd, "signum", "()I", false);
            method("java/math/BigInteger", "toByteArray", "()[B", false);
            method("java/math/BigInteger", "bitLength", "()I", false);
            for (String dt : new String[] {"java/sql/Date", "java/sql/Time", "java/sql/Timestamp"}) {
                constructor(dt, "(J)V");
            }
            method("java/sql/Timestamp", "setNanos", "(I)V", false);
            method("java/sql/Timestamp", "getNanos", "()I", false);
            method("java/io/Reader", "read", "([CII)I", false);
            method("java/io/InputStream", "read", "([BII)I", false);
            method("java/sql/Blob", "getBytes", "(JI)[B", false);
            method("java/sql/Blob", "length", "()J", false);
            constructor("java/io/StringReader", "(Ljava/lang/String;)V");
            constructor("java/io/ByteArrayInputStream", "([B)V");
        });

        cases.run("every class declares its natives in the native package", () -> {
            String[] names = {"IDriver", "IConnection", "IIStatement", "IStatementCancelToken",
                              "IIPreparedStatement", "IICallableStatement", "IIResultSet",
                              "IDatabaseMetaData"};
            int[] counts = {6, 32, 30, 2, 34, 18, 112, 148};
            List<String> wrong = new ArrayList<>();
            int total = 0;
            for (int i = 0; i < names.length; i++) {
                int n = countNatives(names[i]);
                total += n;
                if (n != counts[i]) {
                    wrong.add(names[i] + " has " + n + " natives, not " + counts[i]);
                }
            }
            Check.equal(List.of(), wrong, "native counts");
            Check.equal(382, total, "natives of the package");
        });

        cases.finish();
    }
}
