// host_test.cpp: runs qmhost on small Lua scripts against a stand-in module and checks what reaches the
// module, what comes back, the error messages and exit codes, and the PNG files of presented frames.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    bool hasAlpha = true;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Decodes a PNG file; width 0 when it cannot be read.
Image ReadPng(const fs::path& path) {
    Image image;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return image;
    image.hasAlpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = PNG_FORMAT_RGB;
    image.rgb.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) return Image{};
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    return image;
}

// The colour the stand-in module gives pixel (x, y) of frame n, as RGB.
void ExpectFakeFrame(const Image& image, int width, int height, int n) {
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    EXPECT_FALSE(image.hasAlpha);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = &image.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            ASSERT_EQ(p[0], x) << "x " << x << " y " << y;
            ASSERT_EQ(p[1], y) << "x " << x << " y " << y;
            ASSERT_EQ(p[2], n) << "x " << x << " y " << y;
        }
}

class Host : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qmhost_test_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path Script(const std::string& name, const std::string& text) {
        fs::path path = dir / name;
        std::ofstream(path) << text;
        return path;
    }

    // Runs qmhost with args in the test's folder, without a display; stops it after a minute.
    Result Run(const std::vector<std::string>& args) {
        std::vector<std::string> all{QM_HOST_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const fs::path out = dir / "stdout.txt";
        const fs::path err = dir / "stderr.txt";
        pid_t child = fork();
        if (child == 0) {
            if (chdir(dir.c_str()) != 0 || !freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr))
                _exit(125);
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            alarm(60);
            execv(argv[0], argv.data());
            _exit(126);
        }
        Result result;
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child) return result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = ReadFile(out);
        result.err = ReadFile(err);
        return result;
    }

    Result RunFake(const std::string& scriptText, std::vector<std::string> options = {}) {
        const fs::path script = Script("script.lua", scriptText);
        std::vector<std::string> args{"--module", QM_FAKE_MODULE_PATH};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(script.string());
        return Run(args);
    }

    fs::path dir;
};

TEST_F(Host, WordsReachTheModuleAsTheScriptWroteThem) {
    Result r = RunFake(R"(
local caps = qm.ints(8)
-- SetBgColor of the stand-in records its words and returns -7; GetCaps hands them back in halves.
local function words(...)
  assert(qm.SetBgColor(...) == -7)
  assert(qm.GetCaps(caps) == 0)
  local got = {}
  for i = 0, 3 do got[i + 1] = (caps[2 * i] & 0xFFFFFFFF) | (caps[2 * i + 1] << 32) end
  return got
end
local function same(got, expected)
  for i = 1, 4 do
    assert(got[i] == expected[i], ("word %d: got %x, expected %x"):format(i, got[i], expected[i]))
  end
end
same(words(5, -1, 0x7FFFFFFF, 0xFFFF0000), {5, -1, 0x7FFFFFFF, 0xFFFF0000})
same(words(3.0, -2.0, true, false), {3, -2, 1, 0})
same(words(9, 9, 9, 9), {9, 9, 9, 9})
same(words(nil, 4), {0, 4, 0, 0})
same(words(), {0, 0, 0, 0})
local b = qm.bytes(4)
same(words(caps, b, 1), {caps:address(), b:address(), 1, 0})
assert(caps:address() ~= b:address() and caps:address() ~= 0)

-- Strings arrive zero-terminated at their address; a buffer receives the module's text.
assert(qm.LoadModel(0, "walker.x", 1) == 8)
local name = qm.bytes(32)
assert(qm.GetFrameNameByIndex(1, 0, 0, name) == 0)
assert(name:string() == "walker.x")
assert(qm.LoadModel(0, "ab\0cd") == 2)

assert(qm.has("SetBgColor") and qm.has("GetCaps"))
assert(not qm.has("Bye") and not qm.has("Nope"))
local ok, message = pcall(qm.Bye)
assert(not ok and message:find("does not export Bye", 1, true), message)
print("words ok")
)",
                       {"--no-out"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "words ok\n");
}

TEST_F(Host, BadCallsAreErrorsAtTheScriptLine) {
    struct Case {
        const char* line;
        const char* message;
    };
    const Case cases[] = {
        {"qm.SetBgColor(1, {})", "qm.SetBgColor: word 2 cannot be a table"},
        {"qm.SetBgColor(print)", "word 1 cannot be a function"},
        {"qm.SetBgColor(1, 2.5)", "word 2 is 2.5, which is not an integer"},
        {"qm.SetBgColor(1, 2, 3, 4, 5)", "qm.SetBgColor takes at most 4 words, got 5"},
        {"local f = qm.Nope", "qm.Nope is not an export of the module"},
        {"local a = qm.ints(2); a[2] = 1", "qm.ints index 2 is out of range 0..1"},
        {"local a = qm.ints(2); return a[-1]", "qm.ints index -1 is out of range 0..1"},
        {"qm.ints(2)[0] = 1.5", "qm.ints value must be a 32-bit integer"},
        {"qm.ints(2)[0] = 0x100000000", "qm.ints value must be a 32-bit integer"},
        {"qm.bytes(2)[0] = 256", "qm.bytes value must be an integer from -128 to 255"},
        {"local x = qm.fx(32768)", "does not fit in a 32-bit word"},
        {"qm.window(0, 10)", "the width must be an integer from 1"},
        {"error('boom')", "boom"},
        {"x = = 1", "unexpected symbol"},
    };
    for (const Case& c : cases) {
        Result r = RunFake(std::string("-- line 1\n") + c.line + "\n", {"--no-out"});
        const std::string where = (dir / "script.lua").string() + ":2: ";
        EXPECT_EQ(r.exitCode, 1) << c.line;
        EXPECT_EQ(r.err.rfind(where, 0), 0u) << c.line << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.line << "\n" << r.err;
    }
}

