// The script bridge against newman 6.2.2: each case is a collection of one
// or a few items with scripts, run by newman against a local server and by
// the bridge (under node, tests/script/bridge_shim.js) on the very requests
// and responses newman's run had. Compared: tests with pass/fail and error,
// script errors, console output as newman's report prints it, environment,
// globals and collection variables after the run, and which items ran
// (setNextRequest, skipRequest). Exits 77 when newman or the modules are
// missing (ctest counts that as skipped), 1 on a difference.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const cp = require('child_process');

// ---- the local server (a child process, since pm.sendRequest blocks) ----
if (process.argv[2] === '--serve') {
    const http = require('http');
    const server = http.createServer((req, res) => {
        let body = '';
        req.on('data', (c) => { body += c; });
        req.on('end', () => {
            const u = new URL(req.url, 'http://x');
            const status = Number(u.searchParams.get('status') || 200);
            const send = (type, text, extra) => { res.writeHead(status, Object.assign({ 'Content-Type': type }, extra)); res.end(text); };
            if (u.pathname === '/json') send('application/json', JSON.stringify({ id: 42, name: 'Ada', tags: ['a', 'b'], nested: { x: 1 } }), { 'X-Test': 'yes' });
            else if (u.pathname === '/raw') send(u.searchParams.get('ct') || 'text/plain', u.searchParams.get('b') || '');
            else if (u.pathname === '/xml') send('application/xml', '<root><item id="1">one</item><item id="2">two</item></root>');
            else if (u.pathname === '/html') send('text/html', '<html><head><title>Hi</title></head><body><p class="x">para</p></body></html>');
            else if (u.pathname === '/cookie') send('text/plain', 'set', { 'Set-Cookie': 'sid=abc; Path=/' });
            else if (u.pathname === '/echo') send('application/json', JSON.stringify({ method: req.method, url: req.url, headers: req.headers, body }));
            else send('text/plain', 'hello world');
        });
    });
    server.listen(0, '127.0.0.1', () => process.stdout.write(server.address().port + '\n'));
    setTimeout(() => process.exit(0), 300000).unref();
    return;
}

