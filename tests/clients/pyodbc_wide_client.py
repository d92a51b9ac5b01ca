#!/usr/bin/python3
"""pyodbc (Debian's, on /usr/bin/python3) through the unixODBC driver manager, which calls
the driver's wide entry points: connect, SQL text and parameters with several scripts and a
character outside the Basic Multilingual Plane, values and catalog rows read back, column
names, driver information, and a server error quoting a non-ASCII name.

    pyodbc_wide_client.py <data source> <driver library> <cycles> <connection keys>
Only the data source is used. Prints one line per check; exits 0 when every check held."""
import sys

import pyodbc

failures = 0


def check(ok, what):
    global failures
    print(("ok " if ok else "FAILED ") + what)
    if not ok:
        failures += 1


table = "py_Tабл_\U0001F600"
value = "Grüße Привет 日本 \U0001F600"

con = pyodbc.connect("DSN=%s;UID=dba;PWD=sql" % sys.argv[1], autocommit=True)
check(con.getinfo(pyodbc.SQL_DBMS_NAME) == "Vellumcrest", "getinfo(SQL_DBMS_NAME)")
cur = con.cursor()
cur.execute('CREATE TABLE "%s" ("имя" varchar(60), n int)' % table)
cur.execute('INSERT INTO "%s" VALUES (?, ?)' % table, value, 1)
check(cur.rowcount == 1, "a UTF-16 parameter inserts a row")
cur.execute("INSERT INTO \"%s\" VALUES ('%s', 2)" % (table, value))
check(cur.rowcount == 1, "SQL text with a literal inserts a row")
cur.execute('SELECT "имя", n FROM "%s" ORDER BY n' % table)
check([tuple(r) for r in cur.fetchall()] == [(value, 1), (value, 2)], "fetched text in UTF-16")
long_value = ("Ωμέγα 日本語 \U0001F600\U00010348 " * 20)[:590]
cur.execute('CREATE TABLE "%s_long" (t varchar(600))' % table)
cur.execute('INSERT INTO "%s_long" VALUES (?)' % table, long_value)
check(cur.execute('SELECT t FROM "%s_long"' % table).fetchval() == long_value,
      "a long value with pairs read back in pieces")
cur.execute('DROP TABLE "%s_long"' % table)
check([(r.table_name, r.column_name) for r in cur.columns(table=table)] ==
      [(table, "имя"), (table, "n")], "columns() rows carry non-ASCII names")
cur.execute('DELETE FROM "%s" WHERE "имя" = ?' % table, value)
check(cur.rowcount == 2, "both rows hold the same text")
cur.execute('SELECT "имя" AS "\U0001F600", n FROM "%s"' % table)
check([d[0] for d in cur.description] == ["\U0001F600", "n"], "column names in UTF-16")
try:
    cur.execute('SELECT * FROM "нет_такой_\U0001F600"')
    check(False, "a missing table is an error")
except pyodbc.Error as e:
    check("нет_такой_\U0001F600" in str(e), "the server's error quotes the table's name")
cur.execute('DROP TABLE "%s"' % table)

# A connection whose character set is single-byte: what windows-1252 holds round-trips,
# what it lacks is refused with 22018 on the way in and on the way out.
fits = "Grüße, café à 5 €"
cur.execute('CREATE TABLE "py_Tabelle_ä" ("größe" varchar(60), n int)')
cur.execute('INSERT INTO "py_Tabelle_ä" VALUES (?, 1)', "Привет \U0001F600")
sb = pyodbc.connect("DSN=%s;UID=dba;PWD=sql;CharSet=windows-1252" % sys.argv[1],
                    autocommit=True)
sbc = sb.cursor()
sbc.execute('INSERT INTO "py_Tabelle_ä" VALUES (?, 2)', fits)
sbc.execute("INSERT INTO \"py_Tabelle_ä\" VALUES ('%s', 3)" % fits)
check([tuple(r) for r in sbc.execute('SELECT "größe", n FROM "py_Tabelle_ä" WHERE n > 1 '
                                     'ORDER BY n').fetchall()] == [(fits, 2), (fits, 3)],
      "windows-1252: text it holds round-trips")
check([d[0] for d in sbc.description] == ["größe", "n"], "windows-1252: column names")
check(cur.execute('SELECT count(*) FROM "py_Tabelle_ä" WHERE "größe" = ?', fits).fetchval()
      == 2, "windows-1252: stored as the same text a UTF-8 connection sees")
try:
    sbc.execute("INSERT INTO \"py_Tabelle_ä\" VALUES ('Привет', 4)")
    check(False, "windows-1252: SQL text it lacks is refused")
except pyodbc.Error as e:
    check(e.args[0] == "22018", "windows-1252: SQL text it lacks is refused with 22018")
try:
    sbc.execute('SELECT "größe" FROM "py_Tabelle_ä" WHERE n = 1').fetchall()
    check(False, "windows-1252: a result it lacks is refused")
except pyodbc.Error as e:
    check(e.args[0] == "22018", "windows-1252: a result it lacks is refused with 22018")
sb.close()
cur.execute('DROP TABLE "py_Tabelle_ä"')
con.close()
sys.exit(0 if failures == 0 else 1)
