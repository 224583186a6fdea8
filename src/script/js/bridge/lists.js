// Keyed lists as scripts know them: request and response headers (keys
// without case, duplicates kept), query parameters, form fields and cookies.
// A key names its last member, as in newman.
(function (qv) {
    'use strict';

    function PropertyList(members, opts) {
        Object.defineProperty(this, '_opts', { value: opts });
        Object.defineProperty(this, 'members', { value: [], writable: true });
        this.populate(members || []);
    }
    const P = PropertyList.prototype;

    P._key = function (k) { return this._opts.ci ? qv.lower(k) : String(k); };
    P._of = function (m) { return this._key(m[this._opts.keyName || 'key']); };
    // Members keep newman's order of fields: disabled, key, value, the rest.
    P._make = function (item) {
        const m = typeof item === 'string' && this._opts.parse ? this._opts.parse(item) : item;
        const out = m.disabled !== undefined ? { disabled: m.disabled } : {};
        return Object.assign(out, m);
    };
    P._last = function (key) {
        const k = this._key(key);
        for (let i = this.members.length - 1; i >= 0; i--) if (this._of(this.members[i]) === k) return i;
        return -1;
    };

    P.populate = function (items) {
        for (const item of qv.isArray(items) ? items : [items]) if (item !== undefined && item !== null) this.add(item);
    };
    P.repopulate = function (items) { this.clear(); this.populate(items); };
    P.add = function (item) { this.members.push(this._make(item)); };
    P.append = P.add;
    P.prepend = function (item) { this.members.unshift(this._make(item)); };
    P.upsert = function (item) {
        const m = this._make(item), i = this._last(m[this._opts.keyName || 'key']);
        if (i < 0) { this.members.push(m); return true; }
        Object.assign(this.members[i], m);
        return false;
    };
    P.remove = function (what, ctx) {
        let drop;
        if (typeof what === 'function') drop = (m) => what.call(ctx, m);
        else if (what && typeof what === 'object') drop = (m) => m === what || this._of(m) === this._of(what);
        else drop = (m) => this._of(m) === this._key(what);
        this.members = this.members.filter((m) => !drop(m));
    };
    P.clear = function () { this.members = []; };
    P.one = function (key) { const i = this._last(key); return i < 0 ? undefined : this.members[i]; };
    P.get = function (key) { const m = this.one(key); return m === undefined ? undefined : m.value; };
    P.has = function (key, value) {
        const k = this._key(key);
        return this.members.some((m) => this._of(m) === k && (arguments.length < 2 || m.value === value));
    };
    P.idx = function (i) { return this.members[i]; };
    P.indexOf = function (item) {
        return typeof item === 'string' ? this._last(item) : this.members.indexOf(item);
    };
    P.all = function () { return this.members.slice(); };
    P.count = function () { return this.members.length; };
    P.each = function (fn, ctx) { this.members.forEach((m) => fn.call(ctx, m)); };
    P.map = function (fn, ctx) { return this.members.map((m) => fn.call(ctx, m)); };
    P.filter = function (fn, ctx) { return this.members.filter((m) => fn.call(ctx, m)); };
    P.find = function (fn, ctx) { return this.members.find((m) => fn.call(ctx, m)); };
    P.reduce = function (fn, acc, ctx) { return this.members.reduce((a, m) => fn.call(ctx, a, m), acc); };
    P.toObject = function (excludeDisabled, caseSensitive, multiValue) {
        const out = {}, multi = multiValue || this._opts.multi;
        for (const m of this.members) {
            if (excludeDisabled && m.disabled) continue;
            const raw = m[this._opts.keyName || 'key'];
            const k = this._opts.ci && !caseSensitive ? qv.lower(raw) : raw;
            if (multi && qv.has(out, k)) out[k] = [].concat(out[k], m.value);
            else out[k] = m.value;
        }
        return out;
    };
    P.toJSON = function () { return this.members.map((m) => Object.assign({}, m)); };
    P.toString = function () {
        return this._opts.text ? this._opts.text(this.members.filter((m) => !m.disabled)) : '[object Object]';
    };

    function parseHeader(line) {
        const at = line.indexOf(':');
        return at < 0 ? { key: line.trim(), value: '' } : { key: line.slice(0, at).trim(), value: line.slice(at + 1).trim() };
    }
    function parseParam(text) {
        const at = text.indexOf('=');
        return at < 0 ? { key: text, value: null } : { key: text.slice(0, at), value: text.slice(at + 1) };
    }
    qv.queryText = (ms) => ms.map((m) => (m.value === null || m.value === undefined ? m.key : m.key + '=' + m.value)).join('&');

    qv.PropertyList = PropertyList;
    qv.headerList = (items) => new PropertyList(items, {
        ci: true, multi: true, parse: parseHeader,
        text: (ms) => ms.map((m) => m.key + ': ' + m.value + '\r\n').join(''),
    });
    qv.paramList = (items) => new PropertyList(items, { multi: true, parse: parseParam, text: qv.queryText });
    qv.cookieList = (items) => new PropertyList(items, { keyName: 'name' });
    qv.parseParams = (text) => String(text).split('&').filter((s) => s !== '').map(parseParam);
})(globalThis.__qv_bridge);
