// pm.response and the responses pm.sendRequest hands to its callback.
(function (qv) {
    'use strict';
    // Reason texts come from the http-reasons module when the bundle has it.
    const NAMES = {
        100: 'Continue', 101: 'Switching Protocols', 200: 'OK', 201: 'Created', 202: 'Accepted',
        204: 'No Content', 206: 'Partial Content', 301: 'Moved Permanently', 302: 'Found', 303: 'See Other',
        304: 'Not Modified', 307: 'Temporary Redirect', 308: 'Permanent Redirect', 400: 'Bad Request',
        401: 'Unauthorized', 403: 'Forbidden', 404: 'Not Found', 405: 'Method Not Allowed',
        406: 'Not Acceptable', 409: 'Conflict', 410: 'Gone', 415: 'Unsupported Media Type',
        422: 'Unprocessable Entity', 429: 'Too Many Requests', 500: 'Internal Server Error',
        501: 'Not Implemented', 502: 'Bad Gateway', 503: 'Service Unavailable', 504: 'Gateway Timeout',
    };
    function reasonOf(code) {
        const mods = globalThis.__qv_modules || {};
        const found = mods['http-reasons'] && mods['http-reasons'].lookup(code);
        return found && found.name ? found : { name: NAMES[code], detail: '' };
    }

    function utf8Length(s) {
        let n = 0;
        for (let i = 0; i < s.length; i++) {
            const c = s.charCodeAt(i);
            if (c < 0x80) n += 1;
            else if (c < 0x800) n += 2;
            else if (c >= 0xd800 && c < 0xdc00) { n += 4; i++; } else n += 3;
        }
        return n;
    }

    function Response(r) {
        r = r || {};
        Object.defineProperty(this, '_body', { value: r.body === undefined || r.body === null ? '' : String(r.body) });
        this.id = r.id || qv.uuid();
        this.status = r.status;
        this.code = r.code;
        this.headers = qv.headerList(r.headers || []);
        this.cookies = qv.cookieList(r.cookies || []);
        this.responseTime = r.responseTime;
        this.responseSize = r.responseSize !== undefined ? r.responseSize : utf8Length(this._body);
        Object.defineProperty(this, 'to', { get: () => qv.expect(this).to });
    }
    const P = Response.prototype;
    P.text = function () { return this._body; };
    P.json = function () { return qv.parseJSON(this._body); };
    P.reason = function () { return this.status; };
    P.details = function () {
        const found = reasonOf(this.code);
        const name = found.name || this.status;
        return { name: name, detail: found.detail || '', code: this.code, standardName: name };
    };
    // Header bytes as the status line, the header lines and the blank line.
    P.size = function () {
        let header = ('HTTP/1.1 ' + this.code + ' ' + (this.status || '')).length + 2 + 2;
        for (const h of this.headers.all()) header += String(h.key).length + 2 + String(h.value).length + 2;
        const body = this.responseSize || 0;
        return { body: body, header: header, total: body + header };
    };
    P.toJSON = function () {
        const bytes = [];
        const text = unescape(encodeURIComponent(this._body));
        for (let i = 0; i < text.length; i++) bytes.push(text.charCodeAt(i));
        return {
            id: this.id, status: this.status, code: this.code, header: this.headers.toJSON(),
            stream: { type: 'Buffer', data: bytes }, cookie: this.cookies.toJSON(),
            responseTime: this.responseTime, responseSize: this.responseSize,
        };
    };

    qv.Response = Response;
})(globalThis.__qv_bridge);
