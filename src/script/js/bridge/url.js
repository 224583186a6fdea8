// pm.request.url: the URL text split into protocol, auth, host labels, port,
// path segments, query list and hash, and joined back by toString(). Text
// with {{placeholders}} splits and joins back unchanged.
(function (qv) {
    'use strict';

    function Url(text) { this.update(text); }
    const U = Url.prototype;

    U.update = function (text) {
        if (text && typeof text === 'object') text = text.raw !== undefined ? text.raw : new Url('').fromParts(text).toString();
        let rest = String(text === undefined || text === null ? '' : text).trim();
        let at = rest.indexOf('#');
        this.hash = at < 0 ? undefined : rest.slice(at + 1);
        if (at >= 0) rest = rest.slice(0, at);
        at = rest.indexOf('?');
        this.query = qv.paramList(at < 0 ? [] : qv.parseParams(rest.slice(at + 1)));
        if (at >= 0) rest = rest.slice(0, at);
        const proto = /^([^:/?#{}]+):\/\//.exec(rest);
        this.protocol = proto ? proto[1] : undefined;
        if (proto) rest = rest.slice(proto[0].length);
        at = rest.indexOf('/');
        let authority = at < 0 ? rest : rest.slice(0, at);
        this.path = at < 0 ? [] : rest.slice(at + 1).split('/');
        const cred = authority.lastIndexOf('@');
        this.auth = undefined;
        if (cred >= 0) {
            const pair = authority.slice(0, cred), colon = pair.indexOf(':');
            this.auth = colon < 0 ? { user: pair } : { user: pair.slice(0, colon), password: pair.slice(colon + 1) };
            authority = authority.slice(cred + 1);
        }
        const port = /:(\d+|\{\{[^{}]*\}\})$/.exec(authority);
        this.port = port ? port[1] : undefined;
        if (port) authority = authority.slice(0, port.index);
        this.host = authority === '' ? undefined : authority.split('.');
        this.variables = qv.paramList([]);
        return this;
    };

    U.fromParts = function (o) {
        this.protocol = o.protocol;
        this.host = typeof o.host === 'string' ? o.host.split('.') : o.host;
        this.port = o.port;
        this.path = typeof o.path === 'string' ? o.path.replace(/^\//, '').split('/') : o.path || [];
        this.query = qv.paramList(o.query || []);
        this.hash = o.hash;
        return this;
    };

    U.getHost = function () { return (this.host || []).join('.'); };
    U.getRemote = function () { return this.getHost() + (this.port ? ':' + this.port : ''); };
    U.getPath = function () { return '/' + (this.path || []).join('/'); };
    U.getQueryString = function () { return qv.queryText(this.query.filter((m) => !m.disabled)); };
    U.getPathWithQuery = function () {
        const q = this.getQueryString();
        return this.getPath() + (q ? '?' + q : '');
    };
    U.getRaw = function () { return this.toString(); };
    U.addQueryParams = function (params) {
        this.query.populate(typeof params === 'string' ? qv.parseParams(params) : params);
    };
    U.removeQueryParams = function (params) {
        for (const p of [].concat(params)) this.query.remove(typeof p === 'string' ? p : p.key);
    };
    U.toString = function () {
        let s = this.protocol ? this.protocol + '://' : '';
        if (this.auth) s += this.auth.user + (this.auth.password !== undefined ? ':' + this.auth.password : '') + '@';
        s += this.getHost() + (this.port ? ':' + this.port : '');
        if (this.path && this.path.length) s += '/' + this.path.join('/');
        const q = this.getQueryString();
        if (q) s += '?' + q;
        if (this.hash !== undefined) s += '#' + this.hash;
        return s;
    };
    U.toJSON = function () {
        const o = { protocol: this.protocol, port: this.port, path: this.path, host: this.host };
        if (this.auth) o.auth = this.auth;
        o.query = this.query.toJSON();
        if (this.hash !== undefined) o.hash = this.hash;
        o.variable = [];
        return o;
    };

    qv.Url = Url;
})(globalThis.__qv_bridge);
