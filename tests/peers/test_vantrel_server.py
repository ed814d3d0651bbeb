"""Talks raw IMAP to the Vantrel test server over loopback sockets."""

import base64
import hashlib
import hmac
import json
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import unittest

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                      "vantrel_server.py")
DATE = b'"20-Feb-2004 12:34:56 +0000"'


class Server:
    """The server as a child process with its dump file."""

    def __init__(self, *args):
        self.dir = tempfile.mkdtemp(prefix="vantrel-test-")
        self.dump_path = os.path.join(self.dir, "dump.json")
        self.process = subprocess.Popen(
            [sys.executable, SERVER, "--port", "0", "--dump", self.dump_path,
             *args], stdout=subprocess.PIPE)
        self.port = int(self.process.stdout.readline())
        self.result = None

    def connect(self, tls=False, host="127.0.0.1"):
        return Client(self.port, tls, host)

    def stop(self):
        """Ends the server by its id; returns its exit code and the dump it
        wrote. Safe to repeat."""
        if self.result is None:
            self.process.send_signal(signal.SIGTERM)
            code = self.process.wait(timeout=10)
            self.process.stdout.close()
            with open(self.dump_path, "rb") as f:
                self.result = code, json.load(f)
            shutil.rmtree(self.dir)
        return self.result


class Client:
    def __init__(self, port, tls=False, host="127.0.0.1"):
        self.sock = socket.create_connection((host, port), timeout=5)
        if tls:
            context = ssl.create_default_context()
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
            self.sock = context.wrap_socket(self.sock)
        self.file = self.sock.makefile("rb")
        self.greeting = self.file.readline()
        self.counter = 0

    def close(self):
        self.file.close()
        self.sock.close()

    def send(self, data):
        self.sock.sendall(data)

    def line(self):
        return self.file.readline()

    def command(self, text):
        """Sends a tagged command; returns (untagged lines, tagged line)."""
        self.counter += 1
        tag = b"T%d" % self.counter
        self.send(tag + b" " + text + b"\r\n")
        return self.collect(tag)

    def collect(self, tag):
        untagged = []
        while True:
            line = self.line()
            if not line:
                raise ConnectionError("connection closed")
            literal = re.search(rb"\{(\d+)\}\r\n$", line)
            if literal:
                line += self.file.read(int(literal.group(1))) + self.line()
            if line.startswith(tag + b" "):
                return untagged, line
            untagged.append(line)

    def status(self, text):
        return self.command(text)[1].split(b" ")[1]

    def master(self, password=b"master"):
        self.counter += 1
        tag = b"T%d" % self.counter
        self.send(tag + b" X-MASTERAUTH\r\n")
        continuation = self.line()
        token = re.search(rb"<[^>]*>", continuation).group(0)
        self.send(hashlib.md5(token + password).hexdigest().encode() + b"\r\n")
        return continuation, self.collect(tag)[1]

    def admin(self, address=b"ann@sales"):
        """Master login, then acting as `address` (created if needed)."""
        self.master()
        name, domain = address.split(b"@")
        self.command(b"X-CREATEUSER (NAME %s DOMAIN %s PASSWORD \"pw\")"
                     % (literal(name), literal(domain)))
        assert self.status(b"X-SETUSER " + literal(address)) == b"OK"


def word(tagged):
    """The status word of a tagged line."""
    return tagged.split(b" ")[1]


def literal(value):
    return b"{%d+}\r\n" % len(value) + value


def append(client, data, extra=b"", command=b"APPEND", mailbox=b"INBOX"):
    return client.command(command + b' "' + mailbox + b'"' + extra + b" " +
                          literal(data))[1]


def folder(dump, name, account=0):
    folders = dump["accounts"][account]["folders"]
    return next(f for f in folders if f["name"] == name)


def data(message):
    return base64.b64decode(message["data"])


