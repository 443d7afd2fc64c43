"""A client for the ledgerkit HTTP service (`ledgerkit serve`), standard library only.

Every member of the library's creatable classes is called by its "Class.Member" name with its
arguments in order; the service fills `UserName` and `Token` from the session, so those may be
passed as "". Money is sent and read as exact decimals, dates as `datetime.date` or
`datetime.datetime`, and the library's Empty as `EMPTY`.

    from datetime import date
    from ledgerkit_client import Client, Currency, LedgerkitError

    books = Client("http://127.0.0.1:8080")
    books.logon("acme", "admin", "secret")
    for account in books.call("CACMgr.GetAllAccounts", "acme", "", ""):
        print(account["AccountNumber"], account["Name"], account["Balance"])
    number = books.call("CACMgr.BeginTransaction", "acme", "", "", 0, date(2026, 3, 3), "Rent",
                        1, Currency("1850"), "Landlord", "March", "1001")
    books.call("CACMgr.PostDebit", "acme", number, 10, Currency("1850"), "Rent")
    books.call("CACMgr.EndTransaction", "acme", number)
    invoice, args = books.call_with_args("CACMgr.InsertInvoice", "acme", "", "", -1, "Work",
                                         date(2026, 3, 10), "", "", "", "Lakeside", Currency(0), 2)
    print("invoice", invoice, "numbered", args[6])
    try:
        books.call("CACMgr.GetAccount", "acme", "", "", 99999)
    except LedgerkitError as error:
        print(error.number, error.text)
    books.logoff()
"""

from __future__ import annotations

import datetime
import decimal
import itertools
import json
import re
import urllib.error
import urllib.request

__all__ = ["Client", "Batch", "Currency", "EMPTY", "NOTHING", "Entity", "Collection", "ResultSet",
           "ObjectRef", "LedgerkitError", "encode", "decode"]

# The library's currency: a signed fixed-point number with four decimal places, within 64 bits.
_CURRENCY_PLACES = decimal.Decimal("0.0001")
_CURRENCY_LIMIT = decimal.Decimal("922337203685477.5807")


class Currency(decimal.Decimal):
    """An exact amount of money, at most four decimal places: Currency("12.5"), Currency(3).

    A value with more places, or beyond the library's range, is refused rather than rounded.
    Floats are refused too: Currency(0.1) would not be 0.1.
    """

    def __new__(cls, value="0"):
        if isinstance(value, float):
            raise TypeError("Currency takes text, an int or a Decimal, not a float: " + repr(value))
        amount = decimal.Decimal(value)
        if not amount.is_finite():
            raise ValueError("not an amount: " + str(value))
        if amount != amount.quantize(_CURRENCY_PLACES, rounding=decimal.ROUND_HALF_EVEN):
            raise ValueError("an amount has at most four decimal places: " + str(value))
        if abs(amount) > _CURRENCY_LIMIT:
            raise ValueError("beyond the currency range: " + str(value))
        return super().__new__(cls, amount)

    def wire_text(self) -> str:
        """Plain decimal text, never an exponent: "1850", "0.0001", "-12.5"."""
        text = format(decimal.Decimal(self).normalize(), "f")
        return "0" if text in ("-0", "") else text


class _Marker:
    def __init__(self, name: str):
        self._name = name

    def __repr__(self) -> str:
        return self._name

    def __bool__(self) -> bool:
        return False


EMPTY = _Marker("EMPTY")  # the library's Empty: {"$empty": true}
NOTHING = _Marker("NOTHING")  # no object: {"$nothing": true}


class Entity:
    """One entity of the library (an account, an invoice, ...) as the service sent it.

    `class_name` is its class ("ACAccount"); `properties` maps public names to decoded values,
    also readable as entity["Name"]. An entity held by the session (see `hold=True`) has a
    `handle` that can be passed back as an argument.
    """

    def __init__(self, class_name: str, properties: dict, handle: int | None = None):
        self.class_name = class_name
        self.properties = properties
        self.handle = handle

    def __getitem__(self, name: str):
        return self.properties[name]

    def get(self, name: str, default=None):
        return self.properties.get(name, default)

    def __repr__(self) -> str:
        return "Entity(%r, %r)" % (self.class_name, self.properties)


