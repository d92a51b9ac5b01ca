#!/usr/bin/python3
"""pyodbc (Debian's, on /usr/bin/python3) through the unixODBC driver manager, which calls
the driver's wide entry points: connect, SQL text and parameters with several scripts and a
character outside the Basic Multilingual Plane, column names, driver information, and a
server error quoting a non-ASCII name.

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
con.close()
sys.exit(0 if failures == 0 else 1)
