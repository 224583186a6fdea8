// pm.response.json(): the engine's JSON.parse for valid text; for invalid
// text a JSONError worded as newman words it, "Unexpected token 'h' at 1:1"
// followed by the line and a caret under the place.
(function (qv) {
    'use strict';

    function JSONError(message) {
        const e = new Error(message);
        e.name = 'JSONError';
        return e;
    }

    // shift moves the reported column, not the caret (see members()).
    function fail(text, pos, message, shift) {
        const before = text.slice(0, pos).split('\n');
        const line = before.length, col = before[before.length - 1].length + 1;
        const lineText = text.split('\n')[line - 1].slice(0, 79);
        throw JSONError(message + ' at ' + line + ':' + (col + (shift || 0)) + '\n' + lineText + '\n' + ' '.repeat(col - 1) + '^');
    }

    // Finds where and why text is not JSON; only called once JSON.parse refused it.
    function diagnose(text) {
        let i = 0;
        const ws = () => { while (i < text.length && ' \t\r\n'.indexOf(text[i]) >= 0) i++; };
        const token = () => fail(text, i, "Unexpected token '" + text[i] + "'");
        const end = () => fail(text, text.length, 'Unexpected end of input');

        function value(key) {
            ws();
            if (i >= text.length) fail(text, i, text.length ? 'No data, only a whitespace' : 'No data, empty input');
            const c = text[i];
            if (c === '{') return object();
            if (c === '[') return array();
            if (c === '"') return string();
            if (c === '-' || (c >= '0' && c <= '9')) return number();
            for (const word of ['true', 'false', 'null']) {
                if (word[0] === c) {
                    if (text.slice(i, i + word.length) !== word) token();
                    i += word.length;
                    return;
                }
            }
            if (key !== undefined) fail(text, i, 'No value found for key ' + key);
            token();
        }
        function string() {
            const start = ++i;
            while (i < text.length && text[i] !== '"') {
                if (text[i] === '\\') {
                    i++;
                    if (i < text.length && '"\\/bfnrtu'.indexOf(text[i]) < 0) token();
                }
                i++;
            }
            if (i >= text.length) end();
            return text.slice(start, i++);
        }
        function number() {
            const m = /^-?(\d+(\.\d+)?([eE][+-]?\d+)?)?/.exec(text.slice(i));
            if (m[0] === '-') fail(text, i, 'Bad numeric literal - "-"');
            i += m[0].length;
        }
        function members(closeChar, item, what) {
            i++;
            ws();
            if (text[i] === closeChar) { i++; return; }
            for (;;) {
                item();
                ws();
                if (i >= text.length) {
                    // newman points one column further after an object member
                    if (closeChar === '}') fail(text, text.length, 'Unexpected end of input', 1);
                    end();
                }
                if (text[i] === closeChar) { i++; return; }
                if (text[i] !== ',') token();
                i++;
                ws();
                if (text[i] === closeChar) fail(text, i, 'Trailing comma in ' + what);
            }
        }
        function object() {
            members('}', () => {
                ws();
                if (i >= text.length) end();
                if (text[i] !== '"') token();
                const key = string();
                ws();
                if (i >= text.length) end();
                if (text[i] !== ':') token();
                i++;
                value(key);
            }, 'object');
        }
        function array() { members(']', () => value(), 'array'); }

        value();
        ws();
        if (i < text.length) token();
        // The engine refused something this scan accepts: report where it gave up.
        fail(text, 0, 'Unexpected token');
    }

    qv.parseJSON = function (text) {
        const body = String(text).replace(/^\uFEFF/, '');
        try {
            return qv.parse(body);
        } catch (e) {
            diagnose(body);
        }
    };
})(globalThis.__qv_bridge);
