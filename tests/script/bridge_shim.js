// Runs the script bridge under node for its tests, as the library runs it
// under QuickJS: the bridge files, concatenated in the order of files.txt,
// in a fresh vm context, with the npm modules of __qv_modules loaded into
// that same context (one realm, as in the library) from a node_modules
// folder outside the tree. Node's own modules, which some of them reach
// for, come from node.
'use strict';
const fs = require('fs');
const path = require('path');
const vm = require('vm');
const { isBuiltin } = require('module');

const BRIDGE = path.join(__dirname, '../../src/script/js/bridge');
const MODULES = ['lodash', 'lodash3', 'chai', 'chai-postman', 'crypto-js', 'moment', 'tv4', 'ajv', 'cheerio',
    'xml2js', 'csv-parse/lib/sync', 'uuid', 'atob', 'btoa', 'buffer', 'http-reasons'];

function loader(ctx) {
    const cache = new Map();
    function load(file) {
        if (cache.has(file)) return cache.get(file).exports;
        const module = { exports: {} };
        cache.set(file, module);
        const text = fs.readFileSync(file, 'utf8');
        if (file.endsWith('.json')) {
            module.exports = vm.runInContext('(' + text + ')', ctx);
            return module.exports;
        }
        const fn = vm.compileFunction(text.replace(/^#!.*/, ''), ['exports', 'require', 'module', '__filename', '__dirname'],
            { parsingContext: ctx, filename: file });
        fn.call(module.exports, module.exports, (name) => resolve(name, path.dirname(file)), module, file, path.dirname(file));
        return module.exports;
    }
    function resolve(name, dir) {
        if (isBuiltin(name)) return require(name);
        const target = name.startsWith('.') || name.startsWith('/') ? path.resolve(dir, name) : name;
        return load(require.resolve(target, { paths: [dir] }));
    }
    return resolve;
}

function bridgeSource() {
    return fs.readFileSync(path.join(BRIDGE, 'files.txt'), 'utf8').split('\n').filter(Boolean)
        .map((f) => fs.readFileSync(path.join(BRIDGE, f), 'utf8')).join('\n');
}

// host(op, requestObject) -> replyObject answers __qv_host.
function createBridge(modulesDir, host) {
    const ctx = vm.createContext({});
    vm.runInContext('globalThis.global = globalThis;', ctx);
    const resolve = loader(ctx);
    const modules = vm.runInContext('({})', ctx);
    for (const name of MODULES) modules[name] = resolve(name, modulesDir);
    ctx.__qv_modules = modules;
    ctx.Buffer = modules.buffer.Buffer;
    ctx.__qv_host = (op, json) => JSON.stringify(host(op, JSON.parse(json)));
    vm.runInContext(bridgeSource(), ctx, { filename: 'bridge.js' });
    return { run: (input) => JSON.parse(ctx.__qv_run(JSON.stringify(input))), context: ctx };
}

module.exports = { createBridge, MODULES };
