// Placeholder bridge until the real one lands: runs the script as a sloppy
// function body (undeclared assignments become globals, `var` stays local,
// a top-level return ends it) and reports only what it threw.
globalThis.__qv_run = function (input) {
  const event = JSON.parse(input);
  let error = null;
  try {
    Function(event.script)();
  } catch (e) {
    error = { name: String(e && e.name), message: String(e && e.message) };
  }
  return JSON.stringify({ tests: [], error });
};
