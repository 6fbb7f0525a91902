'use strict';
// The playground's state, command-line model, message places and graph layout, without a
// browser: each table row is one case.
//
//   node tests/playground/model.js SOURCE_DIR

const assert = require('node:assert/strict');
const path = require('node:path');

const sourceDir = process.argv[2] || path.join(__dirname, '../..');
const model = require(path.resolve(sourceDir, 'docs/playground/model.js'));
const graphs = require(path.resolve(sourceDir, 'docs/playground/graph.js'));

let failures = 0;
function check(what, run) {
  try {
    run();
  } catch (error) {
    failures += 1;
    console.log(`FAIL: ${what}\n${error.message}`);
  }
}

// Fragments as the documentation's generator writes them (Python's json.dumps with
// ensure_ascii=False and separators=(',', ':'), then base64url without padding).
const fragments = [
  [{ files: [['in.xml', '<r/>\n']], args: ['in.xml', 'out.xml', 'A=1'] },
    'eyJmaWxlcyI6W1siaW4ueG1sIiwiPHIvPlxuIl1dLCJhcmdzIjpbImluLnhtbCIsIm91dC54bWwiLCJBPTEiXX0'],
  [{ files: [['in.xml', '<r a="caf\u00e9 \u2603 \u{1F600}">\t\u0001</r>\n'], ['sub/a b.xml', 'x']], args: ['--diagnostics=gnu', 'in.xml', '-', 'NAME=\u00e9;B=2'], env: { SOURCE_DATE_EPOCH: '0' } },
    'eyJmaWxlcyI6W1siaW4ueG1sIiwiPHIgYT1cImNhZsOpIOKYgyDwn5iAXCI-XHRcdTAwMDE8L3I-XG4iXSxbInN1Yi9hIGIueG1sIiwieCJdXSwiYXJncyI6WyItLWRpYWdub3N0aWNzPWdudSIsImluLnhtbCIsIi0iLCJOQU1FPcOpO0I9MiJdLCJlbnYiOnsiU09VUkNFX0RBVEVfRVBPQ0giOiIwIn19'],
];
for (const [state, fragment] of fragments) {
  check(`fragment of ${state.args.join(' ')}`, () => {
    assert.equal(model.encodeState(state), fragment);
    assert.deepEqual(model.decodeState(`#${fragment}`), { env: {}, ...state });
  });
}

const b64 = (text) => Buffer.from(text).toString('base64url');
const badFragments = [
  ['not base64', '#%%%'],
  ['not JSON', `#${b64('{files')}`],
  ['an array', `#${b64('[1]')}`],
  ['a file without text', `#${b64('{"files":[["a.xml"]],"args":[]}')}`],
  ['an argument that is a number', `#${b64('{"files":[],"args":[1]}')}`],
  ['env that is a list', `#${b64('{"files":[],"args":[],"env":["A"]}')}`],
  ['invalid UTF-8', `#${Buffer.from([0x7b, 0xff, 0x7d]).toString('base64url')}`],
];
for (const [what, fragment] of badFragments) check(`a fragment with ${what} is refused`, () => assert.throws(() => model.decodeState(fragment)));

