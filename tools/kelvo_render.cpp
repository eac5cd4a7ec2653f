// kelvo-render: runs the effect headless on the stand-in, the way the saver runs
// it: settings from a kelvo.ini where the saver looks for it, the tick count at
// creation as the seed, one WM_TIMER per frame.
#include "effect/animation.h"
#include "effect/settings_file.h"
#include "profile.h"
#include "standin.h"
#include "surface.h"

#include <gif_lib.h>
#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char Usage[] =
    "usage: kelvo-render --size WxH --seed N [--komakasa N] [--colmode N] [--wait N] --frames N "
    "[--png FILE] [--gif FILE] [--trace]";
constexpr long LargestSide = 8192;  // keeps the surface within a few hundred megabytes
constexpr int BadArguments = 2;
constexpr int Failed = 1;
constexpr int GifColours = 256;
constexpr UINT_PTR FrameTimer = 1;

struct Setting {
    const char* key;
    bool given = false;
    std::string text;
};

struct Options {
    long width = 0, height = 0;
    bool haveSize = false;
    DWORD seed = 0;
    bool haveSeed = false;
    long frames = 0;
    bool haveFrames = false;
    Setting komakasa{"komakasa", false, ""}, colmode{"colmode", false, ""}, wait{"wait", false, ""};
    std::string png, gif;
    bool trace = false;
};

int Refuse(const std::string& message) {
    std::fprintf(stderr, "kelvo-render: %s\n", message.c_str());
    return BadArguments;
}

// Decimal digits with an optional sign, nothing else, within [lowest, highest].
bool ParseNumber(const std::string& text, long long lowest, long long highest, long long* value) {
    size_t start = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (start == text.size() || text.size() - start > 12) return false;
    for (size_t i = start; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    long long parsed = std::strtoll(text.c_str(), nullptr, 10);
    if (parsed < lowest || parsed > highest) return false;
    *value = parsed;
    return true;
}

bool ParseSize(const std::string& text, long* width, long* height) {
    size_t cross = text.find('x');
    if (cross == std::string::npos) return false;
    long long w = 0, h = 0;
    if (text[0] == '+' || text[cross + 1] == '+') return false;
    if (!ParseNumber(text.substr(0, cross), 1, LargestSide, &w) ||
        !ParseNumber(text.substr(cross + 1), 1, LargestSide, &h))
        return false;
    *width = static_cast<long>(w);
    *height = static_cast<long>(h);
    return true;
}

// 0 when the arguments are good, otherwise the exit status after the message.
int ParseArguments(int count, char** arguments, Options* options) {
    for (int i = 1; i < count; ++i) {
        const std::string option = arguments[i];
        if (option == "--trace") {
            options->trace = true;
            continue;
        }
        const bool known = option == "--size" || option == "--seed" || option == "--frames" || option == "--komakasa" ||
                           option == "--colmode" || option == "--wait" || option == "--png" || option == "--gif";
        if (!known) return Refuse("unknown option '" + option + "'; " + Usage);
        if (i + 1 >= count) return Refuse(option + " needs a value");
        const std::string value = arguments[++i];
        long long number = 0;
        if (option == "--size") {
            if (!ParseSize(value, &options->width, &options->height))
                return Refuse("--size wants WIDTHxHEIGHT, each 1 to " + std::to_string(LargestSide) + ", not '" +
                              value + "'");
            options->haveSize = true;
        } else if (option == "--seed") {
            if (value[0] == '-' || value[0] == '+' || !ParseNumber(value, 0, 4294967295LL, &number))
                return Refuse("--seed wants a number from 0 to 4294967295, not '" + value + "'");
            options->seed = static_cast<DWORD>(number);
            options->haveSeed = true;
        } else if (option == "--frames") {
            if (!ParseNumber(value, 0, INT32_MAX, &number))
                return Refuse("--frames wants a number from 0 to 2147483647, not '" + value + "'");
            options->frames = static_cast<long>(number);
            options->haveFrames = true;
        } else if (option == "--png" || option == "--gif") {
            if (value.empty()) return Refuse(option + " needs a file name");
            (option == "--png" ? options->png : options->gif) = value;
        } else {
            Setting& setting =
                option == "--komakasa" ? options->komakasa : option == "--colmode" ? options->colmode : options->wait;
            if (!ParseNumber(value, INT32_MIN, INT32_MAX, &number))
                return Refuse(option + " wants a 32-bit signed number, not '" + value + "'");
            setting.given = true;
            setting.text = std::to_string(number);
        }
    }
    if (!options->haveSize) return Refuse("--size is missing; " + std::string(Usage));
    if (!options->haveSeed) return Refuse("--seed is missing; " + std::string(Usage));
    if (!options->haveFrames) return Refuse("--frames is missing; " + std::string(Usage));
    return 0;
}

// A private folder for kelvo.ini, named to the effect as a Windows path.
struct SettingsFolder {
    std::string folder;
    std::string file;  // the settings file as the program names it
};

bool MakeSettingsFolder(const Options& options, SettingsFolder* settings) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/kelvo-render-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) return false;
    settings->folder = name.data();

    std::string module = settings->folder + "/kelvo.scr";
    for (char& c : module)
        if (c == '/') c = '\\';
    standin::moduleFileName = module;
    FamilyText path;
    SettingsFilePath(path);
    settings->file = standin::Utf8(path.wide);
    if (settings->file.empty() || standin::ProfileFilePath(settings->file.c_str()) != settings->folder + "/kelvo.ini")
        return false;

    for (const Setting* setting : {&options.wait, &options.komakasa, &options.colmode})
        if (setting->given && !WritePrivateProfileStringA("TestScreenSaver", setting->key, setting->text.c_str(),
                                                          settings->file.c_str()))
            return false;
    return true;
}

