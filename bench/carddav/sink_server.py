#!/usr/bin/python3
"""A minimal CardDAV stand-in that stores nothing, for timing the program without Radicale's cost.

    sink_server.py PORT

Listens on 127.0.0.1: PROPFIND answers that the path is an address book, PUT 201 with a fresh
ETag, DELETE 204, HEAD 404. HTTP/1.1 with keep-alive. Stops on SIGTERM or after an hour.
"""
import http.server
import itertools
import signal
import sys
import threading

COUNTER = itertools.count(1)
BOOK = (b'<?xml version="1.0"?><d:multistatus xmlns:d="DAV:" '
        b'xmlns:c="urn:ietf:params:xml:ns:carddav"><d:response><d:href>/book/</d:href><d:propstat>'
        b'<d:prop><d:resourcetype><d:collection/><c:addressbook/></d:resourcetype></d:prop>'
        b'<d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response></d:multistatus>')


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body=b"", etag=None):
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(length)
        self.send_response(status)
        if etag:
            self.send_header("ETag", etag)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_PROPFIND(self):
        self.reply(207, BOOK)

    def do_PUT(self):
        self.reply(201, etag=f'"{next(COUNTER)}"')

    def do_DELETE(self):
        self.reply(204)

    def do_HEAD(self):
        self.reply(404)


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
    server.daemon_threads = True
    stop = lambda *_: threading.Thread(target=server.shutdown).start()
    signal.signal(signal.SIGTERM, stop)
    timer = threading.Timer(3600, stop)
    timer.daemon = True  # must not keep the process alive once the server has stopped
    timer.start()
    server.serve_forever()


if __name__ == "__main__":
    main()
