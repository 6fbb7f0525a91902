'use strict';
// The playground page in headless Chromium, against the native tool:
//  - every "Open in the playground" link of README.md and docs/directives.md shows the native
//    tool's output, standard error (byte for byte) and exit status; every other playground link
//    of those files loads and runs; an include cycle's graph is shown as DOT text;
//  - an edit, the macro field and an option box run the tool again, and the URL fragment they
//    write holds what the page ran;
//  - a message line that names a place opens that file at that line;
//  - Stop ends a runaway loop, and the page runs the next edit;
//  - a state too large for a link keeps the old link and says so;
//  - no request leaves the page once its first run has finished;
//  - the board example is drawn into ARTEFACT_DIR/board.png, with its time to first output.
//
//   node tests/playground/browser.js XMLPP_NATIVE SOURCE_DIR MODULE_DIR ARTEFACT_DIR
// Exits 77 (skipped) without Chromium, puppeteer-core (npm ci here) or the module.

const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');

const kChromium = '/usr/bin/chromium';
const kTimeLimitMs = 5 * 60 * 1000;
const kRunTimeoutMs = 20000;
const kRunaway = '<r><for index="i" start="0" end="16777215" incr="1"><for index="j" start="0" end="16777215" incr="1"><x/></for></for></r>';

const [native, sourceDir, moduleDir, artefactDir] = process.argv.slice(2).map((arg) => arg && path.resolve(arg));
if (!artefactDir) {
  console.error('usage: node browser.js XMLPP_NATIVE SOURCE_DIR MODULE_DIR ARTEFACT_DIR');
  process.exit(2);
}
const pageDir = path.join(sourceDir, 'docs/playground');
function skip(why) {
  console.log(`skipped: ${why}`);
  process.exit(77);
}
if (!fs.existsSync(kChromium)) skip(`no ${kChromium}`);
let puppeteer;
try {
  puppeteer = require('puppeteer-core');
} catch (error) {
  skip('no puppeteer-core (run npm ci in tests/playground)');
}
if (!fs.existsSync(path.join(moduleDir, 'xmlpp.js'))) skip(`no ${path.join(moduleDir, 'xmlpp.js')} (make playground)`);
const model = require(path.join(pageDir, 'model.js'));

let failures = 0;
const fail = (where, what) => {
  failures += 1;
  console.log(`FAIL: ${where}: ${what}`);
};
const ok = (where) => console.log(`ok: ${where}`);

// ---- The page's files on 127.0.0.1 ----

const kTypes = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.png': 'image/png', '.svg': 'image/svg+xml' };
function serve() {
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/^\/+/, '') || 'index.html';
    const file = name === 'xmlpp.js' ? path.join(moduleDir, name) : path.join(pageDir, name);
    if (name.split('/').includes('..') || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': kTypes[path.extname(file)] || 'application/octet-stream' });
    response.end(fs.readFileSync(file));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// ---- The native tool ----

// What the page should show for a state: the output file's text (standard output when the
// output is "-"), standard error and the exit status.
function runNative(state) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'xmlpp-playground-'));
  try {
    for (const [name, text] of state.files) {
      fs.mkdirSync(path.dirname(path.join(folder, name)), { recursive: true });
      fs.writeFileSync(path.join(folder, name), text);
    }
    const clean = Object.fromEntries(Object.entries(process.env).filter(([key]) => !['XMLPP_DEPFILE', 'SOURCE_DATE_EPOCH'].includes(key)));
    const run = spawnSync(native, state.args, { cwd: folder, env: { ...clean, ...(state.env || {}) }, timeout: 30000 });
    const output = model.outputOf(state.args);
    const outputFile = output && output !== '-' ? path.join(folder, model.normalPath(output)) : null;
    return {
      output: !outputFile ? run.stdout.toString() : fs.existsSync(outputFile) ? fs.readFileSync(outputFile, 'utf8') : '',
      messages: run.stderr.toString(),
      status: String(run.status),
    };
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
}

// ---- The links of the documentation ----

