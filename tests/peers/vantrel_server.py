#!/usr/bin/env python3
"""Vantrel test server: an IMAP4rev1 server (RFC 3501, LITERAL+ of RFC 2088,
CRAM-MD5 of RFC 2195) with the Vantrel administrative extensions, for tests
and benchmarks of tarmig. Standard library only.

Start-up: binds --listen on --port (0: a free port), prints the port on the
first line of stdout, then serves until SIGTERM or SIGINT, writes the dump
(if --dump is given) and exits 0.

Commands: CAPABILITY, NOOP, LOGOUT, LOGIN, AUTHENTICATE CRAM-MD5,
X-MASTERAUTH, X-CREATEUSER, X-SETUSER, X-CHECKVERSION, CREATE (with a type
word and GUID), SELECT, EXAMINE, LIST, STATUS, APPEND, X-APPEND, FETCH,
STORE, UID FETCH, UID STORE, and the private X-DUMP, which writes the dump file and also returns the dump as
an untagged literal ("* X-DUMP {n}"). X-DUMP is never counted as a command.

Options:
  --port N                 port to listen on (default 0: any free port)
  --listen ADDRESS         loopback address to listen on: 127.0.0.1 (the
                           default) or ::1
  --dump FILE              JSON dump of the whole state, written on X-DUMP
                           and at exit (atomically, through a temporary file)
  --master-password PW     the X-MASTERAUTH password (default "master")
  --account ADDR:PW        a pre-existing account user@domain with password
                           PW (split at the first colon); repeatable
  --folder ADDR:NAME[:TYPE]
                           a pre-existing folder of an account given with
                           --account; TYPE is a CREATE type word such as
                           X-CONTACT (default X-MAIL); repeatable
  --server-version TEXT    version at the end of the X-CHECKVERSION
                           completion "OK Vantrel TEXT" (default 6.3.0)
  --no-checkversion        answer X-CHECKVERSION with BAD, like an old server
  --greeting LINE          send LINE (CR LF added) instead of the OK greeting;
                           a line starting "* BYE" then closes the connection
  --refuse-append N        answer NO to the Nth APPEND or X-APPEND received
                           by the server (from 1, across connections);
                           repeatable
  --refuse-append-marker TEXT
                           answer NO to an append whose data contain TEXT
  --refuse-create NAME     answer NO to CREATE of folder NAME; repeatable
  --refuse-setuser ADDR    answer NO to X-SETUSER of ADDR even if it exists;
                           repeatable
  --refuse-createuser ADDR answer NO "Licence limit reached" to X-CREATEUSER
                           of ADDR, which is not created (a refusal for
                           another reason than an existing account);
                           repeatable
  --refusal-text TEXT      the text of the NO answers of --refuse-create and
                           --refuse-createuser instead of their own (sent as
                           given: a server whose answer holds a bare CR)
  --drop-after N           close the connection, without a reply, when the
                           (N+1)th counted command arrives
  --bye-after N            send an untagged BYE and close at the (N+1)th
                           counted command
  --stall-after N          stop reading and answering at the (N+1)th
                           counted command (the connection stays open)
  --trickle-after N        answer the (N+1)th counted command a byte a second,
                           after an untagged line of 120 bytes sent the same
                           way (a slow link or a server that hangs mid-answer);
                           not for X-MASTERAUTH and AUTHENTICATE, whose
                           continuation would wait behind the answer
  --flood-after N          answer the (N+1)th counted command with untagged
                           "* OK" lines, twenty a second, without end
  --fault-scope server|connection
                           count commands across the whole server, so each
                           fault fires once (default), or per connection, so
                           it fires in every connection
  --fault-commands LIST    count only these commands (comma-separated names,
                           e.g. APPEND,X-APPEND); default: every command
  --die-after-appends N    store the Nth append (from 1, across connections),
                           then close its connection without an answer and
                           end the server (dump written, exit status 0): a
                           server that crashed after it stored a message
  --load FILE              start from a dump written by this server: its
                           accounts, folders and messages (uids, flags,
                           dates, data); statistics start at zero
  --sink                   count appended messages and bytes but store no
                           data (benchmarks); FETCH of data is refused
  --tls-cert FILE, --tls-key FILE
                           serve TLS from the first byte with this
                           certificate and key (PEM)
  --verbose                log every command line to stderr

Behaviour worth knowing:
  - Account names and domains compare ASCII case-insensitively. A new
    account starts with INBOX (type X-MAIL). "INBOX" is case-insensitive.
  - Folder names are kept as sent; "/" separates levels. A folder whose
    parent does not exist implies the parent, which LIST shows as \\Noselect
    and SELECT refuses until it is created.
  - X-CREATEUSER refuses (NO) an empty name or domain and one holding a
    control character.
  - X-CREATEUSER and X-SETUSER need a master connection (X-MASTERAUTH);
    folder and message commands need an identity (X-SETUSER or LOGIN).
  - Append dates are validated as RFC 3501 date-time; flags are kept as sent
    (order and letter case), surplus spaces in the flag list are accepted.
  - FETCH and UID FETCH take sequence sets (n, n:m, *, lists) and the items
    UID, FLAGS, INTERNALDATE, RFC822.SIZE (the bytes as stored), BODY[],
    BODY.PEEK[], RFC822, BODY[HEADER.FIELDS (names)] and its .PEEK form (the
    matching header lines, folded lines whole, plus the blank line, as a
    literal), and the macros ALL and FAST; answers come in sequence order.
  - STORE and UID STORE take FLAGS, +FLAGS, -FLAGS and their .SILENT forms;
    \\Recent and unknown system flags are refused with BAD, a folder opened
    with EXAMINE refuses with NO.
  - A command ends at the first CR LF outside a literal, as on a real
    server: a quoted string that holds CR, LF or NUL is answered BAD, and
    what follows a line break is read as the next command. Values with line
    breaks travel as literals ({n} or {n+}), accepted wherever a string is.
  - A quoted string holds 7-bit text only (RFC 3501): one with a byte
    above 0x7f is answered BAD; 8-bit values travel as literals.
  - Mailbox names (CREATE, SELECT, EXAMINE, STATUS, APPEND) must be modified
    UTF-7, as Dovecot requires: raw 8-bit text, a "&" that does not start a
    valid shift ("R&D" instead of "R&-D"), raw control characters or a shift
    that encodes printable ASCII are answered NO "Mailbox name is not valid
    mUTF-7". Names are kept and listed in their modified UTF-7 form.
  - An appended message keeps its bytes except NUL, which a literal may not
    hold: like Dovecot, the server answers OK and stores each NUL as 0x80.

Dump format (JSON; every byte string is mapped byte for byte to the code
points U+0000-U+00FF, so non-ASCII bytes appear as \\u00XX escapes):
  {"accounts": [{"name", "domain", "password", "fullName", "groups": [..],
                 "folders": [{"name", "type", "guid", "messageCount",
                              "messages": [{"uid", "flags": [..], "date",
                                            "internalDate", "via", "size",
                                            "data" (base64)}]}]}],
   "stats": {"connections", "commands", "appends", "appendedBytes",
             "refusedAppends", "masterLogins", "failedLogins", "stores"}}
  "date" is the date-time sent with the append ("" when none was sent),
  "internalDate" the one the server keeps; "via" is APPEND or X-APPEND.
  "stores" counts the STORE and UID STORE commands carried out.
  In --sink mode "messages" stays empty and "messageCount" still counts.
"""

