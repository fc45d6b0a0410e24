#!/usr/bin/python3
"""A stand-in for the camera's HTTP service, for timing uploads: it reads every request body in
pieces (never holding it whole), answers the status command with an old firmware version and
everything else with success. Prints the port it listens on, then serves until killed.

Usage: bench/fake_camera_service.py
"""
import http.server
import json
import sys

PIECE = 1 << 20


class Camera(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_POST(self):
        left = int(self.headers.get("Content-Length", "0"))
        head = b""
        while left > 0:
            piece = self.rfile.read(min(PIECE, left))
            if not piece:
                return
            if len(head) < 64:
                head += piece[:64]
            left -= len(piece)
        reply = {"retCode": 0}
        if self.path == "/cmd" and head.startswith(b'{"cmd": 12}'):
            reply["fwVersion"] = "0.0.1"
        body = json.dumps(reply).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Camera)
print(server.server_address[1], flush=True)
server.serve_forever()