class SessionTest(unittest.TestCase):
    """Greeting, capabilities, logins and the account commands."""

    def setUp(self):
        self.server = Server("--account", "bob@sales:se:cret",
                             "--folder", "bob@sales:Notes:X-NOTE")
        self.client = self.server.connect()

    def tearDown(self):
        self.client.close()
        self.assertEqual(self.server.stop()[0], 0)

    def test_greeting_capability_noop_logout(self):
        self.assertTrue(self.client.greeting.startswith(b"* OK "))
        untagged, tagged = self.client.command(b"CAPABILITY")
        words = untagged[0].split()
        self.assertEqual(words[:3], [b"*", b"CAPABILITY", b"IMAP4rev1"])
        self.assertIn(b"LITERAL+", words)
        self.assertTrue(tagged.startswith(b"T1 OK"))
        self.assertEqual(self.client.status(b"NOOP"), b"OK")
        untagged, tagged = self.client.command(b"LOGOUT")
        self.assertTrue(untagged[0].startswith(b"* BYE"))
        self.assertTrue(tagged.startswith(b"T3 OK"))
        self.assertEqual(self.client.line(), b"")

    def test_master_authentication(self):
        continuation, tagged = self.client.master()
        self.assertRegex(continuation, rb"^\+ <[^<>]+>\r\n$")
        self.assertTrue(tagged.startswith(b"T1 OK"))
        other = self.server.connect()
        second, tagged = other.master(b"wrong")
        self.assertNotEqual(second, continuation)
        self.assertTrue(tagged.startswith(b"T1 NO"))
        other.close()
        upper = self.server.connect()
        upper.send(b"U X-MASTERAUTH\r\n")
        token = re.search(rb"<[^>]*>", upper.line()).group(0)
        digest = hashlib.md5(token + b"master").hexdigest().upper()
        upper.send(digest.encode() + b"\r\n")
        self.assertTrue(upper.collect(b"U")[1].startswith(b"U NO"))
        upper.close()

    def test_login_forms_and_cram_md5(self):
        self.assertEqual(self.client.status(b'LOGIN "bob@sales" "se:crat"'), b"NO")
        self.assertEqual(self.client.status(b"LOGIN bob@sales se:cret"), b"OK")
        self.assertEqual(self.client.status(b'SELECT "Notes"'), b"OK")
        second = self.server.connect()
        self.assertEqual(second.status(b"LOGIN " + literal(b"bob@sales") +
                                       b" " + literal(b"se:cret")), b"OK")
        second.close()
        cram = self.server.connect()
        cram.send(b"C AUTHENTICATE CRAM-MD5\r\n")
        challenge = base64.b64decode(cram.line()[2:])
        digest = hmac.new(b"se:cret", challenge, hashlib.md5).hexdigest()
        cram.send(base64.b64encode(b"bob@sales " + digest.encode()) + b"\r\n")
        self.assertTrue(cram.collect(b"C")[1].startswith(b"C OK"))
        cram.close()

    def test_createuser_and_setuser(self):
        self.assertEqual(self.client.status(
            b'X-CREATEUSER (NAME {3+}\r\nann DOMAIN {5+}\r\nsales PASSWORD "x")'),
            b"NO", "only a master connection may create accounts")
        self.client.master()
        name = "Zoë Q".encode()
        self.assertEqual(self.client.status(
            b"X-CREATEUSER (NAME " + literal(name) + b" DOMAIN " +
            literal(b"sales") + b' PASSWORD "p\\"w\\\\x" FULLNAME "Sales Desk"'
            b' GROUPS ("g1" "g 2"))'), b"OK")
        self.assertEqual(self.client.status(
            b'X-CREATEUSER (NAME {3+}\r\nBOB DOMAIN {5+}\r\nsales PASSWORD "x")'),
            b"NO", "account names compare without letter case")
        self.assertEqual(self.client.status(
            b'X-CREATEUSER (NAME {3+}\r\ncid DOMAIN {5+}\r\nsales)'), b"BAD")
        self.assertEqual(self.client.status(b'CREATE "Work"'), b"NO",
                         "no identity before X-SETUSER")
        self.assertEqual(self.client.status(b'X-SETUSER "nobody@sales"'), b"NO")
        self.assertEqual(self.client.status(b'X-SETUSER "' + name + b'@sales"'),
                         b"BAD", "8-bit text is no quoted string")
        self.assertEqual(self.client.status(b"X-SETUSER " + literal(name + b"@sales")),
                         b"OK")
        self.assertEqual(self.client.status(b'CREATE "Work"'), b"OK")
        self.client.close()
        bob, zoe = self.server.stop()[1]["accounts"]
        self.assertEqual((bob["password"], bob["folders"][1]["type"]),
                         ("se:cret", "X-NOTE"))
        self.assertEqual(zoe["name"].encode("latin-1"), name)
        self.assertEqual(zoe["password"], 'p"w\\x')
        self.assertEqual((zoe["fullName"], zoe["groups"]),
                         ("Sales Desk", ["g1", "g 2"]))
        self.assertEqual([(f["name"], f["type"]) for f in zoe["folders"]],
                         [("INBOX", "X-MAIL"), ("Work", "")])

    def test_line_break_ends_a_quoted_string_and_the_command(self):
        self.client.master()
        # What follows the line break runs as a command of its own, as on a
        # real server: the reason quoted strings must never hold one.
        self.client.send(b'T8 X-CREATEUSER (NAME {1+}\r\na DOMAIN {1+}\r\nb '
                         b'PASSWORD "x\r\nT9 X-CREATEUSER (NAME {1+}\r\nc '
                         b'DOMAIN {1+}\r\nb PASSWORD "y")\r\n')
        self.assertEqual(word(self.client.collect(b"T8")[1]), b"BAD")
        self.assertEqual(word(self.client.collect(b"T9")[1]), b"OK")
        for value in (b'"a\rb"', b'"a\x00b"'):
            self.assertEqual(self.client.status(b"LOGIN x@b " + value), b"BAD",
                             value)
        self.client.close()
        accounts = self.server.stop()[1]["accounts"]
        self.assertEqual([a["name"] for a in accounts], ["bob", "c"])

    def test_eight_bit_bytes_only_in_literals(self):
        self.client.master()
        for value in (b'"p\xc3\xa4ss"', b'"\x80"', b'"x\xff"'):
            self.assertEqual(self.client.status(b"LOGIN x@b " + value), b"BAD",
                             value)
        name, password, full = "Zoë".encode(), b"p\xe4ss", "Zoë Ærø".encode()
        self.assertEqual(self.client.status(
            b"X-CREATEUSER (NAME " + literal(name) + b" DOMAIN " +
            literal(b"b") + b' PASSWORD "pw" FULLNAME "' + full + b'")'), b"BAD")
        self.assertEqual(self.client.status(
            b"X-CREATEUSER (NAME " + literal(name) + b" DOMAIN " +
            literal(b"b") + b" PASSWORD " + literal(password) + b" FULLNAME " +
            literal(full) + b")"), b"OK")
        self.assertEqual(self.client.status(b'X-SETUSER "' + name + b'@b"'), b"BAD")
        self.assertEqual(self.client.status(b"LOGIN " + literal(name + b"@b") +
                                            b" " + literal(password)), b"OK")
        self.client.close()
        account = self.server.stop()[1]["accounts"][1]
        self.assertEqual(account["name"].encode("latin-1"), name)
        self.assertEqual(account["password"].encode("latin-1"), password)
        self.assertEqual(account["fullName"].encode("latin-1"), full)

    def test_literals_wherever_a_string_is_allowed(self):
        self.client.master()
        odd = b"x\r\ny\xff"
        self.assertEqual(self.client.status(
            b"X-CREATEUSER (NAME " + literal(b"a") + b" DOMAIN " + literal(b"b") +
            b" PASSWORD " + literal(odd) + b" FULLNAME " + literal(b"F\r\nN") +
            b" GROUPS (" + literal(b"g\r\n1") + b' "g2"))'), b"OK")
        self.assertEqual(self.client.status(b"X-SETUSER " + literal(b"a@b")),
                         b"OK")
        box = b"Box\r\nT9 NOOP"
        self.assertEqual(self.client.status(b"CREATE " + literal(box)), b"NO",
                         "a raw line break is no modified UTF-7")
        box = b'Box&AA0ACg-T9 "NOOP"'
        self.assertEqual(self.client.status(b"CREATE (X-NOTE GUID " +
                                            literal(b"g\nu") + b") " +
                                            literal(box)), b"OK")
        self.assertEqual(self.client.status(b"SELECT " + literal(box)), b"OK")
        untagged, tagged = self.client.command(b"STATUS " + literal(box) +
                                               b" (MESSAGES)")
        self.assertEqual(word(tagged), b"OK")
        self.assertIn(b"* STATUS {20}\r\n" + box + b" (MESSAGES 0)\r\n", untagged)
        untagged, tagged = self.client.command(b"LIST " + literal(b"") + b" " +
                                               literal(b"Box&AA0ACg-*"))
        self.assertEqual(untagged, [b'* LIST (\\ZenqaNote) "/" {20}\r\n' + box +
                                    b"\r\n"])
        self.assertEqual(self.client.status(
            b"X-APPEND " + literal(box) + b" (\\Seen) {26}\r\n" +
            DATE[1:-1] + b" " + literal(b"data")), b"OK")
        self.assertEqual(self.client.status(b"LOGIN " + literal(b"a@b") + b" " +
                                            literal(odd)), b"OK")
        self.client.close()
        account = self.server.stop()[1]["accounts"][1]
        self.assertEqual(account["password"].encode("latin-1"), odd)
        self.assertEqual(account["fullName"], "F\r\nN")
        self.assertEqual(account["groups"], ["g\r\n1", "g2"])
        created = folder({"accounts": [account]}, box.decode())
        self.assertEqual((created["type"], created["guid"]), ("X-NOTE", "g\nu"))
        self.assertEqual(data(created["messages"][0]), b"data")
        self.assertEqual(created["messages"][0]["date"], DATE[1:-1].decode())

    def test_checkversion(self):
        self.assertEqual(self.client.status(b"X-CHECKVERSION"), b"NO")
        self.client.master()
        tagged = self.client.command(b"X-CHECKVERSION")[1]
        self.assertEqual(tagged, b"T3 OK Vantrel 6.3.0\r\n")


