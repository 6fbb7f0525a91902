// A full language server session driven by the protocol libraries editors use
// (vscode-jsonrpc, vscode-languageserver-protocol): initialize, a three-file project opened,
// diagnostics in the included file, incremental edits, a quick fix applied, hover, definition,
// completion, the preview and trace requests, malformed bytes on the pipe, shutdown and exit.
//
//   node session.js XMLPP
//
// Exits 77 (the test is skipped) when the node modules are not installed: `npm ci` here.
'use strict';

const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn } = require('child_process');

const { TextDocument } = require('vscode-languageserver-textdocument');
const { rpc, protocol, runSession } = require('./harness');

const xmlpp = process.argv[2];
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'xmlpp-lsp-'));
const file = (name) => path.join(dir, name);
const uri = (name) => 'file://' + file(name);

const mainText = [
  '<board>',
  '  <include filename="lib.xml"/>',
  '  <define name="SPEED" value="fast"/>',
  '  <xmlput name="uart" macros="PORT=1"/>',
  '  <cfg name="$(BOARD)" speed="$(SPEED)" note="\u{1F600}$(SPEED)"/>',
  '</board>',
  '',
].join('\n');
const libText = '<envelope>\n  <xmldef name="uart"><uart port="$(PORT)" mode="$(MODE)"/></xmldef>\n</envelope>\n';
fs.writeFileSync(file('main.xml'), mainText);
fs.writeFileSync(file('lib.xml'), libText);
fs.writeFileSync(file('defs.txt'), 'REV=b\n');
fs.mkdirSync(file('build'));
fs.writeFileSync(file('build/xmlpp_commands.json'), JSON.stringify([{
  directory: dir, file: file('main.xml'), output: file('build/out.xml'),
  arguments: ['xmlpp', '--macros-file', 'defs.txt', 'main.xml', 'build/out.xml', 'BOARD=evb2'],
}]));

const child = spawn(xmlpp, ['--lsp'], { stdio: ['pipe', 'pipe', 'inherit'] });
let rawOutput = '';
child.stdout.on('data', (chunk) => { rawOutput += chunk.toString('latin1'); });
const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
const connection = rpc.createMessageConnection(
  new rpc.StreamMessageReader(child.stdout), new rpc.StreamMessageWriter(child.stdin));

// The latest diagnostics per URI, and waiters for the next ones.
const diagnostics = new Map();
let waiters = [];
connection.onNotification(protocol.PublishDiagnosticsNotification.type, (params) => {
  diagnostics.set(params.uri, params.diagnostics);
  const ready = waiters.filter((w) => w.uri === params.uri);
  waiters = waiters.filter((w) => w.uri !== params.uri);
  ready.forEach((w) => w.resolve(params.diagnostics));
});
const nextDiagnostics = (u) => new Promise((resolve, reject) => {
  const timer = setTimeout(() => reject(new Error('no diagnostics for ' + u)), 10000);
  waiters.push({ uri: u, resolve: (d) => { clearTimeout(timer); resolve(d); } });
});
connection.listen();

const at = (name, line, character) => ({ textDocument: { uri: uri(name) }, position: { line, character } });

