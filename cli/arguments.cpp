#include "cli/arguments.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <ostream>

#include "cli/memory.h"
#include "cli/names.h"

namespace cli {

namespace {

// A whole decimal number of 1 to 6 digits starting at `at`; `at` moves past it.
bool readNumber(const std::string& text, size_t& at, int& value) {
    size_t start = at;
    value = 0;
    while (at < text.size() && at - start < 7 && text[at] >= '0' && text[at] <= '9')
        value = value * 10 + (text[at++] - '0');
    return at > start && at - start <= 6;
}

bool parsePair(const std::string& text, char separator, bool secondOptional, int& first,
               int& second) {
    size_t at = 0;
    if (!readNumber(text, at, first))
        return false;
    if (at == text.size() && secondOptional) {
        second = first;
        return true;
    }
    if (at >= text.size() || (text[at] != separator && !(separator == 'x' && text[at] == 'X')))
        return false;
    ++at;
    return readNumber(text, at, second) && at == text.size();
}

bool parseColour(std::string text, Rgb& colour) {
    if (!text.empty() && text[0] == '#')
        text.erase(0, 1);
    if (text.size() != 6)
        return false;
    uint32_t value = 0;
    for (char c : text) {
        int digit = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                             : -1;
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    colour = Rgb{static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
                 static_cast<uint8_t>(value)};
    return true;
}

// A count of frames across or down: a grid of none would make a sheet of
// nothing but background. CLI11's own check for a range names the largest
// double as its upper end, 310 digits of it.
const CLI::Validator kCount(
    [](std::string& text) -> std::string {
        const bool positive = !text.empty() &&
                              text.find_first_not_of("0123456789") == std::string::npos &&
                              text.find_first_not_of('0') != std::string::npos;
        if (!positive)
            return "a count of 1 or more is wanted, not " + text;
        return {};
    },
    "N");

// An argument before "--" that starts with '-', is no option of ours and
// names a file: the user meant a movie whose name starts with '-', which
// would otherwise be read as options (-y.avi as -y and more).
std::string fileTakenForOptions(const CLI::App& app, int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--")
            break;
        if (arg.size() < 2 || arg[0] != '-')
            continue;
        bool known = false;
        for (const CLI::Option* option : app.get_options())
            known = known || option->check_name(arg.substr(0, arg.find('=')));
        std::error_code ec;
        if (!known && std::filesystem::exists(arg, ec))
            return arg;
    }
    return {};
}

} // namespace

void Overrides::applyTo(Options& o) const {
    if (columns)
        o.columns = *columns;
    if (rows)
        o.rows = *rows;
    if (frameWidth)
        o.frameWidth = *frameWidth;
    if (frameHeight)
        o.frameHeight = *frameHeight;
    if (spacingX)
        o.spacingX = *spacingX;
    if (spacingY)
        o.spacingY = *spacingY;
    if (shadow)
        o.shadowEnabled = *shadow ? 1 : 0;
    if (timeStamps)
        o.timeStampsEnabled = *timeStamps ? 1 : 0;
    if (header)
        o.headerEnabled = *header ? 1 : 0;
    if (headerPosition)
        o.headerPosition = *headerPosition;
    if (background)
        o.backgroundColor = *background;
    if (quality)
        o.jpegQuality = *quality;
    if (progressive)
        o.jpegProgressive = *progressive ? 1 : 0;
}

std::optional<int> parseArguments(int argc, const char* const* argv, Arguments& args,
                                  std::ostream& out, std::ostream& err) {
    CLI::App app{"Makes a contact sheet of each movie: frames from evenly spaced moments in a "
                 "grid, with time stamps and an information block.",
                 "stillwick-cli"};
    app.set_version_flag("-V,--version", std::string("stillwick-cli ") + STILLWICK_VERSION);
    app.add_option("movies", args.movies,
                   "Movie files, and folders whose movies are all made (found by reading the "
                   "files, not by their names; hidden files and our own sheets are left out)")
        ->required()
        ->type_name("MOVIE|FOLDER");
    app.add_option("-o,--output", args.output,
                   "Sheet file for a single movie; .jpg/.jpeg, .png or anything else for BMP "
                   "(default: beside the movie, as NAME.jpg)")
        ->type_name("FILE");
    app.add_option("--output-dir", args.outputDir,
                   "Folder for the sheets, created when missing (default: beside each movie); "
                   "with -r the sub-folders are kept")
        ->type_name("DIR");
    app.add_option("--format", args.format, "Format of the sheets named here (default: jpg)")
        ->check(CLI::IsMember({"jpg", "png", "bmp"}).description(""))
        ->type_name("jpg|png|bmp");
    app.add_flag("-r,--recursive", args.recursive, "Also the movies in sub-folders of folders");
    app.add_option("-j,--jobs", args.jobs, "Sheets made at once (default: one per core)")
        ->check(CLI::Range(1, 256).description(""))
        ->type_name("N");
    std::string memory;
    app.add_option("--memory", memory,
                   "Memory the sheets made at once may take together, such as 1500M or 2G; a "
                   "movie that does not fit next to those in work waits (default: half of what "
                   "this process may use)")
        ->type_name("SIZE");
    app.add_option("--options", args.optionsFile,
                   "Settings file, created with the defaults when missing (default: options.swk "
                   "in the current directory)")
        ->type_name("FILE");
    app.add_flag("--info", args.info, "Print each movie's information and make no sheet");
    app.add_flag("--json", args.json,
                 "With --info: one JSON object per movie and line, with every fact read");
    app.add_option("--frames-dir", args.framesDir,
                   "Also write each cell's frame at full size into DIR, numbered, with its time "
                   "in the name")
        ->type_name("DIR");
    app.add_option("--frames-format", args.framesFormat, "Format of those frames (default: jpg)")
        ->check(CLI::IsMember({"jpg", "png"}).description(""))
        ->type_name("jpg|png");
    app.add_flag("-y,--overwrite", args.overwrite, "Replace existing sheet files");
    app.add_flag("-q,--quiet", args.quiet, "Print nothing but errors");
    app.add_flag("-v,--verbose", args.verbosity,
                 "Show the media libraries' errors; twice (-vv) everything they say");

    Overrides& ov = args.overrides;
    auto group = app.add_option_group("Settings for this run (never saved)");
    group
        ->add_option_function<int>(
            "--columns", [&](int v) { ov.columns = v; }, "Frames across")
        ->check(kCount)
        ->type_name("N");
    group
        ->add_option_function<int>(
            "--rows", [&](int v) { ov.rows = v; }, "Frames down")
        ->check(kCount)
        ->type_name("N");
    std::string frameSize, spacing, headerText, background;
    group->add_option("--frame-size", frameSize, "Box each frame is fitted into")->type_name("WxH");
    group->add_option("--spacing", spacing, "Pixels between frames and around them")
        ->type_name("X[,Y]");
    group->add_flag_function(
        "--shadow,!--no-shadow", [&](std::int64_t v) { ov.shadow = v > 0; }, "Drop shadows");
    group->add_flag_function(
        "--timestamps,!--no-timestamps", [&](std::int64_t v) { ov.timeStamps = v > 0; },
        "Time stamp on every frame");
    group->add_option("--header", headerText, "Information block corner")
        ->check(CLI::IsMember({"top-left", "top-right", "bottom-left", "bottom-right", "off"}))
        ->type_name("CORNER|off");
    group->add_option("--background", background, "Background colour")->type_name("RRGGBB");
    group
        ->add_option_function<int>(
            "--quality", [&](int v) { ov.quality = v; }, "JPEG quality")
        ->check(CLI::Range(0, 100))
        ->type_name("0-100");
    group->add_flag_function(
        "--progressive,!--no-progressive", [&](std::int64_t v) { ov.progressive = v > 0; },
        "Progressive JPEG");

    std::string skipStart, skipEnd, interval;
    auto choice = app.add_option_group("Frame choice (all off by default)");
    choice
        ->add_option("--skip-start", skipStart,
                     "Leave out the start of the movie: seconds (90, 90s) or a share (5%)")
        ->type_name("T");
    choice->add_option("--skip-end", skipEnd, "Leave out the end of the movie, as --skip-start")
        ->type_name("T");
    choice
        ->add_option("--interval", interval,
                     "About one frame every T: the rows follow from the length and the columns; "
                     "with --previews, one preview every T (default 10s)")
        ->type_name("T");
    choice->add_flag("--avoid-blank", args.choice.avoidBlank,
                     "Replace a nearly uniform frame (black, white, a fade) by the first frame "
                     "within the next half step that is not; its stamp shows its own time");
    choice->add_flag("--fast", args.choice.keyFrames,
                     "Each cell shows the key frame nearest its moment, decoded alone, when it "
                     "lies within half a step (else the exact frame); its stamp shows its own "
                     "time");

    // Options of the app itself, not of an option group, so that a bare
    // --previews just before the movies leaves them to be movies.
    const std::string scrub = "Scrub previews for web players";
    auto* previews =
        app.add_option("--previews", args.previewsDir,
                       "Write NAME.vtt and the sprites NAME-001.jpg, ... it points into: a "
                       "thumbnail every --interval for a player's seek bar, into DIR (with -r "
                       "the sub-folders are kept); without DIR beside each movie, or in "
                       "--output-dir (a bare --previews takes the next argument as DIR when "
                       "more follow: end it with --). No sheet unless --sheet")
            ->expected(0, 1)
            ->type_name("[DIR]")
            ->group(scrub);
    app.add_flag("--sheet", args.sheet,
                 "With --previews, also make the sheet, in the same pass over the movie")
        ->group(scrub);
    app.add_option("--previews-count", args.previewsCount,
                   "This many previews, evenly spread, instead of one every --interval")
        ->check(kCount)
        ->type_name("N")
        ->group(scrub);
    app.add_option("--preview-width", args.previewWidth,
                   "Width of a preview in pixels; the height follows the picture, even "
                   "(default 160)")
        ->check(CLI::Range(8, 4096).description(""))
        ->type_name("PIXELS")
        ->group(scrub);
    std::string previewGrid;
    app.add_option("--preview-grid", previewGrid,
                   "Previews across and down one sprite image (default 10x10)")
        ->type_name("CxR")
        ->group(scrub);

    app.footer("Exit status: 0 when every movie made its sheet (or, with --info, was read); 1 "
               "when any failed (each failure is one line on the error output; the others are "
               "still made), or when nothing was found to make; 2 for a usage error; 3 when "
               "every movie made its sheet but at least one sheet is incomplete (the movie is "
               "cut short, or moments had no picture: one line on the error output names them, "
               "even with -q); 128 plus the signal when stopped by one: 130 SIGINT (Ctrl-C), "
               "143 SIGTERM, 129 SIGHUP, 141 SIGPIPE (the standard output was closed, as by "
               "| head): the movies in work stop at once and no sheet or frame of theirs is "
               "left, whole or in part. A movie must be a regular file; a pipe or a device is "
               "refused.");

    // What CLI11 says may quote an argument, and arguments may be file names.
    auto usage = [&](const std::string& message) -> std::optional<int> {
        err << "stillwick-cli: " << safeLine(message)
            << "\nRun with --help for more information.\n";
        return 2;
    };
    if (const std::string name = fileTakenForOptions(app, argc, argv); !name.empty())
        return usage(shownName(name) +
                     " is a file, not an option: use -- before names that start with -, as "
                     "in: stillwick-cli [options] -- " +
                     shownName(name));
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        app.exit(e, out, err);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        app.exit(e, out, err);
        return 0;
    } catch (const CLI::ParseError& e) {
        return usage(e.what());
    }

