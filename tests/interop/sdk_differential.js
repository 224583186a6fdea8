// Writes a collection built with the postman-collection SDK's own classes to
// the file named by the first argument, with requests for the tests' local
// recording server ({{host}} and {{port}}) and files under the directory
// named by the second argument.
'use strict';
const fs = require('fs');
const sdk = require('postman-collection');

const dir = process.argv[3];
const collection = new sdk.Collection({ info: { name: 'SDK differential' } });
collection.variables.add(new sdk.Variable({ key: 'base', value: 'http://{{host}}:{{port}}' }));
collection.variables.add(new sdk.Variable({ key: 'id', value: '7' }));
collection.auth = new sdk.RequestAuth({
    type: 'apikey',
    apikey: [{ key: 'key', value: 'X-Coll' }, { key: 'value', value: 'ck' }],
});

// Plain definitions handed to the SDK's classes, which give them the shapes
// the SDK writes (url objects without "raw", auth as arrays).
function add(parent, name, request, extra) {
    parent.items.add(new sdk.Item(Object.assign({ name, request }, extra || {})));
}

add(collection, 'sdk url', {
    method: 'GET',
    url: {
        protocol: 'http', host: ['{{host}}'], port: '{{port}}', path: ['sdk', ':id', 'x y'],
        query: [{ key: 'q', value: 'a b' }, { key: 'off', value: '1', disabled: true }],
        variable: [{ key: 'id', value: '{{id}}' }],
    },
    header: [{ key: 'X-Sdk', value: '1' }, { key: 'X-Off', value: '0', disabled: true }],
});
add(collection, 'sdk urlencoded', {
    method: 'POST',
    url: '{{base}}/sdk/form',
    body: { mode: 'urlencoded', urlencoded: [{ key: 'a', value: '1&2' }, { key: 'b', value: 'c d' }] },
    auth: { type: 'noauth' },
});
const group = new sdk.ItemGroup({ name: 'SDK group', auth: { type: 'bearer', bearer: [{ key: 'token', value: 'grp' }] } });
add(group, 'sdk formdata', {
    method: 'PUT',
    url: '{{base}}/sdk/multipart',
    body: { mode: 'formdata', formdata: [{ key: 'n', value: 'v', type: 'text' }, { key: 'up', src: dir + '/part.txt', type: 'file' }] },
});
add(group, 'sdk raw json', {
    method: 'POST',
    url: '{{base}}/sdk/json',
    body: { mode: 'raw', raw: '{"id": {{id}}}', options: { raw: { language: 'json' } } },
});
add(group, 'sdk graphql', {
    method: 'POST',
    url: '{{base}}/sdk/graphql',
    body: { mode: 'graphql', graphql: { query: '{ me { id } }' } },
});
collection.items.add(group);
add(collection, 'sdk file', {
    method: 'PUT',
    url: '{{base}}/sdk/file',
    body: { mode: 'file', file: { src: dir + '/blob.bin' } },
});

fs.writeFileSync(process.argv[2], JSON.stringify(collection.toJSON(), null, 1));
