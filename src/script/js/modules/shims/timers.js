// node's timers module for the packages that require it (xml2js): the
// bridge's own setTimeout, looked up when called, as the bridge defines it
// after the bundle has run.
exports.setImmediate = (fn, ...args) => globalThis.setTimeout(fn, 0, ...args);
exports.clearImmediate = (id) => globalThis.clearTimeout(id);
