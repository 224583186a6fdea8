// Timers on a virtual clock: callbacks run in the order of their due time
// (then of scheduling) once the script's own code has returned, all before
// __qv_run does. Nothing waits for real time. Like newman's sandbox, extra
// arguments do not reach the callback.
(function (qv) {
    'use strict';
    const LIMIT = 100000; // callbacks per run; an endless interval stops here
    let queue = [], seq = 0, now = 0;

    function schedule(fn, delay, repeat) {
        const ms = Number(delay) >= 1 ? Number(delay) : 1;
        const t = { id: ++seq, order: seq, fn: fn, due: now + ms, repeat: repeat ? ms : 0 };
        queue.push(t);
        return t.id;
    }
    const clear = (id) => { queue = queue.filter((t) => t.id !== id); };

    qv.timers = {
        setTimeout: (fn, delay) => schedule(fn, delay, false),
        setInterval: (fn, delay) => schedule(fn, delay, true),
        setImmediate: (fn) => schedule(fn, 0, false),
        clearTimeout: clear,
        clearInterval: clear,
        clearImmediate: clear,
    };

    qv.defer = (fn) => schedule(fn, 0, false);

    qv.resetTimers = () => { queue = []; now = 0; };

    // Runs every pending callback; onError sees what one of them threw.
    qv.drainTimers = function (onError) {
        for (let n = 0; queue.length && n < LIMIT; n++) {
            let next = 0;
            for (let i = 1; i < queue.length; i++) {
                if (queue[i].due < queue[next].due || (queue[i].due === queue[next].due && queue[i].order < queue[next].order)) next = i;
            }
            const t = queue[next];
            now = t.due;
            if (t.repeat) { t.due += t.repeat; t.order = ++seq; } else queue.splice(next, 1);
            try {
                if (typeof t.fn === 'function') t.fn();
            } catch (e) {
                onError(e);
            }
        }
        queue = [];
    };
})(globalThis.__qv_bridge);
