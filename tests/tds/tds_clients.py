"""Debian's Python clients of SQL Server (pytds, pymssql) against the TDS test server.

    tds_clients.py CLIENT VERSION PORT [--without-unicode-literals] [--encrypt CERTIFICATE]

CLIENT is pytds or pymssql (through FreeTDS), VERSION the protocol version asked for: 7.2, or
7.4 for pytds and 7.3 (the highest it names) for pymssql. --without-unicode-literals leaves out
pymssql's parameterised query, whose strings travel as N'...' literals. --encrypt has pytds
encrypt the whole connection, checking the server's certificate against the PEM file named
(pymssql encrypts as its freetds.conf says). Every check runs; each failure is printed, and the
exit code is 1 when any failed.
"""
import datetime
import decimal
import sys
import time

client, version, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
unicode_literals = "--without-unicode-literals" not in sys.argv[4:]
certificate = sys.argv[sys.argv.index("--encrypt") + 1] if "--encrypt" in sys.argv else None
failures = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


def connect(**extra):
    if client == "pytds":
        import pytds
        tds = {"7.1": pytds.tds_base.TDS71, "7.2": pytds.tds_base.TDS72,
               "7.4": pytds.tds_base.TDS74}[version]
        if certificate:
            extra.update(cafile=certificate, server="localhost")
        return pytds.connect(**{"server": "127.0.0.1", "port": port, "database": "DEMO",
                                "user": "qav", "password": "tarnwick", "tds_version": tds,
                                "autocommit": True, "login_timeout": 10, **extra})
    import pymssql
    return pymssql.connect(server="127.0.0.1", port=port, database="DEMO", user="qav",
                           password="tarnwick", autocommit=True, login_timeout=10,
                           tds_version=version, **extra)


if version == "7.1":
    # The server speaks 7.2 and later: a 7.1 client reads its refusal.
    try:
        connect()
        failures.append("a 7.1 login was taken")
    except Exception as e:
        check("the refusal a 7.1 client reads", "Login failed" in str(e), True)
    for f in failures:
        print(f)
    print("ok" if not failures else f"{len(failures)} failed")
    sys.exit(1 if failures else 0)

conn = connect()
cur = conn.cursor()

# Thai in varchar (code page 874 holds it) and in nvarchar (Chinese beside it does not);
# NULLs of text and number columns.
cur.execute("select Code, NameThai, NameEng, TaxNo from Customer where Id in (1, 3) order by Id")
rows = cur.fetchall()
check("Thai varchar", rows[0][1], "บริษัท สยามการค้า จำกัด")
check("NULL text", rows[1][2], None)
cur.execute("select 'ไทย 中文' as t, null as n, cast(null as int) as i")
check("Thai nvarchar and NULLs", tuple(cur.fetchone()), ("ไทย 中文", None, None))

# Dates: a date column, a datetime column. A 7.2 client has no date type: it gets the text SQL
# Server sends down-level clients.
cur.execute("select LastSaleDate, CreateDate from Customer where LastSaleDate is not null "
            "order by Id")
last, created = cur.fetchone()
if version == "7.2":
    check("date for 7.2 as text", isinstance(last, str) and len(last) == 10, True)
    last = datetime.date.fromisoformat(last)
else:
    check("date type", type(last), datetime.date)
check("datetime type", isinstance(created, datetime.datetime), True)
cur.execute("select count(*) from Customer where LastSaleDate = '%s'" % last.isoformat())
check("the date read back finds its rows", cur.fetchone()[0] >= 1, True)

# Decimals keep their declared precision and scale.
cur.execute("select Discount from Customer where Discount > 0 order by Id")
value = cur.fetchone()[0]
check("decimal value type", type(value), decimal.Decimal)
if client == "pytds":
    # pytds drops trailing zeros from the value; the description carries the declaration.
    check("decimal(18,4) description", tuple(cur.description[0][4:6]), (18, 4))
else:
    check("decimal(18,4) scale of %r" % value, -value.as_tuple().exponent, 4)

# Several result sets, one after another.
cur.execute("select 1 as a; select 'x' as b, 2 as c")
check("first result", cur.fetchall(), [(1,)])
check("a second result", bool(cur.nextset()), True)
check("second result", [tuple(r) for r in cur.fetchall()], [("x", 2)])

# Statements on lines of their own, without ";", answer one by one, as SQL Server's do.
cur.execute("select 1 as a\nselect 2 as b")
check("first line's result", cur.fetchall(), [(1,)])
check("a second line's result", bool(cur.nextset()), True)
check("second line's result", [tuple(r) for r in cur.fetchall()], [(2,)])
cur.execute("set nocount on\nselect top 2 Code from Customer order by Code")
check("SET, then SELECT on the next line", [tuple(r) for r in cur.fetchall()],
      [("C0001",), ("C0002",)])
