'use strict';
// The playground's Web Worker: runs the tool off the page's thread, one run per message.
//   in:  { id, files: { name: text }, args: [...], env: { NAME: value } }
//   out: { id, result: { status, stdout, stderr, files } }  or  { id, error: 'message' }
// The page builds this worker from xmlpp.js, run.js and this file joined into one script, which
// it fetched once; loaded by its own URL, the worker fetches the other two itself.

if (typeof self.startTool !== 'function') importScripts('xmlpp.js', 'run.js');

const tool = self.startTool(self.createXmlpp);

self.onmessage = async (event) => {
  const { id, files, args, env = {} } = event.data;
  try {
    const result = await tool.run({ files, args, env });
    self.postMessage({ id, result });
  } catch (error) {
    // An abort inside the module (out of memory, say) leaves it unusable: the page starts a
    // new worker on an error.
    self.postMessage({ id, error: String((error && error.message) || error) });
  }
};
