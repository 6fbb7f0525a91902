// What the language server sessions share: the protocol libraries (the test is skipped, exit 77,
// when they are not installed), a server started with a connection to it, and a time bound.
'use strict';

const { spawn } = require('child_process');

let rpc, protocol;
try {
  rpc = require('vscode-jsonrpc/node');
  protocol = require('vscode-languageserver-protocol');
} catch (error) {
  console.log('skipped: node modules not installed (run npm ci in tests/lsp)');
  process.exit(77);
}

// Starts `command` with `args` and connects to it: `next(uri)` resolves with the next diagnostics
// published for that URI, `exited` with the exit status.
function startServer(command, args, stderr = 'inherit') {
  const child = spawn(command, args, { stdio: ['pipe', 'pipe', stderr] });
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  const connection = rpc.createMessageConnection(
    new rpc.StreamMessageReader(child.stdout), new rpc.StreamMessageWriter(child.stdin));
  let waiters = [];
  connection.onNotification(protocol.PublishDiagnosticsNotification.type, (params) => {
    waiters.filter((w) => w.uri === params.uri).forEach((w) => w.resolve(params.diagnostics));
    waiters = waiters.filter((w) => w.uri !== params.uri);
  });
  connection.listen();
  const next = (uri) => new Promise((resolve) => waiters.push({ uri, resolve }));
  return { child, exited, connection, next };
}

// Resolves with what `promise` gives, or fails when that takes more than `ms`.
const within = (ms, what, promise) => Promise.race([promise, new Promise((_, reject) =>
  setTimeout(() => reject(new Error(what + ' took more than ' + ms + ' ms')), ms))]);

// Runs the async `session` within `seconds`: prints "WHAT: ok" and exits 0, or prints why and exits
// 1. `cleanup` (ending the server, removing files) runs either way.
function runSession(what, seconds, session, cleanup = () => {}) {
  const fail = (error) => {
    console.error(error);
    cleanup();
    process.exit(1);
  };
  const timeout = setTimeout(() => fail('the session took too long'), seconds * 1000);
  session().then(() => {
    clearTimeout(timeout);
    cleanup();
    console.log(what + ': ok');
    process.exit(0);
  }, fail);
}

module.exports = { rpc, protocol, startServer, within, runSession };