    args.previews = previews->count() > 0;
    if (!args.previews) {
        for (const char* name :
             {"--sheet", "--previews-count", "--preview-width", "--preview-grid"})
            if (app.count(name) > 0)
                return usage(std::string(name) + " goes with --previews");
    } else {
        if (args.info)
            return usage("--info makes no previews; leave out --previews");
        std::error_code ec;
        if (!args.previewsDir.empty() && std::filesystem::exists(args.previewsDir, ec) &&
            !std::filesystem::is_directory(args.previewsDir, ec))
            return usage("--previews wants a folder, and " + shownName(args.previewsDir) +
                         " is a file; to put the previews beside the movies, end a bare "
                         "--previews with --: stillwick-cli --previews -- MOVIE...");
        if (!previewGrid.empty()) {
            int c = 0, r = 0;
            if (!parsePair(previewGrid, 'x', false, c, r) || c == 0 || r == 0)
                return usage("--preview-grid wants COLUMNSxROWS, such as 10x10");
            args.previewColumns = c;
            args.previewRows = r;
        }
        if (args.previewsCount > 0 && !interval.empty())
            return usage("--previews-count and --interval both say how many previews; give one");
        // Options only a sheet has a use for ask for it.
        args.sheet =
            args.sheet || !args.output.empty() || !args.format.empty() || !args.framesDir.empty();
        if (!args.sheet)
            for (const char* name : {"--skip-start", "--skip-end", "--avoid-blank"})
                if (app.count(name) > 0)
                    return usage(std::string(name) +
                                 " chooses the frames of a sheet; previews cover the whole "
                                 "movie (add --sheet for a sheet)");
    }

