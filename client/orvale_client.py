"""A small client for Orvale's control API, for scripts. Python 3.8 or later, standard library
only: copy this file beside your script, or put its folder on PYTHONPATH.

Orvale answers JSON Lines over TCP when started with --api (see the README's "Automation"):

    with orvale_client.connect("127.0.0.1", 7170) as orvale:
        print(orvale.request("status")["state"])
        orvale.request("set_position", position=50)      # returns once the device has it
        orvale.subscribe("parameters", max_rate=2)
        for event in orvale.events(timeout=5):
            print(event["event"], len(event.get("changes", [])))

One connection carries both the replies and the events, interleaved. The client has no thread
of its own: it reads the connection only while one of its calls waits (request, reply,
next_event, events), keeping the events it meets on the way for later and matching replies to
requests by their id. A script that subscribes and then stops calling stops reading, and Orvale
then drops events for it (never replies) and says how many with a "dropped" event once it reads
again. One client is for one thread.
"""

import collections
import json
import select
import socket
import time

__all__ = ["Client", "OrvaleError", "OrvaleClosed", "connect"]

DEFAULT_TIMEOUT = 10.0
# Events kept while waiting for a reply before the oldest are let go (counted in
# Client.events_discarded): a script that never reads its events must not grow without bound.
MAX_KEPT_EVENTS = 10000


class OrvaleError(Exception):
    """A request refused by Orvale: `code` is one of the API's error codes ("invalid_argument",
    "not_allowed", "timeout", "rate_limited", "busy", "not_available", ...), `message` says
    why."""

    def __init__(self, code, message):
        super().__init__(f"{code}: {message}")
        self.code = code
        self.message = message


class OrvaleClosed(OrvaleError):
    """The connection ended (Orvale closed it, or it ended)."""

    def __init__(self, message="Orvale closed the connection"):
        super().__init__("closed", message)


