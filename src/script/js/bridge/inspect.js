// Console text as newman's command-line report prints it: each argument
// through node's inspection (nesting unlimited, lines broken at 44 columns,
// up to three inner levels on one line, short array items in columns), after
// the sandbox has carried it across (functions become '[Function: name]'
// text, errors plain {type, name, message}, objects with toJSON their JSON).
(function (qv) {
    'use strict';
    const BREAK = 44, COMPACT = 3, MAX_ITEMS = 100;

    function escapeChar(c) {
        const code = c.charCodeAt(0);
        const named = { 8: '\\b', 9: '\\t', 10: '\\n', 12: '\\f', 13: '\\r', 39: "\\'", 92: '\\\\' };
        return named[code] || '\\x' + code.toString(16).toUpperCase().padStart(2, '0');
    }

    function quote(s) {
        let q = "'";
        if (s.indexOf("'") >= 0) {
            if (s.indexOf('"') < 0) q = '"';
            else if (s.indexOf('`') < 0 && s.indexOf('${') < 0) q = '`';
        }
        const re = q === "'" ? /[\x00-\x1f\x27\x5c\x7f-\x9f]/g : /[\x00-\x1f\x5c\x7f-\x9f]/g;
        return q + s.replace(re, escapeChar) + q;
    }

    const keyText = (k) => (/^[a-zA-Z_][a-zA-Z_0-9]*$/.test(k) ? k : quote(k));

    function fnText(f) {
        return f.name ? '[Function: ' + f.name + ']' : '[Function]';
    }

    // What arrives on the other side of the sandbox for a value.
    function carried(v) {
        if (typeof v === 'function') return fnText(v);
        if (typeof v === 'number' && v === 0) return 0;
        if (v instanceof Error) return { type: 'Error', name: v.name, message: v.message };
        if (v && typeof v === 'object' && !(v instanceof Date) && typeof v.toJSON === 'function') {
            try { return v.toJSON(); } catch (e) { return v; }
        }
        return v;
    }

    function primitive(ctx, v) {
        switch (typeof v) {
            case 'string':
                // Long text breaks after its newlines into quoted pieces joined by +.
                if (v.length > 16 && v.length > BREAK - ctx.indent - 4) {
                    return v.split(/(?<=\n)/).map(quote).join(' +\n' + ' '.repeat(ctx.indent + 2));
                }
                return quote(v);
            case 'bigint': return v + 'n';
            case 'symbol': return v.toString();
            case 'undefined': return 'undefined';
            default: return String(v);
        }
    }

    function group(ctx, output, value) {
        let total = 0, maxLen = 0;
        const len = output.map((o) => o.length);
        const count = output.length - (value.length > MAX_ITEMS ? 1 : 0);
        for (let i = 0; i < count; i++) { total += len[i] + 2; if (len[i] > maxLen) maxLen = len[i]; }
        const actualMax = maxLen + 2;
        if (!(actualMax * 3 + ctx.indent < BREAK && (total / actualMax > 5 || maxLen <= 6))) return output;
        const bias = Math.sqrt(actualMax - total / output.length);
        const biasedMax = Math.max(actualMax - 3 - bias, 1);
        const columns = Math.min(Math.round(Math.sqrt(2.5 * biasedMax * count) / biasedMax),
            Math.floor((BREAK - ctx.indent) / actualMax), COMPACT * 4, 15);
        if (columns <= 1) return output;
        const widths = [];
        for (let i = 0; i < columns; i++) {
            let w = 0;
            for (let j = i; j < count; j += columns) if (len[j] > w) w = len[j];
            widths.push(w + 2);
        }
        const numeric = value.every((x) => typeof x === 'number' || typeof x === 'bigint');
        const rows = [];
        for (let i = 0; i < count; i += columns) {
            const max = Math.min(i + columns, count);
            let row = '';
            let j = i;
            for (; j < max - 1; j++) {
                const cell = output[j] + ', ';
                row += numeric ? cell.padStart(widths[j - i]) : cell.padEnd(widths[j - i]);
            }
            row += numeric ? output[j].padStart(widths[j - i] - 2) : output[j];
            rows.push(row);
        }
        if (count < output.length) rows.push(output[count]);
        return rows;
    }

    function reduce(ctx, output, base, open, close, depth, arrayValue) {
        const entries = output.length;
        if (arrayValue && entries > 6) output = group(ctx, output, arrayValue);
        if (ctx.currentDepth - depth < COMPACT && entries === output.length) {
            const start = output.length + ctx.indent + open.length + base.length + 10;
            let total = output.length + start;
            let fits = total + output.length <= BREAK;
            for (let i = 0; fits && i < output.length; i++) { total += output[i].length; fits = total <= BREAK; }
            if (fits) {
                const joined = output.join(', ');
                if (joined.indexOf('\n') < 0) return (base ? base + ' ' : '') + open + ' ' + joined + ' ' + close;
            }
        }
        const nl = '\n' + ' '.repeat(ctx.indent);
        return (base ? base + ' ' : '') + open + nl + '  ' + output.join(',' + nl + '  ') + nl + close;
    }

    function format(ctx, raw, depth) {
        const v = carried(raw);
        if (v === null || (typeof v !== 'object' && typeof v !== 'function')) return primitive(ctx, v);
        if (v instanceof Date) return isNaN(v.getTime()) ? 'Invalid Date' : v.toISOString();
        if (v instanceof RegExp) return v.toString();
        const cycle = ctx.seen.indexOf(v);
        if (cycle >= 0) {
            if (!ctx.refs.has(v)) ctx.refs.set(v, ctx.refs.size + 1);
            return '[Circular *' + ctx.refs.get(v) + ']';
        }
        let open = '{', close = '}', items;
        const isMap = v instanceof Map, isSet = v instanceof Set, isArray = qv.isArray(v);
        if (isArray) { open = '['; close = ']'; }
        if (isMap || isSet) open = (isMap ? 'Map(' : 'Set(') + v.size + ') {';
        const size = isArray ? v.length : isMap || isSet ? v.size : qv.keys(v).length;
        if (size === 0) return open + close;

        ctx.seen.push(v);
        ctx.currentDepth = depth;
        ctx.indent += 2;
        const output = [];
        if (isArray) {
            for (let i = 0; i < Math.min(v.length, MAX_ITEMS); i++) output.push(format(ctx, v[i], depth + 1));
            if (v.length > MAX_ITEMS) {
                const more = v.length - MAX_ITEMS;
                output.push('... ' + more + ' more item' + (more > 1 ? 's' : ''));
            }
        } else if (isMap) {
            v.forEach((val, k) => output.push(format(ctx, k, depth + 1) + ' => ' + format(ctx, val, depth + 1)));
        } else if (isSet) {
            v.forEach((val) => output.push(format(ctx, val, depth + 1)));
        } else {
            items = qv.keys(v);
            for (const k of items) output.push(keyText(k) + ': ' + format(ctx, v[k], depth + 1));
        }
        ctx.indent -= 2;
        ctx.seen.pop();
        const base = ctx.refs.has(v) ? '<ref *' + ctx.refs.get(v) + '>' : '';
        return reduce(ctx, output, base, open, close, depth, isArray ? v : null);
    }

    qv.inspect = (v) => format({ seen: [], refs: new Map(), indent: 0, currentDepth: 0 }, v, 0);
    qv.consoleText = (args) => Array.prototype.map.call(args, qv.inspect).join(', ');
})(globalThis.__qv_bridge);
