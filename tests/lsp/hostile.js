// Files that would block or exhaust the language server: documents that include its own standard
// input, a FIFO, a folder or a 2 GB sparse file, and a build command whose macros file is a FIFO.
// Each becomes a diagnostic, and the next request is answered within a second. A document that
// includes itself carries a bounded list of related places; a loop past the work budget, and
// values that exhaust a server run under a memory limit, end their analysis, not the server.
//
//   node hostile.js XMLPP
//
// Exits 77 (the test is skipped) when the node modules are not installed: `npm ci` here.
'use strict';

const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const { protocol, runSession, startServer, within } = require('./harness');

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'xmlpp-lsp-hostile-'));
const file = (name) => path.join(dir, name);
const uri = (name) => 'file://' + file(name);
execFileSync('mkfifo', [file('in.fifo'), file('macros.fifo')]);
fs.mkdirSync(file('folder'));
fs.writeFileSync(file('big.xml'), '');
fs.truncateSync(file('big.xml'), 2 ** 31);  // sparse: no disk space taken
fs.mkdirSync(file('build'));
fs.mkdirSync(file('lib'));
fs.writeFileSync(file('lib/part.xml'), '<part/>\n');
fs.writeFileSync(file('build/xmlpp_commands.json'), JSON.stringify([{
  directory: dir, file: file('m.xml'), output: file('build/m-out.xml'),
  arguments: ['xmlpp', '--macros-file', 'macros.fifo', 'm.xml', 'build/m-out.xml'],
}, {
  directory: dir, file: file('i.xml'), output: file('build/i-out.xml'),
  arguments: ['xmlpp', '-I', 'lib', 'i.xml', 'build/i-out.xml'],
}]));

// A server, with the address space limited to `limitKb` when given.
function server(limitKb) {
  const started = limitKb
    ? startServer('sh', ['-c', `ulimit -v ${limitKb}; exec "$0" --lsp`, process.argv[2]], 'ignore')
    : startServer(process.argv[2], ['--lsp'], 'ignore');
  return { ...started, next: (name) => started.next(uri(name)) };
}
let { child, exited, connection, next } = server();


// Opens NAME holding TEXT; its diagnostics and a request after them each come within a second.
async function open(name, text, ms = 1000) {
  const published = next(name);
  connection.sendNotification(protocol.DidOpenTextDocumentNotification.type, {
    textDocument: { uri: uri(name), languageId: 'xml', version: 1, text },
  });
  const found = await within(ms, 'the diagnostics of ' + name, published);
  await within(1000, 'a request after ' + name, connection.sendRequest(
    protocol.DocumentSymbolRequest.type, { textDocument: { uri: uri(name) } }));
  return found;
}

async function session() {
  await connection.sendRequest(protocol.InitializeRequest.type, {
    processId: process.pid, rootUri: 'file://' + dir, capabilities: {}, initializationOptions: {},
  });
  connection.sendNotification(protocol.InitializedNotification.type, {});
  const includes = [
    ['/dev/stdin', /not a regular file/], ['/proc/self/fd/0', /not a regular file/],
    ['in.fifo', /a FIFO, not a regular file/], ['folder', /a folder, not a regular file/],
    ['big.xml', /larger than 67108864 bytes/],
  ];
  for (const [target, message] of includes) {
    const name = 'inc-' + path.basename(target) + '.xml';
    const found = await open(name, `<r>\n  <include filename="${target}"/>\n</r>\n`);
    assert.strictEqual(found.length, 1, JSON.stringify(found));
    assert.match(found[0].message, message);
    assert.strictEqual(found[0].range.start.line, 1, target);
  }
  // The 2 GB file was not read: the server stays small.
  const rss = Number(/VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${child.pid}/status`, 'latin1'))[1]);
  assert.ok(rss < 200 * 1024, `the server holds ${rss} kB after the 2 GB include`);
  const unused = await open('m.xml', '<r/>\n');
  assert.match(unused[0].message,
    /^the build's command for this file is not used: couldn't read .*macros\.fifo: a FIFO/);

  // A file missing beside its includer is still looked for in the -I folders.
  assert.deepStrictEqual(await open('i.xml', '<r><include filename="part.xml"/></r>\n'), []);

  const self = await open('self.xml', '<r>\n  <include filename="self.xml"/>\n</r>\n');
  const related = self[0].relatedInformation;
  assert.strictEqual(related.length, 21);
  assert.match(related[20].message, /^\d+ more places not shown$/);

  const loop = (end) => `<r>\n  <for index="i" start="0" end="${end}" incr="1"><e/></for>\n</r>\n`;
  const spent = await open('budget.xml', loop(600000), 30000);
  assert.match(spent[0].message, /^the analysis stopped after 1000000 steps/);
  await stop();

  // Under a memory limit, forty values of 10 MB each (made in a few steps) end the analysis with
  // "out of memory"; the server then serves the next document.
  ({ child, exited, connection, next } = server(200000));
  try {
    await within(5000, 'initialize', connection.sendRequest(protocol.InitializeRequest.type,
      { processId: process.pid, rootUri: null, capabilities: {} }));
  } catch (error) {
    console.log('skipped the memory limit: the server cannot start under it (a sanitizer build?)');
    child.kill();
    return;
  }
  let doubling = '<r>\n  <define name="A0" value="0123456789012345678901234567890123456789"/>\n';
  for (let k = 1; k <= 18; k++) doubling += `  <define name="A${k}" value="$(A${k - 1})$(A${k - 1})"/>\n`;
  for (let k = 1; k <= 40; k++) doubling += `  <define name="B${k}" value="$(A18)"/>\n`;
  const exhausted = await open('doubling.xml', doubling + '</r>\n', 60000);
  assert.match(exhausted[0].message, /out of memory/);
  assert.deepStrictEqual(await open('after.xml', '<r/>\n'), []);
  await stop();
}

async function stop() {
  await within(1000, 'shutdown', connection.sendRequest(protocol.ShutdownRequest.type));
  connection.sendNotification(protocol.ExitNotification.type);
  assert.strictEqual(await exited, 0);
}

runSession('hostile files session', 120, session, () => {
  child.kill();
  fs.rmSync(dir, { recursive: true, force: true });
});
