// Latency and memory of the language server, `xmlpp --lsp`, driven over its pipes as an editor
// does (Content-Length framing written here; Node's standard library only):
//  - for each size, a generated document of directives, macros, loops and fragments is opened,
//    then edited in place EDITS times; the figure is the median time from sending a didChange to
//    receiving the publishDiagnostics that answers it;
//  - then BURST changes sent at once (fast typing): the time until the server has caught up, and
//    how many diagnostics it sent meanwhile (informative, no target);
//  - on the first size, the server's resident memory (VmRSS) after MEMORY_FROM edits and after
//    MEMORY_TO edits; the later figure may exceed the earlier by the larger of 5% and 4 MiB (the
//    allocator's own settling moves it by up to 2 MiB between 100 and 200 edits, and not at all
//    from there to 3,000 edits; a run's analysis kept by mistake adds about 1 MiB an edit
//    already at 100 KB).
// Prints one line per figure and exits 1 when a figure misses its target. Beside the latency it
// prints the server's CPU time per edit (user and system, from /proc/PID/stat), which tells a
// slow server from a busy machine.
//
//   node bench/lsp_bench.js XMLPP [--quick]
//
// Full run: 1 MB (target 100 ms) and 10 MB (target 1 s), 20 edits each, memory after 100 and
// 1,000 edits of the 1 MB document. --quick (the ctest): 100 KB (target 100 ms), 10 edits,
// memory after 20 and 120 edits.
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync, spawn } = require('child_process');

const MiB = 1024 * 1024;
const quick = process.argv.includes('--quick');
const xmlpp = process.argv[2] && path.resolve(process.argv[2]);
const sizes = quick ? [{ bytes: 100 * 1024, target: 100 }]
  : [{ bytes: MiB, target: 100 }, { bytes: 10 * MiB, target: 1000 }];
const EDITS = quick ? 10 : 20;
const MEMORY_FROM = quick ? 20 : 100;
const MEMORY_TO = quick ? 120 : 1000;
const BURST = 10;
const REPLY_TIMEOUT_MS = 60000;
const CLOCK_TICKS = Number(execFileSync('getconf', ['CLK_TCK'], { encoding: 'utf8' })) || 100;

// A document of about `bytes` bytes: defines, an if on a command-line macro, a loop and a
// fragment put in every group, and one `<plain a="0">` line per group that the edits change.
function generate(bytes) {
  const head = ['<root>', '  <define name="BASE" value="0x4000"/>',
    '  <xmldef name="reg"><reg name="r$(ID)" addr="$(ADDR)" mode="$(MODE)"/></xmldef>'];
  const lines = [...head];
  let size = head.join('\n').length;
  const editable = [];
  for (let k = 0; size < bytes; ++k) {
    const group = [
      `  <group id="g${k}">`,
      `    <define name="V${k % 50}" value="${k}"/>`,
      `    <if MODE="a,b"><item v="$(V${k % 50})" m="$(MODE)"/></if>`,
      `    <for index="i" start="0" end="2" incr="1"><e n="$(i)" k="${k}"/></for>`,
      `    <xmlput name="reg" macros="ID=${k};ADDR=$(BASE)"/>`,
      `    <plain a="0" b="two" c="text ${k}"/>`,
      '  </group>',
    ];
    editable.push(lines.length + 5);
    lines.push(...group);
    size += group.join('\n').length + 1;
  }
  lines.push('</root>', '');
  return { text: lines.join('\n'), editable };
}

// The server as a child process, with hand-written framing both ways.
class Server {
  constructor(dir) {
    this.child = spawn(xmlpp, ['--lsp'], { cwd: dir, stdio: ['pipe', 'pipe', 'inherit'] });
    this.buffer = Buffer.alloc(0);
    this.nextId = 1;
    this.published = 0;           // publishDiagnostics received
    this.pending = new Map();     // request id -> resolve
    this.diagnostics = new Map(); // uri -> resolve of the next publishDiagnostics
    this.child.stdout.on('data', (chunk) => this.read(chunk));
    this.stopping = false;
    this.exited = new Promise((resolve) => this.child.on('exit', (code, signal) => {
      if (!this.stopping) fatal(`the server ended (status ${code}, signal ${signal}) mid-run`);
      resolve(code);
    }));
    this.child.on('error', (error) => fatal(`${xmlpp} --lsp: ${error.message}`));
    this.child.stdin.on('error', (error) => fatal(`writing to the server: ${error.message}`));
  }

