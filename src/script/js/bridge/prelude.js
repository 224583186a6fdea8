// The bridge's private namespace, shared by the files that follow (see
// files.txt for their order). Scripts run in this same global object, so the
// namespace is a non-enumerable global that run.js removes once __qv_run is
// in place; every file reaches it as `qv` in its own closure.
(function () {
    'use strict';
    const qv = {};
    Object.defineProperty(globalThis, '__qv_bridge', { value: qv, configurable: true, writable: true });

    // Scripts may replace globals; the bridge keeps its own references.
    qv.stringify = JSON.stringify;
    qv.parse = JSON.parse;
    qv.keys = Object.keys;
    qv.isArray = Array.isArray;

    qv.mod = function (name) {
        const mods = globalThis.__qv_modules || {};
        if (!(name in mods)) throw new Error("Cannot find module '" + name + "'");
        return mods[name];
    };

    qv.has = (o, k) => Object.prototype.hasOwnProperty.call(o, k);
    qv.lower = (s) => String(s).toLowerCase();

    // A JSON-safe copy of a value a script stored (functions, cycles and
    // BigInts do not survive JSON; they become text rather than failing the run).
    qv.plain = function (v) {
        if (v === undefined) return null;
        try {
            const s = qv.stringify(v);
            return s === undefined ? null : qv.parse(s);
        } catch (e) {
            return String(v);
        }
    };

    // QuickJS words a few common errors differently from the engine newman
    // runs on; reports read as newman's.
    const WORDING = [
        [/^'(.*)' is not defined$/, (m) => m[1] + ' is not defined'],
        [/^cannot read property '(.*)' of (null|undefined)$/, (m) => 'Cannot read properties of ' + m[2] + " (reading '" + m[1] + "')"],
        [/^cannot set property '(.*)' of (null|undefined)$/, (m) => 'Cannot set properties of ' + m[2] + " (setting '" + m[1] + "')"],
    ];
    qv.wording = function (message) {
        const text = String(message);
        for (const [re, make] of WORDING) {
            const m = re.exec(text);
            if (m) return make(m);
        }
        return text;
    };

    // Per-run state that run.js resets: the output being built and the
    // deprecation warnings already given in this script.
    qv.state = null;

    // Legacy globals warn once per script when used, as newman's sandbox does.
    qv.deprecated = function (target, name, instead) {
        const warn = () => {
            const st = qv.state;
            if (!st || st.warned[name]) return;
            st.warned[name] = true;
            qv.log('warn', ['Using "' + name + '" is deprecated. Use "' + instead + '" instead.']);
        };
        if (target === null || (typeof target !== 'object' && typeof target !== 'function')) return target;
        return new Proxy(target, {
            get(t, k, r) { if (typeof k !== 'symbol') warn(); return Reflect.get(t, k, t); },
            set(t, k, v) { warn(); t[k] = v; return true; },
            deleteProperty(t, k) { warn(); return delete t[k]; },
            ownKeys(t) { warn(); return Reflect.ownKeys(t); },
            apply(t, self, args) { warn(); return Reflect.apply(t, self, args); },
        });
    };
})();
