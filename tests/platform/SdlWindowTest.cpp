// The SDL backend in a real X server: the test starts its own Xvfb, runs vesk's own start-up
// in a window and checks screenshots of the X screen against the in-memory surface; the
// loop, the box and the dialog are driven by real SDL events; the backend table falls back
// to headless without a display. Skipped only where Xvfb is not installed.
#include <gtest/gtest.h>

#include <SDL.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/VeskWindow.h"
#include "flake/Random.h"
#include "midi/SmfLoading.h"
#include "performance/Vesk.h"
#include "platform/Backends.h"
#include "platform/headless/PngFile.h"
#include "platform/sdl/SdlPlatform.h"
#include "platform/sdl/TextLayout.h"
#include "support/Subprocess.h"
#include "support/XServer.h"

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

using test::XServer;

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

// --- vesk itself, seen on the X screen ---

// The dialog is answered with this name, which no file in the test's folder has.
constexpr const char* missingFile = "vesk-no-such-file.mid";
// The script gives up after this many ticks (half a minute), far beyond the dozen it needs.
constexpr int mostScriptTicks = 150;
// The first repaint copies the whole picture to the surface, over the dots the ring drew
// before it (at the first tick, when no paint came earlier); from the third tick on the
// ring has been drawn over a painted picture.
constexpr int firstLookTick = 3;
constexpr int laterLookTicks = 2;  // after the first: the ring turns a little every tick

// What the screen showed at one moment, and the surface it was showing.
struct Shot {
    Image screen;
    std::vector<std::uint32_t> surface;
};

// The window's rectangle of the centred dialog whose close box is `closeBox`: the close
// box sits at its top right corner.
Box centredDialog(const PixelRect& closeBox) {
    Box dialog;
    dialog.right = int(closeBox.x + closeBox.width) - 1;
    dialog.top = int(closeBox.y);
    dialog.left = screenWidth - 1 - dialog.right;
    dialog.bottom = screenHeight - 1 - dialog.top;
    return dialog;
}

// vesk's start-up file dialog driven as a user would, from vesk's own ticks: two looks at
// the dialog over the turning picture, a file name that does not open, a look at the box
// that says so, Return for it, a look at the dialog again, and its quit button.
class StartUpScript final : public VeskObserver {
public:
    StartUpScript(SdlPlatform& platform, std::string display)
        : platform_(platform), display_(std::move(display)) {}

    void repainted(const Vesk&) override {
        // The next frame shows this surface, unless another repaint comes before it.
        repaints_.emplace_back(platform_.framesPresented(), platform_.surface().pixels());
        if (repaints_.size() > keptRepaints) repaints_.pop_front();
    }
    void tickCompleted(const Vesk&) override {
        if (++ticks_ == mostScriptTicks) {
            ADD_FAILURE() << "the run was still going at step " << int(step_);
            platform_.loop().postQuit(99);
        }
        step();
    }

    bool quitClicked() const { return step_ == Step::QuitClicked; }

    std::optional<Box> dialog;
    Shot firstLook, laterLook, box, dialogAgain;

private:
    enum class Step { FirstLook, LaterLook, WaitForBox, DialogAgain, QuitClicked };
    static constexpr std::size_t keptRepaints = 4;

    void step() {
        const std::uint32_t id = platform_.windowId();
        // None while the box is on top: a box has no controls to find.
        const auto closeBox = platform_.dialogControlRect(closeBoxControl);
        if (step_ == Step::FirstLook && ticks_ >= firstLookTick && closeBox &&
            screenIsUpToDate()) {
            dialog = centredDialog(*closeBox);
            take("sdl-vesk-dialog.png", firstLook);
            lookTick_ = ticks_;
            step_ = Step::LaterLook;
        } else if (step_ == Step::LaterLook && ticks_ >= lookTick_ + laterLookTicks &&
                   screenIsUpToDate()) {
            take("sdl-vesk-dialog-later.png", laterLook);
            pushText(id, missingFile);  // over the selected default name
            pressKey(id, SDLK_RETURN);
            step_ = Step::WaitForBox;
        } else if (step_ == Step::WaitForBox) {
            boxTicks_ = closeBox ? 0 : boxTicks_ + 1;
            // The box has stood a whole tick, and a frame has shown it since.
            if (boxTicks_ < 2 || !screenIsUpToDate()) return;
            take("sdl-vesk-box.png", box);
            pressKey(id, SDLK_RETURN);
            step_ = Step::DialogAgain;
        } else if (step_ == Step::DialogAgain) {
            const auto quit = platform_.dialogControlRect(midi::quitButton);
            // The box is still up, or the dialog not yet drawn again.
            if (!quit || !screenIsUpToDate()) return;
            take("sdl-vesk-dialog-again.png", dialogAgain);
            click(id, *quit);
            step_ = Step::QuitClicked;
        }
    }

