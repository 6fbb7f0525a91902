'use strict';
// The WebAssembly module (what the playground runs) against the native tool: each case's files
// and arguments, run by both, give the same status, standard output, standard error and written
// files, byte for byte. Also times the module's start and a run.
//
//   node tests/playground/smoke.js XMLPP_NATIVE SOURCE_DIR MODULE_JS

const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const [nativeGiven, sourceDir, moduleFile] = process.argv.slice(2);
const native = path.resolve(nativeGiven);
const { startTool } = require(path.resolve(sourceDir, 'docs/playground/run.js'));
const createXmlpp = require(path.resolve(moduleFile));
// The module rethrows what escapes it with its whole source line; the test reports it itself.
process.removeAllListeners('uncaughtException');
process.removeAllListeners('unhandledRejection');

const board = '<board name="$(BOARD)">\n  <include filename="parts/cpu.xml"/>\n  <if BOARD="evb2"><led/></if>\n</board>\n';
const cases = [
  { what: 'an include and a condition', files: { 'in.xml': board, 'parts/cpu.xml': '<cpu b="$(BOARD)"/>\n' }, args: ['in.xml', 'out.xml', 'BOARD=evb2'] },
  { what: 'a missing include, located', files: { 'in.xml': '<r>\n  <include filename="none.xml"/>\n</r>\n' }, args: ['in.xml', 'out.xml'] },
  { what: 'warnings and fix-its in gnu form', files: { 'in.xml': '<r>\n  <ifdef nmae="A"><x/></ifdef>\n  <x v="$(AA)"/>\n</r>\n' }, args: ['--warn', '--diagnostics=gnu', 'in.xml', 'out.xml', 'A=1'] },
  { what: 'a trace on standard error and a graph', files: { 'in.xml': board, 'inc/parts/cpu.xml': '<cpu/>\n' }, args: ['--trace', '--graph=g.dot', '-I', 'inc', 'in.xml', '-', 'BOARD=evb1'] },
  { what: 'UTF-8 text, as references and as it is', files: { 'in.xml': '<r name="caf\u00e9 \u2603"/>\n' }, args: ['in.xml', 'out.xml'] },
  { what: '--utf8', files: { 'in.xml': '<r name="caf\u00e9 &#x2603;"/>\n' }, args: ['--utf8', 'in.xml', 'out.xml'] },
  { what: 'the date macros at SOURCE_DATE_EPOCH', files: { 'in.xml': '<r d="$(Date)" t="$(Time)"/>\n' }, args: ['in.xml', 'out.xml', 'Date;Time'], env: { SOURCE_DATE_EPOCH: '86400' } },
  { what: 'another environment, another module', files: { 'in.xml': '<r d="$(Date)"/>\n' }, args: ['in.xml', '-', 'Date'], env: { SOURCE_DATE_EPOCH: '0' } },
  { what: 'an expression and a loop', files: { 'in.xml': '<r><for index="i" start="0" end="3" incr="1" mul="8"><reg n="$(i)" off="$(i_m_hex)"/></for><ifex expression="(3 &lt;&lt; 2) == 12"><ok/></ifex></r>\n' }, args: ['in.xml', 'out.xml'] },
  { what: 'a usage error', files: {}, args: ['--wran'] },
];

function runNative({ files, args, env = {} }) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'xmlpp-wasm-smoke-'));
  try {
    for (const [name, text] of Object.entries(files)) {
      fs.mkdirSync(path.dirname(path.join(folder, name)), { recursive: true });
      fs.writeFileSync(path.join(folder, name), text);
    }
    const clean = Object.fromEntries(Object.entries(process.env).filter(([key]) => !['XMLPP_DEPFILE', 'SOURCE_DATE_EPOCH'].includes(key)));
    const run = spawnSync(native, args, { cwd: folder, env: { ...clean, ...env } });
    const written = {};
    const walk = (dir, prefix) => {
      for (const name of fs.readdirSync(dir)) {
        const full = path.join(dir, name);
        if (fs.statSync(full).isDirectory()) walk(full, `${prefix}${name}/`);
        else written[prefix + name] = fs.readFileSync(full, 'utf8');
      }
    };
    walk(folder, '');
    return { status: run.status, stdout: run.stdout.toString(), stderr: run.stderr.toString(), files: written };
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
}

(async () => {
  let started = process.hrtime.bigint();
  const tool = startTool(createXmlpp);
  await tool.run({ files: {}, args: ['--version'] });
  const startMs = Number(process.hrtime.bigint() - started) / 1e6;
  let failures = 0;
  for (const c of cases) {
    let wasm;
    try {
      wasm = await tool.run(c);
    } catch (error) {
      wasm = { thrown: String(error && (error.message || error)).slice(0, 300) };
    }
    const want = runNative(c);
    try {
      assert.deepEqual(wasm, want);
      console.log(`ok: ${c.what}`);
    } catch (error) {
      failures += 1;
      console.log(`FAIL: ${c.what}\n${error.message}`);
    }
  }
  started = process.hrtime.bigint();
  await tool.run(cases[0]);
  const runMs = Number(process.hrtime.bigint() - started) / 1e6;
  const size = fs.statSync(moduleFile).size;
  console.log(`module: ${size} bytes, started in ${startMs.toFixed(0)} ms, a run in ${runMs.toFixed(1)} ms`);
  process.exit(failures === 0 ? 0 : 1);
})();
