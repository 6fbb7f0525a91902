// The language server while it is busy. Ten thousand one-character edits to a 1 MB document,
// then a request, are answered within three seconds in all. Thirty unsaved buffers, each
// including the next twice, make runs of up to a billion includes (each stopped by the work
// budget); meanwhile a cancelled request is answered RequestCancelled, an edit that removes the
// includes is answered within a second, and shutdown at once.
//
//   node busy.js XMLPP
//
// Exits 77 (the test is skipped) when the node modules are not installed: `npm ci` here.
'use strict';

const assert = require('assert');
const { rpc, protocol, runSession, startServer, within } = require('./harness');

const { child, exited, connection, next: nextOf } = startServer(process.argv[2], ['--lsp']);
const uri = (name) => 'file:///xmlpp-lsp-busy/' + name;
const next = (name) => nextOf(uri(name));
const open = (name, text) => connection.sendNotification(
  protocol.DidOpenTextDocumentNotification.type,
  { textDocument: { uri: uri(name), languageId: 'xml', version: 1, text } });
const change = (name, version, text) => connection.sendNotification(
  protocol.DidChangeTextDocumentNotification.type,
  { textDocument: { uri: uri(name), version }, contentChanges: [{ text }] });
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function session() {
  await connection.sendRequest(protocol.InitializeRequest.type,
    { processId: process.pid, rootUri: null, capabilities: {} });
  connection.sendNotification(protocol.InitializedNotification.type, {});

  // A large document edited a character at a time, then asked about.
  const big = '<r>\n' + '  <e v="$(A)"/>\n'.repeat(70000) + '</r>\n';
  open('big.xml', big);
  const started = Date.now();
  for (let i = 0; i < 10000; i++) {
    connection.sendNotification(protocol.DidChangeTextDocumentNotification.type, {
      textDocument: { uri: uri('big.xml'), version: i + 2 },
      contentChanges: [{ range: { start: { line: 1, character: 2 }, end: { line: 1, character: 2 } },
        text: i % 2 ? '' : ' ' }],
    });
  }
  await within(3000, 'the request after ten thousand edits', connection.sendRequest(
    protocol.DocumentSymbolRequest.type, { textDocument: { uri: uri('big.xml') } }));
  console.log(`ten thousand edits and a request: ${Date.now() - started} ms`);
  connection.sendNotification(protocol.DidCloseTextDocumentNotification.type,
    { textDocument: { uri: uri('big.xml') } });

  const chain = (k) => `<r><include filename="b${k + 1}.xml"/><include filename="b${k + 1}.xml"/></r>\n`;
  for (let k = 29; k >= 0; k--) open(`b${k}.xml`, k === 29 ? '<leaf/>\n' : chain(k));
  await sleep(200);  // the run of b0.xml is under way

  const source = new rpc.CancellationTokenSource();
  const preview = connection.sendRequest('xmlpp/preview', { textDocument: { uri: uri('b0.xml') } },
    source.token);
  source.cancel();
  await within(1000, 'the cancelled request', assert.rejects(preview,
    (error) => error.code === protocol.LSPErrorCodes.RequestCancelled));

  await sleep(200);  // the run of b0.xml is under way again
  const cleared = next('b0.xml');
  change('b0.xml', 2, '<r/>\n');
  assert.deepStrictEqual(await within(1000, 'the edit that removes the includes', cleared), []);

  change('b0.xml', 3, chain(0));  // the long run again
  await sleep(200);
  const asked = Date.now();
  await within(1000, 'shutdown', connection.sendRequest(protocol.ShutdownRequest.type));
  console.log(`shutdown during a run answered in ${Date.now() - asked} ms`);
  connection.sendNotification(protocol.ExitNotification.type);
  assert.strictEqual(await within(1000, 'exit', exited), 0);
}

runSession('busy server session', 60, session, () => child.kill());