    // A tick can follow the last one's repaint before any frame has shown it; looks wait
    // for a frame, so that each shows the ring as the tick before left it.
    bool screenIsUpToDate() const {
        return !repaints_.empty() && repaints_.back().first < platform_.framesPresented();
    }

    // The screen, and the surface of the last repaint before the frame it shows.
    void take(const std::string& name, Shot& shot) {
        EXPECT_TRUE(screenshot(display_, name, shot.screen));
        const std::uint64_t shown = platform_.framesPresented();
        for (const auto& [frames, pixels] : repaints_)
            if (frames < shown) shot.surface = pixels;
    }

    SdlPlatform& platform_;
    const std::string display_;
    std::deque<std::pair<std::uint64_t, std::vector<std::uint32_t>>> repaints_;
    int ticks_ = 0;
    int lookTick_ = 0;
    int boxTicks_ = 0;
    Step step_ = Step::FirstLook;
};

bool isIconRed(std::uint32_t p) {  // the box's error icon: (204, 36, 36)
    return std::abs(red(p) - 204) <= 12 && green(p) <= 60 && blue(p) <= 60;
}

int countInside(const Image& shot, const Box& box, const std::function<bool(std::uint32_t)>& is) {
    int n = 0;
    for (int y = std::max(box.top, 0); y <= std::min(box.bottom, shot.height - 1); ++y)
        for (int x = std::max(box.left, 0); x <= std::min(box.right, shot.width - 1); ++x)
            n += is(shot.pixels[std::size_t(y) * shot.width + x]);
    return n;
}

int area(const Box& box) { return (box.right - box.left + 1) * (box.bottom - box.top + 1); }

// Where the ring's dots are on the screen around the dialog.
std::set<std::size_t> ringPixels(const Image& shot, const Box& dialog) {
    std::set<std::size_t> at;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x) {
            const std::size_t i = std::size_t(y) * shot.width + x;
            if (!dialog.contains(x, y, 3) && isRingGreen(shot.pixels[i])) at.insert(i);
        }
    return at;
}

::testing::AssertionResult isWholeScreen(const Shot& shot) {
    if (shot.screen.width != screenWidth || shot.screen.height != screenHeight ||
        shot.surface.size() != shot.screen.pixels.size())
        return ::testing::AssertionFailure() << "no screenshot, or no surface shown with it";
    return ::testing::AssertionSuccess();
}

// The dialog over the centre, and around it the screen is the surface it shows.
void expectDialogOverPicture(const Shot& shot, const Box& dialog) {
    EXPECT_TRUE(dialog.contains(screenWidth / 2, screenHeight / 2));
    EXPECT_GT(countInside(shot.screen, dialog, isBoxBackground), area(dialog) / 2)
        << "the dialog is not on the screen";
    EXPECT_EQ(countInside(shot.screen, dialog, isIconRed), 0) << "a box over the dialog";
    EXPECT_EQ(differingPixels(shot.screen, shot.surface, dialog), 0);
}