import argparse
import asyncio
import base64
import hashlib
import hmac
import json
import os
import re
import secrets
import signal
import ssl
import sys
import time
import traceback

TYPE_ATTRIBUTES = {
    b"X-CONTACT": [b"\\ZenqaContact"],
    b"X-CALENDAR": [b"\\ZenqaCalendar"],
    b"X-TODO": [b"\\ZenqaTodo"],
    b"X-JOURNAL": [b"\\ZenqaJournal"],
    b"X-MAIL": [b"\\ZenqaMail"],
    b"X-MAPI": [b"\\ZenqaMapi"],
    b"X-NOTE": [b"\\ZenqaNote"],
    b"X-SEARCH": [b"\\ZenqaSearch"],
}
TYPE_ATTRIBUTES[b"X-ALL"] = [a[0] for a in TYPE_ATTRIBUTES.values()]

CAPABILITIES = (b"IMAP4rev1 LITERAL+ AUTH=CRAM-MD5 X-MASTERAUTH X-CREATEUSER "
                b"X-SETUSER X-APPEND X-CHECKVERSION")
MONTHS = [b"JAN", b"FEB", b"MAR", b"APR", b"MAY", b"JUN",
          b"JUL", b"AUG", b"SEP", b"OCT", b"NOV", b"DEC"]
DATE_TIME = re.compile(
    rb"^( \d|\d\d?)-([A-Za-z]{3})-(\d{4}) (\d\d):(\d\d):(\d\d) [+-](\d\d)(\d\d)$")
LITERAL_END = re.compile(rb"\{(\d+)(\+?)\}\r?\n$")
LINE_LIMIT = 1 << 20


class ImapError(Exception):
    """A command that cannot be parsed: answered with BAD."""


class MailboxNameError(Exception):
    """A mailbox name that is not modified UTF-7: answered with NO."""


class ConnectionLost(Exception):
    """The peer went away in the middle of a command."""


class BadCommand:
    """A command whose arguments cannot be parsed: its tag and the reason."""

    def __init__(self, tag, error):
        self.tag = tag
        self.error = error


# ---------------------------------------------------------------- parsing

class Atom(bytes):
    pass


class String(bytes):
    pass


def parse_tokens(text, literals):
    """Splits one command (its lines joined, literal data taken from
    `literals` in order) into atoms, strings and nested lists."""
    pos = 0
    stack = [[]]
    end = len(text)
    while pos < end:
        c = text[pos:pos + 1]
        if c == b" ":
            pos += 1
        elif c == b"(":
            stack.append([])
            pos += 1
        elif c == b")":
            if len(stack) == 1:
                raise ImapError("unbalanced parenthesis")
            done = stack.pop()
            stack[-1].append(done)
            pos += 1
        elif c == b'"':
            value, pos = _quoted(text, pos + 1)
            stack[-1].append(String(value))
        elif c == b"{":
            close = text.find(b"}", pos)
            if close < 0 or text[close + 1:close + 3] != b"\r\n":
                raise ImapError("malformed literal")
            if not literals:
                raise ImapError("missing literal data")
            stack[-1].append(String(literals.pop(0)))
            pos = close + 3
        elif c in (b"\r", b"\n"):
            if text[pos:] != b"\r\n":
                raise ImapError("line break outside a string")
            pos = end
        else:
            value, pos = _atom(text, pos)
            stack[-1].append(Atom(value))
    if len(stack) != 1:
        raise ImapError("unbalanced parenthesis")
    return stack[0]


def _quoted(text, pos):
    out = bytearray()
    while pos < len(text):
        c = text[pos]
        if c in (0x00, 0x0A, 0x0D):
            raise ImapError("quoted string holds CR, LF or NUL")
        if c >= 0x80:
            # RFC 3501 QUOTED-CHAR is 7-bit; 8-bit text travels as a literal.
            raise ImapError("quoted string holds an 8-bit byte")
        if c == 0x5C and pos + 1 < len(text):
            out.append(text[pos + 1])
            pos += 2
        elif c == 0x22:
            return bytes(out), pos + 1
        else:
            out.append(c)
            pos += 1
    raise ImapError("unterminated quoted string")


def _atom(text, pos):
    start = pos
    depth = 0
    while pos < len(text):
        c = text[pos:pos + 1]
        if c == b"[":
            depth += 1
        elif c == b"]":
            depth -= 1
        elif depth == 0 and c in (b" ", b"(", b")", b"\r", b"\n", b'"'):
            break
        pos += 1
    return text[start:pos], pos


def astring(token):
    if isinstance(token, (Atom, String)):
        return bytes(token)
    raise ImapError("string expected")


def valid_date_time(text):
    m = DATE_TIME.match(text)
    if not m:
        return False
    day, month, _, hour, minute, second, zh, zm = m.groups()
    return (1 <= int(day) <= 31 and month.upper() in MONTHS and int(hour) < 24
            and int(minute) < 60 and int(second) < 60 and int(zh) < 24
            and int(zm) < 60)


def now_date_time():
    t = time.gmtime()
    return b"%02d-%s-%d %02d:%02d:%02d +0000" % (
        t.tm_mday, MONTHS[t.tm_mon - 1].capitalize(), t.tm_year,
        t.tm_hour, t.tm_min, t.tm_sec)


