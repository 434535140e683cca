#!/usr/bin/python3
"""A small HTTP proxy in front of a local CardDAV server, for tests and benchmarks.

    carddav_proxy.py LISTEN_PORT TARGET_PORT LOG_FILE RULE_FILE

Forwards every request to 127.0.0.1:TARGET_PORT and appends "METHOD PATH STATUS" to LOG_FILE.
RULE_FILE (read before every request; may be missing or empty) can hold one rule as JSON:
  {"method": "PUT", "after": 30, "action": "507"}   answer 507 to that method after 30 of them
  {"method": "PUT", "after": 30, "action": "drop"}  close the connection instead of answering
Listens on 127.0.0.1 only and stops on SIGTERM.
"""
import http.client
import http.server
import json
import os
import signal
import sys
import threading

HOP_HEADERS = {"connection", "keep-alive", "transfer-encoding", "proxy-connection", "upgrade"}


class State:
    def __init__(self, target, log_file, rule_file):
        self.target = target
        self.log_file = log_file
        self.rule_file = rule_file
        self.lock = threading.Lock()
        self.counts = {}

    def rule(self):
        try:
            with open(self.rule_file, encoding="utf-8") as f:
                text = f.read().strip()
            return json.loads(text) if text else None
        except (OSError, ValueError):
            return None

    def count(self, method):
        with self.lock:
            self.counts[method] = self.counts.get(method, 0) + 1
            return self.counts[method]

    def log(self, line):
        with self.lock:
            with open(self.log_file, "a", encoding="utf-8") as f:
                f.write(line + "\n")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    upstream = None

    def log_message(self, *args):
        pass

    def handle_any(self):
        state = self.server.state
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else None
        n = state.count(self.command)
        rule = state.rule()
        if rule and rule.get("method") == self.command and n > int(rule.get("after", 0)):
            action = str(rule.get("action"))
            state.log(f"{self.command} {self.path} {action}")
            if action == "drop":
                self.close_connection = True
                self.connection.shutdown(2)
                return
            self.send_response(int(action))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        headers = {k: v for k, v in self.headers.items() if k.lower() not in HOP_HEADERS}
        for attempt in range(2):
            try:
                if self.upstream is None:
                    self.upstream = http.client.HTTPConnection("127.0.0.1", state.target, timeout=120)
                self.upstream.request(self.command, self.path, body=body, headers=headers)
                resp = self.upstream.getresponse()
                data = resp.read()
                break
            except (OSError, http.client.HTTPException):
                self.upstream = None
                if attempt == 1:
                    state.log(f"{self.command} {self.path} 502")
                    self.close_connection = True
                    self.connection.shutdown(2)
                    return
        state.log(f"{self.command} {self.path} {resp.status}")
        self.send_response(resp.status, resp.reason)
        for k, v in resp.getheaders():
            if k.lower() not in HOP_HEADERS and k.lower() != "content-length":
                self.send_header(k, v)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    do_GET = do_PUT = do_DELETE = do_HEAD = do_POST = do_OPTIONS = handle_any
    do_PROPFIND = do_PROPPATCH = do_REPORT = do_MKCOL = do_MOVE = do_COPY = handle_any


def main():
    listen, target, log_file, rule_file = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", listen), Handler)
    server.daemon_threads = True
    server.state = State(target, log_file, rule_file)
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    server.serve_forever()


if __name__ == "__main__":
    main()
