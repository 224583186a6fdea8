// Variable scopes: globals, collection, environment and the iteration's data
// come in with each call; local variables (pm.variables.set) live in the
// context for the whole run, as newman keeps them across items and
// iterations. pm.variables reads local > data > environment > collection >
// globals.
(function (qv) {
    'use strict';
    const PLACEHOLDER = /\{\{([^{}]+)\}\}/g;
    const off = (m) => m.disabled === true || m.enabled === false;

    function Scope(values, name) {
        Object.defineProperty(this, 'values', { value: (values || []).map((v) => Object.assign({}, v)), writable: true });
        if (name !== undefined) this.name = name;
    }
    const S = Scope.prototype;
    S._find = function (key) {
        for (let i = this.values.length - 1; i >= 0; i--) if (this.values[i].key === String(key)) return this.values[i];
        return undefined;
    };
    S.has = function (key) { const m = this._find(key); return !!m && !off(m); };
    S.get = function (key) { const m = this._find(key); return m && !off(m) ? m.value : undefined; };
    S.set = function (key, value) {
        const m = this._find(key);
        if (!m) { this.values.push({ key: String(key), value: value }); return; }
        m.value = value;
        delete m.disabled;
        if (m.enabled === false) m.enabled = true;
    };
    S.unset = function (key) { this.values = this.values.filter((m) => m.key !== String(key)); };
    S.clear = function () { this.values = []; };
    S.toObject = function () {
        const out = {};
        for (const m of this.values) if (!off(m) && m.value !== undefined) out[m.key] = m.value;
        return out;
    };
    S.replaceIn = function (text) { return qv.replaceIn(text, (k) => this.get(k)); };
    S.toJSON = function () { return { values: this.list() }; };
    S.list = function () {
        return this.values.map((m) => Object.assign({}, m, { value: qv.plain(m.value) }));
    };

    // A few of the dynamic variables; the rest stay as written.
    const dynamic = {
        $guid: () => qv.uuid(),
        $randomUUID: () => qv.uuid(),
        $timestamp: () => String(Math.floor(Date.now() / 1000)),
        $isoTimestamp: () => new Date().toISOString(),
        $randomInt: () => String(Math.floor(Math.random() * 1001)),
    };
    // Ids and {{$guid}} need no strong randomness (QuickJS has no crypto for
    // the uuid module).
    qv.uuid = () => 'xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx'.replace(/[xy]/g, (c) => {
        const r = Math.floor(Math.random() * 16);
        return (c === 'x' ? r : (r & 3) | 8).toString(16);
    });

    // Placeholders resolve again while they yield more, up to newman's depth.
    qv.replaceIn = function (text, lookup) {
        if (typeof text !== 'string') return text;
        let out = text;
        for (let depth = 0; depth < 20; depth++) {
            let changed = false;
            out = out.replace(PLACEHOLDER, (whole, name) => {
                const v = qv.has(dynamic, name) ? dynamic[name]() : lookup(name);
                if (v === undefined) return whole;
                changed = true;
                return v === null ? 'null' : String(v);
            });
            if (!changed || out.indexOf('{{') < 0) break;
        }
        return out;
    };

    qv.local = new Scope([]);
    qv.Scope = Scope;

    // pm.variables over the scopes of one call.
    qv.variables = function (s) {
        const chain = [qv.local, s.data, s.environment, s.collection, s.globals];
        const lookup = (key) => {
            for (const scope of chain) if (scope.has(key)) return scope.get(key);
            return undefined;
        };
        return {
            get: lookup,
            has: (key) => chain.some((scope) => scope.has(key)),
            set: (key, value) => qv.local.set(key, value),
            unset: (key) => qv.local.unset(key),
            clear: () => qv.local.clear(),
            toObject: () => Object.assign({}, s.globals.toObject(), s.collection.toObject(),
                s.environment.toObject(), s.data.toObject(), qv.local.toObject()),
            replaceIn: (text) => qv.replaceIn(text, lookup),
        };
    };

    qv.scopesFrom = function (vars) {
        const v = vars || {};
        const data = v.data && typeof v.data === 'object' ? v.data : {};
        return {
            globals: new Scope(v.globals),
            collection: new Scope(v.collection),
            environment: new Scope(v.environment, v.environmentName),
            data: new Scope(qv.keys(data).map((k) => ({ key: k, value: data[k] }))),
        };
    };
})(globalThis.__qv_bridge);