class Collection(list):
    """A collection of the library: a list of its items, with the items' keys in `keys`."""

    def __init__(self, items=(), keys=(), handle: int | None = None):
        super().__init__(items)
        self.keys = list(keys)
        self.handle = handle


class ResultSet:
    """A result set: `columns` (each {"name", "type", "size"}) and `rows` of decoded values."""

    def __init__(self, columns: list, rows: list, handle: int | None = None):
        self.columns = columns
        self.rows = rows
        self.handle = handle

    @property
    def names(self) -> list:
        return [column["name"] for column in self.columns]

    def records(self) -> list:
        """The rows as dictionaries by column name."""
        names = self.names
        return [dict(zip(names, row)) for row in self.rows]

    def __len__(self) -> int:
        return len(self.rows)

    def __repr__(self) -> str:
        return "ResultSet(%r, %d rows)" % (self.names, len(self.rows))


class ObjectRef:
    """An object the session holds (from `create`, or a call with hold=True), by its handle."""

    def __init__(self, handle: int, class_name: str = ""):
        self.handle = handle
        self.class_name = class_name

    def __repr__(self) -> str:
        return "ObjectRef(%d, %r)" % (self.handle, self.class_name)


# The line the library appends to an error description to mark where it was raised.
_ERROR_MARKER = re.compile(r"\r?\n >\S*@-?\d+\s*$")


class LedgerkitError(Exception):
    """A refused call: the JSON-RPC error of the answer, or a failure to reach the service.

    `code` is the JSON-RPC code, `number` and `source` the library's error number and source,
    `description` the library's full description. `text` is what happened in plain words,
    `argument` the argument it concerns and `operation` the member that raised it; services that
    do not send them leave `argument` and `operation` None and `text` the description.
    `status` is the HTTP status (401 no or expired session, 403 not allowed, 429 too many
    failures, 413 body too large, 503 busy or stopping).
    """

    def __init__(self, error: dict, status: int | None = None, method: str | None = None):
        data = error.get("data") if isinstance(error.get("data"), dict) else {}
        self.error = error
        self.status = status
        self.method = method
        self.code = error.get("code")
        self.message = error.get("message", "")
        self.number = data.get("number", self.code)
        self.source = data.get("source")
        self.description = data.get("description", self.message)
        text = data.get("text")
        self.text = text if text is not None else _ERROR_MARKER.sub("", self.description or "")
        self.argument = data.get("argument")
        self.operation = data.get("operation")
        super().__init__("%s%s (%s)" % (method + ": " if method else "", self.text, self.number))


def encode(value):
    """A Python value in the service's JSON form (Currency, dates, EMPTY, held objects)."""
    if value is EMPTY:
        return {"$empty": True}
    if value is NOTHING:
        return {"$nothing": True}
    if isinstance(value, (ObjectRef, Entity, Collection, ResultSet)):
        if value.handle is None:
            raise ValueError("only an object the session holds can be passed back: " + repr(value))
        return {"$object": value.handle}
    if isinstance(value, Currency):
        return {"$currency": value.wire_text()}
    if isinstance(value, decimal.Decimal):
        return {"$currency": Currency(value).wire_text()}
    if isinstance(value, datetime.datetime):
        return {"$date": value.strftime("%Y-%m-%d %H:%M:%S")}
    if isinstance(value, datetime.date):
        return {"$date": value.isoformat()}
    if isinstance(value, (list, tuple)):
        return [encode(item) for item in value]
    if value is None or isinstance(value, (bool, int, float, str)):
        return value
    raise TypeError("no JSON form for a %s: %r" % (type(value).__name__, value))


def _decode_date(text: str):
    moment = datetime.datetime.fromisoformat(text.replace(" ", "T") if len(text) > 10 else text)
    if isinstance(moment, datetime.datetime) and moment.time() == datetime.time(0):
        return moment.date()  # a whole day, as the ledger's dates are
    return moment


