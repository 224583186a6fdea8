// Compiles JavaScript files to QuickJS bytecode at build time and writes them
// as one C++ array for the library to embed. It runs on the build machine (a
// cross build makes a native copy of it): bytecode of one QuickJS version and
// configuration reads the same on every 64-bit little-endian target.
//
//   qv_bytecode [-s|-ss] OUT.cpp SYMBOL NAME=FILE...
//
// -s leaves out the functions' source text (Function.prototype.toString
// then shows none), -ss all debug information too (line numbers).
// Each FILE is compiled as a global script called NAME (the name its stack
// traces show). The array holds, in the order given, each one's length (four
// bytes, little-endian) followed by its bytecode.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <quickjs.h>

namespace {

bool read_file(const std::string &path, std::string &text) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return static_cast<bool>(in);
}

void print_exception(JSContext *ctx, const std::string &name) {
    JSValue e = JS_GetException(ctx);
    const char *text = JS_ToCString(ctx, e);
    JSValue stack = JS_GetPropertyStr(ctx, e, "stack");
    const char *where = JS_IsString(stack) ? JS_ToCString(ctx, stack) : nullptr;
    std::fprintf(stderr, "qv_bytecode: %s: %s\n%s", name.c_str(), text ? text : "?", where ? where : "");
    JS_FreeCString(ctx, where);
    JS_FreeCString(ctx, text);
    JS_FreeValue(ctx, stack);
    JS_FreeValue(ctx, e);
}

// Appends the bytecode of one script, after its length.
bool compile(JSContext *ctx, const std::string &name, const std::string &source, std::vector<uint8_t> &out) {
    JSValue fn = JS_Eval(ctx, source.c_str(), source.size(), name.c_str(),
                         JS_EVAL_TYPE_GLOBAL | JS_EVAL_FLAG_COMPILE_ONLY);
    if (JS_IsException(fn)) {
        print_exception(ctx, name);
        return false;
    }
    size_t size = 0;
    uint8_t *code = JS_WriteObject(ctx, &size, fn, JS_WRITE_OBJ_BYTECODE);
    JS_FreeValue(ctx, fn);
    if (!code || size > UINT32_MAX) {
        std::fprintf(stderr, "qv_bytecode: %s: cannot write its bytecode\n", name.c_str());
        js_free(ctx, code);
        return false;
    }
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(size >> shift));
    out.insert(out.end(), code, code + size);
    js_free(ctx, code);
    return true;
}

// A string literal compiles far faster than a list of numbers: printable
// bytes as they are, the others as three-digit octal escapes (which no
// following digit can extend).
void write_literal(std::ostream &out, const std::vector<uint8_t> &bytes) {
    size_t column = 0;
    out << '"';
    for (uint8_t b : bytes) {
        if (column >= 120) {
            out << "\"\n\"";
            column = 0;
        }
        if (b >= 0x20 && b < 0x7f && b != '"' && b != '\\' && b != '?') {
            out << static_cast<char>(b);
            ++column;
        } else {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\%03o", b);
            out << esc;
            column += 4;
        }
    }
    out << '"';
}

}  // namespace

int main(int argc, char **argv) {
    int strip = 0;
    if (argc > 1 && (std::string(argv[1]) == "-s" || std::string(argv[1]) == "-ss")) {
        strip = argv[1][2] ? JS_STRIP_DEBUG : JS_STRIP_SOURCE;
        ++argv;
        --argc;
    }
    if (argc < 4) {
        std::fprintf(stderr, "usage: qv_bytecode [-s|-ss] OUT.cpp SYMBOL NAME=FILE...\n");
        return 2;
    }
    const std::string out_path = argv[1], symbol = argv[2];
    JSRuntime *rt = JS_NewRuntime();
    if (rt) JS_SetStripInfo(rt, strip);
    JSContext *ctx = rt ? JS_NewContext(rt) : nullptr;
    std::vector<uint8_t> blob;
    std::string names;
    bool ok = ctx != nullptr;
    for (int i = 3; ok && i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        std::string source;
        if (eq == std::string::npos || !read_file(arg.substr(eq + 1), source)) {
            std::fprintf(stderr, "qv_bytecode: cannot read '%s'\n", arg.c_str());
            ok = false;
            break;
        }
        const std::string name = arg.substr(0, eq);
        ok = compile(ctx, name, source, blob);
        // Appended in two steps: GCC 12 misreads `" " + name` (bug 105329).
        names += ' ';
        names += name;
    }
    if (ctx) JS_FreeContext(ctx);
    if (rt) JS_FreeRuntime(rt);
    if (!ok) return 1;

    std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
    out << "// Made at build time by qv_bytecode from" << names << ".\n"
        << "#include \"script/script_blob.h\"\n\n"
        << "const unsigned char " << symbol << "[] =\n";
    write_literal(out, blob);
    out << ";\nconst std::size_t " << symbol << "_size = " << blob.size() << ";\n";
    out.close();
    if (!out) {
        std::fprintf(stderr, "qv_bytecode: cannot write '%s'\n", out_path.c_str());
        return 1;
    }
    return 0;
}
