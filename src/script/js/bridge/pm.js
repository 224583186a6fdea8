// The pm object of one script run.
(function (qv) {
    'use strict';

    function hidden(o, values) {
        for (const k of qv.keys(values)) Object.defineProperty(o, k, { value: values[k], enumerable: false });
        return o;
    }

    // pm.sendRequest: the host sends the request when the callback's turn
    // comes, after the script's own code, in the order of the calls.
    function sendRequest(req, callback) {
        const sent = qv.sendable(req);
        qv.defer(() => {
            let reply;
            try {
                reply = qv.parse(globalThis.__qv_host('send', qv.stringify(sent)));
            } catch (e) {
                reply = { error: String(e && e.message ? e.message : e) };
            }
            if (typeof callback !== 'function') return;
            if (reply && reply.error !== undefined) {
                const err = typeof reply.error === 'object' ? reply.error : { message: String(reply.error) };
                callback(err, new qv.Response({ headers: [] }));
            } else {
                callback(null, new qv.Response(reply));
            }
        });
    }

    qv.makePm = function (input, scopes, request, response) {
        const st = qv.state;
        const info = input.info || {};
        const location = [].concat(input.location === undefined ? [] : input.location);
        location.current = location[location.length - 1];
        const setNext = (name) => { st.nextRequest = name === undefined ? null : name; };

        const pm = {};
        pm.test = qv.test(pm);
        hidden(pm, {
            info: hidden({}, {
                eventName: info.eventName !== undefined ? info.eventName : input.event,
                iteration: info.iteration, iterationCount: info.iterationCount,
                requestName: info.requestName, requestId: info.requestId,
            }),
            globals: scopes.globals,
            collectionVariables: scopes.collection,
            environment: scopes.environment,
            iterationData: scopes.data,
            variables: qv.variables(scopes),
            request: request,
            response: response,
            cookies: qv.cookieList(input.cookies || []),
            expect: qv.expect,
            sendRequest: sendRequest,
            require: qv.require,
            visualizer: {
                set: (template, data, options) => { st.visualizer = { template: template, data: qv.plain(data), options: qv.plain(options) }; },
                clear: () => { st.visualizer = null; },
            },
            execution: {
                location: location,
                setNextRequest: setNext,
                skipRequest: () => { st.skipRequest = true; throw qv.SKIP; },
            },
        });
        qv.setNextRequest = setNext;
        return pm;
    };

    // Stops a script at pm.execution.skipRequest() without counting as its error.
    qv.SKIP = { skip: true };

    qv.require = (name) => qv.mod(String(name));
})(globalThis.__qv_bridge);