// Before the box: the seed flake lights the centre of the picture (under the dialog), and
// the ring turns around the dialog between the two looks.
void expectFlakeAndTurningRing(const Shot& first, const Shot& later, const Box& dialog) {
    const Image picture{screenWidth, screenHeight, first.surface};
    const std::uint32_t background = first.surface.front();  // far from flake and ring
    constexpr int reach = 40;
    const Box middle{screenWidth / 2 - reach, screenHeight / 2 - reach,
                     screenWidth / 2 + reach - 1, screenHeight / 2 + reach - 1};
    EXPECT_GT(countInside(picture, middle, [&](std::uint32_t p) { return p != background; }), 200)
        << "the seed flake is not at the centre of the picture";

    const std::set<std::size_t> before = ringPixels(first.screen, dialog);
    const std::set<std::size_t> after = ringPixels(later.screen, dialog);
    EXPECT_GT(before.size(), 100u) << "no ring around the dialog";
    std::size_t moved = 0;
    for (std::size_t i : after) moved += before.count(i) == 0;
    EXPECT_GT(moved, after.size() / 2) << "the ring did not turn";
}

// The box, which stands alone once the dialog has ended: light, over the centre, of a size
// a one-line text makes, with its red icon; around it the screen is the surface, star
// ring included.
void expectBoxOverPicture(const Shot& shot) {
    const Box box = findBox(shot.screen);
    ASSERT_GE(box.right, box.left) << "no box on the screen";
    EXPECT_TRUE(box.contains(screenWidth / 2, screenHeight / 2));
    EXPECT_GT(box.right - box.left, 150);
    EXPECT_LT(box.right - box.left, 600);
    EXPECT_GT(box.bottom - box.top, 60);
    EXPECT_LT(box.bottom - box.top, 300);
    EXPECT_GT(countInside(shot.screen, box, isBoxBackground), area(box) / 2);
    EXPECT_GT(countInside(shot.screen, box, isIconRed), 100) << "no error icon";
    EXPECT_EQ(countInside(shot.screen, box, isRingGreen), 0) << "ring colour inside the box";
    EXPECT_EQ(differingPixels(shot.screen, shot.surface, box), 0);
}

TEST_F(SdlWindowTest, VeskShowsItsDialogOverTheTurningPictureAndTheBoxForAMissingFile) {
    ASSERT_FALSE(fs::exists(missingFile));
    auto platform = openWindow();
    ASSERT_TRUE(platform);
    // Every window timer is a tick to vesk's window procedure; the script keeps watch.
    platform->loop().killTimer(watchdogTimer);
    std::srand(1);
    flake::CLibraryRandom random;
    StartUpScript script(*platform, display());
    int exitCode = -1;
    {
        Vesk vesk(*platform, random);
        vesk.observer = &script;
        exitCode = app::runApplication(vesk, nullptr);
    }
    EXPECT_EQ(exitCode, 0);
    ASSERT_TRUE(script.quitClicked());
    ASSERT_TRUE(script.dialog);
    const Shot* shots[] = {&script.firstLook, &script.laterLook, &script.box, &script.dialogAgain};
    for (const Shot* shot : shots) ASSERT_TRUE(isWholeScreen(*shot));

    for (const Shot* shot : {&script.firstLook, &script.laterLook, &script.dialogAgain})
        expectDialogOverPicture(*shot, *script.dialog);
    expectFlakeAndTurningRing(script.firstLook, script.laterLook, *script.dialog);
    expectBoxOverPicture(script.box);  // and Return took it away: the dialog again has no icon
}

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

enum class Input { EnterOnly, TypeAndEnter, ClickQuitButton, ClickCloseBox, EscThenQuit };

// What the user does to the open dialog.
void actOnDialog(Input input, SdlPlatform& platform) {
    const std::uint32_t id = platform.windowId();
    if (input == Input::TypeAndEnter) {
        pushText(id, "abc漢字");
        pressKey(id, SDLK_RETURN);
    } else if (input == Input::EnterOnly) {
        pressKey(id, SDLK_KP_ENTER);
    } else if (input == Input::ClickQuitButton) {
        const auto button = platform.dialogControlRect(1002);
        ASSERT_TRUE(button);
        click(id, *button);
    } else if (input == Input::ClickCloseBox) {
        const auto closeBox = platform.dialogControlRect(closeBoxControl);
        ASSERT_TRUE(closeBox);
        click(id, *closeBox);
    } else {
        pressKey(id, SDLK_ESCAPE);
        platform.loop().setTimer(3, 300);  // which then ends the run
    }
}

