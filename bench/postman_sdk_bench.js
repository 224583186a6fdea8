// Times what the postman-collection SDK does to load a collection file:
// new Collection(json) plus a walk of all its requests. Arguments: the file
// and the number of rounds. Prints JSON with the median and the fastest round
// in milliseconds, with and without reading and parsing the file.
'use strict';
const fs = require('fs');
const path = require('path');
const sdk = require(path.join(__dirname, '..', 'tests', 'interop', 'node_modules', 'postman-collection'));

const file = process.argv[2];
const rounds = Number(process.argv[3] || 10);

function load(json) {
    const collection = new sdk.Collection(json);
    let requests = 0;
    let bytes = 0;
    collection.forEachItem((item) => {
        const request = item.request;
        requests += 1;
        bytes += request.method.length + request.url.toString().length + request.headers.count();
        if (request.body && request.body.raw) bytes += request.body.raw.length;
    });
    return { requests, bytes };
}

function median(values) {
    const sorted = [...values].sort((a, b) => a - b);
    return sorted[Math.floor(sorted.length / 2)];
}

const withParse = [];
const sdkOnly = [];
let requests = 0;
for (let r = 0; r < rounds + 2; r += 1) {
    const t0 = process.hrtime.bigint();
    const json = JSON.parse(fs.readFileSync(file, 'utf8'));
    const t1 = process.hrtime.bigint();
    requests = load(json).requests;
    const t2 = process.hrtime.bigint();
    if (r < 2) continue;  // warm-up rounds
    withParse.push(Number(t2 - t0) / 1e6);
    sdkOnly.push(Number(t2 - t1) / 1e6);
}
process.stdout.write(JSON.stringify({
    requests,
    median_ms: median(sdkOnly),
    min_ms: Math.min(...sdkOnly),
    median_with_parse_ms: median(withParse),
}));
