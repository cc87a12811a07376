#!/usr/bin/env python3
"""A loopback stand-in for the thumbnail service: answers every GET with one picture.

  picture-server.py PICTURE PORT_FILE

Listens on a free port of 127.0.0.1 and writes the port to PORT_FILE once it listens; the
picture's type follows its file name (.png, .jpg). Runs until it is ended.
"""
import http.server
import mimetypes
import sys


def main(picture, port_file):
    body = open(picture, "rb").read()
    kind = mimetypes.guess_type(picture)[0] or "application/octet-stream"

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    class Server(http.server.ThreadingHTTPServer):
        # The program drops the requests of rows scrolled away: a client gone is no error.
        def handle_error(self, request, client_address):
            if not isinstance(sys.exc_info()[1], ConnectionError):
                super().handle_error(request, client_address)

    server = Server(("127.0.0.1", 0), Handler)
    with open(port_file, "w") as f:
        f.write(str(server.server_address[1]))
    server.serve_forever()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