TEST_F(SdlWindowTest, DialogAnswersRealTypingClicksAndQuit) {
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
                // Once the dialog has been drawn: its font is built as it first opens.
                if (!platform->dialogControlRect(midi::fileNameControl)) return;
                loop.killTimer(2);
                actOnDialog(c.input, *platform);
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

// Dark pixels (text) inside `field`, a pixel in from its frame.
int darkPixelsIn(const Image& shot, const PixelRect& field) {
    const Box inside{int(field.x) + 2, int(field.y) + 2, int(field.x + field.width) - 3,
                     int(field.y + field.height) - 3};
    return countInside(shot, inside, [](std::uint32_t p) { return std::max({red(p), green(p), blue(p)}) < 96; });
}

// A path too long for the file field shows its end, both while the field has the keyboard
// (its text selected, as the dialog opens) and once a click has given it to the channel.
TEST_F(SdlWindowTest, FileFieldShowsTheEndOfAPathTooLongForIt) {
    auto platform = openWindow();
    ASSERT_TRUE(platform);
    MessageLoop& loop = platform->loop();
    // Wide letters first and full stops last, so the end has far fewer dark pixels.
    const std::string path = std::string(30, 'W') + std::string(80, '.');
    const std::string dotsOnly(80, '.');
    class Offer final : public DialogProcedure {
    public:
        explicit Offer(std::string text) : text_(std::move(text)) {}
        void onInit(DialogContext& d) override { d.setControlText(midi::fileNameControl, text_); }
        void onCommand(DialogContext& d, int id) override {
            if (id == midi::quitButton) d.endDialog(midi::dialogQuit);
        }
        void onClose(DialogContext&) override {}

    private:
        std::string text_;
    };
    int pathOpening = -1, pathAfterClick = -1, dots = -1;  // dark pixels in the file field
    // Taken once two looks 300 ms apart agree: a busy machine may not have drawn the last
    // step yet at the first.
    int lastLook = -1;
    auto settled = [&](const char* name, int& into) {
        Image shot;
        const auto field = platform->dialogControlRect(midi::fileNameControl);
        if (!screenshot(display(), name, shot) || !field) {
            ADD_FAILURE() << "no screenshot of the file field";
            return true;
        }
        into = darkPixelsIn(shot, *field);
        const bool same = into == lastLook;
        lastLook = same ? -1 : into;
        return same;
    };
    auto press = [&](int control) {
        const auto rect = platform->dialogControlRect(control);
        ASSERT_TRUE(rect);
        click(platform->windowId(), *rect);
    };
    // Timer 2 takes the steps: the path as its dialog opens, a click on the channel field,
    // the path again, quit; then the full stops' dialog, quit.
    int step = 0;
    TestWindow window(loop, [&](const Message& m) {
        if (m.type != MessageType::Timer) return loop.defaultProcessing(m);
        loop.killTimer(m.param);
        if (m.param == 1) {
            for (const std::string* text : {&path, &dotsOnly}) {
                Offer offer(*text);
                loop.setTimer(2, 300);
                platform->modalUi().runDialog(midi::smfDialogTemplate(), offer);
            }
            loop.postQuit(0);
            return;
        }
        // Once the dialog has been drawn: its font is built as it first opens.
        if (!platform->dialogControlRect(midi::fileNameControl)) {
            loop.setTimer(2, 100);
            return;
        }
        const char* names[] = {"sdl-long-path-opening.png", "sdl-long-path-after-click.png", "sdl-long-path-dots.png"};
        int* counts[] = {&pathOpening, &pathAfterClick, &dots};
        if (step > 2 || !settled(names[step], *counts[step])) {
            loop.setTimer(2, 300);
            return;
        }
        switch (step++) {
        case 0: press(midi::channelControl); break;
        case 1: press(midi::quitButton); return;
        case 2: press(midi::quitButton); return;
        }
        loop.setTimer(2, 300);
    });
    loop.setTimer(1, 50);
    EXPECT_EQ(loop.run(), 0);
    ASSERT_GT(dots, 0);
    // The start's W letters would give several times the dots' dark pixels.
    EXPECT_LT(pathOpening, dots * 3 / 2) << "the field with the keyboard shows the path's start";
    EXPECT_LT(pathAfterClick, dots * 3 / 2) << "the field without the keyboard shows the path's start";
}

// --- the newcomer's path: vesk --demo, as scripts/run starts it ---

// How much of the picture the flake covers: the 8 x 8 cells with a lit pixel in them, one
// that is neither the background (the top left corner's colour), nor the star ring's
// green, nor as dim as the edge of a line. Thin branches cover cells a thick arm does not.
int litCells(const Image& shot) {
    constexpr int cell = 8;
    constexpr int dimmest = 60;  // red, green and blue together
    std::set<std::pair<int, int>> cells;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x) {
            const std::uint32_t p = shot.pixels[std::size_t(y) * shot.width + x];
            if (!sameColour(p, shot.pixels.front()) && !isRingGreen(p) && red(p) + green(p) + blue(p) >= dimmest)
                cells.emplace(x / cell, y / cell);
        }
    return int(cells.size());
}