class ListenTest(unittest.TestCase):
    """The address the server listens on."""

    def test_ipv6_loopback_only_when_asked_for(self):
        server = Server("--listen", "::1")
        try:
            client = server.connect(host="::1")
            self.assertTrue(client.greeting.startswith(b"* OK "))
            client.close()
            with self.assertRaises(OSError):
                server.connect()
        finally:
            self.assertEqual(server.stop()[0], 0)

    def test_only_loopback_addresses(self):
        result = subprocess.run(
            [sys.executable, SERVER, "--listen", "0.0.0.0"],
            capture_output=True, timeout=10)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"--listen", result.stderr)


class FolderMessageTest(unittest.TestCase):
    """Typed folders, LIST, STATUS, APPEND and FETCH in one account."""

    def setUp(self):
        self.server = Server()
        self.client = self.server.connect()
        self.client.admin()

    def tearDown(self):
        self.client.close()
        self.server.stop()

    def stop(self):
        self.client.close()
        code, dump = self.server.stop()
        self.assertEqual(code, 0)
        return dump

    def test_create_with_types_and_list(self):
        c = self.client
        self.assertEqual(c.status(b'CREATE (X-CONTACT) "Contacts/Work"'), b"OK")
        self.assertEqual(c.status(b'SELECT "Contacts"'), b"NO",
                         "an implied parent cannot be selected")
        self.assertEqual(c.status(b'CREATE (X-CALENDAR) "Contacts"'), b"OK")
        self.assertEqual(c.status(b'CREATE (X-CALENDAR) "Contacts"'), b"NO")
        self.assertEqual(c.status(b'CREATE (X-ALL GUID "g-1") "Everything"'), b"OK")
        self.assertEqual(c.status(b'CREATE (GUID "g-2") "Plain"'), b"OK")
        self.assertEqual(c.status(b'CREATE (X-BOGUS) "Odd"'), b"BAD")
        self.assertEqual(c.status(b'CREATE "inbox"'), b"NO")
        self.assertEqual(c.status(b'CREATE (X-TODO) "A/B/C"'), b"OK")
        untagged, tagged = c.command(b'LIST "" "*"')
        self.assertTrue(tagged.startswith(b"T%d OK" % c.counter))
        listing = {re.search(rb'"/" (.*)\r\n', line).group(1):
                   re.search(rb"\((.*?)\)", line).group(1) for line in untagged}
        self.assertEqual(listing[b'"INBOX"'], b"\\ZenqaMail")
        self.assertEqual(listing[b'"Contacts/Work"'], b"\\ZenqaContact")
        self.assertEqual(listing[b'"Contacts"'], b"\\ZenqaCalendar")
        self.assertEqual(listing[b'"A"'], b"\\Noselect")
        self.assertEqual(listing[b'"A/B"'], b"\\Noselect")
        self.assertEqual(listing[b'"Plain"'], b"")
        self.assertEqual(len(listing[b'"Everything"'].split()), 8)
        untagged = c.command(b'LIST "" "%"')[0]
        self.assertEqual(len(untagged), 5, "% stops at the separator")
        dump = self.stop()
        everything = folder(dump, "Everything")
        self.assertEqual((everything["type"], everything["guid"]), ("X-ALL", "g-1"))

    def test_append_keeps_flags_date_and_exact_bytes(self):
        c = self.client
        body = b"Subject: x\nbare LF\r\nNo NUL but \xff\r\n"
        self.assertEqual(word(append(c, body, b" (\\Seen \\Flagged ) " + DATE)),
                         b"OK")
        self.assertEqual(c.command(b'APPEND "INBOX" {1+}\r\nx')[0], [],
                         "no continuation request for a LITERAL+ literal")
        c.send(b"S APPEND \"INBOX\" () {4}\r\n")
        self.assertTrue(c.line().startswith(b"+ "))
        c.send(b"sync\r\n")
        self.assertTrue(c.collect(b"S")[1].startswith(b"S OK"))
        self.assertEqual(word(append(c, b"x", command=b"X-APPEND")), b"OK")
        self.assertEqual(word(append(c, b"", b" " + DATE)), b"OK")
        self.assertEqual(word(append(c, b"x", b' "1-Feb-2004 25:00:00 +0000"')),
                         b"BAD")
        self.assertEqual(word(append(c, b"x", b" 1-Feb-2004")), b"BAD")
        self.assertIn(b"[TRYCREATE]", append(c, b"x", mailbox=b"Nowhere"))
        untagged = c.command(b'STATUS "INBOX" (MESSAGES UIDNEXT)')[0]
        self.assertEqual(untagged, [b'* STATUS "INBOX" (MESSAGES 5 UIDNEXT 6)\r\n'])
        messages = folder(self.stop(), "INBOX")["messages"]
        self.assertEqual([data(m) for m in messages],
                         [body, b"x", b"sync", b"x", b""])
        self.assertEqual(messages[0]["flags"], ["\\Seen", "\\Flagged"])
        self.assertEqual(messages[0]["date"], DATE.strip(b'"').decode())
        self.assertEqual([m["via"] for m in messages],
                         ["APPEND", "APPEND", "APPEND", "X-APPEND", "APPEND"])
        self.assertEqual((messages[2]["flags"], messages[2]["date"]), ([], ""))
        self.assertRegex(messages[2]["internalDate"],
                         r"^\d\d-[A-Z][a-z]{2}-\d{4} \d\d:\d\d:\d\d \+0000$")

    def test_mailbox_names_must_be_modified_utf7(self):
        c = self.client
        valid = [b"Entw&APw-rfe", b"R&-D", b"&-&-", b"~peter/mail/&U,BTFw-/&ZeVnLIqe-",
                 b"&2D3eAA-", b"Zo&AOs- &AMY-r&APg-", b"Work&AA0ACg-T9 NOOP"]
        invalid = [b"Entw\xc3\xbcrfe", b"R&D", b"&APw", b"a&AGE-", b"&AOQ-&AOQ-",
                   b"&APw=-", b"&AP/-", b"&APx-", b"&2D0-", b"&3gA-", b"a\tb",
                   b"Work\r\nT9 NOOP"]
        for name in valid:
            self.assertEqual(c.status(b"CREATE " + literal(name)), b"OK", name)
            self.assertEqual(c.status(b"SELECT " + literal(name)), b"OK", name)
        for name in invalid:
            for command in (b"CREATE " + literal(name), b"SELECT " + literal(name),
                            b"EXAMINE " + literal(name),
                            b"STATUS " + literal(name) + b" (MESSAGES)",
                            b"APPEND " + literal(name) + b" " + literal(b"x")):
                tagged = c.command(command)[1]
                self.assertEqual(tagged.split(b" ", 2)[1:],
                                 [b"NO", b"Mailbox name is not valid mUTF-7\r\n"],
                                 command)
        self.assertEqual(word(append(c, b"x", mailbox=b"R&-D")), b"OK")
        dump = self.stop()
        names = [f["name"] for f in dump["accounts"][0]["folders"]]
        self.assertEqual(names, ["INBOX"] + [n.decode() for n in valid])
        self.assertEqual(folder(dump, "R&-D")["messageCount"], 1)

    def test_nul_in_appended_data_is_stored_as_0x80(self):
        # What Dovecot does: the append succeeds, the message is changed.
        self.assertEqual(word(append(self.client, b"Subject: x\r\n\r\n\x00a\x00\r\n")),
                         b"OK")
        message = folder(self.stop(), "INBOX")["messages"][0]
        self.assertEqual(data(message), b"Subject: x\r\n\r\n\x80a\x80\r\n")
        self.assertEqual(message["size"], 19)

    def test_fetch_reads_messages_back(self):
        c = self.client
        self.assertEqual(c.status(b'CREATE (X-MAIL) "Empty"'), b"OK")
        self.assertEqual(c.status(b'SELECT "Empty"'), b"OK")
        self.assertEqual(c.command(b"FETCH 1:* (INTERNALDATE FLAGS BODY.PEEK[])"),
                         ([], b"T%d OK FETCH completed\r\n" % c.counter))
        append(c, b"one\r\n", b" (\\Seen \\Draft ) " + DATE)
        append(c, b"two")
        untagged = c.command(b'SELECT "INBOX"')[0]
        self.assertIn(b"* 2 EXISTS\r\n", untagged)
        untagged = c.command(b"FETCH 1 (INTERNALDATE FLAGS)")[0]
        self.assertEqual(untagged, [b'* 1 FETCH (INTERNALDATE ' + DATE +
                                    b" FLAGS (\\Seen \\Draft))\r\n"])
        untagged = c.command(b"FETCH 2 BODY.PEEK[]")[0]
        self.assertEqual(untagged, [b"* 2 FETCH (BODY[] {3}\r\ntwo)\r\n"])
        untagged = c.command(b"FETCH 1:* (INTERNALDATE FLAGS BODY.PEEK[])")[0]
        self.assertEqual(len(untagged), 2)
        self.assertTrue(untagged[0].endswith(b"BODY[] {5}\r\none\r\n)\r\n"))
        self.assertEqual(c.status(b"FETCH 3 FLAGS"), b"BAD")