void RemoveSettingsFolder(const SettingsFolder& settings) {
    if (settings.folder.empty()) return;
    std::remove((settings.folder + "/kelvo.ini").c_str());
    rmdir(settings.folder.c_str());
}

// How many values the generator gave between the two states: its sequence
// passes through every state, so stepping a copy reaches the later one.
unsigned long DrawsBetween(DWORD before, DWORD after) {
    const DWORD saved = RandomState;
    SeedRandom(before);
    unsigned long draws = 0;
    while (RandomState != after) {
        NextRandom();
        ++draws;
    }
    SeedRandom(saved);
    return draws;
}

void TraceSparkles() {
    for (int i = 0; i < SparkleCount; ++i) {
        const Sparkle& s = EffectState.sparkles[i];
        std::printf("sparkle %d %d %d %d %d %d\n", i, static_cast<int>(s.x), static_cast<int>(s.y),
                    static_cast<int>(s.dx), static_cast<int>(s.dy), static_cast<int>(s.hue));
    }
}

void TraceGlyphs(const Sparkle (&before)[SparkleCount]) {
    std::vector<COLORREF> colours;
    for (const standin::Call& call : standin::calls)
        if (call.name == "CreatePen") colours.push_back(static_cast<COLORREF>(call.args[2]));
    for (int i = 0; i < SparkleCount && i < static_cast<int>(colours.size()); ++i)
        std::printf("glyph %d %d %d %02X%02X%02X\n", i, static_cast<int>(before[i].x), static_cast<int>(before[i].y),
                    GetRValue(colours[i]), GetGValue(colours[i]), GetBValue(colours[i]));
}

