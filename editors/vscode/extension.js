'use strict';
// Starts `xmlpp --lsp` for XML files and connects it to VS Code through vscode-languageclient.
// The settings xmlpp.path, xmlpp.commandDatabase and xmlpp.macros choose the executable and what
// the server is told at start (its initializationOptions); changing one restarts the server.

const path = require('path');
const vscode = require('vscode');
const { LanguageClient, TransportKind } = require('vscode-languageclient/node');

let client;

// The first workspace folder's path, or undefined without a folder open.
function workspaceFolder() {
  const folders = vscode.workspace.workspaceFolders;
  return folders && folders.length > 0 ? folders[0].uri.fsPath : undefined;
}

// A path setting with ${workspaceFolder} replaced and, when relative, taken from the workspace
// folder (VS Code does not expand variables in settings itself). Empty stays empty.
function resolvePath(setting, folder) {
  if (!setting) {
    return '';
  }
  const expanded = folder ? setting.split('${workspaceFolder}').join(folder) : setting;
  return folder && !path.isAbsolute(expanded) ? path.join(folder, expanded) : expanded;
}

// What the client needs from the settings: how to run the server and what to tell it at start.
function clientSettings(config, folder) {
  return {
    command: config.get('path') || 'xmlpp',
    initializationOptions: {
      commandDatabase: resolvePath(config.get('commandDatabase'), folder),
      macros: config.get('macros') || '',
    },
  };
}

function startClient() {
  const settings = clientSettings(vscode.workspace.getConfiguration('xmlpp'), workspaceFolder());
  const executable = {
    command: settings.command,
    args: ['--lsp'],
    transport: TransportKind.stdio,
  };
  client = new LanguageClient(
    'xmlpp',
    'xmlpp',
    { run: executable, debug: executable },
    {
      documentSelector: [
        { scheme: 'file', language: 'xml' },
        { scheme: 'untitled', language: 'xml' },
      ],
      initializationOptions: settings.initializationOptions,
    },
  );
  return client.start();
}

async function stopClient() {
  if (client) {
    const running = client;
    client = undefined;
    await running.stop();
  }
}

function activate(context) {
  context.subscriptions.push(
    vscode.workspace.onDidChangeConfiguration(async (event) => {
      if (event.affectsConfiguration('xmlpp')) {
        await stopClient();
        await startClient();
      }
    }),
  );
  return startClient();
}

function deactivate() {
  return stopClient();
}

module.exports = { activate, deactivate, clientSettings, resolvePath };
