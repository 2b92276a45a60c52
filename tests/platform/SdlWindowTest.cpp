// The SDL backend in a real X server: the test starts its own Xvfb, runs the seam demo in
// a window and checks screenshots of the X screen against the in-memory surface; the
// loop, the box and the dialog are driven by real SDL events; the backend table falls back
// to headless without a display. Skipped only where Xvfb is not installed.
#include <gtest/gtest.h>

#include <SDL.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "midi/SmfLoading.h"
#include "platform/Backends.h"
#include "platform/headless/PngFile.h"
#include "platform/sdl/SdlPlatform.h"
#include "platform/sdl/TextLayout.h"

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>

// A leak the program does not own: D-Bus's, which SDL asks about the desktop. Mesa's
// software driver keeps its blocks until libGL unloads it before the leak check, which
// then reports them as lost; the fixture keeps the driver loaded.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
#endif

namespace vesk::platform::sdl {
namespace {

namespace fs = std::filesystem;

constexpr int screenWidth = 1024;
constexpr int screenHeight = 768;
constexpr std::uint32_t watchdogTimer = 99;
constexpr int watchdogMs = 10000;

// --- the X server ---

// An Xvfb of this test process on the first free display, which it names on a pipe once it
// takes clients; stopped at the end.
class XServer {
public:
    XServer() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            // The server goes with this test process, even when the test crashes.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) ::_exit(127);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            const std::string fd = std::to_string(fds[1]);
            // -noreset: a server that resets when its last client leaves turns the next
            // window of the run away while it does.
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                     "-nolisten", "tcp", "-noreset", nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        pollfd ready{fds[0], POLLIN, 0};
        char number[16] = {};
        if (pid_ > 0 && ::poll(&ready, 1, 10000) > 0 && ::read(fds[0], number, sizeof number - 1) > 0)
            display_ = ":" + std::to_string(std::atoi(number));
        ::close(fds[0]);
        if (display_.empty()) stop();  // 127: no Xvfb to run
    }
    ~XServer() { stop(); }
    void stop() {
        int status = 0;
        if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0 && ::waitpid(pid_, &status, 0) == pid_)
            installed_ = !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
        pid_ = -1;
    }

    bool installed() const { return installed_; }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    bool installed_ = true;
    std::string display_;
};

// --- events a user would make ---

void pushKey(std::uint32_t window, SDL_Keycode key, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = window;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = key;
    e.key.keysym.scancode = SDL_GetScancodeFromKey(key);
    SDL_PushEvent(&e);
}

void pressKey(std::uint32_t window, SDL_Keycode key) {
    pushKey(window, key, true);
    pushKey(window, key, false);
}

void pushText(std::uint32_t window, const char* utf8) {
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    e.text.windowID = window;
    std::strncpy(e.text.text, utf8, sizeof e.text.text - 1);
    SDL_PushEvent(&e);
}

// Moves the X pointer there (ImGui reads the pointer from the server) and presses.
void click(std::uint32_t window, PixelRect target) {
    const int x = int(target.x + target.width / 2);
    const int y = int(target.y + target.height / 2);
    SDL_WarpMouseInWindow(SDL_GetWindowFromID(window), x, y);
    for (Uint32 type : {Uint32(SDL_MOUSEBUTTONDOWN), Uint32(SDL_MOUSEBUTTONUP)}) {
        SDL_Event e{};
        e.type = type;
        e.button.windowID = window;
        e.button.button = SDL_BUTTON_LEFT;
        e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.button.clicks = 1;
        e.button.x = x;
        e.button.y = y;
        SDL_PushEvent(&e);
    }
}

// A window procedure made of a function; without one, the default processing.
class TestWindow final : public WindowHandler {
public:
    TestWindow(MessageLoop& loop, std::function<void(const Message&)> handle)
        : loop_(loop), handle_(std::move(handle)) {
        loop_.setHandler(this);
    }
    ~TestWindow() override { loop_.setHandler(nullptr); }
    void handleMessage(const Message& message) override {
        if (message.type == MessageType::Timer && message.param == watchdogTimer) {
            ADD_FAILURE() << "the loop ran into the watchdog";
            loop_.postQuit(99);
            return;
        }
        handle_(message);
    }

private:
    MessageLoop& loop_;
    std::function<void(const Message&)> handle_;
};

// --- screenshots ---