  read(chunk) {
    this.buffer = Buffer.concat([this.buffer, chunk]);
    for (;;) {
      const end = this.buffer.indexOf('\r\n\r\n');
      if (end < 0) return;
      const header = this.buffer.subarray(0, end).toString('ascii');
      const length = Number(/Content-Length: *(\d+)/i.exec(header)?.[1]);
      if (!Number.isInteger(length)) throw new Error('a message without Content-Length: ' + header);
      if (this.buffer.length < end + 4 + length) return;
      const body = this.buffer.subarray(end + 4, end + 4 + length).toString('utf8');
      this.buffer = this.buffer.subarray(end + 4 + length);
      this.dispatch(JSON.parse(body));
    }
  }

  dispatch(message) {
    if (message.method === 'textDocument/publishDiagnostics') {
      ++this.published;
      const resolve = this.diagnostics.get(message.params.uri);
      this.diagnostics.delete(message.params.uri);
      if (resolve) resolve(message.params.diagnostics);
    } else if (message.id !== undefined && this.pending.has(message.id)) {
      this.pending.get(message.id)(message);
      this.pending.delete(message.id);
    }
  }

  send(message) {
    const body = Buffer.from(JSON.stringify({ jsonrpc: '2.0', ...message }), 'utf8');
    this.child.stdin.write(`Content-Length: ${body.length}\r\n\r\n`);
    this.child.stdin.write(body);
  }

  request(method, params) {
    const id = this.nextId++;
    return withTimeout(new Promise((resolve) => {
      this.pending.set(id, resolve);
      this.send({ id, method, params });
    }), method);
  }

  // Sends a notification and waits for the diagnostics of `uri` that follow it.
  notifyAndWait(method, params, uri) {
    return withTimeout(new Promise((resolve) => {
      this.diagnostics.set(uri, resolve);
      this.send({ method, params });
    }), method);
  }

  // The CPU time the server has used, user and system, in milliseconds.
  cpuMs() {
    const stat = fs.readFileSync(`/proc/${this.child.pid}/stat`, 'utf8');
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    return (Number(fields[11]) + Number(fields[12])) * 1000 / CLOCK_TICKS;
  }

  residentKiB() {
    const status = fs.readFileSync(`/proc/${this.child.pid}/status`, 'utf8');
    return Number(/VmRSS:\s*(\d+)/.exec(status)[1]);
  }
}