// ---- the cases ----
// Each: [title, items, options]. An item: { n: name, m: method, p: path,
// h: headers, b: body, pre: script, test: script }. Options: data (iteration
// rows), differs (why the bridge is meant to differ; the case must then differ).
const I = (test, more) => Object.assign({ test }, more);
const CASES = [
    ['environment set, get, unset, types', [I("pm.environment.set('n', 5); pm.environment.set('o', {a: [1]}); pm.environment.set('b', true); pm.environment.set('s', 'x'); pm.environment.unset('ev'); pm.test('get', () => { pm.expect(pm.environment.get('n')).to.equal(5); pm.expect(pm.environment.get('ev')).to.be.undefined; pm.expect(pm.environment.has('s')).to.be.true; }); console.log(pm.environment.toObject())")]],
    ['globals and collection variables', [I("pm.globals.set('g1', 'x'); pm.globals.unset('gv'); pm.collectionVariables.set('cv', 'changed'); pm.collectionVariables.set('c2', 2); console.log(pm.globals.get('g1'), pm.collectionVariables.get('cv'), pm.globals.toObject(), pm.collectionVariables.toObject())")]],
    ['pm.variables reads local > data > environment > collection > globals', [I("console.log(pm.variables.get('k'), pm.variables.get('ev'), pm.variables.get('cv'), pm.variables.get('gv')); pm.variables.set('k', 'local'); console.log(pm.variables.get('k'), pm.variables.has('cv'), pm.variables.toObject())")], { data: [{ k: 'data', ev: 'data-ev' }] }],
    ['replaceIn resolves nested placeholders and leaves unknown ones', [I("pm.environment.set('a', '{{b}}'); pm.environment.set('b', 'B{{c}}'); pm.globals.set('c', 'C'); pm.environment.set('n', 7); console.log(pm.variables.replaceIn('{{a}}|{{n}}|{{nope}}|{{ b }}|{{}}'), pm.environment.replaceIn('{{n}} {{c}}'), pm.variables.get('a'))")]],
    ['local variables last across items and iterations', [I("console.log(pm.info.iteration, pm.variables.get('loc')); pm.variables.set('loc', 'L' + pm.info.iteration)"), I("console.log('second', pm.variables.get('loc'))")], { data: [{}, {}] }],
    ['legacy postman variable functions and snapshots', [I("pm.environment.set('later', 1); postman.setEnvironmentVariable('legacy', 7); postman.setGlobalVariable('lg', 'z'); postman.clearGlobalVariable('gv'); console.log(postman.getEnvironmentVariable('legacy'), postman.getGlobalVariable('lg'), environment, globals); postman.clearEnvironmentVariable('ev')")]],
    ['a test script sets a variable the next request uses', [I("pm.environment.set('next', pm.response.json().name)"), I("pm.test('url has it', () => pm.expect(pm.request.url.toString()).to.include('/echo/Ada')); pm.test('server saw it', () => pm.expect(pm.response.json().url).to.equal('/echo/Ada?q=Ada'))", { p: '/echo/{{next}}?q={{next}}' })]],
    ['response basics', [I("console.log(pm.response.code, pm.response.status, typeof pm.response.responseTime, pm.response.responseSize, pm.response.text(), pm.response.json().tags, pm.response.reason())")]],
    ['response headers', [I("const h = pm.response.headers; console.log(h.get('content-type'), h.has('X-TEST'), h.has('x-nope'), h.count(), h.toObject()['x-test'], h.one('x-test'), postman.getResponseHeader('X-Test'))")]],
    ['response size and details', [I("console.log(pm.response.size().body, pm.response.size().header, pm.response.details().name, pm.response.details().code, responseCode.code, responseCode.name)", { p: '/json?status=404' })]],
    ['pm.response.json() on a text body', [I("try { pm.response.json() } catch (e) { console.log(e.name, e.message) } pm.test('json', () => pm.response.to.be.json); pm.test('jsonBody', () => pm.response.to.have.jsonBody('a'))", { p: '/text' })]],
    ['JSON errors where newman places them', ['{"a":1,}', '', '{"a": tru}', '[1,2', '{"a":1', '{"a":"x', '<html>\n<b>', '{"a":1}{"b":2}', '{"a" 1}', '{"a":-}', '{"a":"\\q"}', '[', '{"k": undefined}', '{\n  "a": 1,\n  "b": [1,]\n}', '\ufeff{"ok":1}'].map((b) => I("try { console.log(pm.response.json()) } catch (e) { console.log(e.message) }", { p: '/raw?b=' + encodeURIComponent(b) }))],
    ['legacy response globals', [I("console.log(responseBody, responseCode, responseHeaders['X-Test'], typeof responseTime, iteration)")]],
    ['status assertions on a 404', [I("pm.test('status', () => pm.response.to.have.status(200)); pm.test('ok', () => pm.response.to.be.ok); pm.test('success', () => pm.response.to.be.success); pm.test('notFound', () => pm.response.to.be.notFound); pm.test('clientError', () => pm.response.to.be.clientError); pm.test('reason', () => pm.response.to.have.status('OK')); pm.test('not', () => pm.response.to.not.have.status(404))", { p: '/json?status=404' })]],
    ['body and header assertions', [I("pm.test('json', () => pm.response.to.be.json); pm.test('header', () => pm.response.to.have.header('X-Nope')); pm.test('header value', () => pm.response.to.have.header('x-test', 'no')); pm.test('jsonBody', () => pm.response.to.have.jsonBody('name', 'Bob')); pm.test('jsonBody ok', () => pm.response.to.have.jsonBody('nested.x', 1)); pm.test('body', () => pm.response.to.have.body('nope')); pm.test('body re', () => pm.response.to.have.body(/zz/)); pm.test('withBody', () => pm.response.to.be.withBody); pm.test('time', () => pm.response.to.have.responseTime.below(100000))")]],
    ['jsonSchema with ajv and tv4', [I("pm.test('schema fails', () => pm.response.to.have.jsonSchema({type: 'object', required: ['zzz'], properties: {id: {type: 'string'}}})); pm.test('schema passes', () => pm.response.to.have.jsonSchema({type: 'object', required: ['id']})); pm.test('tv4', () => pm.expect(tv4.validate(pm.response.json(), {type: 'array'})).to.be.true)")]],
    ['chai messages', [I("pm.test('equal', () => pm.expect(401).to.equal(200)); pm.test('eql', () => pm.expect({a: 1, b: [1, 2]}).to.eql({a: 1, b: [1, 3]})); pm.test('include', () => pm.expect('hello').to.include('z')); pm.test('property', () => pm.expect({a: 1}).to.have.property('b')); pm.test('length', () => pm.expect([1, 2]).to.have.lengthOf(3)); pm.test('type', () => pm.expect(5).to.be.a('string')); pm.test('oneOf', () => pm.expect(5).to.be.oneOf([1, 2])); pm.test('match', () => pm.expect('abc').to.match(/^z/)); pm.test('above', () => pm.expect(1).to.be.above(2)); pm.test('long', () => pm.expect('a'.repeat(60)).to.equal('b')); pm.test('custom', () => pm.expect(1, 'custom msg').to.equal(2)); pm.test('fail', () => pm.expect.fail('boom')); pm.test('passes', () => pm.expect([1, 2]).to.include(2))")]],
    ['what a test throws', [I("pm.test('TypeError', () => { throw new TypeError('bad thing') }); pm.test('string', () => { throw 'a string' }); pm.test('object', () => { throw {message: 'm'} }); pm.test('named', () => { throw {name: 'Custom', message: 'c'} }); pm.test('empty', () => { throw new Error('') }); pm.test('null', () => { throw null }); pm.test('number', () => { throw 42 }); pm.test('undefined', () => { throw undefined }); pm.test('reference', () => { nothing.here }); pm.test('false', () => { throw false }); pm.test('no message', () => { throw {foo: 1} }); pm.test('array', () => { throw [1] })")]],
    ['async tests end when done is called', [I("pm.test('slow', function (done) { setTimeout(done, 90) }); pm.test('fails in a timer', function (done) { setTimeout(() => { pm.expect(1).to.equal(2); done() }, 30) }); pm.test('sync', () => {}); setTimeout(() => pm.test('from a timer', () => pm.expect(2).to.equal(3)), 60)")]],
    ['clearing scopes', [I("pm.environment.clear(); pm.globals.set('x', 1); pm.globals.clear(); pm.globals.set('after', 'clear'); console.log(pm.environment.toObject(), pm.globals.toObject()); postman.clearEnvironmentVariables(); postman.setEnvironmentVariable('o', {a: 1}); console.log(pm.environment.get('o'))")]],
    ['pm.test forms', [I("pm.test('no function'); pm.test.skip('skipped', () => { throw new Error('x') }); pm.test('done', function (done) { setTimeout(done, 5) }); pm.test('done err', function (done) { done(new Error('via done')) }); pm.test('done twice', function (done) { done(); done() }); pm.test('never done', function (done) {}); pm.test('nested', () => { pm.test('inner', () => {}) }); pm.test(123, () => {}); console.log(pm.test('rv', () => {}) === pm)")]],
    ['legacy tests object', [I("tests['true'] = true; tests['false'] = false; tests['zero'] = 0; tests['empty'] = ''; tests['text'] = 'x'; tests['null'] = null; tests['undefined'] = undefined; tests['nan'] = NaN; tests['object'] = {}; pm.test('pm test first', () => {}); setTimeout(() => { tests['in timer'] = false }, 1)")]],
    ['request headers changed before sending', [I("const j = pm.response.json(); console.log(j.headers['x-new'], j.headers['x-dup'], j.headers['x-str'], j.headers['x-off'], j.headers['content-type'])", { p: '/echo', m: 'POST', b: { mode: 'raw', raw: '{}' }, h: [{ key: 'X-Dup', value: '1' }, { key: 'Content-Type', value: 'text/plain' }, { key: 'X-Off', value: 'off', disabled: true }], pre: "const h = pm.request.headers; console.log(h.get('x-dup'), h.has('X-DUP'), h.toObject(), h.count()); h.add({key: 'X-New', value: 'n'}); h.upsert({key: 'x-dup', value: 'U'}); h.add('X-Str: s'); h.remove('content-type'); pm.request.upsertHeader({key: 'Content-Type', value: 'application/json'}); console.log(h.toString(), h.all())" })]],
    ['request url changed before sending', [I("console.log(pm.response.json().url, pm.request.url.getQueryString())", { p: '/echo?a=1&b=2', pre: "const u = pm.request.url; console.log(u.toString(), u.getHost(), u.getPath(), u.getPathWithQuery(), u.getRemote(), u.protocol, u.port, u.path, u.query.get('a'), u.query.toObject()); u.query.add({key: 'c', value: '3'}); u.query.upsert({key: 'a', value: '9'}); u.query.remove('b'); pm.request.addQueryParams('d=4'); console.log(u.toString())" }), I("console.log(pm.response.json().url)", { p: '/echo', pre: "pm.request.url = pm.request.url.toString() + '?set=1'; console.log(typeof pm.request.url)" })]],
    ['method, body and auth changed before sending', [I("const j = pm.response.json(); console.log(j.method, j.body, j.headers.authorization)", { p: '/echo', m: 'POST', b: { mode: 'raw', raw: 'hello' }, pre: "console.log(pm.request.method, pm.request.body.mode, pm.request.body.toString(), pm.request.body.isEmpty(), pm.request.auth); pm.request.method = 'PUT'; pm.request.body.raw = 'changed'; pm.request.auth = {type: 'bearer', bearer: [{key: 'token', value: 'tk'}]}" })]],
    ['legacy request object', [I('', { p: '/echo', m: 'POST', h: [{ key: 'X-Req', value: 'r' }], b: { mode: 'raw', raw: 'data' }, pre: "console.log(request.method, request.url, request.headers, request.data, request.name)" }), I('', { p: '/echo', m: 'POST', b: { mode: 'urlencoded', urlencoded: [{ key: 'a', value: '1' }] }, pre: "console.log(request.data, pm.request.body.urlencoded.get('a'))" })]],
    ['pm.execution.setNextRequest jumps', [I("pm.execution.setNextRequest('third')", { n: 'first' }), I("console.log('second ran')", { n: 'second' }), I("console.log('third ran')", { n: 'third' })]],
    ['the last setNextRequest wins, postman.setNextRequest too', [I("postman.setNextRequest('second'); pm.execution.setNextRequest('third')", { n: 'first' }), I("console.log('second ran')", { n: 'second' }), I("pm.execution.setNextRequest(null)", { n: 'third' }), I("console.log('never')", { n: 'fourth' })]],
    ['setNextRequest from a pre-request script', [I("console.log('first test')", { n: 'first', pre: "postman.setNextRequest('third')" }), I('', { n: 'second' }), I("console.log('third test')", { n: 'third' })]],
    ['skipRequest stops the script and the request', [I("console.log('test of skipped')", { n: 'skipped', pre: "console.log('before'); pm.execution.skipRequest(); console.log('after')" }), I("console.log('next ran')", { n: 'next' })]],
    ['pm.sendRequest with a URL, then a request object', [I("pm.sendRequest(pm.request.url.toString().replace('/json', '/json?status=201'), (err, res) => { console.log(err, res.code, res.status, res.json().name, res.headers.get('x-test')); pm.test('in callback', () => pm.expect(res).to.have.status(200)); pm.sendRequest({url: pm.request.url.toString().replace('/json', '/echo'), method: 'POST', header: {'X-A': '1'}, body: {mode: 'raw', raw: {a: 1}}}, (e2, r2) => { const j = r2.json(); console.log(j.method, j.headers['x-a'], j.body); pm.environment.set('sent', j.method) }) }); console.log('sync end')")]],
    ['pm.sendRequest failing to connect', [I("pm.sendRequest('http://127.0.0.1:1/', (err, res) => { console.log(err) })")], { differs: 'the error object is the engine\'s message, not node\'s socket error fields' }],
    ['pm.info and iteration data', [I("console.log(pm.info.eventName, pm.info.iteration, pm.info.iterationCount, pm.info.requestName, pm.info.requestId, pm.iterationData.get('d'), pm.iterationData.toObject(), data.d, iteration, pm.execution.location.current)", { pre: "console.log(pm.info.eventName, pm.iterationData.has('d'))" })], { data: [{ d: 'row1' }, { d: 'row2' }] }],
    ['pm.cookies from the jar', [I("console.log(pm.cookies.get('sid'), pm.cookies.has('sid'), pm.cookies.toObject())", { p: '/cookie' }), I("console.log(pm.cookies.toObject(), pm.cookies.has('nope'))")]],
    ['a thrown error ends the script, earlier tests stay', [I("pm.test('before', () => {}); foo.bar(); pm.test('after', () => {})")]],
    ['syntax errors', [I("pm.test('x', () => {};")]],
    ['throwing a string, an object, a RangeError', [I("throw 'plain string'"), I("throw {message: 'objmsg', name: 'Custom'}"), I("throw new RangeError('r')")]],
    ['top-level return', [I("pm.test('ran', () => {}); if (true) return; pm.test('not reached', () => {})")]],
    ['undeclared globals are shared, var and function stay local', [I("shared = 41; var local1 = 1; function fdecl() {}"), I("console.log(typeof shared, shared, typeof local1, typeof fdecl); shared++"), I("console.log(shared, eval('shared + 1'))")]],
    ['timers run in due order before the script ends', [I("setTimeout(() => console.log('t150'), 150); setTimeout(() => console.log('t45'), 45); var n = 0; const iv = setInterval(() => { console.log('iv', ++n); if (n >= 3) clearInterval(iv) }, 30); const c = setTimeout(() => console.log('cleared'), 1); clearTimeout(c); setTimeout(() => console.log('t0')); setTimeout((a) => console.log('no arguments', a), 200, 'x'); console.log('sync end')")]],
    ['require of the bundled modules', [I("const moment = require('moment'); console.log(moment.utc(0).format('YYYY-MM-DD'), require('lodash').VERSION, require('crypto-js').MD5('a').toString(), require('crypto-js').enc.Base64.stringify(require('crypto-js').enc.Utf8.parse('hi')), typeof require('uuid').v4(), require('atob')('aGk='), require('btoa')('hi'), require('csv-parse/lib/sync')('a,b\\n1,2', {columns: true}), require('cheerio').load('<p class=\"x\">para</p>')('.x').text(), new (require('ajv'))().validate({type: 'number'}, 1), require('tv4').validate(1, {type: 'string'}), require('buffer').Buffer.from('hi').toString('hex'))")]],
    ['xml2js and xml2Json', [I("console.log(xml2Json(pm.response.text())); require('xml2js').parseString(pm.response.text(), (err, r) => console.log(err, r.root.item[1]._))", { p: '/xml' })]],
    ['require of a module that is not there', [I("try { require('nope') } catch (e) { console.log(e.name, e.message) }")]],
    ['node modules newman lets scripts require', [I("console.log(typeof require('url'), typeof require('util'))")], { differs: 'node\'s own modules are not bundled' }],
    ['legacy module globals warn once per script', [I("_.VERSION; _.VERSION; CryptoJS.MD5('a'); console.log(atob('aGk='), btoa('hi'), cheerio.load('<b>x</b>')('b').text(), tv4.validate(1, {}), _.isArray([]), Buffer.from('hi').toString('base64'))"), I("console.log(_.VERSION)")]],
    ['console formatting of values', [I("console.log({a: 1, b: [1, 2, {c: 3}], s: 'str'}, [1, 'two'], null, undefined, 3.5, true, 'plain'); console.log({deep: {a: {b: {c: {d: {e: 1}}}}}}); console.log({k1: 'aaaaaaaa', k2: 'bbbbbbbbb'}, {k1: 'aaaaaaaa', k2: 'bbbbbbbbbb'}); console.log(Array.from({length: 30}, (x, i) => i + 1)); console.log(['alpha', 'beta', 'gamma', 'delta', 'epsilon', 'zeta', 'eta', 'theta']); console.log(\"it's\", 'x\"y', 'both \\' \"', 'tab\\there\\nline'); console.log(); console.log(''); console.log([], {}, [undefined, null], {'b-c': 1, 2: 3, a: undefined})")]],
    ['console formatting of objects of other kinds', [I("const c = {x: 1}; c.self = c; console.log(c); console.log(new Error('boom'), new TypeError('te')); console.log(function foo() {}, () => 1, {f() {}}); console.log(new Date(0), /re/g, new Map([[1, {a: 2}]]), new Set(['s']), [1, , 3], -0, 1e21, NaN); console.log(pm.response.headers); console.log(pm.response.json()); console.log(Array.from({length: 101}, () => 0).length, Array.from({length: 120}, (x, i) => i))")]],
    ['console levels', [I("console.info('i'); console.warn('w'); console.error({e: 1}); console.debug('d'); console.log('l', 1)")]],
];