// The X screen as the user sees it, through xwd and ImageMagick, kept in the test output.
::testing::AssertionResult screenshot(const std::string& display, const std::string& name,
                                      Image& image) {
    const char* dir = std::getenv("VESK_TEST_OUTPUT");
    const fs::path out = dir && *dir ? fs::path(dir) : fs::temp_directory_path() / "vesk-test-output";
    fs::create_directories(out);
    const std::string path = (out / name).string();
    fs::remove(path);
    const std::string command =
        "xwd -root -display " + display + " -silent | convert xwd:- png:" + path;
    if (std::system(command.c_str()) != 0)
        return ::testing::AssertionFailure() << "failed: " << command;
    std::string error;
    if (!readPng(path, image, error)) return ::testing::AssertionFailure() << error;
    return ::testing::AssertionSuccess();
}

int red(std::uint32_t p) { return int(p >> 16 & 0xFF); }
int green(std::uint32_t p) { return int(p >> 8 & 0xFF); }
int blue(std::uint32_t p) { return int(p & 0xFF); }
bool isBlack(std::uint32_t p) { return (p & 0xFFFFFF) == 0; }
bool isRingGreen(std::uint32_t p) {
    return std::abs(green(p) - 0xA0) <= 12 && red(p) <= 12 && blue(p) <= 12;
}
bool isBoxBackground(std::uint32_t p) {  // a light, neutral grey
    const int lo = std::min({red(p), green(p), blue(p)});
    const int hi = std::max({red(p), green(p), blue(p)});
    return lo >= 0xE0 && hi - lo <= 6;
}
bool sameColour(std::uint32_t a, std::uint32_t b) {
    return std::abs(red(a) - red(b)) <= 2 && std::abs(green(a) - green(b)) <= 2 &&
           std::abs(blue(a) - blue(b)) <= 2;
}

struct Box {
    int left = screenWidth, top = screenHeight, right = -1, bottom = -1;  // inclusive
    bool contains(int x, int y, int margin = 0) const {
        return x >= left - margin && x <= right + margin && y >= top - margin &&
               y <= bottom + margin;
    }
};

// The rows and columns near the centre that are mostly box background.
Box findBox(const Image& shot) {
    constexpr int reach = 300;  // from the centre; a box of a short text fits well inside
    constexpr int leastRun = 60;
    std::vector<int> rows(std::size_t(shot.height)), columns(std::size_t(shot.width));
    const int cx = shot.width / 2, cy = shot.height / 2;
    for (int y = std::max(0, cy - reach); y < std::min(shot.height, cy + reach); ++y)
        for (int x = std::max(0, cx - reach); x < std::min(shot.width, cx + reach); ++x)
            if (isBoxBackground(shot.pixels[std::size_t(y) * shot.width + x])) ++rows[y], ++columns[x];
    Box box;
    for (int y = 0; y < shot.height; ++y)
        if (rows[y] >= leastRun) box.top = std::min(box.top, y), box.bottom = y;
    for (int x = 0; x < shot.width; ++x)
        if (columns[x] >= leastRun / 2) box.left = std::min(box.left, x), box.right = x;
    return box;
}

// Pixels of `shot` that differ from `surface`, outside `box` when given.
int differingPixels(const Image& shot, const std::vector<std::uint32_t>& surface,
                    const std::optional<Box>& box) {
    int differing = 0;
    for (int y = 0; y < screenHeight; ++y)
        for (int x = 0; x < screenWidth; ++x) {
            if (box && box->contains(x, y, 3)) continue;
            const std::size_t i = std::size_t(y) * screenWidth + x;
            differing += !sameColour(shot.pixels[i], surface[i]);
        }
    return differing;
}

// --- the fixture: one X server for the whole run of this executable ---

class SdlWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
#if defined(__SANITIZE_ADDRESS__)
        dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
#endif
        server_ = std::make_unique<XServer>();
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        if (!server_->installed())
            GTEST_SKIP() << "Xvfb is not installed, so no X server can be started for a real window";
        ASSERT_FALSE(server_->display().empty()) << "Xvfb started but named no display";
        ::setenv("DISPLAY", server_->display().c_str(), 1);
    }

    std::unique_ptr<SdlPlatform> openWindow() {
        WindowOptions options;
        options.presentation = Presentation::Windowed;  // the screen's pixels are the surface's
        std::string reason;
        auto platform = SdlPlatform::create(options, reason);
        EXPECT_TRUE(platform) << reason;
        if (platform) platform->loop().setTimer(watchdogTimer, watchdogMs);
        return platform;
    }

    static const std::string& display() { return server_->display(); }

    static inline std::unique_ptr<XServer> server_;
};