    if (!frameSize.empty()) {
        int w = 0, h = 0;
        if (!parsePair(frameSize, 'x', false, w, h) || w == 0 || h == 0)
            return usage("--frame-size wants WIDTHxHEIGHT in pixels, such as 156x117");
        ov.frameWidth = w;
        ov.frameHeight = h;
    }
    if (!spacing.empty()) {
        int x = 0, y = 0;
        if (!parsePair(spacing, ',', true, x, y))
            return usage("--spacing wants X or X,Y in pixels, such as 10 or 10,8");
        ov.spacingX = x;
        ov.spacingY = y;
    }
    if (!headerText.empty()) {
        ov.header = headerText != "off";
        if (headerText == "top-left")
            ov.headerPosition = TopLeft;
        else if (headerText == "top-right")
            ov.headerPosition = TopRight;
        else if (headerText == "bottom-left")
            ov.headerPosition = BottomLeft;
        else if (headerText == "bottom-right")
            ov.headerPosition = BottomRight;
    }
    if (!background.empty()) {
        Rgb colour;
        if (!parseColour(background, colour))
            return usage("--background wants a colour as RRGGBB, such as eef2f7");
        ov.background = colour;
    }
    if (!memory.empty()) {
        args.memoryBudget = parseMemorySize(memory);
        if (args.memoryBudget <= 0)
            return usage("--memory wants a size such as 1500M or 2G");
    }
    if (!args.output.empty() && args.movies.size() != 1)
        return usage("--output names one sheet; give one movie with it");
    if (!skipStart.empty() && !TimeSpan::parse(skipStart, args.choice.skipStart))
        return usage("--skip-start wants seconds or a share of the movie, such as 90, 90s or 5%");
    if (!skipEnd.empty() && !TimeSpan::parse(skipEnd, args.choice.skipEnd))
        return usage("--skip-end wants seconds or a share of the movie, such as 90, 90s or 5%");
    if (!interval.empty()) {
        TimeSpan every;
        if (!TimeSpan::parse(interval, every) || !(every.value > 0))
            return usage("--interval wants a time above 0, such as 30, 30s or 2%");
        if (ov.rows && !args.previews)
            return usage("--interval picks the rows; give --rows or --interval, not both");
        args.interval = every;
    }
    if (!args.output.empty() && !args.outputDir.empty())
        return usage("--output names the sheet itself; give --output or --output-dir, not both");
    if (!args.output.empty() && !args.format.empty())
        return usage("with --output the sheet's format follows its extension; leave out --format");
    if (args.json && !args.info)
        return usage("--json goes with --info");
    if (args.info && !args.framesDir.empty())
        return usage("--info makes no sheet and no frames; leave out --frames-dir");
    if (!args.framesFormat.empty() && args.framesDir.empty())
        return usage("--frames-format goes with --frames-dir");
    return std::nullopt;
}

} // namespace cli