class Client:
    """One connection to Orvale's control API. Made by connect()."""

    def __init__(self, sock, timeout=DEFAULT_TIMEOUT):
        self.timeout = timeout
        self.events_discarded = 0
        self._sock = sock
        self._sock.setblocking(False)
        self._buffer = b""
        # Replies by their id as JSON text; None holds those without an id, in arrival order.
        self._replies = {}
        self._events = collections.deque()
        self._next_id = 1
        self._closed = False
        self._ended = False  # Orvale ended the connection

    # --- requests ------------------------------------------------------------------------

    def request(self, cmd, **args):
        """Runs `cmd` with `args` and returns its result, or raises OrvaleError. Commands that
        wait for the device (set_position, press, change_setting) return once it answered."""
        return self.reply(self.send(cmd, **args))

    def send(self, cmd, **args):
        """Sends a request without waiting; returns its id for reply()."""
        request_id = self._next_id
        self._next_id += 1
        self.send_line(json.dumps({"id": request_id, "cmd": cmd, **args}).encode())
        return request_id

    def reply(self, request_id, timeout=None):
        """Waits for the reply to request `request_id` and returns its result, or raises
        OrvaleError. `request_id` None waits for a reply that carries no id (Orvale could not
        read the request's)."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        while True:
            found = self._take_reply(request_id)
            if found is not None:
                if found.get("ok"):
                    return found.get("result")
                error = found.get("error") or {}
                raise OrvaleError(error.get("code", "?"), error.get("message", ""))
            self._read_some(deadline, f"the reply to request {request_id!r}")

    def send_line(self, line, end=b"\n"):
        """Sends `line` (bytes) as it is, then `end`: for what request() cannot say."""
        self._write(line + end)

    def bus(self):
        """The CAN bus check: {"interface", "status", "frames_per_second", "bam_completed",
        "bam_dropped", "other_senders", "counts": {state: rows}, "rows": [{"id", "label",
        "expected", "observed", "age_ms", "state", "difference"}, ...]}. Raises OrvaleError
        "not_available" when Orvale listens on no CAN bus."""
        return self.request("bus")

    # --- events --------------------------------------------------------------------------

    def subscribe(self, *events, max_rate=None):
        """Asks for events: "parameters", "state", "identity", "profile", "bus" (Orvale started
        with --can). `max_rate` caps the parameter events a second per display, and the bus
        events a second. Returns the events now subscribed."""
        args = {"events": list(events)}
        if max_rate is not None:
            args["max_rate"] = max_rate
        return self.request("subscribe", **args)["events"]

    def unsubscribe(self, *events):
        """Stops the named events, or all when none is named."""
        args = {"events": list(events)} if events else {}
        return self.request("unsubscribe", **args)["events"]

    def next_event(self, timeout=None):
        """The next event ({"event": name, "time": ..., ...}), or None when none came within
        `timeout` seconds (the client's timeout when None; 0 only looks)."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        while not self._events:
            if not self._read_some(deadline, None):
                return None
        return self._events.popleft()

    def events(self, timeout=None):
        """Yields events as they come; ends when none came for `timeout` seconds (never, when
        None)."""
        while True:
            event = self.next_event(float("inf") if timeout is None else timeout)
            if event is None:
                return
            yield event

    def wait_event(self, predicate, timeout=None):
        """The first event for which `predicate(event)` is true; the events before it are let
        go. Raises TimeoutError when none came in time."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        while True:
            event = self.next_event(max(0.0, deadline - time.monotonic()))
            if event is None:
                raise TimeoutError("no such event came in time")
            if predicate(event):
                return event

    # --- the connection ------------------------------------------------------------------

    def wait_closed(self, timeout=None):
        """Reads on (keeping what comes) until Orvale ends the connection: True, or False when
        it was still open after `timeout` seconds."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        try:
            while time.monotonic() < deadline:
                self._read_some(deadline, None)
        except OrvaleClosed:
            return True
        return False

    def fileno(self):
        return self._sock.fileno()

    def close(self):
        if not self._closed:
            self._closed = True
            self._sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _write(self, data):
        view = memoryview(data)
        deadline = time.monotonic() + self.timeout
        while view:
            try:
                sent = self._sock.send(view)
                view = view[sent:]
            except BlockingIOError:
                # Orvale reads slower than this writes: read meanwhile, so that neither side
                # waits on the other with both buffers full.
                self._read_some(min(deadline, time.monotonic() + 0.05), None, writing=True)
                if time.monotonic() > deadline:
                    raise TimeoutError("Orvale took no more of the request") from None
            except (BrokenPipeError, ConnectionResetError) as error:
                raise OrvaleClosed(f"the connection ended: {error}") from None

    def _take_reply(self, request_id):
        if request_id is None:
            waiting = self._replies.get(None)
            return waiting.pop(0) if waiting else None
        return self._replies.pop(_key(request_id), None)

    def _read_some(self, deadline, waiting_for, writing=False):
        """Reads what has come (waiting until `deadline`) and sorts it into replies and
        events. False when nothing came in time and `waiting_for` is None."""
        if self._closed:
            raise OrvaleClosed("the client is closed")
        if self._ended:
            raise OrvaleClosed()
        remaining = deadline - time.monotonic()
        readable, _, _ = select.select([self._sock], [], [], max(0.0, min(remaining, 3600)))
        if not readable:
            if waiting_for is not None and time.monotonic() >= deadline:
                raise TimeoutError(f"timed out waiting for {waiting_for}")
            return False
        try:
            chunk = self._sock.recv(1 << 16)
        except BlockingIOError:
            return False
        except ConnectionResetError:
            chunk = b""
        if not chunk:
            # What came before the end is still handed out; the next read tells the end.
            self._ended = True
            if writing:
                raise OrvaleClosed()
            self._sort(b"\n" if self._buffer else b"")
            return True
        self._sort(chunk)
        return True

    def _sort(self, chunk):
        lines = (self._buffer + chunk).split(b"\n")
        self._buffer = lines.pop()
        for line in lines:
            if not line.strip():
                continue
            message = json.loads(line)
            if "event" in message:
                if len(self._events) >= MAX_KEPT_EVENTS:
                    self._events.popleft()
                    self.events_discarded += 1
                self._events.append(message)
            elif message.get("id") is None:
                self._replies.setdefault(None, []).append(message)
            else:
                self._replies[_key(message["id"])] = message


def _key(request_id):
    # An id may be any JSON value, a list or an object too.
    return json.dumps(request_id, sort_keys=True)


def connect(host="127.0.0.1", port=7170, token=None, timeout=DEFAULT_TIMEOUT):
    """Connects to Orvale's control API. `token`: the contents of Orvale's --api-token-file,
    which an address other than loopback requires; it is presented on the first line."""
    sock = socket.create_connection((host, port), timeout=timeout)
    client = Client(sock, timeout)
    if token is not None:
        try:
            client._write(json.dumps({"id": 0, "token": token.strip()}).encode() + b"\n")
            client.reply(0)
        except BaseException:
            client.close()
            raise
    return client
