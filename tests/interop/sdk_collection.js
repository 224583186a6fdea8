// Writes a collection built with the postman-collection SDK to the file named
// by the first argument: folders, every body mode, several auth types, url
// objects, disabled and repeated headers.
'use strict';
const fs = require('fs');
const sdk = require('postman-collection');

function item(name, request) {
    return new sdk.Item({ name, request });
}

const collection = new sdk.Collection({ info: { name: 'SDK built' } });

collection.items.add(item('Status', {
    method: 'GET',
    url: 'http://127.0.0.1:8080/status?verbose=true&debug#top',
    header: [{ key: 'Accept', value: 'application/json' }],
}));

const users = new sdk.ItemGroup({ name: 'Users' });
const admin = new sdk.ItemGroup({ name: 'Admin' });
admin.items.add(item('Create user', {
    method: 'POST',
    url: '{{baseUrl}}/users',
    header: [
        { key: 'Content-Type', value: 'application/json' },
        { key: 'X-Trace', value: 'off', disabled: true },
        { key: 'X-Dup', value: 'one' },
        { key: 'X-Dup', value: 'two' },
    ],
    body: { mode: 'raw', raw: '{"name":"ann"}', options: { raw: { language: 'json' } } },
    auth: { type: 'bearer', bearer: [{ key: 'token', value: '{{token}}' }] },
}));
admin.items.add(item('Login', {
    method: 'POST',
    url: 'https://auth.example.test/login',
    body: { mode: 'urlencoded', urlencoded: [{ key: 'user', value: 'ann' }] },
    auth: { type: 'basic', basic: [{ key: 'username', value: 'ann' }, { key: 'password', value: 's3cret' }] },
}));
admin.items.add(item('Upload', {
    method: 'POST',
    url: 'https://files.example.test:8443/upload',
    body: { mode: 'formdata', formdata: [{ key: 'f', type: 'text', value: 'x' }] },
    auth: {
        type: 'apikey',
        apikey: [{ key: 'key', value: 'X-Api-Key' }, { key: 'value', value: 'k-123' }, { key: 'in', value: 'header' }],
    },
}));
admin.items.add(item('Put file', {
    method: 'PUT',
    url: 'https://files.example.test/blob',
    body: { mode: 'file', file: { src: '/tmp/blob.bin' } },
    auth: { type: 'digest', digest: [{ key: 'username', value: 'd' }, { key: 'realm', value: 'r' }] },
}));
admin.items.add(item('Graph', {
    method: 'POST',
    url: 'https://api.example.test/graphql',
    body: { mode: 'graphql', graphql: { query: '{ me { id } }' } },
    auth: { type: 'oauth2', oauth2: [{ key: 'accessToken', value: 'at' }, { key: 'addTokenTo', value: 'header' }] },
}));
users.items.add(admin);
users.items.add(item('List', {
    method: 'GET',
    url: {
        protocol: 'https',
        host: ['api', '{{domain}}', 'test'],
        port: '8443',
        path: ['v1', 'users'],
        query: [{ key: 'page', value: '2' }, { key: 'debug', value: '1', disabled: true }],
    },
    auth: { type: 'noauth' },
}));
collection.items.add(users);
collection.items.add(item('Raw text', {
    method: 'DELETE',
    url: 'http://127.0.0.1/items/7',
    body: { mode: 'raw', raw: 'plain text' },
}));

fs.writeFileSync(process.argv[2], JSON.stringify(collection.toJSON(), null, 2));