// The root mean square of what SDL's disk audio driver wrote: 32-bit float samples.
double rootMeanSquare(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    double sum = 0;
    std::size_t count = 0;
    for (float sample; in.read(reinterpret_cast<char*>(&sample), sizeof sample); ++count) sum += double(sample) * sample;
    return count ? std::sqrt(sum / double(count)) : 0.0;
}

// The real program, full screen as a newcomer sees it: the demo plays at once (no dialog),
// the flake grows past its six seed arms, the synthesiser is heard (SDL's disk driver
// writes what the audio device would play), the only lines on the terminal are vesk's
// own, and Esc ends it with code 0.
TEST_F(SdlWindowTest, NewcomersVeskDemoPlaysAtOnceIsHeardAndEndsWithEsc) {
    if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "xdotool is not installed";
    const fs::path audio = fs::temp_directory_path() / ("vesk-newcomer-" + std::to_string(::getpid()) + ".raw");
    test::Subprocess vesk(VESK_PROGRAM, {"--demo"},
                          {{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", audio.string()},
                           {"ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1"}});
    Image first, later;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        ASSERT_TRUE(screenshot(display(), "newcomer-first.png", first));
    } while (litCells(first) == 0 && vesk.running() && std::chrono::steady_clock::now() < deadline);
    std::this_thread::sleep_for(std::chrono::seconds(6));  // a dozen notes of the tune
    ASSERT_TRUE(screenshot(display(), "newcomer-later.png", later));
    test::Subprocess esc("/usr/bin/env", {"xdotool", "key", "Escape"});
    EXPECT_EQ(esc.wait(), 0);
    EXPECT_EQ(vesk.wait(std::chrono::seconds(20)), 0) << vesk.err();

    Image seedArms;
    std::string error;
    ASSERT_TRUE(readPng(std::string(VESK_REFERENCE_IMAGES) + "/seed-arms.png", seedArms, error)) << error;
    // The seed arms alone cover some 56 cells; a dozen segments more, half as many again.
    EXPECT_GT(litCells(later), litCells(seedArms) * 3 / 2) << "the flake has not grown past its seed arms";
    EXPECT_GT(litCells(later), litCells(first)) << "the flake did not grow";
    const Box middle{screenWidth / 4, screenHeight / 4, screenWidth * 3 / 4, screenHeight * 3 / 4};
    for (const Image* shot : {&first, &later}) EXPECT_LT(countInside(*shot, middle, isBoxBackground), 50) << "a dialog";
    EXPECT_GT(rootMeanSquare(audio.string()), 1e-3) << "the synthesiser was not heard";
    fs::remove(audio);
    int deviceLines = 0;
    for (const std::string& line : test::linesOf(vesk.err())) {
        // SDL says so whenever its disk driver is used; everything else is vesk's.
        if (line.rfind("CRITICAL: ", 0) == 0) continue;
        EXPECT_EQ(line.rfind("vesk: ", 0), 0u) << line;
        deviceLines += line.find("MIDI output") != std::string::npos;
    }
    EXPECT_EQ(deviceLines, 1);
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
