// pm.test, pm.expect and the legacy tests[] object. chai-postman gives the
// pm.response.to.* words; it asks the collection SDK only whether an object
// is a response or a request, which our own classes answer.
(function (qv) {
    'use strict';
    let chai = null;
    function ready() {
        if (chai) return chai;
        chai = qv.mod('chai');
        const sdk = {
            Response: { isResponse: (o) => o instanceof qv.Response },
            Request: { isRequest: (o) => o instanceof qv.Request },
        };
        chai.use(qv.mod('chai-postman')(sdk, qv.mod('lodash'), qv.mod('ajv')));
        return chai;
    }
    qv.expect = function () { return ready().expect.apply(null, arguments); };
    qv.expect.fail = function () { return ready().expect.fail.apply(null, arguments); };

    function record(name, err, skipped) {
        const t = { name: name, passed: !err, error: err ? err.message : null };
        if (err) t.errorName = err.name;
        if (skipped) t.skipped = true;
        qv.state.tests.push(t);
    }

    // What newman reports for a value a test threw: its message if it has
    // one, else the test's name.
    function failure(e, testName) {
        if (e === null) return { name: 'AssertionError', message: 'null' };
        const own = typeof e === 'object' && e.message !== undefined;
        return { name: typeof e === 'object' && e.name ? String(e.name) : 'AssertionError', message: own ? qv.wording(e.message) : testName };
    }

    qv.test = function (pm) {
        function test(name, fn) {
            const label = String(name);
            if (typeof fn !== 'function') { record(label, null); return pm; }
            try {
                // A test that takes an argument ends when it calls it.
                if (fn.length > 0) fn((err) => record(label, err ? failure(err, label) : null));
                else { fn(); record(label, null); }
            } catch (e) {
                if (e === qv.SKIP) throw e;
                record(label, failure(e, label));
            }
            return pm;
        }
        test.skip = function (name) { record(String(name), null, true); return pm; };
        return test;
    };

    // tests["name"] = value, read when the script's own code has returned.
    qv.recordLegacyTests = function (tests) {
        for (const name of qv.keys(tests)) {
            const v = tests[name];
            record(name, v ? null : { name: 'AssertionError', message: 'expected ' + String(v) + ' to be truthy' });
        }
    };
})(globalThis.__qv_bridge);