def imap_string(value):
    """A value as a quoted string when that is safe, else as a literal."""
    if all(0x20 <= b < 0x7F and b not in (0x22, 0x5C) for b in value):
        return b'"' + value + b'"'
    return b"{%d}\r\n" % len(value) + value


MUTF7_BASE64 = (b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                b"0123456789+,")


def valid_mutf7(name):
    """Whether a mailbox name is modified UTF-7 (RFC 3501 5.1.3) as a real
    server checks it: printable ASCII, "&-" for "&", and shifted runs of
    UTF-16 in base64 (with "," for "/", no padding, zero leftover bits) that
    encode no printable ASCII and no unpaired surrogate; two runs never
    follow each other directly."""
    pos, end, after_run = 0, len(name), False
    while pos < end:
        c = name[pos]
        if not 0x20 <= c <= 0x7E:
            return False
        if c != 0x26:
            pos, after_run = pos + 1, False
            continue
        close = name.find(b"-", pos + 1)
        if close < 0:
            return False
        run = name[pos + 1:close]
        if run and (after_run or not _valid_mutf7_run(run)):
            return False
        pos, after_run = close + 1, bool(run)
    return True


def _valid_mutf7_run(run):
    bits = count = 0
    units = bytearray()
    for c in run:
        index = MUTF7_BASE64.find(bytes([c]))
        if index < 0:
            return False
        bits, count = bits << 6 | index, count + 6
        if count >= 16:
            count -= 16
            units += (bits >> count).to_bytes(2, "big")
            bits &= (1 << count) - 1
    if count >= 6 or bits:
        return False
    try:
        text = units.decode("utf-16-be")
    except UnicodeDecodeError:
        return False
    return not any(0x20 <= ord(ch) <= 0x7E for ch in text)


def mailbox_name(token):
    """A mailbox argument: refused like a real server refuses a name that is
    not modified UTF-7 (raw 8-bit text, a stray "&", control characters)."""
    name = astring(token)
    if not valid_mutf7(name):
        raise MailboxNameError()
    return normalize_mailbox(name)


def split_address(address):
    at = address.rfind(b"@")
    if at <= 0 or at == len(address) - 1:
        return None
    return address[:at], address[at + 1:]


def account_key(name, domain):
    return (name.lower(), domain.lower())


def normalize_mailbox(name):
    return b"INBOX" if name.upper() == b"INBOX" else name


def parent_names(name):
    return [name[:i] for i in range(len(name)) if name[i:i + 1] == b"/"]


def wildcard_regex(pattern):
    out = b""
    for i in range(len(pattern)):
        c = pattern[i:i + 1]
        out += b".*" if c == b"*" else b"[^/]*" if c == b"%" else re.escape(c)
    return re.compile(out + b"$", re.DOTALL)


def _set_ranges(text, star):
    """Each part of a sequence or UID set as (low, high, has_star), with "*"
    standing for `star`."""
    ranges = []
    for part in text.split(b","):
        bounds = part.split(b":")
        if len(bounds) > 2:
            raise ImapError("invalid sequence set")
        values = []
        for b in bounds:
            if b == b"*":
                values.append(star)
            elif b.isdigit() and int(b) > 0:
                values.append(int(b))
            else:
                raise ImapError("invalid sequence set")
        ranges.append((min(values), max(values), b"*" in bounds))
    return ranges


def parse_sequence(text, count):
    numbers = []
    for low, high, starred in _set_ranges(text, count):
        if starred:
            high = min(high, count)  # "n:*" of an empty mailbox is empty
        elif high > count:
            raise ImapError("message number out of range")
        numbers.extend(range(max(low, 1), high + 1))
    return sorted(set(numbers))


def parse_uid_set(text, uids):
    """The sequence numbers (from 1) of the messages whose UIDs (ascending)
    fall in the UID set. "*" is the highest UID, so "n:*" holds that message
    even when n is above it; UIDs that no message has are no error."""
    ranges = _set_ranges(text, uids[-1] if uids else 0)
    return [i + 1 for i, uid in enumerate(uids)
            if any(low <= uid <= high for low, high, _ in ranges)]


HEADER_FIELDS = re.compile(rb"^BODY(\.PEEK)?\[HEADER\.FIELDS \(([^()]*)\)\]$",
                           re.IGNORECASE)


def header_fields(data, names):
    """The header lines of the fields named (any letter case), each with its
    continuation lines, in message order, then the blank line. The header
    ends at the first empty line (CR LF or bare LF)."""
    wanted = {n.lower() for n in names}
    out = bytearray()
    keep = False
    # Only the header is split into lines: a FETCH of every message of a
    # folder would otherwise split every body too.
    ends = [at for at in (data.find(b"\n\r\n"), data.find(b"\n\n")) if at >= 0]
    header = data[:min(ends) + 1] if ends else data
    if header.startswith((b"\r\n", b"\n")):
        header = b""
    for line in re.findall(rb"[^\n]*\n|[^\n]+$", header):
        if line in (b"\r\n", b"\n"):
            break
        if line[:1] not in (b" ", b"\t"):
            keep = line.split(b":", 1)[0].rstrip(b" \t").lower() in wanted
        if keep:
            out += line if line.endswith(b"\r\n") else line.rstrip(b"\r\n") + b"\r\n"
    return bytes(out) + b"\r\n"


SYSTEM_FLAGS = {b"\\SEEN", b"\\ANSWERED", b"\\FLAGGED", b"\\DELETED",
                b"\\DRAFT"}


def store_flags(tokens):
    """The flags of a STORE: a parenthesized list or flags one by one."""
    flags = []
    for token in tokens:
        for flag in token if isinstance(token, list) else [token]:
            if not isinstance(flag, Atom):
                raise ImapError("flag expected")
            if flag.startswith(b"\\") and flag.upper() not in SYSTEM_FLAGS:
                raise ImapError("flag cannot be stored")
            flags.append(bytes(flag))
    return flags


# ---------------------------------------------------------------- state

class Message:
    def __init__(self, uid, flags, date, data, via):
        self.uid = uid
        self.flags = flags
        self.date = date
        self.internal_date = date or now_date_time()
        self.data = data
        self.size = len(data)
        self.via = via


