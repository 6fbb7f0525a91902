'use strict';
// Starts `xmlpp --lsp` for XML files and connects it to VS Code through vscode-languageclient.
// The settings xmlpp.path, xmlpp.commandDatabase, xmlpp.macros and xmlpp.commands choose the
// executable and what the server is told at start (its initializationOptions); changing one
// restarts the server. The command xmlpp.selectCommand picks, among the build's commands for the
// active file's input, the one the server runs it by.

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
      commands: config.get('commands') || {},
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

// Lists the build's commands for the active file's input and makes the one picked the one used.
async function selectCommand() {
  const active = vscode.window.activeTextEditor;
  if (!client || !active) {
    return;
  }
  const textDocument = { uri: active.document.uri.toString() };
  const list = await client.sendRequest('xmlpp/commands', { textDocument });
  if (list.commands.length === 0) {
    vscode.window.showInformationMessage('xmlpp: no build command reads this file; it runs on its own');
    return;
  }
  const items = list.commands.map((command) => ({
    label: command.output,
    description: command.used ? '(used)' : '',
    detail: command.arguments.join(' '),
  }));
  const picked = await vscode.window.showQuickPick(items, {
    placeHolder: `The build command to run ${list.input} by`,
  });
  if (picked) {
    await client.sendRequest('xmlpp/commands', { textDocument, select: picked.label });
  }
}

function activate(context) {
  context.subscriptions.push(vscode.commands.registerCommand('xmlpp.selectCommand', selectCommand));
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