// [what, function, arguments, expected arguments]
const edits = [
  ['macros added', model.setMacros, [['in.xml', 'out.xml'], 'A=1'], ['in.xml', 'out.xml', 'A=1']],
  ['macros emptied', model.setMacros, [['in.xml', 'out.xml', 'A=1'], ''], ['in.xml', 'out.xml']],
  ['macros emptied before a doctype', model.setMacros, [['in.xml', 'out.xml', 'A=1', 'doc'], ''], ['in.xml', 'out.xml', '', 'doc']],
  ['macros among unmodelled options', model.setMacros, [['-I', 'inc', 'in.xml', 'out.xml', '--warn'], 'B=2'], ['-I', 'inc', 'in.xml', 'out.xml', 'B=2', '--warn']],
  ['macros with -o', model.setMacros, [['-o', 'out.xml', 'in.xml'], 'A=1'], ['-o', 'out.xml', 'in.xml', 'A=1']],
  ['macros with -o changed', model.setMacros, [['-o', 'out.xml', 'in.xml', 'A=1'], 'A=2'], ['-o', 'out.xml', 'in.xml', 'A=2']],
  ['macros after --', model.setMacros, [['--', '-x.xml', 'out.xml'], 'A'], ['--', '-x.xml', 'out.xml', 'A']],
  ['macros without an output', model.setMacros, [['in.xml'], 'A'], ['in.xml', '-', 'A']],
  ['output added', model.setOutput, [['in.xml'], 'o.xml'], ['in.xml', 'o.xml']],
  ['output of -o', model.setOutput, [['-o', 'a', 'in.xml'], 'b'], ['-o', 'b', 'in.xml']],
  ['input among options', model.setInput, [['--doctype', 'x', 'in.xml', '-'], 'b.xml'], ['--doctype', 'x', 'b.xml', '-']],
  ['input "-" replaced', model.setInput, [['-', 'out.xml'], 'b.xml'], ['b.xml', 'out.xml']],
  ['a flag on', model.setFlag, [['in.xml', '-'], ['--utf8'], true], ['--utf8', 'in.xml', '-']],
  ['a flag off', model.setFlag, [['in.xml', '--utf8', '-', 'A'], ['--utf8'], false], ['in.xml', '-', 'A']],
  ['a flag after -- is no flag', model.setFlag, [['--', '--utf8'], ['--utf8'], true], ['--utf8', '--', '--utf8']],
  ['--warn before the checks it would undo', model.setFlag, [['--no-warn=a', 'in.xml', '-'], ['--warn', '-Wall'], true], ['--warn', '--no-warn=a', 'in.xml', '-']],
  ['-Wall off', model.setFlag, [['-Wall', 'x', 'y'], ['--warn', '-Wall'], false], ['x', 'y']],
  ['a default check off', model.setCheck, [['in.xml', '-'], 'nul-byte', true, false], ['--no-warn=nul-byte', 'in.xml', '-']],
  ['a check back on, out of a list', model.setCheck, [['--no-warn=nul-byte,unclosed-element', 'in.xml', '-'], 'nul-byte', true, true], ['--no-warn=unclosed-element', 'in.xml', '-']],
  ['a check off after --warn', model.setCheck, [['in.xml', '-', '--warn'], 'nul-byte', true, false], ['in.xml', '-', '--warn', '--no-warn=nul-byte']],
  ['a check off, out of --warn=', model.setCheck, [['--warn=nul-byte,text-dropped', 'in.xml', '-'], 'nul-byte', true, false], ['--warn=text-dropped', '--no-warn=nul-byte', 'in.xml', '-']],
  ['-Wno- form back on', model.setCheck, [['-Wno-nul-byte', 'a', 'b'], 'nul-byte', true, true], ['a', 'b']],
  ['page outputs added', model.withPageOutputs, [['in.xml', '-']], ['--trace=.playground/trace.txt', '--graph=.playground/graph.dot', 'in.xml', '-']],
  ['the link\'s own trace kept', model.withPageOutputs, [['--trace-macro', 'A', 'in.xml']], ['--graph=.playground/graph.dot', '--trace-macro', 'A', 'in.xml']],
  ['the link\'s own graph kept', model.withPageOutputs, [['--graph', 'g.dot', 'in.xml']], ['--trace=.playground/trace.txt', '--graph', 'g.dot', 'in.xml']],
];
for (const [what, edit, input, want] of edits) check(what, () => assert.deepEqual(edit(...input), want));

// [what, got, expected]
const reads = [
  ['the input', model.inputOf(['-I', 'inc', '--', '-in.xml', 'o']), '-in.xml'],
  ['the output of -o', model.outputOf(['in.xml', '-o', 'x.xml', 'A=1']), 'x.xml'],
  ['the macros with -o', model.macrosOf(['in.xml', '-o', 'x.xml', 'A=1']), 'A=1'],
  ['the macros after -D', model.macrosOf(['-D', 'X', 'in.xml', 'out.xml', 'A=1']), 'A=1'],
  ['a check, left to right', model.checkEnabled(['--no-warn=nul-byte', '--warn'], 'nul-byte', true), true],
  ['a check, left to right again', model.checkEnabled(['--warn', '--no-warn=nul-byte'], 'nul-byte', true), false],
  ['a check by default', model.checkEnabled(['in.xml'], 'text-dropped', false), false],
  ['a trace file', model.traceTarget(['--trace=t.txt', 'in.xml']), { file: 't.txt' }],
  ['a trace on stderr', model.traceTarget(['--trace-file', 'a.xml', 'in.xml']), { stderr: true }],
  ['the last graph', model.optionFile(['--graph=a.dot', '--graph', 'b.dot'], '--graph'), 'b.dot'],
  ['a command line', model.commandLine(['in.xml', 'out.xml', 'A=1;B=2', "it's", ''], { SOURCE_DATE_EPOCH: '0' }), "SOURCE_DATE_EPOCH=0 xmlpp in.xml out.xml 'A=1;B=2' 'it'\\''s' ''"],
  ['a gnu place', model.placeOf('./sub/../f.xml:3:16: warning: x [unquoted-attribute]'), { file: 'f.xml', line: 3 }],
  ['a fix-it place', model.placeOf('fix-it:"sub/f.xml":{2:10-2:14}:"name"'), { file: 'sub/f.xml', line: 2 }],
  ['a text-form place', model.placeOf('  at ./boards/evb2.xml:7'), { file: 'boards/evb2.xml', line: 7 }],
  ['an including place', model.placeOf('  included from a b.xml:12'), { file: 'a b.xml', line: 12 }],
  ['a trace place', model.placeOf('board.xml:12:1: note: $(BOARD) in name is "evb2" (macro list)'), { file: 'board.xml', line: 12 }],
  ['no place', model.placeOf('xmlpp: warning: unresolved $(FOO) in attribute a of <y> [unresolved-macro]'), null],
  ['no place in a note', model.placeOf('  note: No such file or directory'), null],
];
for (const [what, got, want] of reads) check(what, () => assert.deepEqual(got, want));

