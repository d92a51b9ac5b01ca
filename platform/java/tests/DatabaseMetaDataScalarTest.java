package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import @NATIVE_PACKAGE@.IDatabaseMetaData;
import @NATIVE_PACKAGE@.IDriver;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import vqtest.Cases;
import vqtest.Check;
import vqtest.JniTest;

/**
 * The scalar answers of the native DatabaseMetaData: every boolean, int and string answer
 * compared with the driver's own SQLGetInfo on the same connection handle (read by the
 * test's JNI library), then the answers a JDBC tool reads from this server, the URL, and
 * the calls on a metadata object whose peer is gone.
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class DatabaseMetaDataScalarTest {
    private DatabaseMetaDataScalarTest() {
    }

    static final int BUILD = IDriver.BUILD_NUMBER;

    interface ConnectionBody {
        void run(IConnection c, IDatabaseMetaData md, long dbc) throws Throwable;
    }

    static void withMetaData(String conn, String url, ConnectionBody body) throws Throwable {
        IConnection c = IDriver.makeODBCConnection(conn, url, BUILD);
        Check.notNull(c, "connection");
        try {
            IDatabaseMetaData md = c.getMetaData();
            Check.notNull(md, "metadata");
            body.run(c, md, c.getODBCHandle());
        } finally {
            c.close();
        }
    }

    // How an answer is made from its item: the width it is read at and the rule.
    enum Rule { YES, NOT_YES, IN, NOT_ZERO, BIT, LOW_FOUR }

    static final class Answer {
        final String method;
        final int item;
        final int bytes;
        final Rule rule;
        final int[] args;

        Answer(String method, int item, int bytes, Rule rule, int... args) {
            this.method = method;
            this.item = item;
            this.bytes = bytes;
            this.rule = rule;
            this.args = args;
        }

        boolean expected(long value) {
            switch (rule) {
                case YES: return value == 'Y';
                case NOT_YES: return value != 'Y';
                case NOT_ZERO: return value != 0;
                case BIT: return (value & args[0]) != 0;
                case LOW_FOUR: return (value & 0xF) != 0;
                default:
                    for (int v : args) {
                        if (value == v) {
                            return true;
                        }
                    }
                    return false;
            }
        }
    }

    static Answer yn(String m, int item) { return new Answer(m, item, 16, Rule.YES); }
    static Answer in16(String m, int item, int... values) { return new Answer(m, item, 2, Rule.IN, values); }
    static Answer in32(String m, int item, int... values) { return new Answer(m, item, 4, Rule.IN, values); }
    static Answer bit(String m, int item, int b) { return new Answer(m, item, 4, Rule.BIT, b); }

    // Every boolean answer of one information item.
    static final Answer[] BOOLEANS = {
        yn("allTablesAreSelectable", 19), yn("allProceduresAreCallable", 20),
        yn("supportsStoredProcedures", 21), yn("isReadOnly", 25),
        yn("supportsExpressionsInOrderBy", 27), yn("supportsMultipleResultSets", 36),
        yn("supportsMultipleTransactions", 37), yn("supportsIntegrityEnhancementFacility", 73),
        yn("supportsColumnAliasing", 87), new Answer("supportsOrderByUnrelated", 90, 16, Rule.NOT_YES),
        yn("doesMaxRowSizeIncludeBlobs", 103), yn("supportsLikeEscapeClause", 113),
        in16("nullPlusNonNullIsNull", 22, 0),
        in16("supportsOpenCursorsAcrossCommit", 23, 2), in16("supportsOpenStatementsAcrossCommit", 23, 2),
        in16("supportsOpenCursorsAcrossRollback", 24, 2), in16("supportsOpenStatementsAcrossRollback", 24, 2),
        in16("storesUpperCaseIdentifiers", 28, 1), in16("storesLowerCaseIdentifiers", 28, 2),
        in16("supportsMixedCaseIdentifiers", 28, 3), in16("storesMixedCaseIdentifiers", 28, 4),
        new Answer("supportsTransactions", 46, 2, Rule.NOT_ZERO),
        in16("supportsDataManipulationTransactionsOnly", 46, 1, 3, 4),
        in16("supportsDataDefinitionAndDataManipulationTransactions", 46, 2),
        in16("dataDefinitionCausesTransactionCommit", 46, 3),
        in16("dataDefinitionIgnoredInTransactions", 46, 4),
        new Answer("supportsTableCorrelationNames", 74, 2, Rule.NOT_ZERO),
        in16("supportsDifferentTableCorrelationNames", 74, 1),
        in16("supportsNonNullableColumns", 75, 1),
        new Answer("usesLocalFiles", 84, 2, Rule.NOT_ZERO), in16("usesLocalFilePerTable", 84, 1),
        in16("nullsAreSortedHigh", 85, 0), in16("nullsAreSortedLow", 85, 1),
        in16("nullsAreSortedAtStart", 85, 2), in16("nullsAreSortedAtEnd", 85, 4),
        new Answer("supportsGroupBy", 88, 2, Rule.NOT_ZERO), in16("supportsGroupByBeyondSelect", 88, 2),
        in16("supportsGroupByUnrelated", 88, 3),
        in16("storesUpperCaseQuotedIdentifiers", 93, 1), in16("storesLowerCaseQuotedIdentifiers", 93, 2),
        in16("supportsMixedCaseQuotedIdentifiers", 93, 3), in16("storesMixedCaseQuotedIdentifiers", 93, 4),
        in16("isCatalogAtStart", 114, 1),
        bit("supportsPositionedDelete", 80, 1), bit("supportsPositionedUpdate", 80, 2),
        bit("supportsSelectForUpdate", 80, 4),
        bit("supportsAlterTableWithAddColumn", 86, 1), bit("supportsAlterTableWithDropColumn", 86, 2),
        bit("supportsSchemasInDataManipulation", 91, 1), bit("supportsSchemasInProcedureCalls", 91, 2),
        bit("supportsSchemasInTableDefinitions", 91, 4), bit("supportsSchemasInIndexDefinitions", 91, 8),
        bit("supportsSchemasInPrivilegeDefinitions", 91, 16),
        bit("supportsCatalogsInDataManipulation", 92, 1), bit("supportsCatalogsInProcedureCalls", 92, 2),
        bit("supportsCatalogsInTableDefinitions", 92, 4), bit("supportsCatalogsInIndexDefinitions", 92, 8),
        bit("supportsCatalogsInPrivilegeDefinitions", 92, 16),
        bit("supportsSubqueriesInComparisons", 95, 1), bit("supportsSubqueriesInExists", 95, 2),
        bit("supportsSubqueriesInIns", 95, 4), bit("supportsSubqueriesInQuantifieds", 95, 8),
        bit("supportsCorrelatedSubqueries", 95, 16),
        bit("supportsUnion", 96, 1), bit("supportsUnionAll", 96, 2),
        new Answer("supportsOuterJoins", 115, 4, Rule.LOW_FOUR),
        new Answer("supportsLimitedOuterJoins", 115, 4, Rule.LOW_FOUR),
        bit("supportsFullOuterJoins", 115, 4),
        in32("supportsANSI92EntryLevelSQL", 118, 1), in32("supportsANSI92IntermediateSQL", 118, 4),
        in32("supportsANSI92FullSQL", 118, 8),
        bit("supportsBatchUpdates", 121, 2),
        in32("supportsCoreSQLGrammar", 152, 1, 2, 3), in32("supportsExtendedSQLGrammar", 152, 2, 3),
    };

    // The limits: method, item, width in bytes.
    static final Object[][] LIMITS = {
        {"getMaxConnections", 0, 2}, {"getMaxColumnNameLength", 30, 2},
        {"getMaxCursorNameLength", 31, 2}, {"getMaxSchemaNameLength", 32, 2},
        {"getMaxProcedureNameLength", 33, 2}, {"getMaxCatalogNameLength", 34, 2},
        {"getMaxTableNameLength", 35, 2}, {"getMaxColumnsInGroupBy", 97, 2},
        {"getMaxColumnsInIndex", 98, 2}, {"getMaxColumnsInOrderBy", 99, 2},
        {"getMaxColumnsInSelect", 100, 2}, {"getMaxColumnsInTable", 101, 2},
        {"getMaxTablesInSelect", 106, 2}, {"getMaxUserNameLength", 107, 2},
        {"getMaxIndexLength", 102, 4}, {"getMaxStatementLength", 105, 4},
        {"getMaxCharLiteralLength", 108, 4}, {"getMaxBinaryLiteralLength", 112, 4},
        {"getMaxStatements", 10022, 4},
    };

    // The string answers: method, item.
    static final Object[][] STRINGS = {
        {"getDriverName", 6}, {"getDriverVersion", 7}, {"getSearchStringEscape", 14},
        {"getDatabaseProductName", 17}, {"getIdentifierQuoteString", 29}, {"getSchemaTerm", 39},
        {"getProcedureTerm", 40}, {"getCatalogSeparator", 41}, {"getCatalogTerm", 42},
        {"getUserName", 47}, {"getSQLKeywords", 89}, {"getExtraNameCharacters", 94},
    };

    static Object call(IDatabaseMetaData md, String name, Object... args) throws Throwable {
        Class<?>[] types = new Class<?>[args.length];
        for (int i = 0; i < args.length; i++) {
            types[i] = int.class;
        }
        Method m = IDatabaseMetaData.class.getMethod(name, types);
        try {
            return m.invoke(md, args);
        } catch (InvocationTargetException e) {
            throw e.getCause();
        }
    }

    static long info(long dbc, int item, int bytes) {
        long value = JniTest.getInfo(dbc, item, bytes);
        Check.isTrue(value != -1, "SQLGetInfo " + item + " answered");
        return value;
    }

    public static void main(String[] args) {
        final String conn = args[0];
        final String link = args[1];
        Cases cases = new Cases("DatabaseMetaDataScalarTest " + Variant.NAME + " " + link);
        IDriver.initEnv(Variant.LEVEL, false);

        cases.run("every boolean answer follows its SQLGetInfo item", () -> withMetaData(conn, null, (c, md, dbc) -> {
            for (Answer a : BOOLEANS) {
                long value = info(dbc, a.item, a.bytes);
                Check.equal(a.expected(value), call(md, a.method),
                            a.method + " with item " + a.item + " = " + value);
            }
        }));

        cases.run("every limit is its item's value, the row size clamped, the isolation checked", () -> withMetaData(conn, null, (c, md, dbc) -> {
            for (Object[] l : LIMITS) {
                String name = (String) l[0];
                long value = info(dbc, (Integer) l[1], (Integer) l[2]);
                Check.equal((int) value, ((Integer) call(md, name)).intValue(), name + " with item " + l[1]);
            }
            long rowSize = info(dbc, 104, 4);
            Check.equal(rowSize >= 0x80000000L ? Integer.MAX_VALUE : (int) rowSize,
                        md.getMaxRowSize(), "getMaxRowSize");
            long isolation = info(dbc, 26, 4);
            boolean level = isolation == 1 || isolation == 2 || isolation == 4 || isolation == 8
                            || isolation == 32 || isolation == 64 || isolation == 128;
            Check.equal(level ? (int) isolation : 0, md.getDefaultTransactionIsolation(),
                        "getDefaultTransactionIsolation");
        }));

        cases.run("every string answer is its SQLGetInfoW text", () -> withMetaData(conn, null, (c, md, dbc) -> {
            for (Object[] s : STRINGS) {
                String expected = JniTest.getInfoString(dbc, (Integer) s[1]);
                Check.notNull(expected, "SQLGetInfoW " + s[1]);
                Check.equal(expected, call(md, (String) s[0]), (String) s[0]);
            }
        }));

        cases.run("supportsConvert follows the conversion items; other types are false", () -> withMetaData(conn, null, (c, md, dbc) -> {
            Check.equal(info(dbc, 48, 4) != 0, md.supportsConvert(0, 0), "item 48");
            Check.isTrue(!md.supportsConvert(0, 4), "from 0 to INTEGER asks nothing");
            int[][] items = {{-7, 55}, {-6, 68}, {-5, 53}, {-4, 71}, {-3, 69}, {-2, 54}, {-1, 62},
                             {1, 56}, {2, 63}, {3, 58}, {4, 61}, {5, 65}, {6, 60}, {7, 64},
                             {8, 59}, {9, 57}, {91, 57}, {10, 66}, {92, 66}, {11, 67}, {93, 67},
                             {12, 70}};
            int[] targets = {-7, -5, -1, 1, 2, 3, 4, 5, 6, 7, 8, 12, 91, 93, 2004};
            for (int[] fromItem : items) {
                long value = info(dbc, fromItem[1], 4);
                for (int to : targets) {
                    boolean expected = to >= 1 && to <= 8 && (value & (1L << (to - 1))) != 0;
                    Check.equal(expected, md.supportsConvert(fromItem[0], to),
                                "supportsConvert(" + fromItem[0] + ", " + to + ") with " + value);
                }
            }
            Check.isTrue(!md.supportsConvert(2004, 1), "BLOB has no conversion item");
            Check.isTrue(!md.supportsConvert(-8, 1), "ROWID has no conversion item");
        }));

        cases.run("supportsTransactionIsolationLevel: the item's bit of the seven levels only", () -> withMetaData(conn, null, (c, md, dbc) -> {
            long options = info(dbc, 72, 4);
            for (int level = -1; level <= 256; level++) {
                boolean known = level == 1 || level == 2 || level == 4 || level == 8
                                || level == 32 || level == 64 || level == 128;
                Check.equal(known && (options & level) != 0,
                            md.supportsTransactionIsolationLevel(level), "level " + level);
            }
        }));

        cases.run("the answers a JDBC tool reads from this server", () -> withMetaData(conn, null, (c, md, dbc) -> {
            Check.equal("Vellumcrest", md.getDatabaseProductName(), "product name");
            Check.equal("Vellumcrest", md.getDriverName(), "driver name");
            Check.equal("12.00.0000", md.getDriverVersion(), "driver version");
            Check.equal(12, md.getDriverMajorVersion(), "driver major version");
            Check.equal(0, md.getDriverMinorVersion(), "driver minor version");
            Check.equal("\"", md.getIdentifierQuoteString(), "identifier quote");
            Check.equal("~", md.getSearchStringEscape(), "search escape");
            String keywords = md.getSQLKeywords();
            Check.isTrue(keywords.length() > 1000 && keywords.contains(",waitfor,"),
                         "the whole keyword list: " + keywords.length() + " characters");
            Check.equal("dba", md.getUserName().toLowerCase(), "user name");
            Check.isTrue(md.supportsTransactions(), "transactions");
            Check.isTrue(md.supportsUnion() && md.supportsUnionAll(), "union");
            Check.isTrue(md.supportsOuterJoins() && md.supportsFullOuterJoins(), "outer joins");
            Check.isTrue(md.supportsBatchUpdates(), "batch updates");
            Check.isTrue(md.supportsMinimumSQLGrammar() && md.supportsCoreSQLGrammar(), "grammar");
            Check.isTrue(md.supportsLikeEscapeClause(), "LIKE escape");
            Check.isTrue(md.supportsOrderByUnrelated(), "ORDER BY columns outside the select list");
            Check.isTrue(md.nullsAreSortedLow() && !md.nullsAreSortedHigh(), "NULL collation");
            Check.equal(128, md.getMaxColumnNameLength(), "column name length");
            Check.equal(128, md.getMaxTableNameLength(), "table name length");
            Check.equal(Integer.MAX_VALUE, md.getMaxRowSize(), "row size");
            Check.equal(1, md.getDefaultTransactionIsolation(), "default isolation");
            for (int level : new int[] {1, 2, 4, 8}) {
                Check.isTrue(md.supportsTransactionIsolationLevel(level), "JDBC level " + level);
            }
            Check.isTrue(!md.supportsTransactionIsolationLevel(0), "level 0");
            Check.isTrue(!md.supportsTransactionIsolationLevel(16), "level 16");
            for (int type : new int[] {1003, 1004, 1005}) {
                Check.isTrue(md.supportsResultSetType(type), "type " + type);
                Check.isTrue(md.supportsResultSetConcurrency(type, 1007)
                             && md.supportsResultSetConcurrency(type, 1008), "concurrency of " + type);
                Check.isTrue(md.ownUpdatesAreVisible(type) && md.ownDeletesAreVisible(type)
                             && md.ownInsertsAreVisible(type), "own changes of " + type);
                Check.isTrue(!md.othersUpdatesAreVisible(type) && !md.othersDeletesAreVisible(type)
                             && !md.othersInsertsAreVisible(type), "others' changes of " + type);
                Check.isTrue(md.updatesAreDetected(type) && md.deletesAreDetected(type)
                             && md.insertsAreDetected(type), "detected changes of " + type);
            }
        }));

        cases.run("getURL answers the URL the connection was made with, null without one", () -> {
            String url = "jdbc:vellumcrest:ServerName=x;Ünïcode=\u20ac";
            withMetaData(conn, url, (c, md, dbc) -> {
                Check.equal(url, md.getURL(), "URL");
                Check.equal(url, md.getURL(), "URL asked again");
            });
            withMetaData(conn, null, (c, md, dbc) -> Check.equal(null, md.getURL(), "no URL"));
        });

        cases.run("answers after the peer is gone raise NATIVE_ACCESS_ERROR", () -> {
            IConnection c = IDriver.makeODBCConnection(conn, null, BUILD);
            Check.notNull(c, "connection");
            IDatabaseMetaData md = c.getMetaData();
            Check.isTrue(md.supportsUnion(), "answers while alive");
            c.close();
            Check.failsWithKey("NATIVE_ACCESS_ERROR", md::supportsUnion, "a boolean after close");
            Check.failsWithKey("NATIVE_ACCESS_ERROR", md::getDriverMajorVersion, "a constant after close");
            Check.failsWithKey("NATIVE_ACCESS_ERROR", md::getDriverName, "a string after close");
            Check.failsWithKey("NATIVE_ACCESS_ERROR", () -> md.supportsConvert(4, 1), "supportsConvert after close");
            Check.failsWithKey("NATIVE_ACCESS_ERROR", md::getURL, "getURL after close");
        });

        cases.finish();
    }
}