// --- the loop under real time ---

TEST_F(SdlWindowTest, KeysReachTheWindowProcedureAsKeyCodes) {
    auto platform = openWindow();
    ASSERT_TRUE(platform);
    MessageLoop& loop = platform->loop();
    std::vector<Message> keys;
    TestWindow window(loop, [&](const Message& m) {
        if (m.type == MessageType::KeyDown || m.type == MessageType::KeyUp) keys.push_back(m);
        if (m.type == MessageType::KeyDown && m.param == keyEscape) loop.postQuit(0);
        if (m.type != MessageType::KeyDown && m.type != MessageType::KeyUp) loop.defaultProcessing(m);
    });

    const struct {
        SDL_Keycode key;
        std::optional<std::uint32_t> code;  // none: the window never hears of it
    } cases[] = {
        {SDLK_a, 'A'}, {SDLK_z, 'Z'}, {SDLK_7, '7'}, {SDLK_RETURN, keyEnter},
        {SDLK_KP_ENTER, keyEnter}, {SDLK_LEFT, keyLeft}, {SDLK_F1, keyF1},
        {SDLK_F12, keyF1 + 11}, {SDLK_KP_0, keyKeypad0}, {SDLK_KP_9, keyKeypad0 + 9},
        {SDLK_CAPSLOCK, std::nullopt},
    };
    std::vector<Message> expected;
    for (const auto& c : cases) {
        pressKey(platform->windowId(), c.key);
        if (c.code) {
            expected.push_back({MessageType::KeyDown, *c.code});
            expected.push_back({MessageType::KeyUp, *c.code});
        }
    }
    pushKey(platform->windowId(), SDLK_ESCAPE, true);
    expected.push_back({MessageType::KeyDown, keyEscape});

    EXPECT_EQ(loop.run(), 0);
    EXPECT_EQ(keys, expected);
}

TEST_F(SdlWindowTest, CloseRequestBecomesCloseThenDestroy) {
    auto platform = openWindow();
    ASSERT_TRUE(platform);
    MessageLoop& loop = platform->loop();
    std::vector<MessageType> seen;
    TestWindow window(loop, [&](const Message& m) {
        if (m.type == MessageType::Close || m.type == MessageType::Destroy) seen.push_back(m.type);
        if (m.type == MessageType::Destroy) loop.postQuit(3);
        loop.defaultProcessing(m);
    });
    // What the close box makes: the window's close, then SDL's quit for the last window.
    SDL_Event close{}, quit{};
    close.type = SDL_WINDOWEVENT;
    close.window.windowID = platform->windowId();
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    quit.type = SDL_QUIT;
    SDL_PushEvent(&close);
    SDL_PushEvent(&quit);

    EXPECT_EQ(loop.run(), 3);
    EXPECT_EQ(seen, (std::vector<MessageType>{MessageType::Close, MessageType::Destroy}));
    EXPECT_TRUE(loop.destroyed());
}

TEST_F(SdlWindowTest, PostFromAnotherThreadWakesAWaitWithoutDeadline) {
    auto platform = openWindow();
    ASSERT_TRUE(platform);
    MessageLoop& loop = platform->loop();
    loop.killTimer(watchdogTimer);  // no deadline at all: only the wake can end the wait
    std::vector<Message> inputs;
    TestWindow window(loop, [&](const Message& m) {
        if (m.type == MessageType::MidiInput) {
            inputs.push_back(m);
            loop.postQuit(0);
        }
        loop.defaultProcessing(m);
    });
    std::thread sender([&loop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        loop.post({MessageType::MidiInput, 0x403C90});
    });
    // If the wake went missing the run would hang; this thread ends it as a failure.
    std::promise<void> ended;
    std::thread rescue([&loop, done = ended.get_future()] {
        if (done.wait_for(std::chrono::seconds(8)) == std::future_status::timeout) loop.postQuit(99);
    });
    const int exitCode = loop.run();
    ended.set_value();
    sender.join();
    rescue.join();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(inputs, (std::vector<Message>{{MessageType::MidiInput, 0x403C90}}));
}