// ---- running both ----
const ROOT = path.join(__dirname, '../..');
const NEWMAN = path.join(ROOT, 'tests/interop/node_modules/newman');
const MODULES_DIR = process.env.QV_SCRIPT_MODULES || '';

function skip(why) {
    process.stdout.write('bridge_differential: skipped: ' + why + '\n');
    process.exit(process.env.QV_REQUIRE_INTEROP ? 1 : 77);
}
if (!fs.existsSync(path.join(NEWMAN, 'package.json'))) skip('tests/interop/node_modules lacks newman (run scripts/interop-install)');
if (!fs.existsSync(path.join(MODULES_DIR, 'chai-postman/package.json'))) skip(MODULES_DIR + ' lacks the modules (scripts/setup installs them; QV_SCRIPT_MODULES names them)');

const newman = require(NEWMAN);
const { createBridge } = require('./bridge_shim.js');

const server = cp.spawn(process.execPath, [__filename, '--serve'], { stdio: ['ignore', 'pipe', 'inherit'] });
const WIDTH = 54; // the report's console box, when not on a terminal

// The sandbox answers pm.sendRequest through the host; here a child node
// makes the request, since the bridge waits for it.
const SEND = `let s='';process.stdin.on('data',c=>s+=c).on('end',()=>{const r=JSON.parse(s),u=new URL(r.url);
const h={};for(const x of r.headers)h[x.key]=x.value;let body=r.body&&r.body.mode==='raw'?r.body.raw:undefined;
if(r.body&&r.body.mode==='urlencoded'){body=r.body.urlencoded.map(p=>encodeURIComponent(p.key)+'='+encodeURIComponent(p.value)).join('&');h['Content-Type']='application/x-www-form-urlencoded';}
const t=Date.now();const q=require('http').request(u,{method:r.method,headers:h},res=>{let b='';res.on('data',c=>b+=c).on('end',()=>{
process.stdout.write(JSON.stringify({code:res.statusCode,status:res.statusMessage,headers:Object.entries(res.headers).map(([key,value])=>({key,value:String(value)})),body:b,responseTime:Date.now()-t}))})});
q.on('error',e=>process.stdout.write(JSON.stringify({error:e.message})));q.end(body);});`;
const host = (op, req) => JSON.parse(cp.execFileSync(process.execPath, ['-e', SEND], { input: JSON.stringify(req) }).toString());

