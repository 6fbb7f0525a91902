'use strict';
// The extension's logic with stand-ins for the editor's modules (`vscode` exists only inside VS
// Code, and the language client needs it): which executable it starts, with which arguments,
// for which documents, what it tells the server, and the restart on a settings change. Runs with
// Node's own test runner and no npm package:
//
//   node --test editors/vscode/test/            (XMLPP_VERSION=1.0.0 also checks the version)

const assert = require('node:assert/strict');
const fs = require('node:fs');
const Module = require('node:module');
const path = require('node:path');
const test = require('node:test');

// The stand-ins: settings and a workspace folder the test sets, and a record of the clients.
const editor = { settings: {}, folders: undefined, listeners: [], clients: [], commands: {} };

class FakeClient {
  constructor(id, name, serverOptions, clientOptions) {
    Object.assign(this, { id, name, serverOptions, clientOptions, started: 0, stopped: 0 });
    editor.clients.push(this);
  }
  start() {
    this.started += 1;
    return Promise.resolve();
  }
  stop() {
    this.stopped += 1;
    return Promise.resolve();
  }
  // The server's answers to xmlpp/commands: the list the test sets, every request recorded.
  sendRequest(method, params) {
    this.requests = [...(this.requests || []), { method, params }];
    return Promise.resolve(editor.commandList);
  }
}

const fakeVscode = {
  commands: {
    registerCommand: (name, run) => {
      editor.commands[name] = run;
      return { dispose() {} };
    },
  },
  window: {
    get activeTextEditor() {
      return editor.active && { document: { uri: { toString: () => editor.active } } };
    },
    showQuickPick: (items, options) => {
      editor.shown = { items, options };
      return Promise.resolve(items[editor.pick]);
    },
    showInformationMessage: (message) => {
      editor.shown = { message };
    },
  },
  workspace: {
    get workspaceFolders() {
      return editor.folders && editor.folders.map((folder) => ({ uri: { fsPath: folder } }));
    },
    getConfiguration: (section) => {
      assert.equal(section, 'xmlpp');
      return { get: (key) => editor.settings[key] };
    },
    onDidChangeConfiguration: (listener) => {
      editor.listeners.push(listener);
      return { dispose() {} };
    },
  },
};
const fakeClientModule = { LanguageClient: FakeClient, TransportKind: { stdio: 0 } };

const load = Module._load;
Module._load = function (request, ...rest) {
  if (request === 'vscode') return fakeVscode;
  if (request === 'vscode-languageclient/node') return fakeClientModule;
  return load.call(this, request, ...rest);
};
const extension = require('../extension.js');
const manifest = JSON.parse(fs.readFileSync(path.join(__dirname, '..', 'package.json'), 'utf8'));

function reset(settings, folders) {
  Object.assign(editor, { settings, folders, listeners: [], clients: [], commands: {} });
}

async function activate() {
  const context = { subscriptions: [] };
  await extension.activate(context);
  return context;
}

test('starts <xmlpp.path> --lsp on stdio for XML files, the settings as options', async () => {
  reset(
    {
      path: '/opt/xmlpp/bin/xmlpp',
      commandDatabase: '${workspaceFolder}/build/xmlpp_commands.json',
      macros: 'A=1;B=2',
      commands: { 'config.xml': 'build/evb1.xml' },
    },
    ['/home/me/board', '/home/me/other'],
  );
  await activate();
  assert.equal(editor.clients.length, 1);
  const [client] = editor.clients;
  assert.equal(client.started, 1);
  const executable = { command: '/opt/xmlpp/bin/xmlpp', args: ['--lsp'], transport: 0 };
  assert.deepEqual(client.serverOptions, { run: executable, debug: executable });
  assert.deepEqual(client.clientOptions.initializationOptions, {
    commandDatabase: '/home/me/board/build/xmlpp_commands.json',
    macros: 'A=1;B=2',
    commands: { 'config.xml': 'build/evb1.xml' },
  });
  const languages = client.clientOptions.documentSelector.map((selector) => selector.language);
  assert.deepEqual([...new Set(languages)], ['xml']);
});

test('without settings: xmlpp from PATH, no database, no macros', async () => {
  reset({}, undefined);
  await activate();
  const [client] = editor.clients;
  assert.equal(client.serverOptions.run.command, 'xmlpp');
  assert.deepEqual(client.clientOptions.initializationOptions, {
    commandDatabase: '',
    macros: '',
    commands: {},
  });
});