class Folder:
    def __init__(self, name, type_word, guid=b""):
        self.name = name
        self.type_word = type_word
        self.guid = guid
        self.messages = []
        self.message_count = 0
        self.next_uid = 1


class Account:
    def __init__(self, name, domain, password, full_name=b"", groups=()):
        self.name = name
        self.domain = domain
        self.password = password
        self.full_name = full_name
        self.groups = list(groups)
        self.folders = {b"INBOX": Folder(b"INBOX", b"X-MAIL")}


def text(value):
    return value.decode("latin-1")


def b(value):
    return value.encode("latin-1")


class Server:
    def __init__(self, options):
        self.options = options
        self.accounts = {}
        self.stats = dict(connections=0, commands=0, appends=0,
                          appendedBytes=0, refusedAppends=0, masterLogins=0,
                          failedLogins=0, stores=0)
        self.fault_count = 0
        self.append_attempts = 0
        self.token_counter = 0
        self.tasks = set()
        self.stopped = asyncio.Event()
        if options.load:
            self.load(options.load)
        for spec in options.account:
            address, _, password = spec.partition(b":")
            parts = split_address(address)
            if parts is None:
                raise SystemExit("--account needs user@domain:password")
            self.accounts[account_key(*parts)] = Account(*parts, password)
        for spec in options.folder:
            address, _, rest = spec.partition(b":")
            name, type_word = rest, b"X-MAIL"
            head, colon, tail = rest.rpartition(b":")
            if colon and tail.upper() in TYPE_ATTRIBUTES:
                name, type_word = head, tail.upper()
            account = self.find_account(address)
            if account is None or not name:
                raise SystemExit("--folder needs an --account address and a name")
            account.folders[normalize_mailbox(name)] = Folder(
                normalize_mailbox(name), type_word)

    def load(self, path):
        with open(path, "rb") as f:
            state = json.load(f)
        for a in state["accounts"]:
            account = Account(*(b(a[k]) for k in ("name", "domain", "password",
                                                  "fullName")),
                              [b(g) for g in a["groups"]])
            account.folders = {}
            for f in a["folders"]:
                folder = Folder(b(f["name"]), b(f["type"]), b(f["guid"]))
                for m in f["messages"]:
                    message = Message(m["uid"], [b(x) for x in m["flags"]],
                                      b(m["date"]), base64.b64decode(m["data"]),
                                      m["via"])
                    message.internal_date = b(m["internalDate"])
                    folder.messages.append(message)
                    folder.next_uid = max(folder.next_uid, m["uid"] + 1)
                folder.message_count = max(f["messageCount"], len(folder.messages))
                account.folders[folder.name] = folder
            self.accounts[account_key(account.name, account.domain)] = account

    def find_account(self, address):
        parts = split_address(address)
        return self.accounts.get(account_key(*parts)) if parts else None

    def next_token(self):
        self.token_counter += 1
        return b"<%d.%d.%s@vantrel.test>" % (
            os.getpid(), self.token_counter, secrets.token_hex(4).encode())

    def dump(self):
        accounts = []
        for account in self.accounts.values():
            folders = []
            for folder in account.folders.values():
                folders.append({
                    "name": text(folder.name), "type": text(folder.type_word),
                    "guid": text(folder.guid),
                    "messageCount": folder.message_count,
                    "messages": [{
                        "uid": m.uid, "flags": [text(f) for f in m.flags],
                        "date": text(m.date),
                        "internalDate": text(m.internal_date),
                        "via": m.via, "size": m.size,
                        "data": base64.b64encode(m.data).decode("ascii"),
                    } for m in folder.messages],
                })
            accounts.append({
                "name": text(account.name), "domain": text(account.domain),
                "password": text(account.password),
                "fullName": text(account.full_name),
                "groups": [text(g) for g in account.groups],
                "folders": folders,
            })
        return json.dumps({"accounts": accounts, "stats": self.stats},
                          indent=1).encode("ascii")

    def write_dump(self):
        if not self.options.dump:
            return
        temporary = self.options.dump + ".tmp"
        with open(temporary, "wb") as f:
            f.write(self.dump())
        os.replace(temporary, self.options.dump)


# ---------------------------------------------------------------- connection