class ReconcileReadTest(unittest.TestCase):
    """What a client reads and changes to match its messages: UID FETCH of
    keys, STORE in its forms, EXAMINE as read-only."""

    KEYS = b"(UID FLAGS INTERNALDATE RFC822.SIZE BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])"

    def setUp(self):
        self.server = Server()
        self.client = self.server.connect()
        self.client.admin()
        self.bodies = [
            b"Subject: a\r\nMessage-ID:\r\n <folded@x>\r\nTo: b\r\n\r\nMessage-ID: <body@x>\r\n",
            b"message-id: <one@x>\r\nMESSAGE-ID: <two@x>\r\n\r\n",
            b"Subject: none\r\n\r\nbody\r\n",
            b"Message-Id: <bare@x>\nSubject: lf\n\nbody\n",
        ]
        for i, body in enumerate(self.bodies):
            flags = b" (\\Seen) " if i == 0 else b" "
            self.assertEqual(word(append(self.client, body, flags + DATE)), b"OK")

    def tearDown(self):
        self.client.close()
        self.server.stop()

    def test_uid_fetch_of_keys_in_sequence_order(self):
        c = self.client
        untagged = c.command(b'EXAMINE "INBOX"')[0]
        self.assertIn(b"* 4 EXISTS\r\n", untagged)
        untagged, tagged = c.command(b"UID FETCH 1:* " + self.KEYS)
        self.assertTrue(tagged.endswith(b"OK FETCH completed\r\n"))
        headers = [b"Message-ID:\r\n <folded@x>\r\n\r\n",
                   b"message-id: <one@x>\r\nMESSAGE-ID: <two@x>\r\n\r\n",
                   b"\r\n", b"Message-Id: <bare@x>\r\n\r\n"]
        flags = [b"\\Seen", b"", b"", b""]
        self.assertEqual(untagged, [
            b"* %d FETCH (UID %d FLAGS (%s) INTERNALDATE %s RFC822.SIZE %d "
            b"BODY[HEADER.FIELDS (MESSAGE-ID)] {%d}\r\n%s)\r\n"
            % (i + 1, i + 1, flags[i], DATE, len(self.bodies[i]), len(headers[i]),
               headers[i]) for i in range(4)])
        self.assertEqual(c.command(b"UID FETCH * UID")[0], [b"* 4 FETCH (UID 4)\r\n"])
        self.assertEqual(c.command(b"UID FETCH 9:* UID")[0], [b"* 4 FETCH (UID 4)\r\n"],
                         "n:* holds the highest UID even when n is above it")
        self.assertEqual(c.command(b"UID FETCH 3,1,7 (FLAGS)")[0],
                         [b"* 1 FETCH (UID 1 FLAGS (\\Seen))\r\n",
                          b"* 3 FETCH (UID 3 FLAGS ())\r\n"])
        self.assertEqual(c.command(b"UID FETCH 7:8 UID"), ([], b"T%d OK FETCH completed\r\n" % c.counter))
        self.assertEqual(c.command(b"FETCH 2 (RFC822.SIZE)")[0],
                         [b"* 2 FETCH (RFC822.SIZE %d)\r\n" % len(self.bodies[1])])
        self.assertEqual(c.status(b"UID FETCH 0:2 UID"), b"BAD")
        self.assertEqual(c.status(b"UID FETCH 1 (BODY[HEADER])"), b"BAD")
        self.assertEqual(c.status(b"UID COPY 1 INBOX"), b"BAD")

    def test_header_fetch_without_peek_marks_seen(self):
        c = self.client
        self.assertEqual(c.status(b'SELECT "INBOX"'), b"OK")
        untagged = c.command(b"FETCH 2 (BODY[HEADER.FIELDS (Subject)] FLAGS)")[0]
        self.assertEqual(untagged, [b"* 2 FETCH (BODY[HEADER.FIELDS (SUBJECT)] {2}\r\n\r\n "
                                    b"FLAGS (\\Seen))\r\n"])

    def test_store_forms_and_read_only_examine(self):
        c = self.client
        self.assertEqual(c.status(b"STORE 1 FLAGS (\\Seen)"), b"NO", "nothing selected")
        self.assertEqual(c.status(b'EXAMINE "INBOX"'), b"OK")
        self.assertIn(b"[READ-ONLY]", c.command(b"UID STORE 1 FLAGS (\\Draft)")[1])
        self.assertEqual(c.status(b'SELECT "INBOX"'), b"OK")
        self.assertEqual(c.command(b"UID STORE 2 FLAGS (\\Flagged \\Draft)")[0],
                         [b"* 2 FETCH (UID 2 FLAGS (\\Flagged \\Draft))\r\n"])
        self.assertEqual(c.command(b"STORE 2 +FLAGS (\\flagged $Label)")[0],
                         [b"* 2 FETCH (FLAGS (\\Flagged \\Draft $Label))\r\n"])
        self.assertEqual(c.command(b"UID STORE 2 -FLAGS.SILENT (\\DRAFT)"),
                         ([], b"T%d OK STORE completed\r\n" % c.counter))
        self.assertEqual(c.command(b"UID STORE 1:3 FLAGS.SILENT ()")[0], [])
        self.assertEqual(c.command(b"UID STORE 4 +FLAGS.SILENT \\Answered")[0], [])
        self.assertEqual(c.status(b"UID STORE 1 FLAGS (\\Recent)"), b"BAD")
        self.assertEqual(c.status(b"UID STORE 1 FLAGS (\\Bogus)"), b"BAD")
        self.assertEqual(c.status(b"UID STORE 1 LABELS (x)"), b"BAD")
        self.assertEqual(c.status(b"STORE 9 FLAGS ()"), b"BAD")
        c.close()
        _, dump = self.server.stop()
        self.assertEqual([m["flags"] for m in folder(dump, "INBOX")["messages"]],
                         [[], [], [], ["\\Answered"]])
        self.assertEqual(dump["stats"]["stores"], 5)


