// main.cpp: qmhost: runs a Lua 5.4 script against quillmere.hpi, loaded by path, and keeps, writes or
// shows the frames the module presents.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include <lua.hpp>

#include "host/frame_output.h"
#include "host/frame_window.h"
#include "host/lua_bindings.h"
#include "host/module_loader.h"

namespace {

constexpr int kExitUsage = 2;

constexpr const char kUsage[] =
    "usage: qmhost [options] script.lua [args...]\n"
    "  --module PATH   the module to load (default: quillmere.hpi beside qmhost)\n"
    "  --frames DIR    write presented frames as DIR/frame_00001.png, ... (DIR is created)\n"
    "  --every N       with --frames, keep only frames 1, N+1, 2N+1, ...\n"
    "  --out FILE      write the last presented frame to FILE at exit (default frame.png)\n"
    "  --no-out        do not write the last frame\n"
    "  --window        show the frames in a window when there is a display\n"
    "  --help          this text\n"
    "The script reaches every export as qm.Name(w1, w2, w3, w4); its arguments are in arg.\n";

struct Options {
    std::string module;
    std::string frames;
    long long every = 1;
    bool everyGiven = false;
    std::string out = "frame.png";
    bool window = false;
    int scriptIndex = 0;  // position of the script in argv
};

// One command-line option: apply returns an error text, or an empty string when the value is good.
struct OptionRule {
    const char* name;
    bool takesValue;
    std::string (*apply)(Options* options, const std::string& value);
};

const OptionRule kOptionRules[] = {
    {"--module", true,
     [](Options* o, const std::string& value) {
         o->module = value;
         return std::string(value.empty() ? "--module needs a path" : "");
     }},
    {"--frames", true,
     [](Options* o, const std::string& value) {
         o->frames = value;
         return std::string(value.empty() ? "--frames needs a folder" : "");
     }},
    {"--every", true,
     [](Options* o, const std::string& value) {
         char* end = nullptr;
         o->every = std::strtoll(value.c_str(), &end, 10);
         o->everyGiven = true;
         const bool good = !value.empty() && *end == '\0' && o->every >= 1 && o->every <= 1000000000;
         return good ? std::string() : "--every needs a whole number from 1 up, got '" + value + "'";
     }},
    {"--out", true,
     [](Options* o, const std::string& value) {
         o->out = value;
         return std::string(value.empty() ? "--out needs a file name" : "");
     }},
    {"--no-out", false,
     [](Options* o, const std::string&) {
         o->out.clear();
         return std::string();
     }},
    {"--window", false,
     [](Options* o, const std::string&) {
         o->window = true;
         return std::string();
     }},
};

// Parses the options before the script. Returns 0 to run, -1 after printing help, or the exit code
// of a usage error.
int ParseOptions(int argc, char** argv, Options* options) {
    auto fail = [](const std::string& message) {
        std::fprintf(stderr, "qmhost: %s\n%s", message.c_str(), kUsage);
        return kExitUsage;
    };
    int i = 1;
    for (; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--") {
            ++i;
            break;
        }
        if (option.size() < 2 || option[0] != '-') break;
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        }
        const OptionRule* rule = nullptr;
        for (const OptionRule& candidate : kOptionRules)
            if (option == candidate.name) rule = &candidate;
        if (rule == nullptr) return fail("unknown option " + option);
        if (rule->takesValue && i + 1 >= argc) return fail(option + " needs a value");
        const std::string error = rule->apply(options, rule->takesValue ? argv[++i] : "");
        if (!error.empty()) return fail(error);
    }
    if (i >= argc) return fail("no script given");
    if (options->everyGiven && options->frames.empty()) return fail("--every applies to --frames, which is not given");
    options->scriptIndex = i;
    return 0;
}

// The arg table of the standalone interpreter: arg[0] the script, arg[1..] its arguments, and the
// host's own command line at negative indices.
void SetArgTable(lua_State* L, int argc, char** argv, int scriptIndex) {
    lua_createtable(L, argc - scriptIndex - 1, scriptIndex + 1);
    for (int i = 0; i < argc; ++i) {
        lua_pushstring(L, argv[i]);
        lua_rawseti(L, -2, i - scriptIndex);
    }
    lua_setglobal(L, "arg");
}

