// pm.request and the requests of pm.sendRequest: a Postman request whose
// url, headers, method, body and auth a pre-request script may change; the
// output carries it back as it was left.
(function (qv) {
    'use strict';

    function Body(b) {
        Object.assign(this, b);
        if (this.urlencoded !== undefined) this.urlencoded = qv.paramList(this.urlencoded);
        if (this.formdata !== undefined) this.formdata = qv.paramList(this.formdata);
    }
    Body.prototype.toString = function () {
        if (this.mode === 'raw') return this.raw === undefined ? '' : String(this.raw);
        if (this.mode === 'urlencoded' && this.urlencoded) return this.urlencoded.toString();
        if (this.mode === 'graphql' && this.graphql) return qv.stringify(this.graphql);
        return '';
    };
    Body.prototype.isEmpty = function () {
        const v = this.mode && this[this.mode];
        if (v instanceof qv.PropertyList) return v.count() === 0;
        return v === undefined || v === null || v === '' || (typeof v === 'object' && !qv.keys(v).length);
    };
    Body.prototype.toJSON = function () {
        const o = {};
        for (const k of qv.keys(this)) o[k] = this[k] instanceof qv.PropertyList ? this[k].toJSON() : this[k];
        return o;
    };

    function Request(r) {
        r = r || {};
        if (r.id !== undefined) this.id = r.id;
        if (r.name !== undefined) this.name = r.name;
        this.url = new qv.Url(r.url);
        this.headers = qv.headerList(r.headers || []);
        this.method = String(r.method || 'GET').toUpperCase();
        if (r.body) this.body = new Body(r.body);
        if (r.auth) this.auth = r.auth;
        Object.defineProperty(this, 'to', { get: () => qv.expect(this).to });
    }
    const R = Request.prototype;
    R.addHeader = function (h) { this.headers.add(h); };
    R.upsertHeader = function (h) { this.headers.upsert(h); };
    R.removeHeader = function (h) { this.headers.remove(typeof h === 'object' ? h.key : h); };
    R.getHeaders = function (opts) {
        const o = opts || {}, out = {};
        for (const m of this.headers.all()) {
            if (o.enabled && m.disabled) continue;
            const k = o.ignoreCase ? qv.lower(m.key) : m.key;
            out[k] = qv.has(out, k) && o.multiValue ? [].concat(out[k], m.value) : m.value;
        }
        return out;
    };
    R.addQueryParams = function (p) { this.url.addQueryParams(p); };
    R.removeQueryParams = function (p) { this.url.removeQueryParams(p); };
    R.toJSON = function () {
        const o = { url: this.url, header: this.headers.toJSON(), method: this.method };
        if (this.body) o.body = this.body.toJSON();
        if (this.auth) o.auth = this.auth;
        return qv.parse(qv.stringify(o));
    };

    // Shape of the contract's "request": url as text, headers as a list.
    R.output = function () {
        return {
            id: this.id, name: this.name, method: String(this.method),
            url: String(this.url),
            headers: this.headers.all().map((h) => {
                const o = { key: String(h.key), value: h.value === undefined || h.value === null ? '' : String(h.value) };
                if (h.disabled) o.disabled = true;
                return o;
            }),
            body: this.body ? qv.plain(this.body.toJSON()) : null,
            auth: this.auth ? qv.plain(this.auth) : null,
        };
    };

    // The legacy `request` global: headers by lower-case name, the body as data.
    R.legacy = function () {
        const data = {};
        let body = data;
        const b = this.body;
        if (b && b.mode === 'raw') body = b.raw;
        else if (b && (b.mode === 'urlencoded' || b.mode === 'formdata') && b[b.mode]) body = b[b.mode].toObject(true);
        return { id: this.id, name: this.name, headers: this.headers.toObject(true), method: this.method, url: String(this.url), data: body };
    };

    // pm.sendRequest takes a URL or a Postman request (url text or object;
    // headers as a list, "Key: value" lines or an object; raw bodies as text
    // or JSON).
    qv.sendable = function (req) {
        if (typeof req === 'string' || req instanceof qv.Url) req = { url: String(req) };
        if (req instanceof Request) return req.output();
        let headers = req.header || req.headers || [];
        if (!qv.isArray(headers) && typeof headers === 'object' && !(headers instanceof qv.PropertyList)) {
            headers = qv.keys(headers).map((k) => ({ key: k, value: headers[k] }));
        }
        const r = new Request({ url: req.url, method: req.method, headers: headers instanceof qv.PropertyList ? headers.all() : headers, auth: req.auth });
        if (req.body) {
            const b = Object.assign({}, req.body instanceof Body ? req.body.toJSON() : req.body);
            if (b.mode === 'raw' && typeof b.raw !== 'string' && b.raw !== undefined) b.raw = qv.stringify(b.raw);
            r.body = new Body(b);
        }
        if (!/^[^:/?#{}]+:\/\//.test(String(r.url))) r.url = new qv.Url('http://' + String(r.url));
        return r.output();
    };

    qv.Request = Request;
})(globalThis.__qv_bridge);