class RestartTest(unittest.TestCase):
    """A server that dies after storing an append, and one started again
    from what it held."""

    def test_die_after_appends_then_load(self):
        server = Server("--die-after-appends", "2")
        self.addCleanup(server.stop)
        c = server.connect()
        c.admin()
        self.assertEqual(word(append(c, b"one\r\n", b" (\\Seen) " + DATE)), b"OK")
        c.send(b"A APPEND INBOX {5+}\r\ntwo\r\n\r\n")
        self.assertEqual(c.line(), b"", "the second append is not answered")
        c.close()
        self.assertEqual(server.process.wait(timeout=10), 0, "the server ended on its own")
        code, dump = server.stop()
        self.assertEqual(code, 0)
        self.assertEqual([data(m) for m in folder(dump, "INBOX")["messages"]],
                         [b"one\r\n", b"two\r\n"])

        directory = tempfile.mkdtemp(prefix="vantrel-load-")
        self.addCleanup(shutil.rmtree, directory)
        path = os.path.join(directory, "state.json")
        with open(path, "w") as f:
            json.dump(dump, f)
        again = Server("--load", path)
        self.addCleanup(again.stop)
        c = again.connect()
        c.master()
        self.assertEqual(c.status(b'X-SETUSER "ann@sales"'), b"OK")
        self.assertIn(b"* 2 EXISTS\r\n", c.command(b'SELECT "INBOX"')[0])
        self.assertIn(b"[APPENDUID 1 3]", append(c, b"three"))
        self.assertEqual(c.command(b"UID FETCH 1 (FLAGS INTERNALDATE)")[0],
                         [b"* 1 FETCH (UID 1 FLAGS (\\Seen) INTERNALDATE " + DATE + b")\r\n"])
        c.close()
        _, reloaded = again.stop()
        self.assertEqual(reloaded["stats"]["appends"], 1)
        self.assertEqual(folder(reloaded, "INBOX")["messages"][:2],
                         folder(dump, "INBOX")["messages"])