async function session() {
  const init = await connection.sendRequest(protocol.InitializeRequest.type, {
    processId: process.pid, rootUri: 'file://' + dir, capabilities: {}, initializationOptions: {},
  });
  assert.strictEqual(init.capabilities.textDocumentSync.change, protocol.TextDocumentSyncKind.Incremental);
  assert.ok(init.capabilities.hoverProvider && init.capabilities.definitionProvider);
  connection.sendNotification(protocol.InitializedNotification.type, {});

  // Opening the main file runs its command; the included file's finding is shown in that file.
  const libDiagnostics = nextDiagnostics(uri('lib.xml'));
  const mainDiagnostics = nextDiagnostics(uri('main.xml'));
  connection.sendNotification(protocol.DidOpenTextDocumentNotification.type, {
    textDocument: { uri: uri('main.xml'), languageId: 'xml', version: 1, text: mainText },
  });
  assert.deepStrictEqual(await mainDiagnostics, []);
  const found = await libDiagnostics;
  assert.strictEqual(found.length, 1, JSON.stringify(found));
  assert.strictEqual(found[0].code, 'unresolved-macro');
  assert.deepStrictEqual(found[0].range, { start: { line: 1, character: 49 }, end: { line: 1, character: 56 } });
  assert.strictEqual(found[0].relatedInformation[0].location.uri, uri('main.xml'));
  assert.strictEqual(found[0].relatedInformation[0].location.range.start.line, 3);

  // An incremental edit that adds an unresolved reference, then one that removes it again.
  let changed = nextDiagnostics(uri('main.xml'));
  connection.sendNotification(protocol.DidChangeTextDocumentNotification.type, {
    textDocument: { uri: uri('main.xml'), version: 2 },
    contentChanges: [{ range: { start: { line: 5, character: 0 }, end: { line: 5, character: 0 } },
      text: '  <x v="$(NOPE)"/>\n' }],
  });
  let now = await changed;
  assert.strictEqual(now.length, 1, JSON.stringify(now));
  assert.deepStrictEqual(now[0].range.start, { line: 5, character: 8 });
  changed = nextDiagnostics(uri('main.xml'));
  connection.sendNotification(protocol.DidChangeTextDocumentNotification.type, {
    textDocument: { uri: uri('main.xml'), version: 3 },
    contentChanges: [{ range: { start: { line: 5, character: 0 }, end: { line: 6, character: 0 } }, text: '' }],
  });
  assert.deepStrictEqual(await changed, []);

  // A misspelled attribute: its quick fix, applied as the client applies edits, repairs it, and
  // the repaired text has no diagnostic.
  const typo = '  <ifdef nmae="BOARD"><k/></ifdef>\n';
  let current = TextDocument.create(uri('main.xml'), 'xml', 3, mainText);
  changed = nextDiagnostics(uri('main.xml'));
  const insert = { range: { start: { line: 5, character: 0 }, end: { line: 5, character: 0 } }, text: typo };
  connection.sendNotification(protocol.DidChangeTextDocumentNotification.type, {
    textDocument: { uri: uri('main.xml'), version: 4 }, contentChanges: [insert] });
  current = TextDocument.update(current, [insert], 4);
  now = await changed;
  assert.strictEqual(now[0].code, 'misspelled-attribute', JSON.stringify(now));
  const actions = await connection.sendRequest(protocol.CodeActionRequest.type, {
    textDocument: { uri: uri('main.xml') }, range: now[0].range, context: { diagnostics: now } });
  assert.strictEqual(actions.length, 1, JSON.stringify(actions));
  assert.strictEqual(actions[0].kind, 'quickfix');
  const edits = actions[0].edit.changes[uri('main.xml')];
  const repaired = TextDocument.applyEdits(current, edits);
  assert.strictEqual(repaired.split('\n')[5], '  <ifdef name="BOARD"><k/></ifdef>');
  changed = nextDiagnostics(uri('main.xml'));
  connection.sendNotification(protocol.DidChangeTextDocumentNotification.type, {
    textDocument: { uri: uri('main.xml'), version: 5 }, contentChanges: [{ text: repaired }] });
  assert.deepStrictEqual(await changed, []);
  changed = nextDiagnostics(uri('main.xml'));
  connection.sendNotification(protocol.DidChangeTextDocumentNotification.type, {
    textDocument: { uri: uri('main.xml'), version: 6 }, contentChanges: [{ text: mainText }] });
  assert.deepStrictEqual(await changed, []);

  // Hover: a command-line macro, and a define's value after a character of two UTF-16 units.
  let hover = await connection.sendRequest(protocol.HoverRequest.type, at('main.xml', 4, 16));
  assert.match(hover.contents.value, /`evb2` from the macro list/);
  hover = await connection.sendRequest(protocol.HoverRequest.type, at('main.xml', 4, 53));
  assert.match(hover.contents.value, /`fast` from a define at main\.xml:3/);

  // Definition of an include's file (definitions and references in depth: lsp_test.cpp).
  const where = await connection.sendRequest(protocol.DefinitionRequest.type, at('main.xml', 1, 22));
  assert.strictEqual(where.uri, uri('lib.xml'));

  // Completion: directives after "<", macros after "$(".
  let items = await connection.sendRequest(protocol.CompletionRequest.type, at('main.xml', 4, 3));
  assert.ok(items.some((item) => item.label === 'include'), JSON.stringify(items));
  items = await connection.sendRequest(protocol.CompletionRequest.type, at('main.xml', 4, 16));
  for (const name of ['BOARD', 'SPEED', 'REV']) assert.ok(items.some((item) => item.label === name), name);

  // The preview is the output the command would write.
  const preview = await connection.sendRequest('xmlpp/preview', { textDocument: { uri: uri('main.xml') } });
  assert.match(preview.text, /<uart port="1" mode="\$\(MODE\)" \/>/);
  assert.match(preview.text, /<cfg name="evb2" speed="fast"/);

  // The trace of the run, a note per decision.
  const trace = await connection.sendRequest('xmlpp/trace', { textDocument: { uri: uri('main.xml') } });
  assert.match(trace.text, /main\.xml:3:3: note: define SPEED is "fast"/);

  // Malformed bytes on the pipe get a parse error; the server goes on serving.
  child.stdin.write('this is no header\r\n\r\nContent-Length: 9\r\n\r\n{bad json');
  const symbols = await connection.sendRequest(protocol.DocumentSymbolRequest.type,
    { textDocument: { uri: uri('main.xml') } });
  assert.deepStrictEqual(symbols.map((s) => s.name), ['lib.xml', 'SPEED']);
  assert.strictEqual((rawOutput.match(/-32700/g) || []).length, 2, 'two parse errors');
  await assert.rejects(connection.sendRequest(protocol.HoverRequest.type, at('closed.xml', 0, 0)),
    (error) => error.code === -32602);

  await connection.sendRequest(protocol.ShutdownRequest.type);
  connection.sendNotification(protocol.ExitNotification.type);
  assert.strictEqual(await exited, 0);
}

runSession('language server session', 30, session, () => {
  child.kill();
  fs.rmSync(dir, { recursive: true, force: true });
});
