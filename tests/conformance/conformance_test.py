#!/usr/bin/env python3
"""`ledgerkit serve` against its own OpenRPC document, through the Python client.

Usage: conformance_test.py LEDGERKIT_CLI

A scratch company is served on a free loopback port. The document is read from GET /openrpc.json
(and must be what rpc.discover answers); then a bookkeeper's day runs through the client: logon,
the chart, a deposit and a cheque, an invoice with two taxes from entry to issue, a bank
reconciliation, every statement, held objects, a batch, refused calls and logoff. Every raw
answer is checked against its method's result schema, or against ErrorObject with its code among
the method's listed errors, and every argument list the service took against the method's
parameter schemas. The server is stopped with SIGTERM and must exit 0.
"""

import datetime
import decimal
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "clients", "python"))

import jsonschema  # noqa: E402  (python3-jsonschema)

from ledgerkit_client import EMPTY, Client, Currency, LedgerkitError, ResultSet  # noqa: E402

READY_SECONDS = 60  # a loaded machine may take a while to start or drain the server
COMPANY, ADMIN, PASSWORD = "acme", "boss", "s3cret-Pw"
TT_CHQ, TT_DEP = 0, 7
DAY = datetime.date(2026, 3, 31)


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def shorten(value, limit=1500):
    text = json.dumps(value, default=str)
    return text if len(text) <= limit else text[:limit] + "..."


class Conformance:
    """Checks every request and answer the client sees against the document."""

    def __init__(self, document):
        self.document = document
        self.methods = {}
        for method in document.get("methods", []):
            self.methods[method["name"].lower()] = method
        self.mismatches = []
        self.answers_checked = 0
        self.methods_seen = set()

    def validate(self, schema, instance):
        """The validator's messages for `instance` against `schema`, $refs resolved in the document."""
        # A draft-07 "#/components/..." reference resolves against the root schema, so the
        # document's components ride along beside the schema being checked.
        wrapped = dict(schema) if isinstance(schema, dict) else {"allOf": [schema]}
        wrapped.setdefault("components", self.document.get("components", {}))
        validator = jsonschema.Draft7Validator(wrapped)
        return ["%s at %s" % (error.message, "/".join(str(p) for p in error.absolute_path) or "(root)")
                for error in sorted(validator.iter_errors(instance), key=lambda e: list(e.absolute_path))]

    def resolve(self, node):
        """`node`, or what its {"$ref": "#/..."} points to in the document."""
        while isinstance(node, dict) and isinstance(node.get("$ref"), str) and node["$ref"].startswith("#/"):
            target = self.document
            for step in node["$ref"][2:].split("/"):
                step = step.replace("~1", "/").replace("~0", "~")
                if not isinstance(target, dict) or step not in target:
                    self.mismatches.append("a reference that leads nowhere: %s" % node["$ref"])
                    return {}
                target = target[step]
            node = target
        return node

    def mismatch(self, method, what, value, messages, label="answer"):
        self.mismatches.append("%s: %s does not fit the document: %s\n    %s: %s"
                               % (method, what, "; ".join(messages[:5]), label, shorten(value)))

    def trace(self, request, answer, status):
        requests = request if isinstance(request, list) else [request]
        answers = answer if isinstance(answer, list) else [answer]
        by_id = {a.get("id"): a for a in answers if isinstance(a, dict)}
        for one in requests:
            if "id" not in one:
                continue
            reply = by_id.get(one["id"])
            if reply is None and len(requests) == 1 and isinstance(answer, dict):
                reply = answer  # a refusal of the whole request answers with the id it could read
            self.check(one, reply, status)

    def check(self, request, reply, status):
        name = request["method"]
        method = self.methods.get(name.lower())
        self.answers_checked += 1
        if reply is None:
            self.mismatches.append("%s: no answer (HTTP %s)" % (name, status))
            return
        if method is not None:
            self.methods_seen.add(method["name"])
        if "result" in reply:
            if method is None:
                self.mismatches.append("%s: answered, but the document has no such method" % name)
                return
            messages = self.validate(method.get("result", {}).get("schema", {}), reply["result"])
            if messages:
                self.mismatch(name, "the result", reply["result"], messages)
            self.check_params(method, request.get("params", []))
        elif "error" in reply:
            error_schema = self.document.get("components", {}).get("schemas", {}).get("ErrorObject")
            if error_schema is None:
                self.mismatches.append("the document has no components.schemas.ErrorObject")
            else:
                messages = self.validate({"$ref": "#/components/schemas/ErrorObject"}, reply["error"])
                if messages:
                    self.mismatch(name, "the error", reply["error"], messages)
            if method is not None:
                codes = [self.resolve(e).get("code") for e in method.get("errors", [])]
                if reply["error"].get("code") not in codes:
                    self.mismatches.append("%s: error code %s (HTTP %s) is not among its listed errors %s\n    answer: %s"
                                           % (name, reply["error"].get("code"), status, codes, shorten(reply["error"])))
        else:
            self.mismatches.append("%s: an answer with neither result nor error: %s" % (name, shorten(reply)))

    def check_params(self, method, params):
        """Arguments the service took must be ones the document allows."""
        described = method.get("params", [])
        if isinstance(params, dict):
            if method.get("paramStructure") == "by-position":
                self.mismatches.append("%s: the service takes its arguments by name (%s), the document says by-position"
                                       % (method["name"], sorted(params)))
            for param in described:
                if param.get("name") in params:
                    messages = self.validate(param.get("schema", {}), params[param["name"]])
                    if messages:
                        self.mismatch(method["name"], "argument %s" % param.get("name"), params[param["name"]], messages,
                                      "sent")
                elif param.get("required"):
                    self.mismatches.append("%s: required argument %s not sent, yet taken" % (method["name"], param["name"]))
            return
        if len(params) != len(described):
            self.mismatches.append("%s: the service took %d arguments, the document lists %d"
                                   % (method["name"], len(params), len(described)))
            return
        for value, param in zip(params, described):
            messages = self.validate(param.get("schema", {}), value)
            if messages:
                self.mismatch(method["name"], "argument %s" % param.get("name"), value, messages, "sent")


