// Compares a Postman collection with the full export of its round trip (full
// import, collection file, full export) and prints, as a JSON array, every
// fact of the first that the second does not carry, then whether the
// postman-collection SDK reads both to the same collection. What the round
// trip may change is normalised away on both sides: v2.0 auth objects as
// v2.1 parameter lists (their order and "type"), a script's exec as lines
// or one string, a description as a string or {content}, member order,
// "disabled": false, and the schema URL.
'use strict';
const fs = require('fs');
const sdk = require('postman-collection');

function normal(value, key) {
    if (Array.isArray(value)) return value.map((v) => normal(v));
    if (value === null || typeof value !== 'object') return value;
    if (key === 'description' && Object.keys(value).length === 1 && 'content' in value) return value.content;
    const out = {};
    for (const k of Object.keys(value).sort()) {
        let v = value[k];
        if (k === 'disabled' && v === false) continue;
        if (k === 'exec' && Array.isArray(v)) v = v.join('\n');
        if (k === 'schema' && key === 'info') continue;
        out[k] = normal(v, k);
    }
    // Auth parameters: {key, value} pairs by key, whatever the form.
    if (typeof out.type === 'string' && key === 'auth' && out[out.type] !== undefined) {
        let params = out[out.type];
        if (!Array.isArray(params)) params = Object.keys(params).map((k) => ({ key: k, value: params[k] }));
        out[out.type] = params.map((p) => ({ key: p.key, value: p.value }))
            .sort((a, b) => String(a.key).localeCompare(String(b.key)));
    }
    return out;
}

// Each leaf as "path = value".
function facts(value, path, out) {
    if (value !== null && typeof value === 'object') {
        const keys = Object.keys(value);
        if (keys.length === 0) out.push(path + ' = ' + (Array.isArray(value) ? '[]' : '{}'));
        for (const k of keys) facts(value[k], path + '/' + k, out);
    } else {
        out.push(path + ' = ' + JSON.stringify(value));
    }
    return out;
}

const original = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
const exported = JSON.parse(fs.readFileSync(process.argv[3], 'utf8'));
const carried = new Set(facts(normal(exported), '', []));
const missing = facts(normal(original), '', []).filter((f) => !carried.has(f));
// The SDK makes up ids where the file has none; the facts above check those it has.
const withoutIds = (v) => JSON.parse(JSON.stringify(v, (k, x) => (k === 'id' || k === '_postman_id' ? undefined : x)));
const view = (json) => JSON.stringify(normal(withoutIds(new sdk.Collection(json).toJSON())));
const sdkSame = view(original) === view(exported);
process.stdout.write(JSON.stringify({ missing, sdkSame }));