TEST_F(Host, BuffersAndNumberHelpers) {
    Result r = RunFake(R"(
local a = qm.ints(3)
assert(#a == 3 and a[0] == 0 and a[1] == 0 and a[2] == 0)
a[1] = -5; a[2] = 0xFFFFFFFF; a[0] = 7.0
assert(a[0] == 7 and a[1] == -5 and a[2] == -1)
assert(#qm.ints(0) == 0)
local list = qm.ints{qm.fx(1), 4, 3}
assert(#list == 3 and list[0] == 65536 and list[1] == 4 and list[2] == 3)
assert(not pcall(qm.ints, -1) and not pcall(qm.ints, 1.5) and not pcall(qm.ints, {1, 2.5}))

local b = qm.bytes(6)
assert(#b == 6 and b:string() == "")
b[0] = 72; b[1] = 105; b[3] = 33
assert(b:string() == "Hi" and b[1] == 105 and b[3] == 33)
b[0] = -1
assert(b[0] == 255)
local full = qm.bytes(2); full[0] = 65; full[1] = 66
assert(full:string() == "AB")

assert(qm.fx(1.5) == 98304 and qm.fx(0.5) == 32768 and qm.fx(-1) == -65536)
assert(qm.fx(-1.99999) == -131071 and qm.fx(1.99999) == 131071 and qm.fx(-0.00001) == 0)
assert(qm.fx(-32768) == -2147483648 and not pcall(qm.fx, 0/0))
assert(qm.real(98304) == 1.5 and qm.real(0xFFFF0000) == -1.0 and qm.real(1) == 1 / 65536)
assert(not pcall(qm.real, 0.5) and not pcall(qm.real, 0x100000000))
assert(qm.turn(math.pi) == 32768 and qm.turn(math.pi / 2) == 16384 and qm.turn(2 * math.pi) == 65536)
assert(qm.turn(1) == 10430 and qm.turn(-1) == -10430 and qm.turn(0) == 0)
print("helpers ok")
)",
                       {"--no-out"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "helpers ok\n");
}

TEST_F(Host, PresentedFramesAreWrittenAsRgbPng) {
    const std::string script = R"(
local info = qm.window(5, 3)
assert(#info == 16 and info[1] == 5 and info[2] == 3 and info[13] ~= 0 and info[0] == 0)
assert(qm.Init(info) == 0)
for n = 1, 5 do assert(qm.EndScene() == n) end
)";
    Result r = RunFake(script, {"--frames", "frames", "--every", "2", "--out", "last.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("frame 5 written to last.png"), std::string::npos) << r.err;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / "frames")) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"frame_00001.png", "frame_00003.png", "frame_00005.png"}));
    ExpectFakeFrame(ReadPng(dir / "frames" / "frame_00001.png"), 5, 3, 1);
    ExpectFakeFrame(ReadPng(dir / "frames" / "frame_00003.png"), 5, 3, 3);
    ExpectFakeFrame(ReadPng(dir / "last.png"), 5, 3, 5);

    // Without a display the window option says so and the run goes on; the last frame goes to
    // frame.png by default.
    r = RunFake(script, {"--window"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("going on without a window"), std::string::npos) << r.err;
    ExpectFakeFrame(ReadPng(dir / "frame.png"), 5, 3, 5);

    // A frame that cannot be written is an error at the call that presented it (here a folder has
    // taken the file's name).
    fs::create_directories(dir / "blocked" / "frame_00001.png");
    r = RunFake(script, {"--frames", "blocked", "--no-out"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("script.lua:5: qm.EndScene: frame 1: cannot write"), std::string::npos) << r.err;
}

TEST_F(Host, OutputThatCannotBeWrittenIsReported) {
    const std::string script = "local info = qm.window(2, 2)\nqm.Init(info)\nqm.EndScene()\n";
    Result r = RunFake(script, {"--out", "no/such/folder/last.png"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot write no/such/folder/last.png"), std::string::npos) << r.err;

    r = RunFake("print('nothing drawn')\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "nothing drawn\n");
    EXPECT_NE(r.err.find("no frame was presented; frame.png not written"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "frame.png"));

    std::ofstream(dir / "taken") << "a file where the frame folder should go";
    r = RunFake(script, {"--frames", "taken/frames"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("cannot make the frame folder taken/frames"), std::string::npos) << r.err;
}

TEST_F(Host, AMissingModuleFailsAtTheFirstCallThatNeedsIt) {
    const fs::path script = Script("script.lua", R"(assert(not qm.has("Init"))
assert(qm.fx(2) == 131072)
print("before")
qm.Init(0)
)");
    Result r = Run({"--module", (dir / "none.hpi").string(), "--no-out", script.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "before\n");
    EXPECT_EQ(r.err.rfind(script.string() + ":4: qm.Init: no module is loaded (", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("none.hpi"), std::string::npos) << r.err;
}

TEST_F(Host, ArgumentsExitCodeAndUnloadOrder) {
    const std::string script = R"(
print(arg[1], arg[2], select("#", ...), ...)
assert(arg[0]:find("script.lua", 1, true) and arg[-1] == "last.png")
keep = setmetatable({}, {__gc = function() io.stderr:write("lua state closed\n") end})
local info = qm.window(3, 2)
qm.Init(info)
qm.EndScene()
os.exit(3)
print("not reached")
)";
    const fs::path path = Script("script.lua", script);
    Result r = Run({"--module", QM_FAKE_MODULE_PATH, "--out", "last.png", path.string(), "one", "two"});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_EQ(r.out, "one\ttwo\t2\tone\ttwo\n");
    // os.exit ends the script through the host: the frame is still written, the Lua state is closed,
    // and only then is the module unloaded.
    ExpectFakeFrame(ReadPng(dir / "last.png"), 3, 2, 1);
    const std::size_t closed = r.err.find("lua state closed");
    const std::size_t unloaded = r.err.find("fake module unloaded");
    ASSERT_NE(closed, std::string::npos) << r.err;
    ASSERT_NE(unloaded, std::string::npos) << r.err;
    EXPECT_LT(closed, unloaded);
}

TEST_F(Host, CommandLineErrors) {
    const fs::path script = Script("ok.lua", "print('ran')\n");
    Result r = Run({});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("no script given"), std::string::npos);
    r = Run({"--bogus", script.string()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("unknown option --bogus"), std::string::npos);
    r = Run({"--frames", "f", "--every", "0", script.string()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--every needs a whole number"), std::string::npos);
    r = Run({"--every", "2", script.string()});
    EXPECT_EQ(r.exitCode, 2);
    r = Run({"--module"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--module needs a value"), std::string::npos);
    r = Run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("usage: qmhost"), std::string::npos);
    r = Run({"--no-out", (dir / "absent.lua").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos);
    // Everything after the script belongs to the script, options included.
    r = Run({"--module", QM_FAKE_MODULE_PATH, "--no-out", script.string(), "--bogus"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "ran\n");
}

#ifdef QM_WITH_MODULE
// The built module, found beside qmhost without --module.
TEST_F(Host, TheBuiltModuleClearsAFrameToTheBackgroundColour) {
    const fs::path script = Script("script.lua", R"(
local count = 0
for name, value in pairs(qm) do
  if type(value) == "function" and name:match("^%u") then
    assert(qm.has(name), name)
    count = count + 1
  end
end
assert(count == 56, count)
local info = qm.window(8, 6)
assert(qm.Init(info) == 0)
assert(qm.SetBgColor(0x20, 0x40, 0x60, 0xFF) == 0)
assert(qm.BeginScene(0) == 0)
assert(qm.EndScene() == 0)
local out = qm.ints(1)
assert(qm.Len(out, qm.fx(-3), qm.fx(4), 0) == 0 and out[0] == qm.fx(5))
)");
    Result r = Run({"--out", "clear.png", script.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Image image = ReadPng(dir / "clear.png");
    ASSERT_EQ(image.width, 8);
    ASSERT_EQ(image.height, 6);
    for (std::size_t i = 0; i < image.rgb.size(); i += 3) {
        ASSERT_EQ(image.rgb[i], 0x20);
        ASSERT_EQ(image.rgb[i + 1], 0x40);
        ASSERT_EQ(image.rgb[i + 2], 0x60);
    }
}

TEST_F(Host, TheShowcaseRunsOnTheBuiltModule) {
    Result r = Run({"--frames", "frames", "--every", "4", "--out", "showcase.png", QM_SHOWCASE_PATH, "8"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Init -> 0"), std::string::npos) << r.out;
    Image image = ReadPng(dir / "showcase.png");
    EXPECT_EQ(image.width, 640);
    EXPECT_EQ(image.height, 480);
    EXPECT_TRUE(fs::exists(dir / "frames" / "frame_00005.png"));
    EXPECT_FALSE(fs::exists(dir / "frames" / "frame_00009.png"));
}
#endif

}  // namespace