class FaultTest(unittest.TestCase):
    """Each fault switch on its own server."""

    def run_server(self, *args):
        server = Server(*args)
        self.addCleanup(server.stop)
        return server

    def test_refused_appends_and_folder(self):
        server = self.run_server("--refuse-append", "2", "--refuse-append-marker",
                                 "POISON", "--refuse-create", "Bad/Name")
        c = server.connect()
        c.admin()
        statuses = [word(append(c, body))
                    for body in (b"a", b"b", b"c POISON d", b"e")]
        self.assertEqual(statuses, [b"OK", b"NO", b"NO", b"OK"])
        self.assertEqual(c.status(b'CREATE "Bad/Name"'), b"NO")
        self.assertEqual(c.status(b'CREATE "Bad"'), b"OK")
        c.close()
        _, dump = server.stop()
        self.assertEqual([data(m) for m in folder(dump, "INBOX")["messages"]],
                         [b"a", b"e"])
        self.assertEqual(dump["stats"]["refusedAppends"], 2)

    def test_refused_setuser(self):
        server = self.run_server("--account", "ann@sales:pw",
                                 "--refuse-setuser", "ann@sales")
        c = server.connect()
        c.master()
        self.assertEqual(c.status(b'X-SETUSER "ann@sales"'), b"NO")
        c.close()

    def test_refused_createuser_creates_nothing(self):
        server = self.run_server("--refuse-createuser", "Ann@Sales")
        c = server.connect()
        c.master()
        self.assertEqual(c.command(
            b'X-CREATEUSER (NAME {3+}\r\nann DOMAIN {5+}\r\nsales PASSWORD "x")')[1].split(b" ", 1)[1],
            b"NO Licence limit reached\r\n")
        self.assertEqual(c.status(b'X-SETUSER "ann@sales"'), b"NO")
        c.close()
        self.assertEqual(server.stop()[1]["accounts"], [])

    def test_names_with_control_characters_are_no_accounts(self):
        server = self.run_server()
        c = server.connect()
        c.master()
        for name, domain in ((b"a\nb", b"sales"), (b"ann", b"sa\rles"), (b"ann\x7f", b"sales")):
            self.assertEqual(c.command(
                b'X-CREATEUSER (NAME {%d+}\r\n%s DOMAIN {%d+}\r\n%s PASSWORD "x")'
                % (len(name), name, len(domain), domain))[1].split(b" ", 1)[1],
                b"NO Invalid account name\r\n")
        c.close()
        self.assertEqual(server.stop()[1]["accounts"], [])

    def test_refusal_text_is_sent_as_given(self):
        server = self.run_server("--refuse-createuser", "ann@sales",
                                 "--refuse-create", "Work",
                                 "--refusal-text", "No\rResult: ok")
        c = server.connect()
        c.admin(b"bob@sales")
        self.assertEqual(c.command(b'CREATE "Work"')[1].split(b" ", 1)[1],
                         b"NO No\rResult: ok\r\n")
        self.assertEqual(c.command(
            b'X-CREATEUSER (NAME "ann" DOMAIN "sales" PASSWORD "x")')[1].split(b" ", 1)[1],
            b"NO No\rResult: ok\r\n")
        c.close()

    def test_drop_counts_chosen_commands_across_connections(self):
        server = self.run_server("--drop-after", "3",
                                 "--fault-commands", "APPEND,X-APPEND")
        first = server.connect()
        first.admin()
        append(first, b"1")
        append(first, b"2", command=b"X-APPEND")
        first.close()
        second = server.connect()
        second.admin()
        append(second, b"3")
        self.assertRaises(ConnectionError, append, second, b"4")
        second.close()
        third = server.connect()
        third.admin()
        self.assertEqual(word(append(third, b"5")), b"OK", "fires only once")
        third.close()
        _, dump = server.stop()
        self.assertEqual(folder(dump, "INBOX")["messageCount"], 4)

    def test_bye_per_connection(self):
        server = self.run_server("--bye-after", "1", "--fault-scope", "connection")
        for _ in range(2):
            c = server.connect()
            self.assertEqual(c.status(b"NOOP"), b"OK")
            c.send(b"T9 NOOP\r\n")
            self.assertTrue(c.line().startswith(b"* BYE"))
            self.assertEqual(c.line(), b"")
            c.close()

    def test_stall_keeps_connection_silent(self):
        server = self.run_server("--stall-after", "1")
        c = server.connect()
        self.assertEqual(c.status(b"NOOP"), b"OK")
        c.sock.settimeout(0.3)
        c.send(b"T9 NOOP\r\n")
        self.assertRaises(socket.timeout, c.line)
        other = server.connect()
        self.assertEqual(other.status(b"NOOP"), b"OK")
        other.close()
        code, _ = server.stop()
        self.assertEqual(code, 0, "a stalled connection must not block the exit")
        c.close()

    def test_trickle_sends_a_byte_a_second(self):
        server = self.run_server("--trickle-after", "1")
        c = server.connect()
        self.assertEqual(c.status(b"NOOP"), b"OK")
        c.send(b"T9 NOOP\r\n")
        self.assertEqual(c.file.read(2), b"* ")
        c.sock.settimeout(0.3)
        self.assertRaises(socket.timeout, c.file.read, 1)
        c.close()
        code, _ = server.stop()
        self.assertEqual(code, 0)

    def test_flood_sends_untagged_lines_without_end(self):
        server = self.run_server("--flood-after", "0",
                                 "--fault-commands", "X-CREATEUSER")
        c = server.connect()
        c.master()
        c.send(b"T9 X-CREATEUSER (NAME {1+}\r\na DOMAIN {1+}\r\nb "
               b'PASSWORD "x")\r\n')
        lines = {c.line() for _ in range(30)}
        self.assertEqual(lines, {b"* OK still working\r\n"})
        c.close()
        code, dump = server.stop()
        self.assertEqual(code, 0)
        self.assertEqual(dump["accounts"], [])

    def test_version_and_greeting_switches(self):
        bye = self.run_server("--greeting", "* BYE not today").connect()
        self.assertEqual(bye.greeting, b"* BYE not today\r\n")
        self.assertEqual(bye.line(), b"")
        bye.close()
        c = self.run_server("--server-version", "6.2.9").connect()
        c.master()
        self.assertEqual(c.command(b"X-CHECKVERSION")[1],
                         b"T2 OK Vantrel 6.2.9\r\n")
        c.close()
        old = self.run_server("--no-checkversion").connect()
        old.master()
        self.assertEqual(old.status(b"X-CHECKVERSION"), b"BAD")
        old.close()

    def test_sink_counts_without_storing(self):
        server = self.run_server("--sink")
        c = server.connect()
        c.admin()
        append(c, b"x" * 100000)
        append(c, b"y" * 5)
        self.assertEqual(c.status(b'SELECT "INBOX"'), b"OK")
        self.assertEqual(c.status(b"FETCH 1 BODY.PEEK[]"), b"NO")
        c.close()
        _, dump = server.stop()
        inbox = folder(dump, "INBOX")
        self.assertEqual((inbox["messageCount"], inbox["messages"]), (2, []))
        self.assertEqual(dump["stats"]["appendedBytes"], 100005)

    def test_dump_command_and_sigterm(self):
        server = self.run_server()
        c = server.connect()
        c.admin(address="ü@sales".encode())
        untagged = c.command(b"X-DUMP")[0]
        inline = json.loads(untagged[0].split(b"\r\n", 1)[1])
        with open(server.dump_path, "rb") as f:
            self.assertEqual(json.load(f), inline)
        self.assertEqual(inline["accounts"][0]["name"].encode("latin-1"),
                         "ü".encode())
        c.close()
        code, dump = server.stop()
        self.assertEqual(code, 0)
        self.assertEqual(dump["stats"]["masterLogins"], 1)

    @unittest.skipUnless(shutil.which("openssl"), "needs the openssl tool")
    def test_tls(self):
        directory = tempfile.mkdtemp(prefix="vantrel-tls-")
        self.addCleanup(shutil.rmtree, directory)
        cert, key = (os.path.join(directory, n) for n in ("cert.pem", "key.pem"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec",
                        "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-subj", "/CN=127.0.0.1", "-days", "1",
                        "-keyout", key, "-out", cert],
                       check=True, capture_output=True)
        server = self.run_server("--tls-cert", cert, "--tls-key", key)
        c = server.connect(tls=True)
        self.assertTrue(c.greeting.startswith(b"* OK"))
        self.assertEqual(word(c.master()[1]), b"OK")
        c.close()


if __name__ == "__main__":
    unittest.main()