// ---- The graph ----

const boardDot = `digraph xmlpp {
  graph [rankdir=LR, fontname="sans-serif"];
  node [shape=box, fontname="sans-serif", fontsize=11];
  edge [fontname="sans-serif", fontsize=9];
  n0 [label="board.xml", style=bold];
  n1 [label="command line", shape=note];
  n2 [label="common/fragments.xml"];
  n3 [label="boards/evb2.xml"];
  n4 [label="boards/parts/sensor.xml"];
  n5 [label="xmldef uart\\ncommon/fragments.xml:7", shape=component];
  n6 [label="a \\"quoted\\" \\\\x01 name"];
  n1 -> n0 [label="defines BOARD, VARIANT\\nboard.xml:12", style=dotted];
  n0 -> n2 [label="include\\nboard.xml:14"];
  n0 -> n3 [label="include\\nboard.xml:34"];
  n3 -> n4 [label="include\\nboards/evb2.xml:7"];
  n0 -> n5 [label="put\\nboard.xml:39", style=dashed];
  n0 -> n5 [label="put\\nboard.xml:48", style=dashed];
  n3 -> n6 [label="include\\nboards/evb2.xml:9"];
}
`;

const overlap = (a, b) => a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;

check('the board graph is parsed', () => {
  const graph = graphs.parseDot(boardDot);
  assert.deepEqual(graph.nodes.map((node) => node.label), ['board.xml', 'command line', 'common/fragments.xml', 'boards/evb2.xml', 'boards/parts/sensor.xml', 'xmldef uart\ncommon/fragments.xml:7', 'a "quoted" \\x01 name']);
  assert.deepEqual(graph.nodes.map((node) => node.shape), ['box', 'note', 'box', 'box', 'box', 'component', 'box']);
  assert.equal(graph.nodes[0].style, 'bold');
  assert.equal(graph.edges.length, 7);
  assert.deepEqual(graph.edges[0], { from: 1, to: 0, label: 'defines BOARD, VARIANT\nboard.xml:12', style: 'dotted' });
});

check('the board graph is layered by longest path, its macro source beside its target', () => {
  assert.deepEqual(graphs.layers(graphs.parseDot(boardDot)), [1, 0, 2, 2, 3, 2, 3]);
});

check('the board graph is laid out without overlaps', () => {
  const placed = graphs.layout(graphs.parseDot(boardDot));
  const boxes = placed.boxes;
  const labels = placed.edges.filter((edge) => edge.label).map((edge) => edge.label);
  const all = boxes.concat(labels);
  all.forEach((a, i) => all.slice(i + 1).forEach((b) => assert.ok(!overlap(a, b), `${JSON.stringify(a)} overlaps ${JSON.stringify(b)}`)));
  for (const box of all) assert.ok(box.x >= 0 && box.y >= 0 && box.x + box.width <= placed.width && box.y + box.height <= placed.height, 'inside the drawing');
  // The two puts of one fragment are one arrow with both places.
  assert.equal(placed.edges.length, 6);
  assert.deepEqual(placed.edges.find((edge) => edge.style === 'dashed').lines, ['put', 'board.xml:39', 'board.xml:48']);
  for (const edge of placed.edges) assert.ok(boxes[edge.from].x + boxes[edge.from].width < boxes[edge.to].x, 'edges go right');
});

check('a cycle is not laid out', () => {
  assert.equal(graphs.layout(graphs.parseDot('digraph x {\n  n0 [label="a.xml", style=bold];\n  n1 [label="b.xml"];\n  n0 -> n1 [label="include"];\n  n1 -> n0 [label="include"];\n}\n')), null);
});

check('a graph of more than 200 nodes is not laid out', () => {
  const lines = Array.from({ length: 201 }, (_, n) => `  n${n} [label="f${n}.xml"];`);
  assert.equal(graphs.layout(graphs.parseDot(`digraph x {\n${lines.join('\n')}\n}\n`)), null);
  assert.notEqual(graphs.layout(graphs.parseDot(`digraph x {\n${lines.slice(1).join('\n')}\n}\n`)), null);
});

console.log(failures === 0 ? 'model: all cases pass' : `model: ${failures} failing`);
process.exit(failures === 0 ? 0 : 1);