// [{ where: 'README.md:53', text, fragment }], for each Markdown link to the page.
function docLinks() {
  const links = [];
  for (const doc of ['README.md', 'docs/directives.md']) {
    fs.readFileSync(path.join(sourceDir, doc), 'utf8').split('\n').forEach((line, n) => {
      for (const match of line.matchAll(/\[([^\]]*)\]\(([^)\s]*playground\/index\.html(#[^)\s]*))\)/g)) {
        links.push({ where: `${doc}:${n + 1}`, text: match[1], fragment: match[3] });
      }
    });
  }
  return links;
}

const fragmentOf = (state) => `#${model.encodeState(state)}`;

// An include cycle under a guard: the page shows its graph as DOT text.
const kCycle = {
  files: [['a.xml', '<a>\n<ifndef name="SEEN"><define name="SEEN" value="1"/><include filename="b.xml"/></ifndef>\n</a>\n'], ['b.xml', '<b><include filename="a.xml"/></b>\n']],
  args: ['a.xml', '-'],
};
// Two warnings and a fix-it, in gnu form.
const kWarnings = { files: [['in.xml', '<r>\n  <ifdef nmae="A"><x/></ifdef>\n  <x v="$(AA)"/>\n</r>\n']], args: ['--warn', '--diagnostics=gnu', 'in.xml', 'out.xml', 'A=1'] };

// ---- The page ----

async function openPage(browser, base, fragment, label) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1400, height: 900 });
  const requests = [];
  const errors = [];
  page.on('request', (request) => requests.push(request.url()));
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
  const started = Date.now();
  await page.goto(`${base}/index.html${fragment}`);
  await waitRuns(page, 1);
  const loaded = { page, requests, errors, label, firstOutputMs: Date.now() - started, afterLoad: requests.length };
  return loaded;
}

// Waits until at least `count` runs have finished and none is under way.
async function waitRuns(page, count, timeout = kRunTimeoutMs) {
  await page.waitForFunction(
    (n) => Number(document.body.dataset.runs || 0) >= n && ['done', 'error'].includes(document.getElementById('status').dataset.state),
    { timeout }, count);
}

const runs = (page) => page.evaluate(() => Number(document.body.dataset.runs || 0));
const pageState = async (page) => model.decodeState(await page.evaluate(() => location.hash));

async function shown(page) {
  return page.evaluate(() => ({
    output: document.getElementById('output').textContent,
    messages: document.getElementById('messages').textContent,
    status: document.getElementById('status').dataset.status,
    state: document.getElementById('status').dataset.state,
  }));
}

const excerpt = (text) => JSON.stringify(text.length > 300 ? `${text.slice(0, 300)}…` : text);

// The page against the native tool for the same state; true when they agree.
async function compare(page, state, where) {
  const want = runNative(state);
  const got = await shown(page);
  let same = true;
  for (const key of ['output', 'messages', 'status']) {
    if (got[key] === want[key]) continue;
    same = false;
    fail(where, `${key} differs\n  page:   ${excerpt(String(got[key]))}\n  native: ${excerpt(want[key])}`);
  }
  return same;
}

// Replaces the editor's text as a paste would (one input event) or as typing does.
async function setEditor(page, text, { typed = false } = {}) {
  if (typed) {
    await page.$eval('#input', (editor) => { editor.focus(); editor.select(); });
    await page.keyboard.type(text);
    return;
  }
  await page.$eval('#input', (editor, value) => {
    editor.value = value;
    editor.dispatchEvent(new Event('input', { bubbles: true }));
  }, text);
}

async function editAndRun(page, change, timeout = kRunTimeoutMs) {
  const before = await runs(page);
  await change();
  await waitRuns(page, before + 1, timeout);
}

function checkRequests(loaded) {
  const late = loaded.requests.slice(loaded.afterLoad).filter((url) => !/^(blob|data):/.test(url));
  if (late.length > 0) fail(loaded.label, `requests after the first run: ${late.join(', ')}`);
  else ok(`${loaded.label}: no request after the first run (${loaded.requests.length - loaded.afterLoad} blob:/data: loads of restarted workers)`);
  if (loaded.errors.length > 0) fail(loaded.label, `page errors: ${loaded.errors.join(' | ')}`);
}

// ---- The checks ----

