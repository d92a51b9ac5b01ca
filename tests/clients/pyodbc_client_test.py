#!/usr/bin/python3
"""What Python programs do with the driver through pyodbc (Debian's, on /usr/bin/python3)
and the unixODBC driver manager: connect, parameters of every Python type, executemany with
and without fast_executemany, the fetch calls, description, rowcount, transactions, context
managers, values of several MB, and errors raised as pyodbc's class for their SQLSTATE.

Run by run_pyodbc.sh, which starts vqeng12 and sets VQ_PYODBC_CONNECT to the connection
strings to test, one a line (a data source over TCP/IP, a DSN-less string over shared
memory). Every test runs once for each of them."""
import datetime
import decimal
import os
import sys
import unittest

import pyodbc

CONNECT_STRINGS = [s for s in os.environ.get("VQ_PYODBC_CONNECT", "").split("\n") if s]

D = decimal.Decimal


class DriverThroughPyodbc(unittest.TestCase):
    # Set per run by run(): the connection string under test.
    connect_string = None

    def connect(self, **kw):
        return pyodbc.connect(self.connect_string, **kw)

    def setUp(self):
        self.con = self.connect()
        self.cur = self.con.cursor()
        self.tables = []

    def tearDown(self):
        try:
            self.con.rollback()
            for t in self.tables:
                self.cur.execute("DROP TABLE IF EXISTS %s" % t)
            self.con.commit()
        finally:
            self.con.close()

    def table(self, name, columns):
        """Creates table `name` (dropped again after the test) and commits."""
        self.tables.append(name)
        self.cur.execute("DROP TABLE IF EXISTS %s" % name)
        self.cur.execute("CREATE TABLE %s (%s)" % (name, columns))
        self.con.commit()

    def test_connect_reports_the_driver_and_server(self):
        self.assertEqual(self.con.getinfo(pyodbc.SQL_DBMS_NAME), "Vellumcrest")
        self.assertFalse(self.con.autocommit)
        self.assertEqual(self.cur.execute("SELECT 1").fetchone()[0], 1)

    def test_parameters_of_every_python_type_round_trip(self):
        self.table("py_types",
                   "i INT, b BIGINT, f DOUBLE, n NUMERIC(10,2), w NUMERIC(20,6), "
                   "s VARCHAR(40), y VARBINARY(40), d DATE, t TIME, ts TIMESTAMP")
        rows = [
            (42, 2**40 + 7, 3.25, D("39.90"), D("12345678.123456"), "plain text",
             b"\x00\x01\xfe\xff", datetime.date(2024, 2, 29), datetime.time(23, 59, 58),
             datetime.datetime(1999, 12, 31, 23, 59, 59)),
            (-7, -(2**62), -1e-9, D("-249.00"), D("0.000001"), "Grüße 日本 \U0001F600",
             b"", datetime.date(1, 1, 1), datetime.time(0, 0, 0),
             datetime.datetime(2038, 1, 19, 3, 14, 8)),
            (None, None, None, None, None, None, None, None, None, None),
        ]
        for r in rows:
            self.cur.execute("INSERT INTO py_types VALUES (?,?,?,?,?,?,?,?,?,?)", *r)
            self.assertEqual(self.cur.rowcount, 1)
        got = self.cur.execute(
            "SELECT i, b, f, n, w, s, y, d, t, ts FROM py_types ORDER BY i DESC").fetchall()
        self.assertEqual([tuple(g) for g in got], [rows[0], rows[1], rows[2]])
        # Exact decimals: the type is Decimal, not float, with the column's scale.
        self.assertIsInstance(got[0][3], D)
        self.assertEqual(str(got[0][3]), "39.90")
        self.assertEqual(str(got[1][3]), "-249.00")
        # pyodbc sends a datetime's fraction only to as many digits as SQLGetTypeInfo
        # says the server keeps, and that call is not built yet: fractions are checked
        # as fetched.
        self.assertEqual(self.cur.execute("SELECT {ts '1999-12-31 23:59:59.125'}").fetchval(),
                         datetime.datetime(1999, 12, 31, 23, 59, 59, 125000))
        # A parameter compared against a column finds the row.
        self.cur.execute("SELECT COUNT(*) FROM py_types WHERE n = ? AND d = ? AND s = ?",
                         D("39.90"), datetime.date(2024, 2, 29), "plain text")
        self.assertEqual(self.cur.fetchone()[0], 1)

    def test_description_names_types_and_sizes(self):
        self.table("py_desc", "id INT NOT NULL, price NUMERIC(10,2), name VARCHAR(30), "
                              "born DATE, data VARBINARY(16)")
        self.cur.execute("SELECT id, price, name, born, data FROM py_desc")
        d = self.cur.description
        self.assertEqual([c[0] for c in d], ["id", "price", "name", "born", "data"])
        self.assertEqual([c[1] for c in d], [int, D, str, datetime.date, bytearray])
        self.assertEqual((d[1][4], d[1][5]), (10, 2))  # precision and scale
        self.assertEqual(d[2][3], 30)
        self.assertFalse(d[0][6])  # NOT NULL
        self.assertTrue(d[1][6])
        self.assertEqual(self.cur.fetchall(), [])

    def test_fetchone_fetchmany_fetchall_and_iteration(self):
        self.table("py_fetch", "k INT, v VARCHAR(10)")
        self.cur.executemany("INSERT INTO py_fetch VALUES (?, ?)",
                             [(k, "v%d" % k) for k in range(25)])
        self.cur.execute("SELECT k, v FROM py_fetch ORDER BY k")
        self.assertEqual(tuple(self.cur.fetchone()), (0, "v0"))
        self.assertEqual([r.k for r in self.cur.fetchmany(5)], [1, 2, 3, 4, 5])
        self.cur.arraysize = 3
        self.assertEqual([r[0] for r in self.cur.fetchmany()], [6, 7, 8])
        self.assertEqual([r.v for r in self.cur.fetchall()], ["v%d" % k for k in range(9, 25)])
        self.assertIsNone(self.cur.fetchone())
        self.assertEqual(self.cur.fetchmany(4), [])
        self.assertEqual(sum(r.k for r in self.cur.execute("SELECT k FROM py_fetch")),
                         sum(range(25)))

    def test_each_result_set_of_a_text_of_several_queries(self):
        self.table("py_sets", "k INT, v VARCHAR(10)")
        self.cur.executemany("INSERT INTO py_sets VALUES (?, ?)", [(1, "a"), (2, "b")])
        self.cur.execute("SELECT k FROM py_sets ORDER BY k; SELECT v, k FROM py_sets ORDER BY k DESC; "
                         "SELECT 7")
        self.assertEqual([r.k for r in self.cur.fetchall()], [1, 2])
        self.assertTrue(self.cur.nextset())
        self.assertEqual([tuple(r) for r in self.cur.fetchall()], [("b", 2), ("a", 1)])
        self.assertTrue(self.cur.nextset())
        self.assertEqual(self.cur.fetchone()[0], 7)
        self.assertFalse(self.cur.nextset())
        # The connection goes on.
        self.assertEqual(self.cur.execute("SELECT COUNT(*) FROM py_sets").fetchone()[0], 2)

    def test_executemany_with_and_without_fast_executemany(self):
        self.table("py_many", "k INT, n NUMERIC(12,3), s VARCHAR(20), d DATE, y VARBINARY(8)")
        rows = [(k, D(k) / 8, "row %d é" % k, datetime.date(2020, 1, 1 + k % 28),
                 bytes([k % 256, 0])) for k in range(300)]
        rows[7] = (7, None, None, None, None)
        for fast in (False, True):
            with self.subTest(fast_executemany=fast):
                self.cur.execute("DELETE FROM py_many")
                self.cur.fast_executemany = fast
                self.cur.executemany("INSERT INTO py_many VALUES (?, ?, ?, ?, ?)", rows)
                self.con.commit()
                got = self.cur.execute("SELECT k, n, s, d, y FROM py_many ORDER BY k").fetchall()
                self.assertEqual([tuple(r) for r in got], rows)
                self.cur.fast_executemany = fast
                self.cur.executemany("UPDATE py_many SET s = ? WHERE k = ?",
                                     [("changed", k) for k in (1, 2, 3)])
                self.assertEqual(
                    self.cur.execute("SELECT COUNT(*) FROM py_many WHERE s = 'changed'")
                    .fetchval(), 3)

    def test_rowcount(self):
        self.table("py_count", "k INT")
        self.cur.executemany("INSERT INTO py_count VALUES (?)", [(k,) for k in range(10)])
        self.assertEqual(self.cur.execute("UPDATE py_count SET k = k + 1 WHERE k < 4").rowcount,
                         4)
        self.assertEqual(self.cur.execute("DELETE FROM py_count WHERE k > 100").rowcount, 0)
        self.assertEqual(self.cur.execute("DELETE FROM py_count").rowcount, 10)

    def test_commit_and_rollback(self):
        self.table("py_tx", "k INT")
        other = self.connect(autocommit=True)
        try:
            self.cur.execute("INSERT INTO py_tx VALUES (1)")
            self.con.rollback()
            self.assertEqual(self.cur.execute("SELECT COUNT(*) FROM py_tx").fetchval(), 0)
            self.cur.execute("INSERT INTO py_tx VALUES (2)")
            self.con.commit()
            self.assertEqual(other.execute("SELECT k FROM py_tx").fetchall()[0][0], 2)
            # With autocommit on, each statement stands on its own.
            self.con.autocommit = True
            self.cur.execute("INSERT INTO py_tx VALUES (3)")
            self.con.rollback()
            self.assertEqual(other.execute("SELECT COUNT(*) FROM py_tx").fetchval(), 2)
        finally:
            other.close()

    def test_context_managers_commit_or_roll_back(self):
        self.table("py_ctx", "k INT")
        with self.connect() as con:
            con.execute("INSERT INTO py_ctx VALUES (1)")
        # Leaving the block without an exception commits.
        self.assertEqual(self.cur.execute("SELECT COUNT(*) FROM py_ctx").fetchval(), 1)
        self.con.commit()
        with self.assertRaises(ZeroDivisionError):
            with self.connect() as con:
                con.execute("INSERT INTO py_ctx VALUES (2)")
                1 / 0
        self.assertEqual(self.cur.execute("SELECT COUNT(*) FROM py_ctx").fetchval(), 1)
        self.con.commit()
        with self.con.cursor() as cur:
            cur.execute("INSERT INTO py_ctx VALUES (3)")
        # A cursor's block commits on leaving it too (pyodbc's autocommit is off).
        with self.connect(autocommit=True) as other:
            self.assertEqual(other.execute("SELECT COUNT(*) FROM py_ctx").fetchval(), 2)

    def long_values(self, chars, size):
        self.table("py_long", "k INT, t LONG VARCHAR, b LONG BINARY")
        text = "".join(chr(0x20 + (i * 7919) % 0x5E) for i in range(chars)) + "Ω😀"
        data = bytes((i * 131 + (i >> 9)) % 256 for i in range(size))
        self.cur.execute("INSERT INTO py_long VALUES (?, ?, ?)", 1, text, data)
        self.con.commit()
        row = self.cur.execute("SELECT t, b FROM py_long WHERE k = 1").fetchone()
        self.assertEqual(len(row.t), len(text))
        self.assertTrue(row.t == text, "the long text came back changed")
        self.assertTrue(row.b == data, "the long binary value came back changed")
        self.assertEqual(
            self.cur.execute("SELECT LENGTH(b) FROM py_long WHERE k = 1").fetchval(), len(data))

    def test_long_text_and_binary_values(self):
        self.long_values(60000, 250000)

    # pyodbc binds a long str or bytes value whole, not in pieces at execution: a value
    # above the statement's maximum length goes through a server variable.
    def test_long_text_and_binary_values_of_several_megabytes(self):
        self.long_values(3 * 1024 * 1024, 5 * 1024 * 1024)

    # pyodbc asks for tables through the narrow SQLTables with UTF-8 text, which the
    # driver manager converts for the driver; columns through SQLColumnsW. Names of
    # several scripts are found both ways. (A character outside the Basic Multilingual
    # Plane does not survive the driver manager's conversion of the narrow call, which
    # goes through UCS-2, so tables() cannot find such a name; columns() can.)
    def test_catalog_calls_find_tables_with_non_ascii_names(self):
        for name in ('"Tabelle_ä"', '"Таблица"', '"表格"'):
            self.table(name, "n INT, \"größe\" VARCHAR(10)")
            plain = name.strip('"')
            found = [r.table_name for r in self.cur.tables(table=plain)]
            self.assertEqual(found, [plain])
            columns = [r.column_name for r in self.cur.columns(table=plain)]
            self.assertEqual(columns, ["n", "größe"])

    def test_errors_raise_the_class_of_their_sqlstate(self):
        self.table("py_err", "k INT PRIMARY KEY, n NUMERIC(4,1)")
        self.cur.execute("INSERT INTO py_err VALUES (1, 1.5)")
        self.con.commit()
        cases = [
            ("SELECT * FROM py_no_such_table", (), pyodbc.ProgrammingError, "42"),
            ("SELEKT 1", (), pyodbc.ProgrammingError, "42"),
            ("INSERT INTO py_err VALUES (1, 2)", (), pyodbc.IntegrityError, "23"),
        ]
        for sql, params, cls, state in cases:
            with self.subTest(sql=sql):
                with self.assertRaises(cls) as caught:
                    self.cur.execute(sql, *params)
                self.assertTrue(caught.exception.args[0].startswith(state),
                                caught.exception.args)
        # The connection still works after the errors, and nothing was lost.
        self.con.rollback()
        self.assertEqual(self.cur.execute("SELECT n FROM py_err").fetchall()[0][0], D("1.5"))

    def test_a_refused_login_is_an_interface_error_with_28000(self):
        bad = self.connect_string.replace("PWD=sql", "PWD=wrong")
        with self.assertRaises(pyodbc.InterfaceError) as caught:
            pyodbc.connect(bad)
        self.assertEqual(caught.exception.args[0], "28000")

    def test_catalog_tables_and_columns_rows(self):
        self.table("py_cat_a", "id INTEGER PRIMARY KEY, name VARCHAR(30) NOT NULL, "
                               "price NUMERIC(10,2)")
        rows = self.cur.tables(table="py~_cat~_a").fetchall()
        self.assertEqual([(r.table_name, r.table_type) for r in rows], [("py_cat_a", "TABLE")])
        cols = self.cur.columns(table="py~_cat~_a").fetchall()
        self.assertEqual([(c.column_name, c.data_type, c.nullable, c.ordinal_position,
                           c.is_nullable) for c in cols],
                         [("id", pyodbc.SQL_INTEGER, 0, 1, "NO"),
                          ("name", pyodbc.SQL_VARCHAR, 0, 2, "NO"),
                          ("price", pyodbc.SQL_NUMERIC, 1, 3, "YES")])
        self.assertEqual((cols[1].column_size, cols[2].column_size, cols[2].decimal_digits),
                         (30, 10, 2))

    def test_catalog_type_info(self):
        every = self.cur.getTypeInfo().fetchall()
        types = [r.data_type for r in every]
        self.assertEqual(types, sorted(types))
        names = {r.type_name: r for r in every}
        for name, code in (("integer", pyodbc.SQL_INTEGER), ("real", pyodbc.SQL_REAL),
                           ("float", pyodbc.SQL_FLOAT), ("money", pyodbc.SQL_NUMERIC),
                           ("date", pyodbc.SQL_TYPE_DATE)):
            self.assertEqual(names[name].data_type, code, name)
        self.assertEqual(names["money"].fixed_prec_scale, 1)
        one = self.cur.getTypeInfo(pyodbc.SQL_TYPE_TIMESTAMP).fetchall()
        self.assertEqual([(r.type_name, r.column_size) for r in one], [("timestamp", 26)])
        with self.assertRaises(pyodbc.Error) as caught:
            self.cur.getTypeInfo(94)
        self.assertEqual(caught.exception.args[0], "HY004")

    def test_catalog_keys_indexes_and_row_ids(self):
        self.table("py_pk", "a INTEGER, b INTEGER, label VARCHAR(10), PRIMARY KEY (a, b)")
        self.table("py_fk", "id INTEGER PRIMARY KEY, pa INTEGER, pb INTEGER, "
                            "FOREIGN KEY (pa, pb) REFERENCES py_pk(a, b) ON DELETE CASCADE")
        self.cur.execute("CREATE UNIQUE INDEX py_pk_label ON py_pk(label)")
        self.con.commit()
        pk = self.cur.primaryKeys("py_pk").fetchall()
        self.assertEqual([(r.column_name, r.key_seq) for r in pk], [("a", 1), ("b", 2)])
        fk = self.cur.foreignKeys(table="py_pk").fetchall()
        self.assertEqual([(r.pkcolumn_name, r.fktable_name, r.fkcolumn_name, r.key_seq,
                           r.delete_rule) for r in fk],
                         [("a", "py_fk", "pa", 1, 0), ("b", "py_fk", "pb", 2, 0)])
        imported = self.cur.foreignKeys(foreignTable="py_fk").fetchall()
        self.assertEqual([r.pktable_name for r in imported], ["py_pk", "py_pk"])
        stats = self.cur.statistics("py_pk", unique=True).fetchall()
        self.assertEqual(stats[0].type, 0)
        self.assertIn(("py_pk_label", "label"),
                      [(r.index_name, r.column_name) for r in stats[1:]])
        self.con.set_attr(pyodbc.SQL_ATTR_TXN_ISOLATION, pyodbc.SQL_TXN_SERIALIZABLE)
        rowid = self.cur.rowIdColumns("py_pk").fetchall()
        self.assertEqual([(r.column_name, r.scope) for r in rowid], [("a", 1), ("b", 1)])

    def test_catalog_procedures_and_their_columns(self):
        self.cur.execute("CREATE PROCEDURE py_proc (IN a INTEGER, OUT b VARCHAR(20), "
                         "INOUT c INTEGER) BEGIN SET b = 'x'; SET c = c + a; END")
        self.con.commit()
        try:
            procs = self.cur.procedures(procedure="py~_proc").fetchall()
            self.assertEqual([(p.procedure_name, p.num_input_params, p.num_output_params,
                               p.procedure_type) for p in procs], [("py_proc", 2, 2, 1)])
            cols = self.cur.procedureColumns(procedure="py~_proc").fetchall()
            self.assertEqual([(c.column_name, c.column_type, c.data_type, c.ordinal_position)
                              for c in cols],
                             [("a", pyodbc.SQL_PARAM_INPUT, pyodbc.SQL_INTEGER, 1),
                              ("b", pyodbc.SQL_PARAM_OUTPUT, pyodbc.SQL_VARCHAR, 2),
                              ("c", pyodbc.SQL_PARAM_INPUT_OUTPUT, pyodbc.SQL_INTEGER, 3)])
        finally:
            self.cur.execute("DROP PROCEDURE py_proc")
            self.con.commit()


def run():
    if not CONNECT_STRINGS:
        print("VQ_PYODBC_CONNECT is not set", file=sys.stderr)
        return 2
    ok = True
    for s in CONNECT_STRINGS:
        print("== %s" % s.replace("PWD=sql", "PWD=***"), flush=True)
        DriverThroughPyodbc.connect_string = s
        suite = unittest.defaultTestLoader.loadTestsFromTestCase(DriverThroughPyodbc)
        ok = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)\
            .wasSuccessful() and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(run())