TEST_F(SdlWindowTest, DisplayAcceptsModesThatFitTheDesktopAt24Or32Bits) {
    auto platform = openWindow();
    ASSERT_TRUE(platform);
    Display& d = platform->display();
    EXPECT_TRUE(d.connect());
    EXPECT_TRUE(d.shareWithWindow());
    const struct {
        int width, height, bits;
        bool accepted;
    } cases[] = {
        {1024, 768, 32, true}, {1024, 768, 24, true}, {800, 600, 32, true},
        {1024, 768, 16, false}, {1024, 768, 8, false}, {1280, 1024, 32, false},
        {0, 0, 32, false}, {-640, 480, 32, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(d.setDisplayMode(c.width, c.height, c.bits), c.accepted)
            << c.width << " x " << c.height << " x " << c.bits;
    EXPECT_FALSE(d.attachWindowTarget()) << "attached before it was made";
    EXPECT_TRUE(d.createWindowTarget());
    EXPECT_TRUE(d.attachWindowTarget());
    EXPECT_EQ(d.clientSize(), (Size{screenWidth, screenHeight}));
}

// --- the box and the dialog under real keys and clicks ---

TEST_F(SdlWindowTest, BoxTakesEnterAndEscForItsOkAndTheWindowHearsNoKey) {
    const struct {
        SDL_Keycode key;
        BoxOwner owner;
    } cases[] = {
        {SDLK_ESCAPE, BoxOwner::Window}, {SDLK_RETURN, BoxOwner::Window},
        {SDLK_KP_ENTER, BoxOwner::None}, {SDLK_ESCAPE, BoxOwner::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SDL_GetKeyName(c.key));
        auto platform = openWindow();
        ASSERT_TRUE(platform);
        MessageLoop& loop = platform->loop();
        std::vector<Message> keys;
        bool returned = false;
        std::uint64_t framesWithBox = 0;
        TestWindow window(loop, [&](const Message& m) {
            if (m.type == MessageType::KeyDown || m.type == MessageType::KeyUp) keys.push_back(m);
            if (m.type == MessageType::Timer && m.param == 1) {
                loop.killTimer(1);
                pushKey(platform->windowId(), c.key, true);
                const std::uint64_t framesBefore = platform->framesPresented();
                platform->modalUi().showMessageBox("ファイルオープンのエラーです！", c.owner);
                framesWithBox = platform->framesPresented() - framesBefore;
                returned = true;
                loop.setTimer(2, 100);  // Esc must not have asked for a quit meanwhile
            }
            if (m.type == MessageType::Timer && m.param == 2) loop.postQuit(0);
            if (m.type != MessageType::Timer) loop.defaultProcessing(m);
        });
        loop.setTimer(1, 50);
        EXPECT_EQ(loop.run(), 0);
        EXPECT_TRUE(returned);
        EXPECT_GE(framesWithBox, 1u);
        EXPECT_TRUE(keys.empty()) << "a key reached the window while the box was open";
    }
}

// The program's file dialog, its name field cut to 8 bytes so that typing reaches the limit.
DialogTemplate fileDialog() {
    DialogTemplate t = midi::smfDialogTemplate();
    for (DialogControl& c : t.controls)
        if (c.id == midi::fileNameControl) c.maxLength = 8;
    return t;
}

class RecordingProcedure final : public DialogProcedure {
public:
    void onInit(DialogContext& d) override {
        d.setControlText(1000, "vobe.mid");
        d.setControlText(1001, "1");
    }
    void onCommand(DialogContext& d, int controlId) override {
        events.push_back("command " + std::to_string(controlId));
        if (controlId == 1) {
            fileName = d.controlText(1000, 255);
            channel = d.controlText(1001, 2);
            d.endDialog(1);
        } else if (controlId == 1002) {
            d.endDialog(20);
        }
    }
    void onClose(DialogContext& d) override {
        events.push_back("close");
        d.endDialog(30);
    }

    std::vector<std::string> events;
    std::string fileName, channel;
};

TEST_F(SdlWindowTest, DialogAnswersRealTypingClicksAndQuit) {
    enum class Input { EnterOnly, TypeAndEnter, ClickQuitButton, ClickCloseBox, EscThenQuit };
    const struct {
        Input input;
        int result;
        std::vector<std::string> events;
        std::string fileName;
    } cases[] = {
        {Input::EnterOnly, 1, {"command 1"}, "vobe.mid"},
        // The first field has the keyboard with its text selected, as a dialog opens;
        // the limit of 8 bytes keeps 漢 whole and turns 字 away.
        {Input::TypeAndEnter, 1, {"command 1"}, "abc漢"},
        {Input::ClickQuitButton, 20, {"command 1002"}, ""},
        {Input::ClickCloseBox, 30, {"close"}, ""},
        {Input::EscThenQuit, dialogAbandoned, {}, ""},
    };
    const DialogTemplate dialog = fileDialog();
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.input));
        auto platform = openWindow();
        ASSERT_TRUE(platform);
        MessageLoop& loop = platform->loop();
        const std::uint32_t id = platform->windowId();
        RecordingProcedure procedure;
        int result = -99;
        TestWindow window(loop, [&](const Message& m) {
            if (m.type != MessageType::Timer) return loop.defaultProcessing(m);
            if (m.param == 1) {  // opens the dialog; timers 2 and 3 act while it is open
                loop.killTimer(1);
                loop.setTimer(2, 300);
                result = platform->modalUi().runDialog(dialog, procedure);
                loop.postQuit(0);
            } else if (m.param == 2) {
                loop.killTimer(2);
                if (c.input == Input::TypeAndEnter) {
                    pushText(id, "abc漢字");
                    pressKey(id, SDLK_RETURN);
                } else if (c.input == Input::EnterOnly) {
                    pressKey(id, SDLK_KP_ENTER);
                } else if (c.input == Input::ClickQuitButton) {
                    const auto button = platform->dialogControlRect(1002);
                    ASSERT_TRUE(button);
                    click(id, *button);
                } else if (c.input == Input::ClickCloseBox) {
                    const auto closeBox = platform->dialogControlRect(closeBoxControl);
                    ASSERT_TRUE(closeBox);
                    click(id, *closeBox);
                } else {
                    pressKey(id, SDLK_ESCAPE);
                    loop.setTimer(3, 300);
                }
            } else if (m.param == 3) {
                loop.killTimer(3);
                loop.postQuit(0);  // the run ends while the dialog is open
            }
        });
        loop.setTimer(1, 50);
        EXPECT_EQ(loop.run(), 0);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(procedure.events, c.events);
        if (c.result == 1) {
            EXPECT_EQ(procedure.fileName, c.fileName);
            EXPECT_EQ(procedure.channel, "1");
        }
    }
}

