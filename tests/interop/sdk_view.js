// Loads the collection file named by the first argument with the
// postman-collection SDK and prints, as JSON, every request as the SDK sees
// it: name, method, URL text, headers and body.
'use strict';
const fs = require('fs');
const sdk = require('postman-collection');

const collection = new sdk.Collection(JSON.parse(fs.readFileSync(process.argv[2], 'utf8')));
const requests = [];
collection.forEachItem((item) => {
    const request = item.request;
    requests.push({
        name: item.name,
        method: request.method,
        url: request.url.toString(),
        header: request.headers.all().map((h) => [h.key, h.value]),
        body: request.body ? { mode: request.body.mode, raw: request.body.raw } : null,
    });
});
process.stdout.write(JSON.stringify({ name: collection.name, requests }));