class Connection:
    def __init__(self, server, reader, writer):
        self.server = server
        self.options = server.options
        self.reader = reader
        self.writer = writer
        self.master = False
        self.account = None
        self.selected = None
        self.command_count = 0
        self.closing = False
        self.examine = False

    def send(self, data):
        self.writer.write(data)

    def reply(self, tag, status, message):
        self.send(tag + b" " + status + b" " + message + b"\r\n")

    async def run(self):
        self.server.stats["connections"] += 1
        if self.options.greeting is not None:
            self.send(self.options.greeting + b"\r\n")
            # A server that greets with BYE does not serve (RFC 3501, 7.1.5).
            self.closing = self.options.greeting.startswith(b"* BYE")
        else:
            self.send(b"* OK [CAPABILITY " + CAPABILITIES +
                      b"] Vantrel test server ready\r\n")
        try:
            await self.writer.drain()
            while not self.closing:
                try:
                    tokens = await self.read_command()
                except ImapError as e:
                    self.send(b"* BAD " + str(e).encode() + b"\r\n")
                    break
                if tokens is None:
                    break
                await self.handle(tokens)
                await self.writer.drain()
        except (ConnectionError, ConnectionLost, asyncio.IncompleteReadError,
                ssl.SSLError):
            pass
        finally:
            self.writer.close()

    async def read_line(self):
        try:
            return await self.reader.readuntil(b"\n")
        except asyncio.IncompleteReadError as e:
            if e.partial:
                raise ConnectionLost() from e
            return b""
        except asyncio.LimitOverrunError as e:
            raise ImapError("line too long") from e

    async def read_command(self):
        """Reads one command: its lines, joined, and the data of each literal
        kept apart. Only a literal continues a command past a line end."""
        text = bytearray()
        literals = []
        while True:
            line = await self.read_line()
            if not line:
                if text:
                    raise ConnectionLost()
                return None
            text += line
            m = LITERAL_END.search(line)
            if not m:
                break
            if not line.endswith(b"\r\n"):
                raise ImapError("literal announcement without CR LF")
            size = int(m.group(1))
            if not m.group(2):
                self.send(b"+ Ready for literal data\r\n")
                await self.writer.drain()
            try:
                literals.append(await self.reader.readexactly(size))
            except asyncio.IncompleteReadError as e:
                raise ConnectionLost() from e
        if self.options.verbose:
            print("C: %r (+%d literals)" % (bytes(text[:200]), len(literals)),
                  file=sys.stderr, flush=True)
        try:
            return parse_tokens(bytes(text), literals)
        except ImapError as e:
            return BadCommand(bytes(text).split(b" ", 1)[0].strip(), e)

    # -- faults

    def fault(self, name):
        """Which fault, if any, the command `name` triggers."""
        options = self.options
        if name == b"X-DUMP":
            return None
        if options.fault_commands and name not in options.fault_commands:
            return None
        self.command_count += 1
        self.server.fault_count += 1
        count = (self.command_count if options.fault_scope == "connection"
                 else self.server.fault_count)
        for kind in ("drop", "bye", "stall", "trickle", "flood"):
            limit = getattr(options, kind + "_after")
            if limit is not None and count == limit + 1:
                return kind
        return None

    async def handle(self, tokens):
        if isinstance(tokens, BadCommand):
            self.reply(tokens.tag or b"*", b"BAD", str(tokens.error).encode())
            return
        tag = tokens[0] if tokens else None
        if not isinstance(tag, Atom) or not tag or len(tokens) < 2:
            self.send(b"* BAD Missing tag or command\r\n")
            return
        name = bytes(astring(tokens[1])).upper() if isinstance(
            tokens[1], (Atom, String)) else b""
        args = tokens[2:]
        if name and name != b"X-DUMP":
            self.server.stats["commands"] += 1
        fault = self.fault(name)
        if fault == "drop":
            self.closing = True
            return
        if fault == "bye":
            self.send(b"* BYE Vantrel server closing the connection\r\n")
            self.closing = True
            return
        if fault == "stall":
            await asyncio.Event().wait()
        if fault == "flood":
            await self.flood()
        if fault == "trickle":
            await self.trickle(tag, name, args)
            return
        await self.answer(tag, name, args)

    async def answer(self, tag, name, args):
        handler = HANDLERS.get(name)
        if handler is None:
            self.reply(tag, b"BAD", b"Unknown command")
            return
        try:
            await handler(self, tag, args)
        except ImapError as e:
            self.reply(tag, b"BAD", str(e).encode())
        except MailboxNameError:
            self.reply(tag, b"NO", b"Mailbox name is not valid mUTF-7")
        except (ConnectionError, ConnectionLost, asyncio.IncompleteReadError):
            raise
        except Exception:
            # A fault of this server: visible to the test, never silent.
            traceback.print_exc()
            self.reply(tag, b"BAD", b"Internal server error")

    async def trickle(self, tag, name, args):
        """The command's answer, after a long untagged line, a byte a second."""
        held = bytearray(b"* OK [ALERT] " + b"slow " * 21 + b"\r\n")
        self.send = held.extend
        try:
            await self.answer(tag, name, args)
        finally:
            del self.send
        for i in range(len(held)):
            self.writer.write(held[i:i + 1])
            await self.writer.drain()
            await asyncio.sleep(1)

    async def flood(self):
        """Untagged lines until the client goes away."""
        while True:
            self.send(b"* OK still working\r\n")
            await self.writer.drain()
            await asyncio.sleep(0.05)

    def need_auth(self, tag):
        if self.master or self.account:
            return True
        self.reply(tag, b"NO", b"Not authenticated")
        return False

    def need_master(self, tag):
        if self.master:
            return True
        self.reply(tag, b"NO", b"Master authentication required")
        return False

    def need_account(self, tag):
        if not self.need_auth(tag):
            return False
        if self.account is None:
            self.reply(tag, b"NO", b"No account: use X-SETUSER first")
            return False
        return True

    def need_selected(self, tag):
        if not self.need_account(tag):
            return False
        if self.selected is None or self.selected not in self.account.folders:
            self.reply(tag, b"NO", b"No mailbox selected")
            return False
        return True


def expect(args, count):
    if len(args) != count:
        raise ImapError("wrong number of arguments")


# ---------------------------------------------------------------- commands

async def cmd_capability(conn, tag, args):
    expect(args, 0)
    conn.send(b"* CAPABILITY " + CAPABILITIES + b"\r\n")
    conn.reply(tag, b"OK", b"CAPABILITY completed")


async def cmd_noop(conn, tag, args):
    conn.reply(tag, b"OK", b"NOOP completed")


async def cmd_logout(conn, tag, args):
    conn.send(b"* BYE Vantrel server logging out\r\n")
    conn.reply(tag, b"OK", b"LOGOUT completed")
    conn.closing = True


async def cmd_login(conn, tag, args):
    expect(args, 2)
    user, password = astring(args[0]), astring(args[1])
    account = conn.server.find_account(user)
    if account is None:
        named = [a for a in conn.server.accounts.values()
                 if a.name.lower() == user.lower()]
        account = named[0] if len(named) == 1 else None
    if account is None or account.password != password:
        conn.server.stats["failedLogins"] += 1
        conn.reply(tag, b"NO", b"Authentication failed")
        return
    conn.account, conn.master, conn.selected = account, False, None
    conn.reply(tag, b"OK", b"LOGIN completed")


async def challenge(conn, text):
    """Sends a continuation and reads the one-line client answer."""
    conn.send(b"+ " + text + b"\r\n")
    await conn.writer.drain()
    line = await conn.read_line()
    if not line:
        raise ConnectionLost()
    return line.rstrip(b"\r\n")


async def cmd_authenticate(conn, tag, args):
    expect(args, 1)
    if astring(args[0]).upper() != b"CRAM-MD5":
        conn.reply(tag, b"NO", b"Unsupported authentication mechanism")
        return
    token = conn.server.next_token()
    answer = await challenge(conn, base64.b64encode(token))
    if answer == b"*":
        conn.reply(tag, b"BAD", b"Authentication cancelled")
        return
    try:
        user, _, digest = base64.b64decode(answer, validate=True).rpartition(b" ")
    except ValueError:
        conn.reply(tag, b"BAD", b"Invalid base64 response")
        return
    account = conn.server.find_account(user)
    expected = (hmac.new(account.password, token, hashlib.md5).hexdigest()
                .encode() if account else None)
    if expected is None or not hmac.compare_digest(expected, digest):
        conn.server.stats["failedLogins"] += 1
        conn.reply(tag, b"NO", b"Authentication failed")
        return
    conn.account, conn.master, conn.selected = account, False, None
    conn.reply(tag, b"OK", b"AUTHENTICATE completed")


