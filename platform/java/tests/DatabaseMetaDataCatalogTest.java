package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import @NATIVE_PACKAGE@.IDatabaseMetaData;
import @NATIVE_PACKAGE@.IDriver;
import @NATIVE_PACKAGE@.IIResultSet;
import @NATIVE_PACKAGE@.IIStatement;
import java.sql.SQLException;
import vqtest.Cases;
import vqtest.CatalogRows;
import vqtest.Check;

/**
 * The catalog result sets of the native DatabaseMetaData against tables the test makes:
 * tables in their four forms and with type lists, columns with the ODBC 3 names and types,
 * patterns with the search escape, names and type lists holding quotes, the raw forms
 * with their swapped columns, the function lists and the product version, the cache of
 * five catalog statements, and the metadata object's life with its connection.
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class DatabaseMetaDataCatalogTest {
    private DatabaseMetaDataCatalogTest() {
    }

    static final int BUILD = IDriver.BUILD_NUMBER;

    interface Body {
        void run(IConnection c, IIStatement s, IDatabaseMetaData md) throws Throwable;
    }

    static void withMetaData(String conn, Body body) throws Throwable {
        IConnection c = IDriver.makeODBCConnection(conn, null, BUILD);
        Check.notNull(c, "connection");
        try {
            IIStatement s = c.nativeCreateStatement();
            IDatabaseMetaData md = c.getMetaData();
            Check.notNull(md, "metadata");
            body.run(c, s, md);
        } finally {
            c.close();
        }
    }

    static void fresh(IIStatement s, String table, String columns) throws SQLException {
        s.nativeExecuteUpdate("DROP TABLE IF EXISTS " + table);
        s.execute("CREATE TABLE " + table + " (" + columns + ")");
    }

    static String rows(IIResultSet rs, int... columns) throws Throwable {
        Check.notNull(rs, "catalog result set");
        return CatalogRows.rows(rs, columns);
    }

    public static void main(String[] args) {
        final String conn = args[0];
        final String link = args[1];
        Cases cases = new Cases("DatabaseMetaDataCatalogTest " + Variant.NAME + " " + link);
        IDriver.initEnv(Variant.LEVEL, false);

        cases.run("tables by pattern, schema and type list; views apart from tables",
                  () -> withMetaData(conn, (c, s, md) -> {
            fresh(s, "mt_t1", "a INT");
            fresh(s, "mt_t2", "b INT");
            s.nativeExecuteUpdate("DROP VIEW IF EXISTS mt_v1");
            s.execute("CREATE VIEW mt_v1 AS SELECT a FROM mt_t1");
            String esc = md.getSearchStringEscape();
            Check.notNull(esc, "search escape");
            IIResultSet all = md.getTablesN(null, null, "mt" + esc + "_%", null);
            Check.equal("TABLE_CAT,TABLE_SCHEM,TABLE_NAME,TABLE_TYPE,REMARKS",
                        CatalogRows.columnNames(all), "ODBC 3 column names");
            Check.equal("dba:mt_t1:TABLE,dba:mt_t2:TABLE,dba:mt_v1:VIEW", rows(all, 2, 3, 4), "all");
            // A list of types, plain and quoted, and a schema.
            String[][] typed = {
                {"TABLE", "mt_t1,mt_t2"},
                {"VIEW", "mt_v1"},
                {"'TABLE','VIEW'", "mt_t1,mt_t2,mt_v1"},
                {"SYSTEM TABLE", ""},
            };
            for (String[] t : typed) {
                Check.equal(t[1], rows(md.getTablesN(null, "dba", "mt" + esc + "_%", t[0]), 3),
                            "types " + t[0]);
            }
            Check.equal("", rows(md.getTablesN(null, "SYS", "mt" + esc + "_%", null), 3),
                        "another schema");
            // Without the escape the underscore is a wildcard of one character.
            Check.equal("mt_t1", rows(md.getTablesN(null, null, "mt_t_", "TABLE"), 3).split(",")[0],
                        "a wildcard underscore");
            Check.equal("SYS:SYSCOLUMN:SYSTEM TABLE",
                        rows(md.getTablesN(null, "SYS", "SYSCOLU%", null), 2, 3, 4), "system table");
        }));

        cases.run("the special forms: catalogs, schemas and table types", () -> withMetaData(conn, (c, s, md) -> {
            // Through the general entry point, as an application asks for them.
            IIResultSet catalogs = md.getTablesN("%", "", "", "");
            Check.equal("TABLE_CAT,TABLE_SCHEM,TABLE_NAME,TABLE_TYPE,REMARKS",
                        CatalogRows.columnNames(catalogs), "catalog form columns");
            Check.equal("", rows(catalogs, 1), "this server has no catalogs");
            Check.equal("PUBLIC,SYS,dba,dbo", rows(md.getTablesN(null, "%", null, null), 2), "schemas");
            Check.equal("TABLE,VIEW,SYSTEM TABLE,SYSTEM VIEW,GLOBAL TEMPORARY,MATERIALIZED VIEW,TEXT,PARTITION",
                        rows(md.getTablesN("", "", "", "%"), 4), "table types");
            // The raw forms put their column first: TABLE_TYPE and TABLE_SCHEM.
            IIResultSet types = md.RSgetTableTypes();
            Check.equal(1, types.findColumn("TABLE_TYPE"), "TABLE_TYPE is column 1");
            Check.equal(4, types.findColumn("TABLE_CAT"), "TABLE_CAT is column 4");
            Check.equal("TABLE:-,VIEW:-,SYSTEM TABLE:-,SYSTEM VIEW:-,GLOBAL TEMPORARY:-,MATERIALIZED VIEW:-,"
                        + "TEXT:-,PARTITION:-", rows(types, 1, 4), "table types first");
            IIResultSet schemas = md.RSgetSchemas();
            Check.equal(1, schemas.findColumn("TABLE_SCHEM"), "TABLE_SCHEM is column 1");
            Check.equal(2, schemas.findColumn("TABLE_CAT"), "TABLE_CAT is column 2");
            Check.equal("PUBLIC:-,SYS:-,dba:-,dbo:-", rows(schemas, 1, 2), "schemas first");
            IIResultSet cats = md.RSgetCatalogs();
            Check.equal(1, cats.findColumn("TABLE_CAT"), "catalogs keep their order");
            Check.equal("", rows(cats, 1), "no catalogs");
        }));

        cases.run("columns: ODBC 3 names and types, patterns and the escape", () -> withMetaData(conn, (c, s, md) -> {
            fresh(s, "mc_t", "id INTEGER NOT NULL, a_b VARCHAR(20), axb DOUBLE, d DATE, n NUMERIC(10,3)");
            String esc = md.getSearchStringEscape();
            IIResultSet cols = md.nativeGetColumns(null, null, "mc" + esc + "_t", null);
            Check.equal("TABLE_CAT,TABLE_SCHEM,TABLE_NAME,COLUMN_NAME,DATA_TYPE,TYPE_NAME,COLUMN_SIZE,"
                        + "BUFFER_LENGTH,DECIMAL_DIGITS,NUM_PREC_RADIX,NULLABLE,REMARKS,COLUMN_DEF,"
                        + "SQL_DATA_TYPE,SQL_DATETIME_SUB,CHAR_OCTET_LENGTH,ORDINAL_POSITION,IS_NULLABLE",
                        CatalogRows.columnNames(cols), "column names");
            // COLUMN_NAME:DATA_TYPE:COLUMN_SIZE:NULLABLE:ORDINAL_POSITION:IS_NULLABLE, ODBC 3 date code.
            Check.equal("id:4:10:0:1:NO,a_b:12:20:1:2:YES,axb:8:15:1:3:YES,d:91:10:1:4:YES,"
                        + "n:2:10:1:5:YES", rows(cols, 4, 5, 7, 11, 17, 18), "rows");
            Check.equal("a_b", rows(md.nativeGetColumns(null, null, "mc_t", "a" + esc + "_b"), 4),
                        "escaped underscore");
            Check.equal("a_b,axb", rows(md.nativeGetColumns(null, null, "mc_t", "a_b"), 4),
                        "wildcard underscore");
            Check.equal("id", rows(md.nativeGetColumns(null, "dba", "mc%", "i%"), 4), "prefix pattern");
            Check.equal("", rows(md.nativeGetColumns(null, "nobody", "mc_t", null), 4), "other schema");
        }));

        cases.run("names and type lists holding quotes stay literal text", () -> withMetaData(conn, (c, s, md) -> {
            fresh(s, "mq_t", "a INT");
            s.nativeExecuteUpdate("DROP TABLE IF EXISTS \"mq'o\"");
            s.execute("CREATE TABLE \"mq'o\" (\"c'q\" INT)");
            String[][] patterns = {
                {"mq_t' OR '1'='1", ""},
                {"mq%' OR 1=1 --", ""},
                {"x') OR ('1'='1", ""},
                {"mq'o", "mq'o"},
                {"mq''o", ""},
            };
            for (String[] p : patterns) {
                Check.equal(p[1], rows(md.getTablesN(null, null, p[0], null), 3), "table " + p[0]);
            }
            String[][] types = {
                {"TABLE') OR ('1'='1", ""},
                {"'TABLE') OR 1=1 --", ""},
                {"TABLE' OR '1'='1", ""},
                {"'O''Hare'", ""},
                {"TABLE", "mq'o,mq_t"},
            };
            for (String[] t : types) {
                Check.equal(t[1], rows(md.getTablesN(null, null, "mq%", t[0]), 3), "types " + t[0]);
            }
            Check.equal("c'q", rows(md.nativeGetColumns(null, null, "mq'o", "c'q"), 4), "quoted column");
            Check.equal("", rows(md.nativeGetColumns(null, "dba' OR '1'='1", "mq_t", null), 4), "schema");
            Check.equal("", rows(md.RSgetPrimaryKeys(null, null, "mq_t' OR '1'='1"), 4), "key table");
        }));

        cases.run("the function lists and the product version", () -> withMetaData(conn, (c, s, md) -> {
            IIResultSet[] lists = {md.getNumericFunctionsN(), md.getStringFunctionsN(),
                                   md.getSystemFunctionsN(), md.getTimeDateFunctionsN()};
            for (IIResultSet rs : lists) {
                Check.notNull(rs, "function list");
                Check.isTrue(rs.next(), "one row");
                String text = rs.getString(1);
                Check.notNull(text, "list text");
                Check.isTrue(text.matches("([a-z_0-9]+(,[a-z_0-9]+)*)?"), "lower-case names: " + text);
                String[] names = text.isEmpty() ? new String[0] : text.split(",");
                for (int i = 1; i < names.length; i++) {
                    Check.isTrue(names[i - 1].compareTo(names[i]) < 0, "alphabetical: " + text);
                }
                Check.isTrue(!rs.next(), "only one row");
            }
            IIResultSet direct = s.executeQuery("select @@version");
            Check.isTrue(direct.next(), "version row");
            String version = md.getDatabaseProductVersion();
            Check.notNull(version, "product version");
            Check.equal(direct.getString(1), version, "the server's @@version");
        }));

        cases.run("five catalog result sets stay open; the sixth evicts the oldest still cached",
                  () -> withMetaData(conn, (c, s, md) -> {
            fresh(s, "me_t", "a INT");
            IIResultSet[] rs = new IIResultSet[7];
            for (int i = 0; i < 5; i++) {
                rs[i] = md.getTablesN(null, null, "me_t", null);
                Check.notNull(rs[i], "result " + i);
            }
            // The caller is reading the second when more are asked for.
            Check.isTrue(rs[1].next(), "reading the second");
            // Closing the third frees its place: the sixth evicts nobody.
            rs[2].doClose();
            rs[5] = md.nativeGetColumns(null, null, "me_t", null);
            for (int i : new int[] {0, 1, 3, 4, 5}) {
                Check.isTrue(!rs[i].isClosed(), "open " + i);
            }
            // The seventh evicts the oldest (the first), not the one being read.
            rs[6] = md.RSgetTypeInfo();
            Check.isTrue(rs[0].isClosed(), "the oldest is closed");
            Check.failsWithKey("NATIVE_ACCESS_ERROR", () -> rs[0].next(), "a read of the evicted one");
            Check.equal("me_t", rs[1].getString(3), "the second still reads its row");
            Check.isTrue(!rs[1].next(), "and ends");
            for (int i : new int[] {3, 4}) {
                Check.equal("me_t", rows(rs[i], 3), "result " + i + " reads");
            }
            Check.equal("a", rows(rs[5], 4), "the columns result reads");
            // Each further request evicts the next oldest, in order.
            md.RSgetTableTypes();
            Check.isTrue(rs[1].isClosed(), "then the second");
            Check.isTrue(!rs[3].isClosed(), "the fourth stays");
            md.RSgetSchemas();
            Check.isTrue(rs[3].isClosed(), "then the fourth");
            Check.isTrue(!rs[4].isClosed() && !rs[5].isClosed() && !rs[6].isClosed(), "the newer stay");
        }));

        cases.run("the metadata object: one per connection, freed, and closed with its connection", () -> {
            IConnection c = IDriver.makeODBCConnection(conn, null, BUILD);
            IDatabaseMetaData md = c.getMetaData();
            Check.isTrue(md == c.getMetaData(), "the same object on every call");
            Check.isTrue(md.getConnection() == c, "its connection");
            Check.notNull(c.getCatalog() == null ? "" : c.getCatalog(), "catalog");
            md.nFree();
            md.nFree();
            Check.failsWithKey("NATIVE_ACCESS_ERROR", () -> md.RSgetTypeInfo(), "after nFree");
            // A freed object is not handed out again.
            IDatabaseMetaData md2 = c.getMetaData();
            Check.isTrue(md2 != md, "a new object after nFree");
            IIResultSet open = md2.RSgetTypeInfo();
            Check.isTrue(open.next(), "a type row");
            c.close();
            Check.isTrue(open.isClosed(), "its result sets close with the connection");
            Check.failsWithKey("NATIVE_ACCESS_ERROR", () -> md2.getTablesN(null, null, "%", null),
                               "after the connection closed");
            md2.nFree();
        });

        cases.finish();
    }
}