cur.execute("update Customer set TaxNo = TaxNo where Id <= 3")
check("no count under NOCOUNT", cur.rowcount, -1)
cur.execute("set nocount off\nupdate Customer set TaxNo = TaxNo where Id <= 3")
check("the count again after NOCOUNT OFF", cur.rowcount, 3)
tax = "TX-" + client + version
cur.execute("begin tran\nupdate Customer set TaxNo = '%s' where Id = 2\ncommit" % tax)
reader = connect()
rcur = reader.cursor()
rcur.execute("select TaxNo from Customer where Id = 2")
check("committed by the batch's COMMIT", rcur.fetchone()[0], tax)
reader.close()
if client == "pytds":
    # pytds keeps the ERROR token's number and line.
    for sql, want in (("\n\nselect 1 / 0", (8134, 3)), ("select 1\nend", (156, 2))):
        try:
            cur.execute(sql)
            failures.append("no error for %r" % sql)
        except Exception as e:
            check("number and line of %r" % sql, (getattr(e, "number", None),
                                                  getattr(e, "line", None)), want)

# A parameterised query: pytds sends sp_executesql with typed parameters; pymssql puts the
# values into the text, strings as N'...' literals.
if client == "pytds" or unicode_literals:
    cur.execute("select Code from Customer where NameThai = %s and Id < %s",
                ("บริษัท สยามการค้า จำกัด", 100))
    check("parameterised query", [tuple(r) for r in cur.fetchall()], [("C0001",)])

# What SQL Server answers for its own variables, RAISERROR's arguments and two common errors.
cur.execute("select @@version, @@spid, db_name()")
version_text, spid, database = cur.fetchone()
check("@@version", version_text.startswith("Microsoft SQL Server"), True)
check("@@spid", isinstance(spid, int) and spid >= 51, True)
check("db_name()", database, "DEMO")
for sql, number, text in (("RAISERROR('value %s and %d', 16, 1, 'abc', 7)", 50000,
                           "value abc and 7"),
                          ("select * from NoSuchTable", 208, "Invalid object name 'NoSuchTable'."),
                          ("select 1 from where", 156,
                           "Incorrect syntax near the keyword 'where'.")):
    try:
        cur.execute(sql)
        failures.append("no error for %r" % sql)
    except Exception as e:
        if client == "pytds":
            check("error of %r" % sql, (e.number, e.text), (number, text))
        else:
            check("error of %r" % sql, (e.args[0], text in str(e.args[1])), (number, True))
if client == "pytds":
    cur.execute("RAISERROR('note %d', 10, 1, 5)\nselect 1")
    cur.fetchall()
    notes = [(m[1].number, m[1].severity, m[1].text) for m in cur.messages]
    check("RAISERROR of severity 10", notes, [(50000, 10, "note 5")])

    # nvarchar as declared, though Thai fits code page 874; varchar stays varchar.
    cur.execute("select NameThai, Code from Customer where Id = 1")
    check("nvarchar and varchar types", [d[1] for d in cur.description], [0xE7, 0xA7])

    # Parameters selected back come in their own types.
    when = datetime.datetime(2024, 1, 2, 3, 4, 5, 678000)
    cur.execute("select %s as d, %s as b, %s as t",
                (decimal.Decimal("12.345"), True, when))
    check("parameters selected back", tuple(cur.fetchone()), (decimal.Decimal("12.345"), True, when))

# Cancel: a query over its time is stopped by the client (an attention), and the connection
# goes on serving.
timed = connect(timeout=1)
tcur = timed.cursor()
started = time.monotonic()
try:
    tcur.execute("waitfor delay '00:00:20'")
    failures.append("cancel: the wait ran to its end")
except Exception:
    pass
check("cancelled soon", time.monotonic() - started < 10, True)


def reconnect(**extra):
    # db-lib gives up the connection after a time-out, against any server: a new one then.
    global timed, tcur
    if client == "pymssql":
        timed.close()
        timed = connect(**extra)
        tcur = timed.cursor()


# Minutes of computing without a row: the attention stops the statement at once.
reconnect(timeout=1)
started = time.monotonic()
try:
    tcur.execute("with n(i) as (select 1 union all select i + 1 from n where i < 2000000000) "
                 "select count(*) from n")
    failures.append("cancel: the count ran to its end")
except Exception:
    pass
check("a computing statement cancelled soon", time.monotonic() - started < 10, True)
reconnect()
started = time.monotonic()
tcur.execute("select 42")
check("the connection after a cancel", tcur.fetchone()[0], 42)
check("answered at once, the statement stopped", time.monotonic() - started < 5, True)
timed.close()

conn.close()
for f in failures:
    print(f)
print("ok" if not failures else f"{len(failures)} failed")
sys.exit(1 if failures else 0)