function withTimeout(promise, what) {
  let timer;
  const timeout = new Promise((_, reject) => {
    const why = `no answer to ${what} within ${REPLY_TIMEOUT_MS} ms`;
    timer = setTimeout(() => reject(new Error(why)), REPLY_TIMEOUT_MS);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor((values.length - 1) / 2)];
const ms = (start) => Number(process.hrtime.bigint() - start) / 1e6;

// The change of edit `n`: the value of `a` on the editable line of a group (one character for
// one, so the document keeps its size).
function change(uri, document, n, version) {
  const line = document.editable[(document.editable.length >> 1) + n % 97];
  return {
    textDocument: { uri, version },
    contentChanges: [{ range: { start: { line, character: 14 }, end: { line, character: 15 } },
      text: String(n % 10) }],
  };
}

async function edit(server, uri, document, n, version) {
  const start = process.hrtime.bigint();
  const found = await server.notifyAndWait('textDocument/didChange',
    change(uri, document, n, version), uri);
  if (found.length) {
    throw new Error('the edited document has diagnostics: ' + JSON.stringify(found[0]));
  }
  return ms(start);
}

async function measure(dir, size, failures) {
  const document = generate(size.bytes);
  const file = path.join(dir, `doc-${size.bytes}.xml`);
  fs.writeFileSync(file, document.text);
  const uri = 'file://' + file;
  const server = new Server(dir);
  await server.request('initialize', { processId: process.pid, rootUri: 'file://' + dir,
    capabilities: {}, initializationOptions: { macros: 'MODE=a' } });
  server.send({ method: 'initialized', params: {} });
  let start = process.hrtime.bigint();
  const opened = await server.notifyAndWait('textDocument/didOpen', {
    textDocument: { uri, languageId: 'xml', version: 1, text: document.text } }, uri);
  const openMs = ms(start);
  if (opened.length) throw new Error('the document has diagnostics: ' + JSON.stringify(opened[0]));
  const times = [];
  let version = 1;
  const cpuBefore = server.cpuMs();
  for (let n = 0; n < EDITS; ++n) times.push(await edit(server, uri, document, n, ++version));
  const cpu = (server.cpuMs() - cpuBefore) / EDITS;
  const figure = median(times);
  const ok = figure < size.target;
  if (!ok) failures.push(`${label(size.bytes)}: median ${figure.toFixed(1)} ms`);
  console.log(`lsp ${label(size.bytes).padEnd(7)} open ${openMs.toFixed(0).padStart(5)} ms, ` +
    `didChange -> diagnostics median ${figure.toFixed(1)} ms ` +
    `(min ${Math.min(...times).toFixed(1)}, max ${Math.max(...times).toFixed(1)}, ` +
    `${EDITS} edits), target < ${size.target} ms: ${ok ? 'ok' : 'MISSED'}; ` +
    `server CPU ${cpu.toFixed(0)} ms an edit`);
  // Fast typing: BURST changes sent at once, then a request, answered once the server has
  // caught up. Informative (no target): how long that takes and how many runs it made.
  const published = server.published;
  start = process.hrtime.bigint();
  for (let n = 0; n < BURST; ++n) server.send({ method: 'textDocument/didChange',
    params: change(uri, document, EDITS + n, ++version) });
  await server.request('textDocument/documentSymbol', { textDocument: { uri } });
  console.log(`lsp ${label(size.bytes).padEnd(7)} ${BURST} changes at once: caught up after ` +
    `${ms(start).toFixed(0)} ms, ${server.published - published} diagnostics sent`);
  return { server, uri, document, version };
}

async function memory(session, failures) {
  const { server, uri, document } = session;
  let version = session.version;
  for (let n = EDITS + BURST; n < MEMORY_FROM; ++n) await edit(server, uri, document, n, ++version);
  const before = server.residentKiB();
  for (let n = MEMORY_FROM; n < MEMORY_TO; ++n) await edit(server, uri, document, n, ++version);
  const after = server.residentKiB();
  const allowed = Math.max(before * 0.05, 4096);
  const ok = after - before <= allowed;
  if (!ok) failures.push(`memory grew by ${((after - before) / 1024).toFixed(1)} MiB`);
  console.log(`lsp memory, ${label(document.text.length)} document: VmRSS ` +
    `${(before / 1024).toFixed(1)} MiB after ${MEMORY_FROM} edits, ${(after / 1024).toFixed(1)} ` +
    `MiB after ${MEMORY_TO} (${after >= before ? '+' : ''}` +
    `${((after - before) / 1024).toFixed(1)} ` +
    `MiB, at most +${(allowed / 1024).toFixed(1)}): ${ok ? 'ok' : 'GREW'}`);
}

async function stop(server) {
  server.stopping = true;
  await server.request('shutdown', null);
  server.send({ method: 'exit' });
  const code = await withTimeout(server.exited, 'exit');
  if (code !== 0) throw new Error('the server ended with status ' + code);
}

let workDir;  // the generated documents, removed on every way out

function fatal(why) {
  console.error('FAILED: ' + why);
  if (workDir) fs.rmSync(workDir, { recursive: true, force: true });
  process.exit(1);
}

function label(bytes) {
  return bytes >= MiB ? `${Math.round(bytes / MiB)} MB` : `${Math.round(bytes / 1024)} KB`;
}

async function main() {
  const dir = workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'xmlpp-lsp-bench-'));
  const failures = [];
  try {
    for (const [index, size] of sizes.entries()) {
      const session = await measure(dir, size, failures);
      if (index === 0) await memory(session, failures);
      await stop(session.server);
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
  if (failures.length) {
    console.error('FAILED: the language server missed a target: ' + failures.join('; '));
    process.exit(1);
  }
}

if (!xmlpp) {
  console.error('usage: node bench/lsp_bench.js XMLPP [--quick]');
  process.exit(2);
}
main().catch((error) => fatal(error.stack || error));