async def cmd_masterauth(conn, tag, args):
    expect(args, 0)
    token = conn.server.next_token()
    answer = await challenge(conn, token)
    if answer == b"*":
        conn.reply(tag, b"BAD", b"Authentication cancelled")
        return
    expected = hashlib.md5(
        token + conn.options.master_password).hexdigest()
    if not hmac.compare_digest(expected.encode(), answer):
        conn.server.stats["failedLogins"] += 1
        conn.reply(tag, b"NO", b"Master authentication failed")
        return
    conn.server.stats["masterLogins"] += 1
    conn.master, conn.account, conn.selected = True, None, None
    conn.reply(tag, b"OK", b"Master authentication successful")


async def cmd_createuser(conn, tag, args):
    expect(args, 1)
    if not isinstance(args[0], list):
        raise ImapError("attribute list expected")
    if not conn.need_master(tag):
        return
    items = args[0]
    if len(items) % 2:
        raise ImapError("attribute without value")
    values = {}
    for key, value in zip(items[0::2], items[1::2]):
        key = astring(key).upper()
        if key in values:
            raise ImapError("duplicate attribute")
        if key == b"GROUPS":
            if not isinstance(value, list):
                raise ImapError("GROUPS needs a list")
            values[key] = [astring(g) for g in value]
        elif key in (b"NAME", b"DOMAIN", b"PASSWORD", b"FULLNAME"):
            values[key] = astring(value)
        else:
            raise ImapError("unknown attribute")
    if not all(k in values for k in (b"NAME", b"DOMAIN", b"PASSWORD")):
        raise ImapError("NAME, DOMAIN and PASSWORD are required")
    name, domain = values[b"NAME"], values[b"DOMAIN"]
    # As a real server, no control byte (a line break above all) in a name.
    if not name or not domain or any(c < 0x20 or c == 0x7F for c in name + domain):
        conn.reply(tag, b"NO", b"Invalid account name")
        return
    key = account_key(name, domain)
    if any(key == account_key(*r.partition(b"@")[::2])
           for r in conn.options.refuse_createuser):
        conn.reply(tag, b"NO", conn.options.refusal_text or b"Licence limit reached")
        return
    if key in conn.server.accounts:
        conn.reply(tag, b"NO", b"Account already exists")
        return
    conn.server.accounts[key] = Account(
        name, domain, values[b"PASSWORD"], values.get(b"FULLNAME", b""),
        values.get(b"GROUPS", []))
    conn.reply(tag, b"OK", b"X-CREATEUSER completed")


async def cmd_setuser(conn, tag, args):
    expect(args, 1)
    address = astring(args[0])
    if not conn.need_master(tag):
        return
    account = conn.server.find_account(address)
    refused = any(address.lower() == r.lower()
                  for r in conn.options.refuse_setuser)
    if account is None or refused:
        conn.reply(tag, b"NO", b"Unknown account")
        return
    conn.account, conn.selected = account, None
    conn.reply(tag, b"OK", b"X-SETUSER completed")


async def cmd_checkversion(conn, tag, args):
    if conn.options.no_checkversion:
        conn.reply(tag, b"BAD", b"Unknown command")
        return
    if not conn.need_auth(tag):
        return
    conn.reply(tag, b"OK", b"Vantrel " +
               conn.options.server_version)


async def cmd_create(conn, tag, args):
    type_word, guid = b"", b""
    if len(args) == 2:
        if not isinstance(args[0], list):
            raise ImapError("type list expected")
        words = list(args[0])
        if words and isinstance(words[0], Atom) and words[0].upper() != b"GUID":
            type_word = bytes(words.pop(0)).upper()
            if type_word not in TYPE_ATTRIBUTES:
                raise ImapError("unknown folder type")
        if words:
            if len(words) != 2 or astring(words[0]).upper() != b"GUID":
                raise ImapError("malformed folder options")
            guid = astring(words[1])
        args = args[1:]
    expect(args, 1)
    name = mailbox_name(args[0])
    if not conn.need_account(tag):
        return
    folders = conn.account.folders
    if not name:
        conn.reply(tag, b"NO", b"Invalid mailbox name")
    elif name in folders:
        conn.reply(tag, b"NO", b"Mailbox already exists")
    elif name in conn.options.refuse_create:
        conn.reply(tag, b"NO", conn.options.refusal_text or b"Cannot create mailbox")
    else:
        folders[name] = Folder(name, type_word, guid)
        conn.reply(tag, b"OK", b"CREATE completed")


async def cmd_select(conn, tag, args):
    expect(args, 1)
    name = mailbox_name(args[0])
    if not conn.need_account(tag):
        return
    conn.selected = None
    folder = conn.account.folders.get(name)
    if folder is None:
        conn.reply(tag, b"NO", b"Mailbox does not exist")
        return
    conn.selected = name
    conn.send(b"* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n"
              b"* %d EXISTS\r\n* 0 RECENT\r\n"
              b"* OK [UIDVALIDITY 1] UIDs valid\r\n"
              b"* OK [UIDNEXT %d] Predicted next UID\r\n"
              % (folder.message_count, folder.next_uid))
    mode = b"[READ-ONLY]" if conn.examine else b"[READ-WRITE]"
    conn.reply(tag, b"OK", mode + b" completed")


async def cmd_select_rw(conn, tag, args):
    conn.examine = False
    await cmd_select(conn, tag, args)


async def cmd_examine(conn, tag, args):
    conn.examine = True
    await cmd_select(conn, tag, args)