def decode(value):
    """A value of an answer as Python: Decimal, date/datetime, EMPTY, Entity, Collection, ResultSet."""
    if isinstance(value, list):
        return [decode(item) for item in value]
    if not isinstance(value, dict):
        return value
    if "$currency" in value:
        return decimal.Decimal(value["$currency"])
    if "$date" in value:
        return _decode_date(value["$date"])
    if "$empty" in value:
        return EMPTY
    if "$nothing" in value:
        return NOTHING
    handle = value.get("$object")
    class_name = value.get("class", "")
    if class_name == "Collection" and "items" in value:
        items = value["items"]
        return Collection([decode(item["value"]) for item in items], [item.get("key") for item in items], handle)
    if class_name == "Recordset" and "rows" in value:
        return ResultSet(value.get("columns", []), [[decode(cell) for cell in row] for row in value["rows"]], handle)
    if "properties" in value:
        return Entity(class_name, {name: decode(item) for name, item in value["properties"].items()}, handle)
    if handle is not None:
        return ObjectRef(handle, class_name)
    return {name: decode(item) for name, item in value.items()}


class Client:
    """One connection's worth of calls to `ledgerkit serve` at `base_url` ("http://host:port").

    `trace`, if given, is called as trace(request, answer, status) with the JSON of every request
    sent and of every answer read (None for a notification), before anything is decoded.
    """

    def __init__(self, base_url: str, timeout: float = 60.0, trace=None):
        self.base_url = base_url.rstrip("/")
        self.timeout = timeout
        self.trace = trace
        self.token: str | None = None
        self.company: str | None = None
        self.user: str | None = None
        self._ids = itertools.count(1)

    # Sessions.

    def logon(self, company: str, user: str, password: str) -> str:
        """Begins a session; its token goes with every later call. Returns the token."""
        self.token = None
        token = self.call("CSecurityMgr.BeginUserSession", company, user, password)
        self.token, self.company, self.user = token, company, user
        return token

    def logoff(self) -> None:
        """Ends the session (every session of the user, as the library does)."""
        if self.token is None:
            return
        try:
            self.call("CSecurityMgr.EndUserSession", self.company, self.user)
        finally:
            self.token = None

    # Calls.

    def call(self, method: str, *params, hold: bool = False):
        """Calls `method` ("Class.Member", or "create"/"invoke"/"release") and returns its value."""
        return self.call_with_args(method, *params, hold=hold)[0]

    def call_with_args(self, method: str, *params, hold: bool = False):
        """As `call`, and also the arguments as they stand after the call (written-back values)."""
        request = self._request(method, params, hold)
        answer, status = self._post(request)
        return _outcome(answer, status, method)

    def notify(self, method: str, *params) -> None:
        """Calls `method` without waiting for an outcome (a JSON-RPC notification)."""
        request = {"jsonrpc": "2.0", "method": method, "params": encode(list(params))}
        self._post(request)

    def invoke(self, target: ObjectRef, member: str, *params, hold: bool = True):
        """Calls a member of an object the session holds; objects it returns are held unless hold=False."""
        request = {"jsonrpc": "2.0", "id": next(self._ids), "method": "invoke",
                   "params": {"object": target.handle, "member": member, "args": encode(list(params))}}
        if not hold:
            request["hold"] = False
        answer, status = self._post(request)
        return _outcome(answer, status, "invoke")[0]

    def batch(self) -> "Batch":
        """Several calls in one request: `with client.batch() as b: x = b.call(...)`; then x.value."""
        return Batch(self)

    # The service's own documents.

    def health(self) -> dict:
        return self._get("/health")

    def openrpc(self) -> dict:
        """The OpenRPC document describing every method of the service (GET /openrpc.json)."""
        return self._get("/openrpc.json")

    def discover(self) -> dict:
        """The same document through the method rpc.discover, which answers it as its whole result."""
        return self.call("rpc.discover")

    # Transport.

    def _request(self, method: str, params, hold: bool = False) -> dict:
        request = {"jsonrpc": "2.0", "id": next(self._ids), "method": method, "params": encode(list(params))}
        if hold:
            request["hold"] = True
        return request

    def _headers(self) -> dict:
        headers = {"Content-Type": "application/json", "Accept": "application/json"}
        if self.token:
            headers["Authorization"] = "Bearer " + self.token
        return headers

    def _post(self, body):
        data = json.dumps(body, separators=(",", ":")).encode("utf-8")
        http_request = urllib.request.Request(self.base_url + "/rpc", data=data, headers=self._headers(), method="POST")
        status, text = self._send(http_request)
        answer = None
        if text.strip():
            try:
                answer = json.loads(text)
            except ValueError:
                raise LedgerkitError({"code": None, "message": "HTTP %d: %s" % (status, text[:200])}, status) from None
        elif status not in (200, 204):
            raise LedgerkitError({"code": None, "message": "HTTP %d without a body" % status}, status)
        if self.trace is not None:
            self.trace(body, answer, status)
        return answer, status

    def _get(self, path: str) -> dict:
        http_request = urllib.request.Request(self.base_url + path, headers=self._headers(), method="GET")
        status, text = self._send(http_request)
        if status != 200:
            raise LedgerkitError({"code": None, "message": "GET %s: HTTP %d: %s" % (path, status, text[:200])}, status)
        return json.loads(text)

    def _send(self, http_request):
        try:
            with urllib.request.urlopen(http_request, timeout=self.timeout) as response:
                return response.status, response.read().decode("utf-8")
        except urllib.error.HTTPError as refused:
            # 401, 403, 429, 413, 503: the body is still a JSON-RPC answer.
            with refused:
                return refused.code, refused.read().decode("utf-8", "replace")
        except (urllib.error.URLError, OSError) as failure:
            raise LedgerkitError({"code": None, "message": "cannot reach %s: %s" % (self.base_url, failure)}) from None


