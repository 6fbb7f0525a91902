#!/usr/bin/env python3
"""A stand-in for `xmlpp --lsp` that records what a client sends: its command line, the
initialize request's initializationOptions and the documents opened, one JSON object per line
in the file named by FAKE_LSP_RECORD. It answers initialize and shutdown and ends on exit."""
import json
import os
import sys


def read_message(stream):
    length = None
    while True:
        line = stream.readline()
        if not line:
            return None
        line = line.strip()
        if not line:
            break
        name, _, value = line.decode("ascii").partition(":")
        if name.lower() == "content-length":
            length = int(value)
    return json.loads(stream.read(length))


def send(message):
    body = json.dumps(message).encode("utf-8")
    sys.stdout.buffer.write(b"Content-Length: %d\r\n\r\n%s" % (len(body), body))
    sys.stdout.buffer.flush()


def main():
    with open(os.environ["FAKE_LSP_RECORD"], "a", encoding="utf-8") as record:
        def note(**fields):
            record.write(json.dumps(fields) + "\n")
            record.flush()

        note(event="start", argv=sys.argv[1:])
        while (message := read_message(sys.stdin.buffer)) is not None:
            method = message.get("method")
            params = message.get("params") or {}
            if method == "initialize":
                note(event="initialize", options=params.get("initializationOptions"))
                send({"jsonrpc": "2.0", "id": message["id"],
                      "result": {"capabilities": {"textDocumentSync": 1}}})
            elif method == "textDocument/didOpen":
                note(event="didOpen", uri=params["textDocument"]["uri"])
            elif method == "shutdown":
                send({"jsonrpc": "2.0", "id": message["id"], "result": None})
            elif method == "exit":
                return


main()