async def cmd_list(conn, tag, args):
    expect(args, 2)
    reference, pattern = astring(args[0]), astring(args[1])
    if not conn.need_account(tag):
        return
    if not pattern:
        conn.send(b'* LIST (\\Noselect) "/" ""\r\n')
        conn.reply(tag, b"OK", b"LIST completed")
        return
    matcher = wildcard_regex(reference + pattern)
    folders = conn.account.folders
    entries = []
    for name, folder in folders.items():
        for parent in parent_names(name):
            if parent not in folders and (parent, None) not in entries:
                entries.append((parent, None))
        entries.append((name, folder))
    for name, folder in entries:
        if not matcher.match(name):
            continue
        attributes = ([b"\\Noselect"] if folder is None
                      else TYPE_ATTRIBUTES.get(folder.type_word, []))
        conn.send(b"* LIST (" + b" ".join(attributes) + b') "/" ' +
                  imap_string(name) + b"\r\n")
    conn.reply(tag, b"OK", b"LIST completed")


async def cmd_status(conn, tag, args):
    expect(args, 2)
    if not isinstance(args[1], list) or not args[1]:
        raise ImapError("status item list expected")
    name = mailbox_name(args[0])
    if not conn.need_account(tag):
        return
    folder = conn.account.folders.get(name)
    if folder is None:
        conn.reply(tag, b"NO", b"Mailbox does not exist")
        return
    values = {b"MESSAGES": folder.message_count, b"RECENT": 0,
              b"UIDNEXT": folder.next_uid, b"UIDVALIDITY": 1,
              b"UNSEEN": sum(1 for m in folder.messages
                             if b"\\SEEN" not in [f.upper() for f in m.flags])}
    items = []
    for item in args[1]:
        item = astring(item).upper()
        if item not in values:
            raise ImapError("unknown status item")
        items.append(item + b" %d" % values[item])
    conn.send(b"* STATUS " + imap_string(name) + b" (" + b" ".join(items) +
              b")\r\n")
    conn.reply(tag, b"OK", b"STATUS completed")


async def cmd_append(conn, tag, args, via="APPEND"):
    if len(args) < 2 or len(args) > 4:
        raise ImapError("wrong number of arguments")
    data = args[-1]
    if not isinstance(data, String):
        raise ImapError("message literal expected")
    # Literals are CHAR8, no NUL; like Dovecot the server takes the message
    # and stores each NUL as 0x80, the size unchanged.
    data = bytes(data).replace(b"\x00", b"\x80")
    flags, date = [], b""
    extras = args[1:-1]
    if extras and isinstance(extras[0], list):
        flags = [astring(f) for f in extras.pop(0)]
    if extras and isinstance(extras[0], String):
        date = bytes(extras.pop(0))
        if not valid_date_time(date):
            raise ImapError("invalid date-time")
    if extras:
        raise ImapError("unexpected append argument")
    mailbox = mailbox_name(args[0])
    if not conn.need_account(tag):
        return
    server = conn.server
    server.append_attempts += 1
    folder = conn.account.folders.get(mailbox)
    if folder is None:
        conn.reply(tag, b"NO", b"[TRYCREATE] Mailbox does not exist")
        return
    marker = conn.options.refuse_append_marker
    if (server.append_attempts in conn.options.refuse_append
            or marker and marker in data):
        server.stats["refusedAppends"] += 1
        conn.reply(tag, b"NO", b"Append refused")
        return
    uid = folder.next_uid
    folder.next_uid += 1
    folder.message_count += 1
    server.stats["appends"] += 1
    server.stats["appendedBytes"] += len(data)
    if not conn.options.sink:
        folder.messages.append(
            Message(uid, flags, date, data, via))
    if server.stats["appends"] == conn.options.die_after_appends:
        # The dump first: whoever stops the ending server finds it complete.
        server.write_dump()
        conn.closing = True
        server.stopped.set()
        return
    conn.reply(tag, b"OK", b"[APPENDUID 1 %d] %s completed" %
               (uid, via.encode()))


async def cmd_xappend(conn, tag, args):
    await cmd_append(conn, tag, args, "X-APPEND")


FETCH_MACROS = {b"ALL": [b"FLAGS", b"INTERNALDATE", b"RFC822.SIZE"],
                b"FAST": [b"FLAGS", b"INTERNALDATE", b"RFC822.SIZE"]}


def fetch_item(message, item):
    """One data item of a FETCH answer; marks the message seen where the
    item is not a PEEK."""
    if item == b"INTERNALDATE":
        return b'INTERNALDATE "' + message.internal_date + b'"'
    if item == b"FLAGS":
        return b"FLAGS (" + b" ".join(message.flags) + b")"
    if item == b"UID":
        return b"UID %d" % message.uid
    if item == b"RFC822.SIZE":
        return b"RFC822.SIZE %d" % message.size
    header = HEADER_FIELDS.match(item)
    if item in (b"BODY[]", b"BODY.PEEK[]", b"RFC822") or header:
        if not (item == b"BODY.PEEK[]" or header and header.group(1)):
            mark_seen(message)
        if header:
            names = header.group(2).split()
            fields = header_fields(message.data, names)
            return (b"BODY[HEADER.FIELDS (" + b" ".join(names) + b")] " +
                    b"{%d}\r\n" % len(fields) + fields)
        label = b"RFC822" if item == b"RFC822" else b"BODY[]"
        return label + b" {%d}\r\n" % message.size + message.data
    raise ImapError("unsupported fetch item")


def mark_seen(message):
    if not any(f.upper() == b"\\SEEN" for f in message.flags):
        message.flags.append(b"\\Seen")


def selected_folder(conn, tag):
    """The selected folder, or None after an answer that says why not."""
    if not conn.need_selected(tag):
        return None
    if conn.options.sink:
        conn.reply(tag, b"NO", b"Sink mode keeps no messages")
        return None
    return conn.account.folders[conn.selected]


def message_numbers(folder, text, by_uid):
    if by_uid:
        return parse_uid_set(text, [m.uid for m in folder.messages])
    return parse_sequence(text, len(folder.messages))


async def cmd_fetch(conn, tag, args, by_uid=False):
    expect(args, 2)
    folder = selected_folder(conn, tag)
    if folder is None:
        return
    numbers = message_numbers(folder, astring(args[0]), by_uid)
    items = args[1] if isinstance(args[1], list) else [args[1]]
    names = [b"UID"] if by_uid else []
    for item in items:
        item = astring(item).upper()
        for name in FETCH_MACROS.get(item, [item]):
            if name not in names:
                names.append(name)
    answers = []
    for number in numbers:
        message = folder.messages[number - 1]
        parts = [fetch_item(message, item) for item in names]
        answers.append(b"* %d FETCH (" % number + b" ".join(parts) + b")\r\n")
    conn.send(b"".join(answers))
    conn.reply(tag, b"OK", b"FETCH completed")


