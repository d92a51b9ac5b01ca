package vqtest.@VARIANT@;

import @NATIVE_PACKAGE@.IConnection;
import @NATIVE_PACKAGE@.IDatabaseMetaData;
import @NATIVE_PACKAGE@.IDriver;
import @NATIVE_PACKAGE@.IIResultSet;
import @NATIVE_PACKAGE@.IIStatement;
import java.sql.SQLException;
import java.util.Arrays;
import vqtest.Cases;
import vqtest.CatalogRows;
import vqtest.Check;

/**
 * The catalog result sets of the native DatabaseMetaData for types, keys, indexes, special
 * columns, procedures and privileges, against tables, procedures and users the test makes:
 * the type list in its order, primary, imported and exported keys and cross references
 * with their rules, unique and all indexes, the best row identifier by scope and
 * nullability, version columns, procedures and their columns, and table and column
 * privileges reaching group members once.
 * Arguments: the connection string of the test's server, and the link name.
 */
public final class DatabaseMetaDataKeysTest {
    private DatabaseMetaDataKeysTest() {
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

    static String rows(IIResultSet rs, int... columns) throws Throwable {
        Check.notNull(rs, "catalog result set");
        return CatalogRows.rows(rs, columns);
    }

    static String sorted(String rows) {
        if (rows.isEmpty()) {
            return rows;
        }
        String[] parts = rows.split(",");
        Arrays.sort(parts);
        return String.join(",", parts);
    }

    // The key tables, made afresh (children first when dropping).
    static void keyTables(IIStatement s) throws SQLException {
        s.nativeExecuteUpdate("DROP TABLE IF EXISTS k_child");
        s.nativeExecuteUpdate("DROP TABLE IF EXISTS k_other");
        s.nativeExecuteUpdate("DROP TABLE IF EXISTS k_parent");
        s.execute("CREATE TABLE k_parent(zid INTEGER, aid INTEGER, label VARCHAR(20), "
                  + "PRIMARY KEY (zid, aid))");
        s.execute("CREATE TABLE k_child(cid INTEGER PRIMARY KEY, pz INTEGER, pa INTEGER, "
                  + "note VARCHAR(10), FOREIGN KEY (pz, pa) REFERENCES k_parent(zid, aid) "
                  + "ON UPDATE SET NULL ON DELETE CASCADE)");
        s.execute("CREATE TABLE k_other(oid INTEGER PRIMARY KEY, pz INTEGER, pa INTEGER, "
                  + "FOREIGN KEY (pz, pa) REFERENCES k_parent(zid, aid))");
    }

    public static void main(String[] args) {
        final String conn = args[0];
        final String link = args[1];
        Cases cases = new Cases("DatabaseMetaDataKeysTest " + Variant.NAME + " " + link);
        IDriver.initEnv(Variant.LEVEL, false);

        cases.run("type information: every type ordered by DATA_TYPE, no duplicate", () -> withMetaData(conn, (c, s, md) -> {
            IIResultSet rs = md.RSgetTypeInfo();
            // The nineteen ODBC 3 columns in their order (the driver adds its ordering column).
            String names = CatalogRows.columnNames(rs);
            Check.isTrue(names.startsWith("TYPE_NAME,DATA_TYPE,COLUMN_SIZE,LITERAL_PREFIX,LITERAL_SUFFIX,"
                        + "CREATE_PARAMS,NULLABLE,CASE_SENSITIVE,SEARCHABLE,UNSIGNED_ATTRIBUTE,FIXED_PREC_SCALE,"
                        + "AUTO_UNIQUE_VALUE,LOCAL_TYPE_NAME,MINIMUM_SCALE,MAXIMUM_SCALE,SQL_DATA_TYPE,"
                        + "SQL_DATETIME_SUB,NUM_PREC_RADIX,INTERVAL_PRECISION"), "ODBC 3 column names: " + names);
            String all = rows(rs, 1, 2);
            String[] entries = all.split(",");
            Check.isTrue(entries.length > 20, "many types: " + all);
            int last = Integer.MIN_VALUE;
            for (String e : entries) {
                int type = Integer.parseInt(e.substring(e.indexOf(':') + 1));
                Check.isTrue(last <= type, "ordered by DATA_TYPE: " + all);
                last = type;
            }
            Check.equal(entries.length, Arrays.stream(entries).distinct().count(), "no duplicate row");
            for (String expected : new String[] {"bit:-7", "numeric:2", "integer:4", "float:6", "real:7",
                                                 "date:91", "time:92", "timestamp:93", "long varchar:-1"}) {
                Check.isTrue(("," + all + ",").contains("," + expected + ","), expected + " in " + all);
            }
        }));

        cases.run("primary keys, imported and exported keys and cross references with their rules",
                  () -> withMetaData(conn, (c, s, md) -> {
            keyTables(s);
            IIResultSet pk = md.RSgetPrimaryKeys(null, null, "k_parent");
            Check.equal("TABLE_CAT,TABLE_SCHEM,TABLE_NAME,COLUMN_NAME,KEY_SEQ,PK_NAME",
                        CatalogRows.columnNames(pk), "primary key columns");
            Check.equal("k_parent:aid:2,k_parent:zid:1", rows(pk, 3, 4, 5), "primary key of the parent");
            Check.equal("cid:1", rows(md.RSgetPrimaryKeys(null, null, "k_child"), 4, 5), "of the child");
            // A name, not a pattern.
            Check.equal("", rows(md.RSgetPrimaryKeys(null, null, "k_par%"), 4), "no pattern");

            IIResultSet exported = md.RSgetExportedKeys(null, null, "k_parent");
            Check.equal("PKTABLE_CAT,PKTABLE_SCHEM,PKTABLE_NAME,PKCOLUMN_NAME,FKTABLE_CAT,FKTABLE_SCHEM,"
                        + "FKTABLE_NAME,FKCOLUMN_NAME,KEY_SEQ,UPDATE_RULE,DELETE_RULE,FK_NAME,PK_NAME,"
                        + "DEFERRABILITY", CatalogRows.columnNames(exported), "foreign key columns");
            Check.equal("k_parent:zid:k_child:pz:1,k_parent:aid:k_child:pa:2,"
                        + "k_parent:zid:k_other:pz:1,k_parent:aid:k_other:pa:2",
                        rows(exported, 3, 4, 7, 8, 9), "exported keys of the parent");
            Check.equal("", rows(md.RSgetExportedKeys(null, null, "k_child"), 3), "the child exports none");
            Check.equal("k_parent:zid:k_other:pz:1,k_parent:aid:k_other:pa:2",
                        rows(md.RSgetImportedKeys(null, null, "k_other"), 3, 4, 7, 8, 9),
                        "imported keys of a child");
            Check.equal("", rows(md.RSgetImportedKeys(null, null, "k_parent"), 3), "the parent imports none");
            // Update sets null (2), delete cascades (0), checked at once (6).
            Check.equal("zid:pz:2:0:6,aid:pa:2:0:6",
                        rows(md.RSgetCrossReference(null, null, "k_parent", null, null, "k_child"),
                             4, 8, 10, 11, 14), "cross reference with its rules");
            Check.equal("", rows(md.RSgetCrossReference(null, null, "k_child", null, null, "k_parent"), 4),
                        "the reverse direction");
        }));

        cases.run("index information: unique only or all, with the table row", () -> withMetaData(conn, (c, s, md) -> {
            keyTables(s);
            s.execute("CREATE UNIQUE INDEX k_child_note ON k_child(note)");
            s.execute("CREATE INDEX k_child_pz ON k_child(pz, pa)");
            s.nativeExecuteUpdate("INSERT INTO k_parent VALUES (1, 1, 'a')");
            s.nativeExecuteUpdate("INSERT INTO k_child VALUES (1, 1, 1, 'x')");
            s.nativeExecuteUpdate("INSERT INTO k_child VALUES (2, 1, 1, 'y')");
            // NON_UNIQUE, INDEX_NAME, TYPE, ORDINAL_POSITION, COLUMN_NAME, CARDINALITY
            String unique = rows(md.RSgetIndexInfo(null, null, "k_child", true, false), 4, 6, 7, 8, 9, 11);
            Check.isTrue(unique.startsWith("-:-:0:-:-:2"), "the table row first: " + unique);
            Check.isTrue(unique.contains("0:k_child_note:1:1:note:2"), "the unique index: " + unique);
            Check.isTrue(!unique.contains("k_child_pz"), "no other index: " + unique);
            String all = rows(md.RSgetIndexInfo(null, null, "k_child", false, true), 4, 6, 7, 8, 9);
            Check.isTrue(all.contains("1:k_child_pz:1:1:pz,1:k_child_pz:1:2:pa"), "the plain index: " + all);
            Check.isTrue(all.contains("0:k_child_note:1:1:note"), "and the unique one: " + all);
        }));

        cases.run("best row identifier by scope and nullability, and version columns",
                  () -> withMetaData(conn, (c, s, md) -> {
            keyTables(s);
            c.setTransactionIsolation(2);  // read committed: the current row has a row id
            IIResultSet best = md.RSgetBestRowIdentifier(null, null, "k_parent", 0, true);
            Check.equal("SCOPE,COLUMN_NAME,DATA_TYPE,TYPE_NAME,COLUMN_SIZE,BUFFER_LENGTH,DECIMAL_DIGITS,"
                        + "PSEUDO_COLUMN", CatalogRows.columnNames(best), "special column names");
            Check.equal("0:zid:4:1,0:aid:4:1", rows(best, 1, 2, 3, 8), "current row");
            Check.equal("", rows(md.RSgetBestRowIdentifier(null, null, "k_parent", 1, true), 2),
                        "transaction scope under read committed");
            // Any scope beyond the transaction asks for the session.
            Check.equal("", rows(md.RSgetBestRowIdentifier(null, null, "k_parent", 7, true), 2),
                        "scope 7 is the session");
            c.setTransactionIsolation(8);
            Check.equal("1:zid,1:aid", rows(md.RSgetBestRowIdentifier(null, null, "k_parent", 0, true), 1, 2),
                        "serializable");
            Check.equal("", rows(md.RSgetBestRowIdentifier(null, null, "k_parent", 2, true), 2), "session");
            s.nativeExecuteUpdate("DROP TABLE IF EXISTS k_nopk");
            s.execute("CREATE TABLE k_nopk(u INTEGER NOT NULL, v INTEGER, w INTEGER)");
            s.execute("CREATE UNIQUE INDEX k_nopk_uv ON k_nopk(u, v)");
            Check.equal("u,v", rows(md.RSgetBestRowIdentifier(null, null, "k_nopk", 0, true), 2),
                        "a unique index when nulls are allowed");
            Check.equal("", rows(md.RSgetBestRowIdentifier(null, null, "k_nopk", 0, false), 2),
                        "none without nulls");
            s.nativeExecuteUpdate("DROP TABLE IF EXISTS k_ver");
            s.execute("CREATE TABLE k_ver(id INTEGER PRIMARY KEY, changed TIMESTAMP DEFAULT timestamp)");
            Check.equal("changed", rows(md.RSgetVersionColumns(null, null, "k_ver"), 2), "version column");
            c.setTransactionIsolation(1);
            Check.equal("changed", rows(md.RSgetVersionColumns(null, null, "k_ver"), 2),
                        "version column at read uncommitted");
            Check.equal("", rows(md.RSgetVersionColumns(null, null, "k_parent"), 2), "none");
        }));

        cases.run("procedures and their columns by direction", () -> withMetaData(conn, (c, s, md) -> {
            String full = "kp_full_" + link;
            String none = "kp_none_" + link;
            s.execute("CREATE PROCEDURE " + full + "(IN a INTEGER, OUT b VARCHAR(20), INOUT c INTEGER) "
                      + "BEGIN SET b = 'x'; SET c = c + a; RETURN a END");
            s.execute("CREATE PROCEDURE " + none + "() BEGIN RETURN 1 END");
            String esc = md.getSearchStringEscape();
            IIResultSet procs = md.RSgetProcedures(null, null, "kp" + esc + "_%" + link);
            // NAME:NUM_INPUT_PARAMS:NUM_OUTPUT_PARAMS:NUM_RESULT_SETS:PROCEDURE_TYPE
            Check.equal(full + ":2:3:0:2," + none + ":0:1:0:2", rows(procs, 3, 4, 5, 6, 8), "procedures");
            // COLUMN_NAME:COLUMN_TYPE:DATA_TYPE:ORDINAL_POSITION, the return value first.
            Check.equal("return_value:5:4:0,a:1:4:1,b:4:12:2,c:2:4:3",
                        rows(md.RSgetProcedureColumns(null, null, full, null), 4, 5, 6, 18), "columns");
            Check.equal("b:4:12:2", rows(md.RSgetProcedureColumns(null, null, full, "b"), 4, 5, 6, 18),
                        "one column");
        }));

        cases.run("table and column privileges reach group members once", () -> withMetaData(conn, (c, s, md) -> {
            String t = "kv_t_" + link;
            String user = "kv_user_" + link;
            String other = "kv_other_" + link;
            String group = "kv_group_" + link;
            s.nativeExecuteUpdate("DROP TABLE IF EXISTS " + t);
            s.execute("CREATE TABLE " + t + "(a INTEGER, b INTEGER)");
            for (String u : new String[] {user, other, group}) {
                s.execute("GRANT CONNECT TO " + u + " IDENTIFIED BY pw");
            }
            s.execute("GRANT GROUP TO " + group);
            s.execute("GRANT MEMBERSHIP IN GROUP " + group + " TO " + user);
            s.execute("GRANT SELECT ON " + t + " TO " + group + " WITH GRANT OPTION");
            s.execute("GRANT UPDATE(b) ON " + t + " TO " + other);
            s.execute("GRANT UPDATE(a) ON " + t + " TO " + user + " WITH GRANT OPTION");
            String esc = md.getSearchStringEscape();
            IIResultSet tp = md.RSgetTablePrivileges(null, null, t.replace("_", esc + "_"));
            Check.equal("TABLE_CAT,TABLE_SCHEM,TABLE_NAME,GRANTOR,GRANTEE,PRIVILEGE,IS_GRANTABLE",
                        CatalogRows.columnNames(tp), "table privilege columns");
            // GRANTOR:GRANTEE:PRIVILEGE:IS_GRANTABLE
            Check.equal(sorted("dba:dba:delete:YES,dba:dba:insert:YES,dba:dba:references:YES,"
                               + "dba:dba:select:YES,dba:dba:update:YES,dba:" + group + ":select:YES,dba:"
                               + user + ":select:YES"),
                        sorted(rows(tp, 4, 5, 6, 7)), "table privileges");
            IIResultSet cp = md.RSgetColumnPrivileges(null, null, t, "b");
            Check.equal("TABLE_CAT,TABLE_SCHEM,TABLE_NAME,COLUMN_NAME,GRANTOR,GRANTEE,PRIVILEGE,IS_GRANTABLE",
                        CatalogRows.columnNames(cp), "column privilege columns");
            Check.equal(sorted("b:dba:dba:delete:YES,b:dba:dba:insert:YES,b:dba:dba:references:YES,"
                               + "b:dba:dba:select:YES,b:dba:dba:update:YES,b:dba:" + group + ":select:YES,"
                               + "b:dba:" + other + ":UPDATE:NO,b:dba:" + user + ":select:YES"),
                        sorted(rows(cp, 4, 5, 6, 7, 8)), "column privileges");
        }));

        cases.finish();
    }
}