// --- the backend table ---

TEST(Backends, AutoFallsBackToHeadlessWithoutADisplayAndSaysSo) {
    // The window tests' fixture sets DISPLAY again for itself.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"}) ::unsetenv(name);
    std::ostringstream log;
    std::string reason;
    auto platform = createBackend(autoBackend, BackendOptions{}, reason, log);
    ASSERT_TRUE(platform) << reason;
    EXPECT_EQ(platform->display().clientSize(), (Size{1024, 768}));
    EXPECT_NE(log.str().find("using the headless backend"), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("sdl: "), std::string::npos) << "no word on why sdl was passed over";
}

TEST_F(SdlWindowTest, AutoTakesTheWindowWhereADisplayOpens) {
    std::ostringstream log;
    std::string reason;
    BackendOptions options;
    options.windowed = true;
    auto platform = createBackend(autoBackend, options, reason, log);
    ASSERT_TRUE(platform) << reason;
    EXPECT_NE(dynamic_cast<SdlPlatform*>(platform.get()), nullptr);
    EXPECT_EQ(log.str(), "vesk: using the sdl backend\n");
}

// --- line breaking for boxes and static texts ---

TEST(TextLayout, BreaksJapaneseBetweenCharactersAndLatinAtSpaces) {
    // Every character ten pixels wide, so a width of 50 holds five.
    const Advance tenEach = [](char32_t) { return 10.0f; };
    const struct {
        std::string text;
        float width;
        std::vector<std::string> lines;
    } cases[] = {
        // 。 and ー never begin a line: す goes down with its 。.
        {"チャネルのエラーです。", 50, {"チャネルの", "エラーで", "す。"}},
        {"Could not create window!", 100, {"Could not", "create", "window!"}},
        {"abcdefghijkl", 50, {"abcde", "fghij", "kl"}},
        {"SMFを指定", 30, {"SMF", "を指定"}},
        {"one\n\ntwo", 100, {"one", "", "two"}},
        {"wide enough", 1000, {"wide enough"}},
        {"", 50, {}},
        // A cut or malformed sequence is taken a byte at a time and never read past.
        {"ab\xE3\x81", 20, {"ab", "\xE3\x81"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines;
        for (const TextLine& line : wrapText(c.text, c.width, tenEach)) {
            ASSERT_LE(line.end, c.text.size());
            lines.push_back(c.text.substr(line.begin, line.end - line.begin));
        }
        EXPECT_EQ(lines, c.lines) << c.text;
    }
}

}  // namespace
}  // namespace vesk::platform::sdl