def _outcome(answer, status, method):
    if not isinstance(answer, dict):
        raise LedgerkitError({"code": None, "message": "HTTP %d: not an answer: %r" % (status, answer)}, status, method)
    if "error" in answer:
        raise LedgerkitError(answer["error"], status, method)
    result = answer.get("result")
    if method == "rpc.discover" and isinstance(result, dict) and "value" not in result:
        return result, []
    if not isinstance(result, dict):
        raise LedgerkitError({"code": None, "message": "an answer without a result: %r" % (answer,)}, status, method)
    return decode(result.get("value")), decode(result.get("args", []))


class Pending:
    """The outcome of one call of a batch, there once the batch has been sent."""

    def __init__(self, method: str):
        self.method = method
        self._answer = None
        self._status = None
        self._sent = False

    def _settle(self, answer, status):
        self._answer, self._status, self._sent = answer, status, True

    @property
    def value(self):
        return self.value_and_args()[0]

    def value_and_args(self):
        if not self._sent:
            raise RuntimeError("the batch has not been sent yet")
        return _outcome(self._answer, self._status, self.method)


class Batch:
    """Calls collected and sent as one JSON-RPC batch; each call's outcome is a `Pending`."""

    def __init__(self, client: Client):
        self._client = client
        self._requests: list = []
        self._pending: dict = {}

    def call(self, method: str, *params, hold: bool = False) -> Pending:
        request = self._client._request(method, params, hold)
        pending = Pending(method)
        self._requests.append(request)
        self._pending[request["id"]] = pending
        return pending

    def send(self) -> None:
        if not self._requests:
            return
        answers, status = self._client._post(self._requests)
        if isinstance(answers, dict):
            # The whole batch was refused (no session, too large): every call hears why.
            answers = [dict(answers, id=request["id"]) for request in self._requests]
        by_id = {answer.get("id"): answer for answer in answers or [] if isinstance(answer, dict)}
        for key, pending in self._pending.items():
            pending._settle(by_id.get(key), status)
        self._requests, self._pending = [], {}

    def __enter__(self) -> "Batch":
        return self

    def __exit__(self, kind, error, trace) -> None:
        if kind is None:
            self.send()