// Message handler of the script's call: keeps stop requests, adds a traceback to errors.
int OnError(lua_State* L) {
    int code = 0;
    if (qm::IsStopRequest(L, 1, &code)) return 1;
    const char* message = lua_tostring(L, 1);
    if (message == nullptr) {
        if (luaL_callmeta(L, 1, "__tostring") && lua_type(L, -1) == LUA_TSTRING) return 1;
        message = lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, 1));
    }
    luaL_traceback(L, L, message, 1);
    return 1;
}

// Loads and runs the script. Returns the exit code; errors are printed as file:line: message.
int RunScript(lua_State* L, int argc, char** argv, int scriptIndex) {
    SetArgTable(L, argc, argv, scriptIndex);
    lua_pushcfunction(L, OnError);
    const int handler = lua_gettop(L);
    if (luaL_loadfile(L, argv[scriptIndex]) != LUA_OK) {
        std::fprintf(stderr, "%s\n", lua_tostring(L, -1));
        return EXIT_FAILURE;
    }
    const int argumentCount = argc - scriptIndex - 1;
    if (!lua_checkstack(L, argumentCount)) {
        std::fprintf(stderr, "qmhost: too many script arguments\n");
        return EXIT_FAILURE;
    }
    for (int i = scriptIndex + 1; i < argc; ++i) lua_pushstring(L, argv[i]);
    if (lua_pcall(L, argumentCount, 0, handler) == LUA_OK) return EXIT_SUCCESS;
    int code = 0;
    if (qm::IsStopRequest(L, -1, &code)) return code;
    const char* message = lua_tostring(L, -1);
    std::fprintf(stderr, "%s\n", message != nullptr ? message : "(error object is not a string)");
    return EXIT_FAILURE;
}

// Writes the last presented frame to path, or says why not. Returns false when writing failed.
bool WriteLastFrame(const qm::FrameRecorder& recorder, const std::string& path) {
    if (recorder.PresentedCount() == 0) {
        std::fprintf(stderr, "qmhost: no frame was presented; %s not written\n", path.c_str());
        return true;
    }
    std::string error;
    if (!qm::WritePng(path, recorder.LastFrame(), &error)) {
        std::fprintf(stderr, "qmhost: %s\n", error.c_str());
        return false;
    }
    std::fprintf(stderr, "qmhost: frame %lld written to %s\n", static_cast<long long>(recorder.PresentedCount()),
                 path.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (int code = ParseOptions(argc, argv, &options); code != 0) return code < 0 ? EXIT_SUCCESS : code;

    if (!options.frames.empty()) {
        std::error_code error;
        std::filesystem::create_directories(options.frames, error);
        if (error || !std::filesystem::is_directory(options.frames)) {
            std::fprintf(stderr, "qmhost: cannot make the frame folder %s: %s\n", options.frames.c_str(),
                         error ? error.message().c_str() : "a file of that name is in the way");
            return kExitUsage;
        }
    }

    std::unique_ptr<qm::FrameWindow> window;
    if (options.window) {
        std::string whyNot;
        window = qm::OpenFrameWindow(&whyNot);
        if (window == nullptr) std::fprintf(stderr, "qmhost: %s; going on without a window\n", whyNot.c_str());
    }

    // A module that fails to load is reported by the first qm call that needs it, at the script's line.
    qm::LoadedModule module;
    module.Open(options.module.empty() ? qm::DefaultModulePath() : options.module);
    qm::FrameRecorder recorder(options.frames, options.every, window.get());
    qm::HostBindings bindings{&module, &recorder};

    lua_State* L = luaL_newstate();
    if (L == nullptr) {
        std::fprintf(stderr, "qmhost: cannot create the Lua state\n");
        return EXIT_FAILURE;
    }
    luaL_openlibs(L);
    qm::OpenQmLibrary(L, &bindings);
    int exitCode = RunScript(L, argc, argv, options.scriptIndex);
    lua_close(L);

    if (window != nullptr) window->WaitUntilClosed();
    if (!options.out.empty() && !WriteLastFrame(recorder, options.out) && exitCode == EXIT_SUCCESS)
        exitCode = EXIT_FAILURE;
    window.reset();
    // The module is unloaded only now, after the Lua state that called it is gone.
    module.Close();
    return exitCode;
}