async function checkLink(browser, base, where, fragment, singleRun, { graphText = false } = {}) {
  const loaded = await openPage(browser, base, fragment, where);
  const { page } = loaded;
  const message = await page.$eval('#state-message', (element) => (element.hidden ? '' : element.textContent));
  if (message) fail(where, `the page says: ${message}`);
  const state = model.decodeState(fragment);
  if (singleRun ? await compare(page, state, where) : (await shown(page)).state === 'done') ok(where);
  else if (!singleRun) fail(where, 'the run did not finish');
  const graph = await page.$eval('#graph', (pane) => ({ boxes: pane.querySelectorAll('svg .node').length, text: pane.querySelector('pre')?.textContent || '' }));
  if (graphText && !graph.text.startsWith('digraph')) fail(where, `the graph pane shows ${graph.boxes} boxes and no DOT text`);
  checkRequests(loaded);
  await page.close();
}

// Places in messages are links; one opens its file at its line.
async function checkPlaces(browser, base) {
  const where = 'message places';
  const { page } = await openPage(browser, base, fragmentOf(kWarnings), where);
  const { messages, places } = await page.evaluate(() => ({
    messages: document.getElementById('messages').textContent,
    places: [...document.querySelectorAll('#messages .place')].map((place) => place.textContent),
  }));
  const wanted = messages.split('\n').filter((line) => /^(fix-it:"|\S+:\d+:\d+: )/.test(line));
  if (wanted.length < 2 || JSON.stringify(places) !== JSON.stringify(wanted)) fail(where, `links ${JSON.stringify(places)} for lines ${JSON.stringify(wanted)}`);
  await page.$$eval('#messages .place', (links) => links[0].click());
  const selected = await page.$eval('#input', (editor) => editor.value.slice(editor.selectionStart, editor.selectionEnd));
  if (selected !== '  <ifdef nmae="A"><x/></ifdef>') fail(where, `the first place selects ${JSON.stringify(selected)}`);
  else ok(`${where}: gnu lines and fix-its are links, and one selects its line`);
  await page.close();
}

async function checkEditing(browser, base) {
  const where = 'the default example';
  const loaded = await openPage(browser, base, '', where);
  const { page } = loaded;
  const first = await pageState(page);
  if (await compare(page, first, where)) ok(`${where}: ${first.args.join(' ')}`);
  console.log(`time to first output (default example): ${loaded.firstOutputMs} ms`);

  // Typing runs the tool again; the fragment holds what ran.
  const edits = [
    ['typing into the editor', () => setEditor(page, '<r>\n  <define name="X" value="42"/>\n  <v x="$(X)" m="$(MODE)"/>\n</r>\n', { typed: true })],
    ['the macro field', async () => {
      await page.$eval('#macros', (field) => { field.focus(); field.select(); });
      await page.keyboard.type('MODE=typed;Y=1');
    }],
    ['--warn', () => page.click('[data-flags="--warn -Wall"]')],
  ];
  for (const [what, change] of edits) {
    await editAndRun(page, change);
    const state = await pageState(page);
    const command = await page.$eval('#command', (element) => element.textContent);
    if (command !== model.commandLine(state.args, state.env)) fail(what, `the command line shows ${command}`);
    if (await compare(page, state, `${where}, after ${what}`)) ok(`${what}: xmlpp ${state.args.join(' ')}`);
  }
  if (!(await page.$eval('#output', (element) => element.textContent)).includes('x="42" m="typed"')) fail(where, 'the typed file did not reach the output');

  // A state too large for a link: the address keeps the last one that fits, and the page says so.
  const before = await page.evaluate(() => location.hash);
  await editAndRun(page, () => setEditor(page, `<r>${'<x a="0123456789"/>'.repeat(4000)}</r>\n`));
  const large = await page.evaluate(() => ({ hash: location.hash, message: document.getElementById('state-message').hidden ? '' : document.getElementById('state-message').textContent }));
  if (large.hash !== before || !/too large/.test(large.message)) fail('a state too large for a link', JSON.stringify({ same: large.hash === before, message: large.message }));
  await editAndRun(page, () => setEditor(page, '<r/>\n'));
  const small = await page.evaluate(() => ({ hash: location.hash, hidden: document.getElementById('state-message').hidden }));
  if (small.hash === before || !small.hidden) fail('a state that fits again', JSON.stringify(small));
  else ok('a state over 64 KiB keeps the link and says so; one that fits is written again');

  // Stop ends a runaway loop; the page stays responsive and runs the next edit.
  await setEditor(page, kRunaway);
  await page.waitForFunction(() => document.getElementById('status').dataset.state === 'running', { timeout: 5000 });
  await new Promise((resolve) => setTimeout(resolve, 1500));
  const stopped = Date.now();
  await page.click('#stop');
  try {
    await page.waitForFunction(() => document.getElementById('status').dataset.state === 'stopped', { timeout: 3000 });
    const text = await page.$eval('#messages', (element) => element.textContent);
    if (!/stopped/.test(text)) fail('Stop', `the messages say ${excerpt(text)}`);
    await editAndRun(page, () => setEditor(page, '<after stop="yes"/>\n', { typed: true }), 5000);
    if (await compare(page, await pageState(page), 'the edit after Stop')) ok(`Stop ended the runaway loop; the next edit ran ${Date.now() - stopped} ms after the click`);
  } catch (error) {
    fail('Stop', error.message);
  }
  checkRequests(loaded);
  await page.close();
}

async function checkBoard(browser, base, links) {
  const link = links.find((entry) => entry.text === 'Open the board example in the playground');
  if (!link) {
    fail('the board example', 'README.md has no link to it');
    return;
  }
  const { where, fragment } = link;
  const loaded = await openPage(browser, base, fragment, where);
  const { page } = loaded;
  const pageMs = await page.evaluate(() => Number(document.body.dataset.firstOutputMs));
  console.log(`time to first output (board example): ${loaded.firstOutputMs} ms from navigation (${pageMs} ms by the page's clock)`);
  if (await compare(page, model.decodeState(fragment), where)) ok(where);
  const boxes = await page.$$eval('#graph svg .node', (nodes) => nodes.length);
  if (boxes < 5) fail(where, `the graph has ${boxes} boxes`);
  fs.mkdirSync(artefactDir, { recursive: true });
  await page.screenshot({ path: path.join(artefactDir, 'board.png'), fullPage: true });
  console.log(`screenshot: ${path.join(artefactDir, 'board.png')}`);
  checkRequests(loaded);
  await page.close();
}

async function main() {
  const server = await serve();
  const base = `http://127.0.0.1:${server.address().port}`;
  const args = ['--disable-gpu', '--no-first-run', '--no-default-browser-check'];
  if (process.getuid && process.getuid() === 0) args.push('--no-sandbox');
  let browser = null;
  const deadline = setTimeout(() => {
    console.log(`FAIL: the test took longer than ${kTimeLimitMs / 1000} s`);
    if (browser) browser.process()?.kill('SIGKILL');
    server.close();
    process.exit(1);
  }, kTimeLimitMs);
  try {
    browser = await puppeteer.launch({ executablePath: kChromium, headless: true, args });
    const links = docLinks();
    const singleRun = links.filter((link) => link.text === 'Open in the playground');
    for (const link of links) {
      await checkLink(browser, base, link.where, link.fragment, singleRun.includes(link)).catch((error) => fail(link.where, error.message));
    }
    await checkLink(browser, base, 'an include cycle', fragmentOf(kCycle), true, { graphText: true }).catch((error) => fail('an include cycle', error.message));
    await checkPlaces(browser, base).catch((error) => fail('message places', error.message));
    await checkEditing(browser, base).catch((error) => fail('the default example', error.message));
    await checkBoard(browser, base, links).catch((error) => fail('the board example', error.message));
    console.log(`links: ${links.length} in README.md and docs/directives.md (${singleRun.length} single-run, compared with the native tool)`);
  } finally {
    clearTimeout(deadline);
    if (browser) await browser.close();
    server.close();
  }
  console.log(failures === 0 ? 'playground: all checks pass' : `playground: ${failures} failing`);
  process.exit(failures === 0 ? 0 : 1);
}

main().catch((error) => {
  console.log(`FAIL: ${error.stack || error}`);
  process.exit(1);
});