function collectionOf(title, items, base) {
    return {
        info: { name: title, schema: 'https://schema.getpostman.com/json/collection/v2.1.0/collection.json' },
        variable: [{ key: 'cv', value: 'collval' }],
        // A last item shows the collection variables, which newman exports unchanged.
        item: items.concat(I('console.log(pm.collectionVariables.toObject())', { n: '__end' })).map((it, i) => ({
            id: 'id-' + i, name: it.n || 'item' + i,
            event: [['prerequest', it.pre], ['test', it.test]].filter((e) => e[1] !== undefined)
                .map(([listen, src]) => ({ listen, script: { type: 'text/javascript', exec: src.split('\n') } })),
            request: { method: it.m || 'GET', url: base + (it.p || '/json'), header: it.h || [], body: it.b },
        })),
    };
}

function runNewman(coll, data, dir) {
    const files = { json: path.join(dir, 'run.json'), env: path.join(dir, 'env.json'), globals: path.join(dir, 'globals.json') };
    const execs = [];
    let cli = '', own = false;
    return new Promise((resolve, reject) => {
        const write = process.stdout.write;
        process.stdout.write = (chunk) => { cli += chunk; return true; };
        newman.run({
            collection: coll, iterationData: data,
            environment: { name: 'env', values: [{ key: 'ev', value: 'envval', enabled: true }] },
            globals: { values: [{ key: 'gv', value: 'globval', enabled: true }] },
            reporters: ['cli', 'json'], color: 'off',
            reporter: { cli: { noSummary: true, noFailures: true, noBanner: true }, json: { export: files.json } },
            exportEnvironment: files.env, exportGlobals: files.globals,
        }).on('beforeRequest', () => { own = true; }).on('request', (err, a) => {
            // pm.sendRequest's requests come here too, without a beforeRequest.
            if (!own) return;
            own = false;
            execs.push({
                item: a.item.name,
                request: { id: a.item.id, name: a.item.name, method: a.request.method, url: a.request.url.toString(), headers: a.request.headers.all().map((h) => h.toJSON()), body: a.request.body ? a.request.body.toJSON() : null, auth: null },
                response: a.response && { code: a.response.code, status: a.response.status, headers: a.response.headers.all().map((h) => ({ key: h.key, value: h.value })), body: a.response.text(), responseTime: a.response.responseTime, responseSize: a.response.responseSize },
                cookies: (a.cookies || []).map((c) => (c.toJSON ? c.toJSON() : c)),
            });
        }).on('done', (err) => {
            process.stdout.write = write;
            if (err) return reject(err);
            const read = (f) => JSON.parse(fs.readFileSync(f, 'utf8'));
            const run = read(files.json).run;
            // The report lists an execution again for each pm.sendRequest it made.
            const executions = run.executions.filter((e, i, all) => !all.slice(0, i).some((o) => o.cursor.ref === e.cursor.ref));
            const result = { tests: [], errors: [], sequence: executions.map((e) => e.item.name), console: [] };
            for (const e of executions) {
                for (const [event, list] of [['prerequest', e.prerequestScript], ['test', e.testScript]]) {
                    for (const s of list || []) if (s.error) result.errors.push({ event, name: s.error.name || null, message: s.error.message || null });
                }
                for (const a of e.assertions || []) result.tests.push(a.error ? { name: a.assertion, passed: false, error: a.error.message, errorName: a.error.name } : Object.assign({ name: a.assertion, passed: true, error: null }, a.skipped ? { skipped: true } : {}));
            }
            result.console = cli.split('\n').filter((l) => l.startsWith('  │ ')).map((l) => l.slice(4).replace(/\s+$/, ''));
            result.variables = {
                environment: read(files.env).values.map((v) => ({ key: v.key, value: v.value })),
                globals: read(files.globals).values.map((v) => ({ key: v.key, value: v.value })),
            };
            resolve({ result, execs });
        });
    });
}

