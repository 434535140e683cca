#!/usr/bin/python3
"""An HTTPS server on 127.0.0.1 with a certificate nobody trusts, for the certificate test.

    tls_server.py PORT CERT KEY

Answers every request 207 with an empty multistatus; stops by itself after 60 seconds.
"""
import http.server
import ssl
import sys
import threading


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self):
        body = b'<?xml version="1.0"?><multistatus xmlns="DAV:"/>'
        self.send_response(207)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    do_PROPFIND = do_PUT = do_GET = do_HEAD = do_DELETE = answer


def main():
    port, cert, key = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    timer = threading.Timer(60, lambda: threading.Thread(target=server.shutdown).start())
    timer.daemon = True
    timer.start()
    server.serve_forever()


if __name__ == "__main__":
    main()
