// Runs the collection file named by the first argument with newman against a
// server of its own on 127.0.0.1 and prints, as JSON, each request the server
// received: method, target, raw headers and body. The environment gives
// {{host}}, {{port}} and {{id}}.
'use strict';
const http = require('http');
const newman = require('newman');

const received = [];
const server = http.createServer((req, res) => {
    const chunks = [];
    req.on('data', (c) => chunks.push(c));
    req.on('end', () => {
        const header = [];
        for (let i = 0; i < req.rawHeaders.length; i += 2) header.push([req.rawHeaders[i], req.rawHeaders[i + 1]]);
        received.push({ method: req.method, target: req.url, header, body: Buffer.concat(chunks).toString('utf8') });
        res.writeHead(200, { 'Content-Type': 'application/json' });
        res.end('{"ok":true}');
    });
});

// Never hang a test run: give up after a fixed time.
const guard = setTimeout(() => {
    process.stderr.write('newman_send: timed out\n');
    process.exit(2);
}, 60000);

server.listen(0, '127.0.0.1', () => {
    const port = String(server.address().port);
    newman.run({
        collection: process.argv[2],
        envVar: [{ key: 'host', value: '127.0.0.1' }, { key: 'port', value: port }, { key: 'id', value: '7' }],
        reporters: [],
        timeoutRequest: 10000,
    }, (err, summary) => {
        clearTimeout(guard);
        server.close();
        const failures = err ? [String(err)] : summary.run.failures.map((f) => String(f.error && f.error.message));
        process.stdout.write(JSON.stringify({ failures, received }));
    });
});