// The items of one case through the bridge, following newman's requests.
function runBridge(coll, data, execs) {
    const bridge = createBridge(MODULES_DIR, host);
    const rows = data || [{}];
    let vars = {
        globals: [{ key: 'gv', value: 'globval' }], collection: [{ key: 'cv', value: 'collval' }],
        environment: [{ key: 'ev', value: 'envval' }],
    };
    const result = { tests: [], errors: [], sequence: [], console: [] };
    const pending = execs.slice();
    for (let iteration = 0; iteration < rows.length; iteration++) {
        let index = 0;
        while (index < coll.item.length) {
            const item = coll.item[index];
            let next, skipped = false;
            const exec = () => pending[pending.findIndex((e) => e.item === item.name)];
            const event = (listen, request, response, cookies) => {
                const ev = item.event.find((e) => e.listen === listen);
                if (!ev) return;
                const out = bridge.run({
                    event: listen, script: ev.script.exec.join('\n'), location: [coll.info.name, item.name],
                    info: { eventName: listen, iteration, iterationCount: rows.length, requestName: item.name, requestId: item.id },
                    request, response, variables: Object.assign({ data: rows[iteration] }, vars), cookies,
                });
                if (out.error) result.errors.push({ event: listen, name: out.error.name, message: out.error.message });
                result.tests.push(...out.tests);
                result.console.push(...out.console.map((c) => c.text));
                vars = out.variables;
                if (out.nextRequest !== undefined) next = out.nextRequest;
                skipped = skipped || out.skipRequest;
            };
            const first = exec();
            event('prerequest', { id: item.id, name: item.name, method: item.request.method, url: item.request.url, headers: item.request.header, body: item.request.body || null, auth: null }, null, first ? first.cookies : []);
            if (!skipped) {
                result.sequence.push(item.name);
                const e = exec();
                pending.splice(pending.indexOf(e), 1);
                event('test', e.request, e.response, e.cookies);
            }
            if (next === null) break;
            index = next === undefined ? index + 1 : coll.item.findIndex((it) => it.name === next);
            if (index < 0) break;
        }
    }
    result.variables = { environment: vars.environment, globals: vars.globals };
    result.console = [].concat(...result.console.map((text) => [].concat(...text.split('\n').map((line) => {
        const chunks = [];
        for (let i = 0; i < line.length; i += WIDTH) chunks.push(line.slice(i, i + WIDTH));
        return chunks.length ? chunks.map((c) => c.replace(/\s+$/, '')) : [''];
    }))));
    return result;
}