test('a database path: relative to the first folder, kept as given without one', () => {
  const cases = [
    ['build/xmlpp_commands.json', '/ws', '/ws/build/xmlpp_commands.json'],
    ['/abs/xmlpp_commands.json', '/ws', '/abs/xmlpp_commands.json'],
    ['${workspaceFolder}/b/db.json', '/ws', '/ws/b/db.json'],
    ['build/xmlpp_commands.json', undefined, 'build/xmlpp_commands.json'],
    ['', '/ws', ''],
    [undefined, '/ws', ''],
  ];
  for (const [setting, folder, want] of cases) {
    assert.equal(extension.resolvePath(setting, folder), want, `${setting} in ${folder}`);
  }
});

test('a change of an xmlpp setting restarts the server with the new settings', async () => {
  reset({ macros: 'A=1' }, ['/ws']);
  await activate();
  assert.equal(editor.listeners.length, 1);
  const [listener] = editor.listeners;
  await listener({ affectsConfiguration: (section) => section === 'editor' });
  assert.equal(editor.clients.length, 1, 'another section changed: no restart');
  editor.settings = { macros: 'A=2', path: 'xmlpp-dev' };
  await listener({ affectsConfiguration: (section) => section === 'xmlpp' });
  assert.equal(editor.clients.length, 2);
  const [first, second] = editor.clients;
  assert.equal(first.stopped, 1);
  assert.equal(second.started, 1);
  assert.equal(second.serverOptions.run.command, 'xmlpp-dev');
  assert.equal(second.clientOptions.initializationOptions.macros, 'A=2');
  await extension.deactivate();
  assert.equal(second.stopped, 1);
});

test('choosing the build command: the list shown, the one picked sent back', async () => {
  reset({}, ['/ws']);
  await activate();
  const choose = editor.commands['xmlpp.selectCommand'];
  const uri = 'file:///ws/config.xml';
  editor.active = uri;
  const commands = ['a', 'b'].map((board, i) => ({
    output: `/ws/build/${board}.xml`,
    arguments: ['xmlpp', 'config.xml', `${board}.xml`],
    used: i === 0,
  }));
  editor.commandList = { input: '/ws/config.xml', commands };
  const cases = [
    { pick: 1, sent: [{ textDocument: { uri } }, { textDocument: { uri }, select: '/ws/build/b.xml' }] },
    { pick: undefined, sent: [{ textDocument: { uri } }] },
  ];
  for (const { pick, sent } of cases) {
    editor.clients[0].requests = [];
    editor.pick = pick;
    await choose();
    assert.deepEqual(editor.clients[0].requests, sent.map((params) => ({ method: 'xmlpp/commands', params })));
  }
  assert.deepEqual(
    editor.shown.items.map((item) => [item.label, item.description, item.detail]),
    [
      ['/ws/build/a.xml', '(used)', 'xmlpp config.xml a.xml'],
      ['/ws/build/b.xml', '', 'xmlpp config.xml b.xml'],
    ],
  );
  // A file no command reads: said, nothing picked.
  editor.commandList = { input: '/ws/config.xml', commands: [] };
  editor.clients[0].requests = [];
  await choose();
  assert.match(editor.shown.message, /no build command reads this file/);
  assert.equal(editor.clients[0].requests.length, 1);
});

test('the manifest: activation on XML and the command, the settings with their defaults', () => {
  assert.deepEqual(manifest.activationEvents, ['onLanguage:xml', 'onCommand:xmlpp.selectCommand']);
  assert.deepEqual(
    manifest.contributes.commands.map((command) => command.command),
    Object.keys(editor.commands),
  );
  assert.ok(fs.existsSync(path.join(__dirname, '..', manifest.main)));
  const properties = manifest.contributes.configuration.properties;
  assert.deepEqual(
    Object.fromEntries(Object.entries(properties).map(([key, value]) => [key, value.default])),
    { 'xmlpp.path': 'xmlpp', 'xmlpp.commandDatabase': '', 'xmlpp.macros': '', 'xmlpp.commands': {} },
  );
  assert.deepEqual(Object.keys(manifest.dependencies), ['vscode-languageclient']);
  if (process.env.XMLPP_VERSION) {
    assert.equal(manifest.version, process.env.XMLPP_VERSION, 'the version of xmlpp');
  }
});