async def cmd_store(conn, tag, args, by_uid=False):
    if len(args) < 3:
        raise ImapError("wrong number of arguments")
    mode = astring(args[1]).upper()
    if mode.removesuffix(b".SILENT") not in (b"FLAGS", b"+FLAGS", b"-FLAGS"):
        raise ImapError("unknown store item")
    flags = store_flags(args[2:])
    folder = selected_folder(conn, tag)
    if folder is None:
        return
    numbers = message_numbers(folder, astring(args[0]), by_uid)
    if conn.examine:
        conn.reply(tag, b"NO", b"[READ-ONLY] Mailbox is read-only")
        return
    conn.server.stats["stores"] += 1
    for number in numbers:
        message = folder.messages[number - 1]
        kept = [f for f in message.flags if f.upper() == b"\\RECENT"]
        if mode.startswith(b"+"):
            kept = message.flags + flags
        elif mode.startswith(b"-"):
            removed = {f.upper() for f in flags}
            kept = [f for f in message.flags if f.upper() not in removed]
        else:
            kept += flags
        message.flags = []
        for flag in kept:
            if flag.upper() not in (f.upper() for f in message.flags):
                message.flags.append(flag)
        if not mode.endswith(b".SILENT"):
            uid = b"UID %d " % message.uid if by_uid else b""
            conn.send(b"* %d FETCH (" % number + uid +
                      fetch_item(message, b"FLAGS") + b")\r\n")
    conn.reply(tag, b"OK", b"STORE completed")


async def cmd_uid(conn, tag, args):
    if not args or not isinstance(args[0], Atom):
        raise ImapError("UID needs a command")
    handler = {b"FETCH": cmd_fetch, b"STORE": cmd_store}.get(args[0].upper())
    if handler is None:
        raise ImapError("unsupported UID command")
    await handler(conn, tag, args[1:], by_uid=True)


async def cmd_dump(conn, tag, args):
    conn.server.write_dump()
    data = conn.server.dump()
    conn.send(b"* X-DUMP {%d}\r\n" % len(data) + data + b"\r\n")
    conn.reply(tag, b"OK", b"X-DUMP completed")


HANDLERS = {
    b"CAPABILITY": cmd_capability, b"NOOP": cmd_noop, b"LOGOUT": cmd_logout,
    b"LOGIN": cmd_login, b"AUTHENTICATE": cmd_authenticate,
    b"X-MASTERAUTH": cmd_masterauth, b"X-CREATEUSER": cmd_createuser,
    b"X-SETUSER": cmd_setuser, b"X-CHECKVERSION": cmd_checkversion,
    b"CREATE": cmd_create, b"SELECT": cmd_select_rw, b"EXAMINE": cmd_examine,
    b"LIST": cmd_list, b"STATUS": cmd_status, b"APPEND": cmd_append,
    b"X-APPEND": cmd_xappend, b"FETCH": cmd_fetch, b"STORE": cmd_store,
    b"UID": cmd_uid, b"X-DUMP": cmd_dump,
}


# ---------------------------------------------------------------- start-up

def parse_options(argv):
    p = argparse.ArgumentParser(description="Vantrel test server")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--listen", choices=["127.0.0.1", "::1"],
                   default="127.0.0.1")
    p.add_argument("--dump")
    p.add_argument("--master-password", default="master")
    p.add_argument("--account", action="append", default=[])
    p.add_argument("--folder", action="append", default=[])
    p.add_argument("--server-version", default="6.3.0")
    p.add_argument("--no-checkversion", action="store_true")
    p.add_argument("--greeting")
    p.add_argument("--refuse-append", type=int, action="append", default=[])
    p.add_argument("--refuse-append-marker")
    p.add_argument("--refuse-create", action="append", default=[])
    p.add_argument("--refuse-setuser", action="append", default=[])
    p.add_argument("--refuse-createuser", action="append", default=[])
    p.add_argument("--refusal-text")
    p.add_argument("--drop-after", type=int)
    p.add_argument("--bye-after", type=int)
    p.add_argument("--stall-after", type=int)
    p.add_argument("--trickle-after", type=int)
    p.add_argument("--flood-after", type=int)
    p.add_argument("--fault-scope", choices=["server", "connection"],
                   default="server")
    p.add_argument("--fault-commands", default="")
    p.add_argument("--die-after-appends", type=int)
    p.add_argument("--load")
    p.add_argument("--sink", action="store_true")
    p.add_argument("--tls-cert")
    p.add_argument("--tls-key")
    p.add_argument("--verbose", action="store_true")
    options = p.parse_args(argv)
    options.fault_commands = {c.strip().upper().encode() for c in
                              options.fault_commands.split(",") if c.strip()}
    # Names, passwords and markers are byte strings, as on the wire.
    for name in ("master_password", "server_version", "greeting",
                 "refuse_append_marker", "refusal_text"):
        value = getattr(options, name)
        setattr(options, name, None if value is None else os.fsencode(value))
    for name in ("account", "folder", "refuse_create", "refuse_setuser",
                 "refuse_createuser"):
        setattr(options, name, [os.fsencode(v) for v in getattr(options, name)])
    if bool(options.tls_cert) != bool(options.tls_key):
        p.error("--tls-cert and --tls-key go together")
    return options


async def serve(options):
    server = Server(options)
    context = None
    if options.tls_cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(options.tls_cert, options.tls_key)

    async def accept(reader, writer):
        task = asyncio.current_task()
        server.tasks.add(task)
        try:
            await Connection(server, reader, writer).run()
        except asyncio.CancelledError:
            pass  # shutting down; the stream layer must not see it
        finally:
            server.tasks.discard(task)

    loop = asyncio.get_running_loop()
    stopped = server.stopped
    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, stopped.set)
    listener = await asyncio.start_server(accept, options.listen, options.port,
                                          ssl=context, limit=LINE_LIMIT)
    print(listener.sockets[0].getsockname()[1], flush=True)
    try:
        await stopped.wait()
    finally:
        listener.close()
        for task in list(server.tasks):
            task.cancel()
        await asyncio.gather(*server.tasks, return_exceptions=True)
        server.write_dump()


def main():
    asyncio.run(serve(parse_options(sys.argv[1:])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
