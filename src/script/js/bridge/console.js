// console.* captured into the run's output, one entry a call.
(function (qv) {
    'use strict';
    qv.log = function (level, args) {
        if (qv.state) qv.state.console.push({ level: level, text: qv.consoleText(args) });
    };
    qv.console = {};
    for (const level of ['log', 'info', 'warn', 'error', 'debug']) {
        qv.console[level] = function () { qv.log(level, arguments); };
    }
})(globalThis.__qv_bridge);