class Server:
    """`ledgerkit serve` over a data folder, on a free port."""

    def __init__(self, cli, data, log):
        self.log = open(log, "wb")
        self.process = subprocess.Popen([cli, "serve", "--data", data, "--listen", "127.0.0.1:0"],
                                        stdout=subprocess.PIPE, stderr=self.log, stdin=subprocess.DEVNULL)
        line = b""
        deadline = time.monotonic() + READY_SECONDS
        while b"\n" not in line and time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], 1.0)
            if ready:
                chunk = os.read(self.process.stdout.fileno(), 256)
                if not chunk:
                    break
                line += chunk
        found = re.search(rb"listening on (\S+):(\d+)", line)
        if not found:
            self.stop()
            raise Failure("the server printed no address: %r" % line)
        self.url = "http://127.0.0.1:%d" % int(found.group(2))

    def stop(self):
        """SIGTERM, then the exit status (None if it had to be killed)."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(timeout=READY_SECONDS)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            status = None
        self.process.stdout.close()
        self.log.close()
        return status


def run(cli, folder):
    data = os.path.join(folder, "data")
    os.mkdir(data)
    made = subprocess.run([cli, "new", os.path.join(data, COMPANY + ".ldb"), "--company", "Acme Renovations",
                           "--user", ADMIN, "--password", PASSWORD, "--chart", "standard"],
                          capture_output=True, text=True)
    expect(made.returncode == 0, "ledgerkit new failed: " + made.stderr)
    described = json.loads(subprocess.run([cli, "describe", "--json"], capture_output=True, text=True,
                                          check=True).stdout)

    server = Server(cli, data, os.path.join(folder, "server.log"))
    results = []
    try:
        results = scenarios(server.url, described)
    finally:
        status = server.stop()
    results.append(("the server drains on SIGTERM and exits 0",
                    None if status == 0 else "exit status %s" % status))
    return results, os.path.join(folder, "server.log")


def scenarios(url, described):
    results = []
    anonymous = Client(url)
    document = anonymous.openrpc()
    conformance = Conformance(document)
    books = Client(url, trace=conformance.trace)
    state = {}

    def scenario(title):
        def wrap(body):
            try:
                body()
                results.append((title, None))
            except Exception as failure:  # a fault in one scenario leaves the others to run
                detail = "".join(traceback.format_exception_only(type(failure), failure)).strip()
                if not isinstance(failure, (Failure, LedgerkitError)):
                    detail = traceback.format_exc()
                results.append((title, detail))
            return body
        return wrap

    @scenario("the document names every method of the service, by position")
    def _():
        expect(str(document.get("openrpc", "")).startswith("1.3"), "openrpc is %r" % document.get("openrpc"))
        names = {m["name"] for m in document["methods"]}
        wanted = {"create", "invoke", "release", "rpc.discover"}
        for cls in described["classes"]:
            if cls.get("creatable"):
                wanted |= {cls["name"] + "." + m["name"] for m in cls["members"]}
        expect(not wanted - names, "missing from the document: %s" % sorted(wanted - names))
        # invoke takes {"object", "member", "args"}: its arguments are by name.
        by_position = [m["name"] for m in document["methods"]
                       if m.get("paramStructure") != "by-position" and m["name"] != "invoke" and m.get("params")]
        expect(not by_position, "not by-position: %s" % by_position[:10])
        for cls in described["classes"]:
            for member in cls["members"] if cls.get("creatable") else []:
                method = next(m for m in document["methods"] if m["name"] == cls["name"] + "." + member["name"])
                listed = [p["name"] for p in method.get("params", [])]
                expect(listed == member["arguments"], "%s lists %s, the library takes %s"
                       % (method["name"], listed, member["arguments"]))
        conformance.validate({"$ref": "#/components/schemas/ErrorObject"}, {})  # every $ref resolves

    @scenario("a bookkeeper logs on and the service describes itself the same way over rpc.discover")
    def _():
        token = books.logon(COMPANY, ADMIN, PASSWORD)
        expect(isinstance(token, str) and token, "no token: %r" % token)
        expect(books.discover() == document, "rpc.discover differs from GET /openrpc.json")

    @scenario("the chart of accounts, and a second tax account added to it")
    def _():
        accounts = books.call("CACMgr.GetAllAccounts", COMPANY, "", "")
        by_number = {a["AccountNumber"]: a for a in accounts}
        for number in ("1000", "1200", "2100", "3000", "4000", "4900", "5100", "5200"):
            expect(number in by_number, "the standard chart has no account %s" % number)
            expect(by_number[number].class_name == "ACAccount", "an account decoded as %r" % by_number[number])
        expect(accounts.keys == [str(a["ACAccountID"]) for a in accounts], "collection keys are not the account keys")
        tax_type = by_number["2100"]["AccountTypeID"]
        pst = books.call("CACMgr.AddAccount", COMPANY, "", "", "2200", "PST payable", "Provincial sales tax", "",
                         False, "", EMPTY, tax_type, EMPTY)
        expect(isinstance(pst, int) and pst > 0, "AddAccount answered %r" % pst)
        by_number["2200"] = books.call("CACMgr.GetAccount", COMPANY, "", "", pst)
        state["accounts"] = {number: account["ACAccountID"] for number, account in by_number.items()}
        liabilities = books.call("CACMgr.GetLiabilityAccounts", COMPANY, "", "", False)
        expect("2200" in [a["AccountNumber"] for a in liabilities], "the new account is not among the liabilities")

    def account(number):
        return state["accounts"][number]

    def balance(number):
        return books.call("CACMgr.GetAccount", COMPANY, "", "", account(number))["Balance"]

    @scenario("capital deposited and the March rent paid by cheque")
    def _():
        deposit = books.call("CACMgr.BeginTransaction", COMPANY, "", "", TT_DEP, datetime.date(2026, 3, 1), "Capital",
                             account("1000"), Currency("25000"), "", "Owner", "")
        books.call("CACMgr.PostCredit", COMPANY, deposit, account("3000"), Currency("25000"), "Capital")
        books.call("CACMgr.EndTransaction", COMPANY, deposit)
        cheque = books.call("CACMgr.BeginTransaction", COMPANY, "", "", TT_CHQ, datetime.date(2026, 3, 3),
                            "Rent, March", account("1000"), Currency("1850"), "Harbour Properties", "March", "1001")
        expect(isinstance(cheque, str) and cheque != deposit, "cheque number %r after deposit %r" % (cheque, deposit))
        books.call("CACMgr.PostDebit", COMPANY, cheque, account("5100"), Currency("1850"), "Rent, March")
        books.call("CACMgr.EndTransaction", COMPANY, cheque)
        log = books.call("CACMgr.GetTransLog", COMPANY, "", "", cheque)
        expect(log["TransLogStatus"] == 1, "the cheque's header is not committed: %r" % log)
        expect(log["TransactionDate"] == datetime.date(2026, 3, 3), "date read back as %r" % log["TransactionDate"])
        rows = books.call("CACMgr.GetTransactionsByTransNum", COMPANY, "", "", cheque)
        expect(sorted((r["AccountID"], r["Withdrawal"], r["Deposit"]) for r in rows) ==
               sorted([(account("1000"), 0, Currency("1850")), (account("5100"), Currency("1850"), 0)]),
               "the cheque's register rows: %r" % rows)
        # Stored balances are credits less debits.
        expect(balance("1000") == Currency("-23150"), "bank balance %r" % balance("1000"))
        state["bank_rows"] = [r["ACTransactionID"] for r in rows if r["AccountID"] == account("1000")]
        deposit_rows = books.call("CACMgr.GetTransactionsByTransNum", COMPANY, "", "", deposit)
        state["bank_rows"] += [r["ACTransactionID"] for r in deposit_rows if r["AccountID"] == account("1000")]

    @scenario("an invoice with GST and PST, entered, itemised and issued")
    def _():
        tax = books.call("CACMgr.AddTaxCode", COMPANY, "", "", "B", "GST and PST", 5.0, "GST", False, 7.0, "PST",
                         False, False, False, account("2100"), account("2200"))
        lines = [("CAB-1", "Cabinet, oak", Currency("100"), 2.0), ("HW-3", "Hinges", Currency("0.3333"), 3.0)]
        # Taxes are reckoned per line to the ten-thousandth, half to even, and summed per tax name.
        places = decimal.Decimal("0.0001")
        amounts = [(price * decimal.Decimal(repr(quantity))).quantize(places) for _, _, price, quantity in lines]
        gst = sum((a * decimal.Decimal("0.05")).quantize(places, decimal.ROUND_HALF_EVEN) for a in amounts)
        pst = sum((a * decimal.Decimal("0.07")).quantize(places, decimal.ROUND_HALF_EVEN) for a in amounts)
        total = sum(amounts) + gst + pst
        invoice, args = books.call_with_args("CACMgr.InsertInvoice", COMPANY, "", "", -1, "Kitchen cabinets",
                                             datetime.date(2026, 3, 10), "", "PO-4471", "12 Lake Rd", "Lakeside Builders",
                                             Currency(total), account("1200"))
        expect(args[6] not in ("", None, EMPTY), "InsertInvoice wrote back no invoice number: %r" % args)
        for code, name, price, quantity in lines:
            item = books.call("CACMgr.AddInvoiceItem", COMPANY, "", "", invoice, tax, code, name, price, quantity, "ea",
                              account("4000"))
            expect(books.call("CACMgr.GetInvoiceItem", COMPANY, "", "", item)["ItemPrice"] == price, "price changed")
        pending = books.call("CACMgr.GetAllPendingInvoices", COMPANY, "", "")
        expect([i["ACInvoiceID"] for i in pending] == [invoice], "pending invoices: %r" % pending)
        books.call("CACMgr.IssueInvoice", COMPANY, "", "", invoice)
        issued = books.call("CACMgr.GetInvoice", COMPANY, "", "", invoice)
        expect(issued["Paid"] == 0 and issued["InvoiceNo"] == str(args[6]), "the issued invoice: %r" % issued)
        expect(balance("2100") == gst and balance("2200") == pst, "taxes posted %r and %r, expected %s and %s"
               % (balance("2100"), balance("2200"), gst, pst))
        expect(balance("1200") == -total, "receivable %r, expected %s" % (balance("1200"), -total))
        by_trans = books.call("CACMgr.GetInvoiceByTrans", COMPANY, "", "", issued["TransactionNumber"])
        expect(by_trans["ACInvoiceID"] == invoice, "GetInvoiceByTrans found %r" % by_trans)
        state["receivable"] = total
        state["sales"] = sum(amounts)

    @scenario("the bank statement reconciled, with its service charge and interest")
    def _():
        books.call("CACMgr.ReconcileAccount", COMPANY, "", "", account("1000"),
                   "|".join(str(row) for row in state["bank_rows"]), Currency("12.5"), DAY, account("5200"),
                   Currency("3.27"), DAY, account("4900"))
        register = books.call("CReportMgr.AccountRegister", COMPANY, "", "", account("1000"),
                              datetime.date(2026, 1, 1), DAY)
        expect(isinstance(register, ResultSet), "AccountRegister answered %r" % register)
        closing = [r for r in register.records() if r.get("RowKind") == "closing"]
        expect(closing and closing[0]["Balance"] == Currency("23140.77"), "closing row %r" % closing)
        reconciled = books.call("CReportMgr.ExecReportQuery", COMPANY,
                                "SELECT COUNT(*) AS n FROM ACTransaction WHERE Reconciled<>0 AND Parent=%d"
                                % account("1000"))
        expect(reconciled.rows[0][0] == len(state["bank_rows"]) + 2, "reconciled rows: %r" % reconciled.rows)

    @scenario("every statement of the month")
    def _():
        trial = books.call("CReportMgr.TrialBalance", COMPANY, "", "", DAY).records()
        total = [r for r in trial if r["RowKind"] == "total"]
        expect(len(total) == 1 and total[0]["Debits"] == total[0]["Credits"], "trial balance total %r" % total)
        sheet = books.call("CReportMgr.BalanceSheet", COMPANY, "", "", DAY)
        expect(len(sheet) > 0 and sheet.names[0] == "RowKind", "balance sheet %r" % sheet)
        income = books.call("CReportMgr.IncomeStatement", COMPANY, "", "", datetime.date(2026, 3, 1), DAY, False)
        net = [r for r in income.records() if r["RowKind"] == "net-income"]
        expected = state["sales"] + Currency("3.27") - Currency("1850") - Currency("12.5")
        expect(net and net[-1]["Amount"] == expected, "net income %r, expected %s" % (net, expected))
        monthly = books.call("CReportMgr.IncomeStatement", COMPANY, "", "", datetime.date(2026, 2, 1), DAY, True)
        expect(len(monthly.columns) == len(income.columns) + 2, "monthly columns %r" % monthly.names)
        aged = books.call("CReportMgr.AgedReceivables", COMPANY, "", "", datetime.date(2026, 4, 30)).records()
        expect(any(r.get("Total") == state["receivable"] for r in aged), "aged receivables %r" % aged)

    @scenario("held objects: create, invoke and release")
    def _():
        manager = books.call("create", "CACMgr")
        bank = books.invoke(manager, "GetAccount", COMPANY, "", "", account("1000"))
        expect(bank["AccountNumber"] == "1000", "invoke answered %r" % bank)
        books.call("release", manager.handle)

    @scenario("a batch of reads, and one notification")
    def _():
        with books.batch() as batch:
            codes = batch.call("CACMgr.GetAllTaxCodes", COMPANY, "", "")
            sub = batch.call("CAccountMgr.GetAccountInfo", COMPANY)
            bad = batch.call("CACMgr.GetTaxCode", COMPANY, "", "", 999)
        expect([c["TaxCode"] for c in codes.value] == ["B"], "tax codes %r" % codes.value)
        expect(sub.value.class_name == "ISubScriber", "subscriber %r" % sub.value)
        try:
            bad.value
            raise Failure("a missing tax code was found")
        except LedgerkitError:
            pass
        books.notify("CACMgr.GetAllAccounts", COMPANY, "", "")

    @scenario("refused calls say what went wrong")
    def _():
        for params, code in (((COMPANY, "", "", "x"), None), ((COMPANY, "", ""), -32602)):
            try:
                books.call("CACMgr.GetAccount", *params)
                raise Failure("GetAccount%r was taken" % (params,))
            except LedgerkitError as error:
                expect(code is None or error.code == code, "code %s for %r" % (error.code, params))
                expect(error.text and error.number is not None, "an error without text or number: %r" % error.error)
        try:
            books.call("CACMgr.EndTransaction", COMPANY, "424242")
            raise Failure("a transaction that does not exist was ended")
        except LedgerkitError as error:
            expect("424242" in error.text, "the refusal does not name the number: %r" % error.text)
        stranger = Client(url, trace=conformance.trace)
        try:
            stranger.logon(COMPANY, ADMIN, "not-the-password")
            raise Failure("a wrong password was taken")
        except LedgerkitError as error:
            expect(error.status == 401 and stranger.token is None, "wrong password: HTTP %s" % error.status)
        try:
            stranger.call("CACMgr.GetAllAccounts", COMPANY, "", "")
            raise Failure("a call without a session was taken")
        except LedgerkitError as error:
            expect(error.status == 401, "no session: HTTP %s" % error.status)

    @scenario("logoff ends the session")
    def _():
        ended = books.token
        books.logoff()
        expect(books.token is None, "the client kept its token")
        late = Client(url, trace=conformance.trace)
        late.token = ended
        try:
            late.call("CACMgr.GetAllAccounts", COMPANY, "", "")
            raise Failure("a call after logoff was taken")
        except LedgerkitError as error:
            expect(error.status == 401, "after logoff: HTTP %s" % error.status)

    statements = {m["name"] for m in document["methods"] if m["name"].startswith("CReportMgr.")}
    results.append(("every member of CReportMgr was called",
                    "not called: %s" % sorted(statements - conformance.methods_seen)
                    if statements - conformance.methods_seen else None))
    results.append(("every answer (%d) fits the document" % conformance.answers_checked,
                    "\n".join(conformance.mismatches) or None))
    return results


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: conformance_test.py LEDGERKIT_CLI")
    folder = tempfile.mkdtemp(prefix="ledgerkit-conformance-")
    try:
        try:
            results, log = run(os.path.abspath(sys.argv[1]), folder)
        except Exception:
            print("FAILED before the scenarios ran:\n" + traceback.format_exc())
            log = os.path.join(folder, "server.log")
            if os.path.exists(log):
                print("server log (end):\n" + open(log, errors="replace").read()[-3000:])
            return 1
        failed = [(title, detail) for title, detail in results if detail]
        for title, detail in results:
            print(("ok    " if not detail else "FAIL  ") + title)
            if detail:
                print("      " + detail.replace("\n", "\n      "))
        print("%d passed, %d failed" % (len(results) - len(failed), len(failed)))
        return 1 if failed else 0
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
