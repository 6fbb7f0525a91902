'use strict';
// The playground's state and the parts of a command line the page's controls edit. No DOM here:
// the page (playground.js) and Node (tests/playground/model.js) load this file alike.
//
// The state is { files: [[name, text], ...], args: [...], env?: { NAME: value } }, kept in the
// URL fragment as base64url (no padding) of its JSON in UTF-8.

(function (root) {
  // ---- The URL fragment ----

  // Files under this folder belong to the page (the trace and graph of a run), not to the user.
  const kPageFolder = '.playground/';
  // A longer fragment is not written to the address bar (links of this size break in mail and
  // chat programs, and some browsers cut them).
  const kFragmentLimit = 64 * 1024;

  function toBase64Url(bytes) {
    let binary = '';
    for (let at = 0; at < bytes.length; at += 0x8000) {
      binary += String.fromCharCode.apply(null, bytes.subarray(at, at + 0x8000));
    }
    return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
  }

  function fromBase64Url(text) {
    const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/').replace(/=+$/, ''));
    const bytes = new Uint8Array(binary.length);
    for (let at = 0; at < binary.length; ++at) bytes[at] = binary.charCodeAt(at);
    return bytes;
  }

  // The fragment's text (without "#") of a state; keys in the order files, args, env, as the
  // documentation's link generator writes them.
  function encodeState(state) {
    const json = { files: state.files, args: state.args };
    if (state.env && Object.keys(state.env).length > 0) json.env = state.env;
    return toBase64Url(new TextEncoder().encode(JSON.stringify(json)));
  }

  // The state a fragment (with or without "#") holds; throws an Error saying what is wrong.
  function decodeState(fragment) {
    const text = fragment.replace(/^#/, '');
    let json;
    try {
      json = JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(fromBase64Url(text)));
    } catch (error) {
      throw new Error('the link does not hold a playground state (base64url of JSON in UTF-8)');
    }
    const isText = (value) => typeof value === 'string';
    if (!json || typeof json !== 'object' || Array.isArray(json)) throw new Error('the state is not a JSON object');
    if (!Array.isArray(json.files) || !json.files.every((file) => Array.isArray(file) && file.length === 2 && file.every(isText))) {
      throw new Error('"files" is not a list of [name, text] pairs');
    }
    if (!Array.isArray(json.args) || !json.args.every(isText)) throw new Error('"args" is not a list of strings');
    const env = json.env === undefined ? {} : json.env;
    if (!env || typeof env !== 'object' || Array.isArray(env) || !Object.values(env).every(isText)) {
      throw new Error('"env" is not an object of strings');
    }
    return { files: json.files.map(([name, body]) => [name, body]), args: json.args.slice(), env: { ...env } };
  }

  // ---- Paths ----

  // A path relative to the run's folder with "." and ".." taken out ("./a/../b.xml" is "b.xml").
  function normalPath(path) {
    const parts = [];
    for (const part of path.split('/')) {
      if (part === '' || part === '.') continue;
      if (part === '..') parts.pop();
      else parts.push(part);
    }
    return parts.join('/');
  }

  const isPageFile = (name) => normalPath(name).startsWith(kPageFolder);

  // ---- The command line ----

  // Options whose value is the next argument.
  const kValueOptions = new Set(['-o', '-D', '--macros-file', '-I', '--doctype', '-MF', '-MT', '--graph', '--trace-file', '--trace-macro']);

  // Where each part of the command line stands: indexes into args (-1: not given). Without -o
  // the positional arguments are input, output, macros, doctype; with -o FILE the output is
  // FILE and the positional ones are input, macros, doctype.
  function argRoles(args) {
    const positional = [];
    const options = [];
    let output = -1;
    let endOfOptions = -1;
    for (let at = 0; at < args.length; ++at) {
      const arg = args[at];
      if (endOfOptions >= 0 || arg === '-' || !arg.startsWith('-')) positional.push(at);
      else if (arg === '--') endOfOptions = at;
      else {
        options.push(at);
        if (kValueOptions.has(arg)) {
          if (arg === '-o' && at + 1 < args.length) output = at + 1;
          ++at;
        }
      }
    }
    const slots = output >= 0 ? ['input', 'macros', 'doctype'] : ['input', 'output', 'macros', 'doctype'];
    const roles = { input: -1, output, macros: -1, doctype: -1, positional, options, endOfOptions };
    slots.forEach((slot, n) => { if (n < positional.length) roles[slot] = positional[n]; });
    // New options go before the first positional argument (and before "--").
    const firsts = [positional[0], endOfOptions].filter((at) => at !== undefined && at >= 0);
    roles.optionsEnd = firsts.length > 0 ? Math.min(...firsts) : args.length;
    return roles;
  }

  const argAt = (args, at) => (at >= 0 ? args[at] : undefined);
  const inputOf = (args) => argAt(args, argRoles(args).input);
  const outputOf = (args) => argAt(args, argRoles(args).output);
  const macrosOf = (args) => argAt(args, argRoles(args).macros) || '';

  // Each setter returns a new list; the arguments it does not model stay as they are.
  function setInput(args, name) {
    const roles = argRoles(args);
    const next = args.slice();
    if (roles.input >= 0) next[roles.input] = name;
    else next.splice(roles.endOfOptions >= 0 ? roles.endOfOptions + 1 : args.length, 0, name);
    return next;
  }

  function setOutput(args, name) {
    let next = args.slice();
    let roles = argRoles(next);
    if (roles.output >= 0) {
      next[roles.output] = name;
      return next;
    }
    if (roles.input < 0) {
      next = setInput(next, '-');
      roles = argRoles(next);
    }
    next.splice(roles.input + 1, 0, name);
    return next;
  }

  // An empty list is dropped unless a doctype argument follows it.
  function setMacros(args, text) {
    let next = args.slice();
    let roles = argRoles(next);
    if (roles.macros >= 0) {
      if (text === '' && roles.doctype < 0) next.splice(roles.macros, 1);
      else next[roles.macros] = text;
      return next;
    }
    if (text === '') return next;
    if (roles.output < 0) {
      next = setOutput(next, '-');
      roles = argRoles(next);
    }
    const last = roles.positional[roles.positional.length - 1];
    next.splice(last === undefined ? next.length : Math.max(last, roles.output) + 1, 0, text);
    return next;
  }

  // Flags are options without a value; only those before "--" count.
  function optionArgs(args) {
    const roles = argRoles(args);
    return roles.options.map((at) => ({ at, arg: args[at] }));
  }

  const hasFlag = (args, flags) => optionArgs(args).some(({ arg }) => flags.includes(arg));

  function setFlag(args, flags, on) {
    if (hasFlag(args, flags) === on) return args.slice();
    if (!on) {
      const drop = new Set(optionArgs(args).filter(({ arg }) => flags.includes(arg)).map(({ at }) => at));
      return args.filter((_, at) => !drop.has(at));
    }
    const next = args.slice();
    // --warn enables every check: it goes before the options that disable some of them.
    const disabling = optionArgs(args).find(({ arg }) => /^(--no-warn=|-Wno-)/.test(arg));
    const at = flags[0] === '--warn' && disabling ? disabling.at : argRoles(args).optionsEnd;
    next.splice(at, 0, flags[0]);
    return next;
  }

  // The checks' switches, left to right: which way the last one that names `check` turns it.
  // Returns undefined when no switch names it.
  function checkSwitch(args, check) {
    let state;
    for (const { arg } of optionArgs(args)) {
      if (arg === '--warn' || arg === '-Wall' || arg === '--strict') state = true;
      else if (arg.startsWith('--warn=') && arg.slice(7).split(',').includes(check)) state = true;
      else if (arg.startsWith('--no-warn=') && arg.slice(10).split(',').includes(check)) state = false;
      else if (arg === `-W${check}`) state = true;
      else if (arg === `-Wno-${check}`) state = false;
    }
    return state;
  }

  const checkEnabled = (args, check, byDefault) => {
    const state = checkSwitch(args, check);
    return state === undefined ? byDefault : state;
  };

  // Turns one check on or off: takes its name out of the switches that say the opposite, then
  // adds a switch of its own if that is not enough.
  function setCheck(args, check, byDefault, on) {
    const [opposite, oppositeShort] = on ? ['--no-warn=', `-Wno-${check}`] : ['--warn=', `-W${check}`];
    const options = new Set(argRoles(args).options);
    let next = [];
    args.forEach((arg, at) => {
      if (!options.has(at)) next.push(arg);
      else if (arg === oppositeShort) return;
      else if (arg.startsWith(opposite)) {
        const names = arg.slice(opposite.length).split(',').filter((name) => name !== check);
        if (names.length > 0) next.push(opposite + names.join(','));
      } else next.push(arg);
    });
    if (checkEnabled(next, check, byDefault) !== on) {
      const own = on ? `--warn=${check}` : `--no-warn=${check}`;
      // After the last option that enables or disables every check, so that it is the one
      // that counts.
      const roles = argRoles(next);
      const lastAll = roles.options.filter((at) => ['--warn', '-Wall', '--strict'].includes(next[at])).pop();
      next.splice(Math.max(roles.optionsEnd, lastAll === undefined ? 0 : lastAll + 1), 0, own);
    }
    return next;
  }

  // The file an option names, by its last use: `--graph FILE` or `--graph=FILE`.
  function optionFile(args, name) {
    let file;
    for (const { at, arg } of optionArgs(args)) {
      if (arg === name && at + 1 < args.length) file = args[at + 1];
      else if (arg.startsWith(`${name}=`)) file = arg.slice(name.length + 1);
    }
    return file;
  }

  // The page's trace and graph go to files of their own, so that they change nothing the tool
  // prints or writes; a command line that asks for either itself keeps what it asks for.
  function withPageOutputs(args) {
    const added = [];
    if (!optionArgs(args).some(({ arg }) => arg.startsWith('--trace'))) added.push(`--trace=${kPageFolder}trace.txt`);
    if (optionFile(args, '--graph') === undefined) added.push(`--graph=${kPageFolder}graph.dot`);
    return added.concat(args);
  }

  // Where the trace went: { file } or { stderr: true }, or nothing without a trace.
  function traceTarget(args) {
    let target = null;
    for (const { arg } of optionArgs(args)) {
      if (arg.startsWith('--trace=')) target = { file: arg.slice(8) };
      else if (arg === '--trace' || (arg.startsWith('--trace') && !target)) target = { stderr: true };
    }
    return target;
  }

  function shellQuote(arg) {
    if (/^[A-Za-z0-9_@%+=:,./-]+$/.test(arg)) return arg;
    return `'${arg.replace(/'/g, `'\\''`)}'`;
  }

  function commandLine(args, env = {}) {
    const settings = Object.entries(env).map(([name, value]) => `${name}=${shellQuote(value)}`);
    return settings.concat(['xmlpp'], args.map(shellQuote)).join(' ');
  }

  // ---- Places in messages ----

  // The place a line of the tool's messages (or of its trace) names: { file, line } or null.
  //   gnu form:   FILE:LINE:COL: ...        fix-it:"FILE":{LINE:COL-LINE:COL}:"..."
  //   text form:  "  at FILE:LINE"          "  included from FILE:LINE"
  function placeOf(line) {
    let match = /^fix-it:"((?:[^"\\]|\\.)+)":\{(\d+):\d+-/.exec(line);
    if (!match) match = /^(?:  at |  included from )(.+):(\d+)$/.exec(line);
    if (!match) match = /^([^:\s][^:]*):(\d+):\d+: /.exec(line);
    if (!match) return null;
    return { file: normalPath(match[1].replace(/\\(.)/g, '$1')), line: Number(match[2]) };
  }

  const api = {
    kFragmentLimit, kPageFolder, encodeState, decodeState, normalPath, isPageFile,
    argRoles, inputOf, outputOf, macrosOf, setInput, setOutput, setMacros, hasFlag, setFlag,
    checkEnabled, setCheck, optionFile, withPageOutputs, traceTarget, shellQuote, commandLine, placeOf,
  };
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.playgroundModel = api;
})(typeof self !== 'undefined' ? self : this);
