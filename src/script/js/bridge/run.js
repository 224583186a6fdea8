// __qv_run(input JSON) -> output JSON: one script of one event. The script
// runs as a sloppy-mode function body in the global object, so its var and
// function declarations stay its own while undeclared assignments become
// globals that later scripts see, and a top-level return ends it.
(function (qv) {
    'use strict';

    function errorOf(e) {
        if (e === null || e === undefined || (typeof e !== 'object' && typeof e !== 'function')) return { name: null, message: null };
        return { name: e.name === undefined ? null : String(e.name), message: e.message === undefined ? null : qv.wording(e.message) };
    }

    function run(inputText) {
        const input = typeof inputText === 'string' ? qv.parse(inputText) : inputText || {};
        const st = qv.state = {
            tests: [], console: [], warned: {}, skipRequest: false, visualizer: null, nextRequest: undefined,
        };
        const scopes = qv.scopesFrom(input.variables);
        const request = new qv.Request(input.request || {});
        const response = input.response ? new qv.Response(Object.assign({ cookies: input.cookies }, input.response)) : undefined;
        const tests = {};
        const pm = qv.makePm(input, scopes, request, response);

        const g = qv.legacyGlobals(input, scopes, request, response, tests);
        g.pm = pm;
        g.console = qv.console;
        g.require = qv.require;
        Object.assign(g, qv.timers);
        Object.assign(globalThis, g);

        let error = null;
        qv.resetTimers();
        try {
            const body = Function(String(input.script || ''));
            body.call(globalThis);
        } catch (e) {
            if (e !== qv.SKIP) error = errorOf(e);
        }
        qv.recordLegacyTests(tests);
        // newman reports nothing for what a timer or callback throws.
        qv.drainTimers(() => {});

        const out = {
            tests: st.tests,
            variables: {
                globals: scopes.globals.list(),
                collection: scopes.collection.list(),
                environment: scopes.environment.list(),
                local: qv.local.list(),
            },
            request: request.output(),
            skipRequest: st.skipRequest,
            console: st.console,
            error: error,
            visualizer: st.visualizer,
        };
        if (st.nextRequest !== undefined) out.nextRequest = st.nextRequest;
        qv.state = null;
        return qv.stringify(out);
    }

    globalThis.__qv_run = function (inputText) {
        try {
            return run(inputText);
        } catch (e) {
            // A fault of the bridge itself still answers in the output's shape.
            qv.state = null;
            return qv.stringify({ tests: [], variables: null, request: null, skipRequest: false, console: [], error: { name: 'BridgeError', message: e && e.stack ? e.name + ': ' + e.message + '\n' + e.stack : String(e) }, visualizer: null });
        }
    };
    delete globalThis.__qv_bridge;
})(globalThis.__qv_bridge);
