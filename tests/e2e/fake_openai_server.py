#!/usr/bin/env python3
"""A small OpenAI-compatible server on 127.0.0.1 for end-to-end runs and screenshots.

GET  /v1/models            -> one model
POST /v1/chat/completions  -> two detections (a "car" and a "person"), in 0-1000 coordinates

Prints the port it listens on as the first line of standard output, then serves until killed.
"""
import json
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

DETECTIONS = [
    {"label": "car", "bbox_2d": [80, 560, 380, 900], "score": 0.91},
    {"label": "person", "bbox_2d": [640, 120, 820, 640], "score": 0.84},
]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_json(self, payload):
        body = json.dumps(payload).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        if self.path.rstrip("/").endswith("/models"):
            self.send_json({"object": "list", "data": [{"id": "fake-vision", "object": "model"}]})
        else:
            self.send_error(404)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", 0))
        self.rfile.read(length)
        if not self.path.rstrip("/").endswith("/chat/completions"):
            self.send_error(404)
            return
        content = json.dumps(DETECTIONS)
        self.send_json({
            "id": "fake",
            "object": "chat.completion",
            "choices": [{"index": 0, "finish_reason": "stop",
                         "message": {"role": "assistant", "content": content}}],
        })


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        sys.stdin.read()   # ends when the parent closes our stdin or kills us
    except KeyboardInterrupt:
        pass
    server.shutdown()


if __name__ == "__main__":
    main()
