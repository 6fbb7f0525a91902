'use strict';
// Runs the tool's WebAssembly module (xmlpp.js, made by `make playground`) as the command line
// does: the files of a run are written to the module's in-memory file system, main() gets the
// arguments that follow `xmlpp` on a command line, and what it writes comes back as bytes decoded
// as UTF-8. Used by the page's Web Worker (worker.js) and by Node (tests/playground/smoke.js).
//
//   const tool = startTool(createXmlpp);
//   const result = await tool.run({ files: { 'in.xml': '<r/>' }, args: ['in.xml', 'out.xml'] });
//   // { status, stdout, stderr, files: { 'in.xml': ..., 'out.xml': ... } }
//
// The module's C library copies the environment once, as the module starts: a run with other
// environment variables (SOURCE_DATE_EPOCH, say) gets a module started with them, which is kept
// for the runs that follow with the same ones.

(function (root) {
  // Every run gets a folder of its own, so that files of one run never meet those of the next.
  const kWork = '/work';

  function startTool(createXmlpp) {
    let started = { key: null, tool: null };
    return {
      async run(request) {
        const env = request.env || {};
        const key = JSON.stringify(Object.entries(env).sort());
        if (started.key !== key) started = { key, tool: startModule(createXmlpp, env) };
        return (await started.tool).run(request);
      },
    };
  }

  async function startModule(createXmlpp, env) {
    let stdout = [];
    let stderr = [];
    const module = await createXmlpp({
      noInitialRun: true,
      preRun: [
        // Standard output and error, byte by byte (null marks a flush).
        (m) =>
          m.FS.init(
            null,
            (byte) => byte !== null && stdout.push(byte),
            (byte) => byte !== null && stderr.push(byte),
          ),
        (m) => {
          for (const name of Object.keys(m.ENV)) delete m.ENV[name];
          Object.assign(m.ENV, env);
        },
      ],
    });
    const FS = module.FS;
    // One user owns every file here; the modes the tool gives what it writes do not keep the page
    // from reading them back.
    FS.ignorePermissions = true;
    const decoder = new TextDecoder('utf-8');
    let count = 0;

    function removeTree(path) {
      for (const name of FS.readdir(path)) {
        if (name === '.' || name === '..') continue;
        const child = `${path}/${name}`;
        if (FS.isDir(FS.lstat(child).mode)) removeTree(child);
        else FS.unlink(child);
      }
      FS.rmdir(path);
    }

    // Every regular file under `path`, by its path relative to the run's folder.
    function readTree(path, prefix, files) {
      for (const name of FS.readdir(path)) {
        if (name === '.' || name === '..') continue;
        const child = `${path}/${name}`;
        const mode = FS.lstat(child).mode;
        if (FS.isDir(mode)) readTree(child, `${prefix}${name}/`, files);
        else if (FS.isFile(mode)) files[prefix + name] = decoder.decode(FS.readFile(child));
      }
      return files;
    }

    function run({ files = {}, args = [] }) {
      const folder = `${kWork}${++count}`;
      FS.mkdir(folder);
      for (const [name, text] of Object.entries(files)) {
        const parts = name.split('/').filter((part) => part !== '' && part !== '.');
        let at = folder;
        for (const part of parts.slice(0, -1)) {
          at += `/${part}`;
          if (!FS.analyzePath(at).exists) FS.mkdir(at);
        }
        FS.writeFile(`${folder}/${parts.join('/')}`, text);
      }
      FS.chdir(folder);
      stdout = [];
      stderr = [];
      const status = module.callMain(args.slice());
      const result = {
        status,
        stdout: decoder.decode(new Uint8Array(stdout)),
        stderr: decoder.decode(new Uint8Array(stderr)),
        files: readTree(folder, '', {}),
      };
      FS.chdir('/');
      removeTree(folder);
      return result;
    }

    return { run };
  }

  if (typeof module === 'object' && module.exports) module.exports = { startTool };
  else root.startTool = startTool;
})(typeof self !== 'undefined' ? self : this);
