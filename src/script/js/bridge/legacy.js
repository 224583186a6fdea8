// The globals of older collections: postman.*, tests, environment, globals,
// data, request, response*, iteration, xml2Json and the module shortcuts.
// Each warns once per script when used, as newman does (responseBody,
// responseTime and iteration are plain values and never do).
(function (qv) {
    'use strict';
    const dep = qv.deprecated;

    function xml2Json(xml) {
        let out;
        qv.mod('xml2js').parseString(xml, (err, result) => { out = err ? undefined : result; });
        return out;
    }

    qv.legacyGlobals = function (input, scopes, request, response, tests) {
        const env = scopes.environment.toObject(), glob = scopes.globals.toObject();
        const legacySet = (scope, mirror) => (key, value) => { scope.set(key, String(value)); mirror[key] = String(value); };
        const legacyUnset = (scope, mirror) => (key) => { scope.unset(key); delete mirror[key]; };
        const legacyClear = (scope, mirror) => () => { scope.clear(); for (const k of qv.keys(mirror)) delete mirror[k]; };
        const postman = {
            setEnvironmentVariable: legacySet(scopes.environment, env),
            getEnvironmentVariable: (key) => scopes.environment.get(key),
            clearEnvironmentVariable: legacyUnset(scopes.environment, env),
            clearEnvironmentVariables: legacyClear(scopes.environment, env),
            setGlobalVariable: legacySet(scopes.globals, glob),
            getGlobalVariable: (key) => scopes.globals.get(key),
            clearGlobalVariable: legacyUnset(scopes.globals, glob),
            clearGlobalVariables: legacyClear(scopes.globals, glob),
            setNextRequest: (name) => qv.setNextRequest(name),
            getResponseHeader: (name) => (response ? response.headers.get(name) : undefined),
            getResponseCookie: (name) => (response ? (input.cookies || []).filter((c) => c.name === name).pop() : undefined),
        };
        const g = {
            postman: dep(postman, 'postman.setNextRequest', 'pm.execution.setNextRequest()'),
            tests: dep(tests, 'tests', 'pm.test()'),
            environment: dep(env, 'environment', 'pm.environment'),
            globals: dep(glob, 'globals', 'pm.globals'),
            data: dep(scopes.data.toObject(), 'data', 'pm.iterationData'),
            request: dep(request.legacy(), 'request', 'pm.request'),
            iteration: (input.info || {}).iteration,
            xml2Json: dep(xml2Json, 'xml2Json', "require('xml2js')"),
            _: dep(qv.mod('lodash3'), '_', "require('lodash')"),
            CryptoJS: dep(qv.mod('crypto-js'), 'CryptoJS', "require('crypto-js')"),
            tv4: dep(qv.mod('tv4'), 'tv4', "require('ajv')"),
            atob: dep(qv.mod('atob'), 'atob', "require('atob')"),
            btoa: dep(qv.mod('btoa'), 'btoa', "require('btoa')"),
            cheerio: dep(qv.mod('cheerio'), 'cheerio', "require('cheerio')"),
            Buffer: qv.mod('buffer').Buffer,
            responseBody: undefined, responseCode: undefined, responseHeaders: undefined,
            responseCookies: undefined, responseTime: undefined,
        };
        if (response) {
            g.responseBody = response.text();
            g.responseCode = dep(response.details(), 'responseCode', 'pm.response.code');
            g.responseHeaders = dep(response.headers.toObject(false, true), 'responseHeaders', 'pm.response.headers');
            g.responseCookies = dep((input.cookies || []).slice(), 'responseCookies', 'pm.cookies');
            g.responseTime = response.responseTime;
        }
        return g;
    };
})(globalThis.__qv_bridge);
