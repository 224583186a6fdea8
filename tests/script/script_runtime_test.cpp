// The script runtime with the embedded modules and the bridge in place (the
// placeholder bridge reports only what a script threw): one context across
// runs, deadlines and memory limits that end a script and leave the context
// usable, no node or QuickJS std/os globals, __qv_host, and every module.
#include <string>

#include <gtest/gtest.h>
#include <yyjson.h>

#include "script/script.h"
#include "support/json.h"
#include "util/dynbuf.h"

namespace {

std::string input_for(const std::string &script) {
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_str(doc, root, "event", "test");
    yyjson_mut_obj_add_strn(doc, root, "script", script.data(), script.size());
    char *text = yyjson_mut_write(doc, 0, nullptr);
    std::string out = text;
    free(text);
    yyjson_mut_doc_free(doc);
    return out;
}

// "" when the script threw nothing, else "Name: message".
std::string run_script(ScriptRuntime &rt, const std::string &script, unsigned deadline_ms = 2000) {
    const std::string input = input_for(script);
    DynBuf out;
    if (!rt.run(input.data(), input.size(), deadline_ms, out)) return std::string("run failed: ") + out.c_str();
    JsonDoc doc = parse_json(out.c_str());
    yyjson_val *error = yyjson_obj_get(yyjson_doc_get_root(doc.get()), "error");
    if (!doc || !yyjson_is_arr(yyjson_obj_get(yyjson_doc_get_root(doc.get()), "tests")))
        return std::string("bad output: ") + out.c_str();
    if (yyjson_is_null(error)) return "";
    return std::string(json_str(error, "name", "?")) + ": " + json_str(error, "message", "?");
}

class Script : public ::testing::Test {
protected:
    void SetUp() override {
        if (!script_available()) {
            DynBuf error;
            EXPECT_FALSE(rt.open(ScriptLimits{}, error));
            EXPECT_STREQ(error.c_str(), "scripts are not available in this build");
            GTEST_SKIP() << "built with -DQV_SCRIPTS=OFF";
        }
        ScriptLimits limits;
        limits.memory_bytes = std::size_t{48} << 20;
        DynBuf error;
        ASSERT_TRUE(rt.open(limits, error)) << error.c_str();
        // Replies "<op> <json>", and fails the op "fail".
        rt.set_host([](const char *op, const char *json, std::size_t len, DynBuf &reply) {
            reply.appendf("%s %.*s", op, static_cast<int>(len), json);
            return std::string(op) != "fail";
        });
    }
    ScriptRuntime rt;
};

TEST_F(Script, RunsInOneContextWithinItsLimits) {
    const char *not_five = "if (foo !== 5) throw new Error('foo is ' + foo)";
    struct Case {
        const char *name, *script, *thrown;  // thrown: prefix of "Name: message", "" for nothing
        unsigned deadline_ms;
    } cases[] = {
        {"undeclared global", "foo = 5", "", 2000},
        {"seen by a later run", not_five, "", 2000},
        {"var and function stay in their script", "var bar = 1; function baz() {}", "", 2000},
        {"not seen later", "if (typeof bar + typeof baz !== 'undefinedundefined') throw new Error('leaked')", "", 2000},
        {"top-level return", "return; throw new Error('went on')", "", 2000},
        {"syntax error", "if (", "SyntaxError: ", 2000},
        {"thrown", "null.x", "TypeError: ", 2000},
        {"endless loop", "for (;;) {}", "Error: script timed out after 150 ms", 150},
        {"usable after the timeout", not_five, "", 2000},
        {"memory hog", "const a = []; for (;;) a.push('x'.repeat(1 << 20) + a.length)", "InternalError: out of memory", 0},
        {"usable after running out", not_five, "", 2000},
        {"deep recursion", "(function f() { f(); })()", "InternalError: stack overflow", 2000},
        {"no blocking wait", "Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0)", "TypeError: ", 2000},
        {"no std, os, process",
         "const g = ['std', 'os', 'process', 'scriptArgs', 'print'].filter(n => n in globalThis);"
         "if (g.length) throw new Error(g.join())",
         "", 2000},
        {"host round trip", "throw new Error(__qv_host('send', '{\"a\":1}'))", "Error: send {\"a\":1}", 2000},
        {"host refusal", "__qv_host('fail', '{}')", "Error: fail {}", 2000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string thrown = run_script(rt, c.script, c.deadline_ms);
        if (*c.thrown == '\0')
            EXPECT_EQ(thrown, "");
        else
            EXPECT_EQ(thrown.substr(0, std::string(c.thrown).size()), c.thrown) << thrown;
    }
}

TEST_F(Script, HasEveryModule) {
    struct Case {
        const char *name, *check;
    } cases[] = {
        {"names", "Object.keys(__qv_modules).sort().join() === 'ajv,atob,btoa,buffer,chai,chai-postman,cheerio,"
                  "crypto-js,csv-parse/lib/sync,http-reasons,lodash,lodash3,moment,tv4,uuid,xml2js'"},
        {"lodash", "__qv_modules.lodash.VERSION === '4.17.21'"},
        {"lodash3", "__qv_modules.lodash3.VERSION === '3.10.2'"},
        {"chai", "typeof __qv_modules.chai.expect === 'function'"},
        {"chai-postman", "typeof __qv_modules['chai-postman'] === 'function'"},
        {"crypto-js", "__qv_modules['crypto-js'].MD5('a').toString() === '0cc175b9c0f1b6a831c399e269772661'"},
        {"moment", "__qv_modules.moment.utc(86400000).format('YYYY-MM-DD') === '1970-01-02'"},
        {"tv4", "__qv_modules.tv4.validate(1, {type: 'number'}) && !__qv_modules.tv4.validate('1', {type: 'number'})"},
        {"ajv", "new __qv_modules.ajv({logger: false}).validate({type: 'object', required: ['a']}, {a: 1})"},
        {"cheerio", "__qv_modules.cheerio.load('<p id=\"a\">hi <b>there</b></p>')('#a b').text() === 'there'"},
        {"xml2js", "(() => { let r; __qv_modules.xml2js.parseString('<a><b>1</b></a>', (e, x) => { r = x; });"
                   "return r.a.b[0] === '1'; })()"},
        {"csv-parse", "__qv_modules['csv-parse/lib/sync']('a,b\\n1,2', {columns: true})[0].b === '2'"},
        {"uuid", "/^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$/.test(__qv_modules.uuid.v4())"},
        {"atob and btoa", "__qv_modules.atob('aGk=') === 'hi' && __qv_modules.btoa('hi') === 'aGk='"},
        {"buffer", "Buffer === __qv_modules.buffer.Buffer && Buffer.from('hi').toString('hex') === '6869'"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run_script(rt, std::string("if (!(") + c.check + ")) throw new Error('unexpected')"), "");
    }
}

}  // namespace