bool WritePng(const std::string& path, const standin::Surface& surface) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row(static_cast<size_t>(surface.width) * 3);
    bool written = false;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, surface.width, surface.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < surface.height; ++y) {
            for (int x = 0; x < surface.width; ++x) {
                COLORREF colour = surface.pixels[static_cast<size_t>(y) * surface.width + x];
                row[3 * x] = GetRValue(colour);
                row[3 * x + 1] = GetGValue(colour);
                row[3 * x + 2] = GetBValue(colour);
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        written = true;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && written;
}

class GifWriter {
public:
    bool Open(const std::string& path, int width, int height, UINT interval) {
        int error = 0;
        file_ = EGifOpenFileName(path.c_str(), false, &error);
        if (file_ == nullptr) return false;
        width_ = width;
        height_ = height;
        long centiseconds = (static_cast<long>(interval) + 5) / 10;
        delay_ = static_cast<int>(centiseconds < 1 ? 1 : centiseconds > 65535 ? 65535 : centiseconds);
        const size_t count = static_cast<size_t>(width) * height;
        red_.resize(count);
        green_.resize(count);
        blue_.resize(count);
        indices_.resize(count);
        EGifSetGifVersion(file_, true);
        if (EGifPutScreenDesc(file_, width, height, 8, 0, nullptr) == GIF_ERROR) return false;
        // Loop for ever.
        static const GifByteType application[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
        static const GifByteType loop[] = {1, 0, 0};
        return EGifPutExtensionLeader(file_, APPLICATION_EXT_FUNC_CODE) != GIF_ERROR &&
               EGifPutExtensionBlock(file_, sizeof application, application) != GIF_ERROR &&
               EGifPutExtensionBlock(file_, sizeof loop, loop) != GIF_ERROR &&
               EGifPutExtensionTrailer(file_) != GIF_ERROR;
    }

    bool AddFrame(const standin::Surface& surface) {
        for (size_t i = 0; i < surface.pixels.size(); ++i) {
            red_[i] = GetRValue(surface.pixels[i]);
            green_[i] = GetGValue(surface.pixels[i]);
            blue_[i] = GetBValue(surface.pixels[i]);
        }
        GifColorType colours[GifColours] = {};
        int colourCount = GifColours;
        if (GifQuantizeBuffer(width_, height_, &colourCount, red_.data(), green_.data(), blue_.data(),
                              indices_.data(), colours) == GIF_ERROR)
            return false;
        ColorMapObject* map = GifMakeMapObject(GifColours, colours);
        if (map == nullptr) return false;
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSE_DO_NOT;
        control.DelayTime = delay_;
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        GifByteType extension[4];
        size_t length = EGifGCBToExtension(&control, extension);
        bool good = EGifPutExtension(file_, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) != GIF_ERROR &&
                    EGifPutImageDesc(file_, 0, 0, width_, height_, false, map) != GIF_ERROR;
        for (int y = 0; good && y < height_; ++y)
            good = EGifPutLine(file_, indices_.data() + static_cast<size_t>(y) * width_, width_) != GIF_ERROR;
        GifFreeMapObject(map);
        return good;
    }

    bool Close() {
        if (file_ == nullptr) return false;
        int error = 0;
        bool closed = EGifCloseFile(file_, &error) != GIF_ERROR;
        file_ = nullptr;
        return closed;
    }

    ~GifWriter() { Close(); }

private:
    GifFileType* file_ = nullptr;
    int width_ = 0, height_ = 0, delay_ = 1;
    std::vector<GifByteType> red_, green_, blue_, indices_;
};

UINT TimerInterval(HWND window) {
    for (const standin::Timer& timer : standin::timers)
        if (timer.window == window && timer.id == FrameTimer) return timer.elapse;
    return 0;
}

int Render(const Options& options) {
    standin::Reset();
    SettingsFolder settings;
    if (!MakeSettingsFolder(options, &settings)) {
        std::fprintf(stderr, "kelvo-render: cannot prepare a settings file in a temporary folder\n");
        RemoveSettingsFolder(settings);
        return Failed;
    }

    standin::tickCount = options.seed;
    HWND window = standin::AddWindow(static_cast<int>(options.width), static_cast<int>(options.height),
                                     "WindowsScreenSaverClass", "Screen Saver");
    const standin::Surface& surface = *standin::WindowSurface(window);

    EffectProc(window, WM_CREATE, 0, 0);
    if (options.trace) {
        std::printf("frame 0 draws %lu\n", DrawsBetween(options.seed, RandomState));
        TraceSparkles();
    }
    standin::calls.clear();

    GifWriter gif;
    bool good = options.gif.empty() || gif.Open(options.gif, surface.width, surface.height, TimerInterval(window));
    for (long frame = 1; good && frame <= options.frames; ++frame) {
        Sparkle before[SparkleCount];
        std::memcpy(before, EffectState.sparkles, sizeof before);
        const DWORD stateBefore = RandomState;
        EffectProc(window, WM_TIMER, FrameTimer, 0);
        if (options.trace) {
            std::printf("frame %ld draws %lu\n", frame, DrawsBetween(stateBefore, RandomState));
            TraceGlyphs(before);
            TraceSparkles();
        }
        standin::calls.clear();
        if (!options.gif.empty()) good = gif.AddFrame(surface);
    }
    // A GIF needs at least one image: without frames it shows the window as created.
    if (good && !options.gif.empty() && options.frames == 0) good = gif.AddFrame(surface);
    EffectProc(window, WM_DESTROY, 0, 0);
    RemoveSettingsFolder(settings);

    if (!options.gif.empty() && !(gif.Close() && good)) {
        std::fprintf(stderr, "kelvo-render: cannot write the GIF file %s\n", options.gif.c_str());
        return Failed;
    }
    if (!options.png.empty() && !WritePng(options.png, surface)) {
        std::fprintf(stderr, "kelvo-render: cannot write the PNG file %s\n", options.png.c_str());
        return Failed;
    }
    return std::fflush(stdout) == 0 ? 0 : Failed;
}

}  // namespace

int main(int count, char** arguments) {
    Options options;
    int refused = ParseArguments(count, arguments, &options);
    if (refused != 0) return refused;
    return Render(options);
}