function firstDifference(a, b, where) {
    if (JSON.stringify(a) === JSON.stringify(b)) return null;
    if (Array.isArray(a) && Array.isArray(b)) {
        for (let i = 0; i < Math.max(a.length, b.length); i++) {
            if (JSON.stringify(a[i]) !== JSON.stringify(b[i])) return `${where}[${i}]: newman ${JSON.stringify(a[i])}, bridge ${JSON.stringify(b[i])}`;
        }
    }
    return `${where}: newman ${JSON.stringify(a)}, bridge ${JSON.stringify(b)}`;
}

async function main() {
    const port = await new Promise((resolve) => server.stdout.once('data', (d) => resolve(String(d).trim())));
    const base = 'http://127.0.0.1:' + port;
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qv-bridge-'));
    const only = process.argv[2];
    let passed = 0, failed = 0;
    for (const [title, items, opts = {}] of CASES) {
        if (only && !title.includes(only)) continue;
        const coll = collectionOf(title, items, base);
        const { result: theirs, execs } = await runNewman(coll, opts.data, dir);
        let ours;
        try {
            ours = runBridge(coll, opts.data, execs);
        } catch (e) {
            ours = { crash: String(e.stack) };
        }
        const diffs = ['sequence', 'tests', 'errors', 'console', 'variables', 'crash']
            .map((k) => firstDifference(theirs[k], ours[k], k)).filter(Boolean);
        const ok = opts.differs ? diffs.length > 0 : diffs.length === 0;
        if (ok) passed++; else failed++;
        const mark = opts.differs ? (ok ? 'differs as meant (' + opts.differs + ')' : 'meant to differ but matches') : ok ? 'ok' : 'DIFFERS';
        process.stdout.write(`${ok ? 'ok  ' : 'FAIL'} ${title}: ${mark}\n`);
        if (!ok || process.env.QV_VERBOSE) for (const d of diffs) process.stdout.write('       ' + d + '\n');
    }
    fs.rmSync(dir, { recursive: true, force: true });
    server.kill();
    process.stdout.write(`${passed} passed, ${failed} failed\n`);
    process.exit(failed ? 1 : 0);
}

main().catch((e) => { process.stderr.write(String(e.stack) + '\n'); server.kill(); process.exit(1); });
