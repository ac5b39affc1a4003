// One line of text into one point: the fields as comma text, the numbers as
// the user's locale writes them, and the exact error for a line that is no point.
#include "breaks.h"
#include "cloudloader.h"
#include "cloudpoints.h"
#include "floatarray.h"
#include "pointlinestream.h"
#include "procstatus.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <charconv>
#include <random>
#include <system_error>
#include <thread>

using namespace std::string_literals;

namespace {

// A number in shortest round-trip form, so -0 and 0 differ.
template <typename Number> void Append(std::string& out, Number value, char after)
{
    char text[32];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr).push_back(after);
}

std::string Text(const CloudPoint& p)
{
    std::string out;
    for (const double v : {p.x, p.y, p.z})
        Append(out, v, ' ');
    out.pop_back();
    return out;
}

// "x y z", or the class and message of the error `parse` raises.
template <typename Parse> std::string Shown(const Parse& parse)
{
    try {
        return Text(parse());
    } catch (const Exception& e) {
        return (dynamic_cast<const EConvertError*>(&e)      ? "EConvertError "
                : dynamic_cast<const EStringListError*>(&e) ? "EStringListError "
                                                            : "Exception ") +
               e.Message();
    }
}

// What ParsePointLine gives. The one-pass read the frames use must decide
// every line as it does.
std::string Outcome(const std::string& line, char separator)
{
    static TStringList scratch; // reused, as the points pass does
    CloudPoint fast{};
    const bool point = TryParsePointLine(line, scratch, separator, fast);
    const std::string out = Shown([&] { return ParsePointLine(line, scratch, separator); });
    return point != !out.starts_with("E") ? "one pass differs"
           : point && Text(fast) != out   ? "one pass read " + Text(fast)
                                          : out;
}

// The same read as a stream: `cut` bytes, then fragments of `step`.
std::string Streamed(const std::string& line, char separator, std::size_t cut, std::size_t step)
{
    PointLineStream stream(separator);
    stream.Feed(std::string_view(line).substr(0, cut));
    for (std::size_t at = cut; at < line.size(); at += step)
        stream.Feed(std::string_view(line).substr(at, step));
    stream.End();
    return Shown([&] {
        CloudPoint point{};
        if (!stream.TryPoint(point)) {
            std::exception_ptr error;
            std::string message;
            stream.KeepError(error, message);
            std::rethrow_exception(error);
        }
        return point;
    });
}

std::string Bad(const std::string& shown)
{
    return "EConvertError '" + shown + "' is not a valid floating point value";
}

std::string Repeat(const std::string& piece, int times, const std::string& before = "")
{
    return times == 0 ? before : Repeat(piece, times - 1, before + piece);
}

TEST(ParsePointLine, Table)
{
    const std::string longOne = std::string(1, '1').append(400, '0');
    const struct
    {
        std::string line;
        char separator;
        std::string expected;
    } rows[] = {
        // Fields: a space, a comma or a run of blanks (codes 1 to 32) apart.
        {"1 2 3", '.', "1 2 3"},
        {"1,2,3", '.', "1 2 3"},
        {"1\t2\t\t3", '.', "1 2 3"},
        {"1 2 3\r", '.', "1 2 3"},
        {"1 2 3 x,,\"", '.', "1 2 3"},
        {"\x01"s + "1,2,3\x1f", '.', "1 2 3"},
        {"1  2 3", '.', Bad("")},
        {" 1 2 3", '.', Bad("")},
        {"1 2 ", '.', Bad("")}, // a comma that is the last character adds a field
        {"1 2 \t", '.', "EStringListError List index out of bounds (2)"},
        {"1 2", '.', "EStringListError List index out of bounds (2)"},
        {"\t\r", '.', "EStringListError List index out of bounds (0)"},
        // Quoted fields, whose spaces became commas too.
        {"\"1\" 2 3", '.', "1 2 3"},
        {"\"1 2\" 3 4", ',', "1.2 3 4"},
        {"\"1 2\" 3 4", '.', Bad("1,2")},
        {R"("1""" 2 3)", '.', Bad(R"(1")")},
        {R"("1"2 3)", '.', "1 2 3"}, // text after the closing quote begins the next field
        {R"(1"2" 3 4)", '.', Bad(R"(1"2")")},
        {R"(1 2 "3)", '.', "1 2 3"},
        // Numbers: sign, digits with one separator, exponent.
        {"-1.5e2 0 3", '.', "-150 0 3"},
        {"1. .5 +1", '.', "1 0.5 1"},
        {"1E+3 -.5 0e999999", '.', "1000 -0.5 0"},
        {"+2e3 2E-3 -2e+3", '.', "2000 0.002 -2000"},
        {"+2.e3 2.E-3 -.2e+4", ',', "2000 0.002 -2000"},
        {"-0 +0. .0", '.', "-0 0 0"},
        {"\"1,\" \",5\" \"-,5E1\"", ',', "1 0.5 -5"},
        {"1e+ 0 0", '.', Bad("1e+")},
        {"1 +.e1 0", '.', Bad("+.e1")},
        {"1 2 --3", '.', Bad("--3")},
        {"1 2 3e1.5", '.', Bad("3e1.5")},
        {"4.9e-324 1e-400 -1e-400", '.', "5e-324 0 -0"},
        {"1e-99999999999999999999 0.000" + longOne + " " + longOne + "e-400", '.', "0 1e-04 1"},
        // Digits past those that decide the rounding; long fields of a number.
        {"9007199254740993." + std::string(900, '0') + "1 0 0", '.', "9007199254740994 0 0"},
        {"9007199254740993" + longOne.substr(1) + "e-400 -0." + longOne.substr(1) + "1 1e" +
             longOne.substr(1) + "5",
         '.', "9007199254740992 -0 1e+05"},
        {"\"+" + longOne.substr(1) + ",25E+2\" 1 2", ',', "25 1 2"},
        {"\"" + std::string(300, ' ') + "\" 1 2", '.',
         Bad(std::string(120, ',') + "..." + std::string(120, ','))},
        {"1,5 2,5 3,5", '.', "1 5 2"},
        {"1;5 2 3", ';', "1.5 2 3"},
        {"-.5e1 1.5 2", ',', "-5 1.5 2"}, // with a decimal comma, a point is taken too
        {"1.5 2 3", ';', Bad("1.5")},
        {". - +-1", '.', Bad(".")},
        {"e5 0 0", '.', Bad("e5")},
        {"1.5.2 0 0", '.', Bad("1.5.2")},
        {"inf 0 0", '.', Bad("inf")},
        {"0x10 0 0", '.', Bad("0x10")},
        {"1e999 0 0", '.', Bad("1e999")},
        {"-1.7976931348623159e308 0 0", '.', Bad("-1.7976931348623159e308")},
        // What a box can show: control bytes written out, long fields by their ends.
        {"1 2\0 3"s, '.', Bad(R"(2\x00)")},
        {"\1771 2 3", '.', Bad(R"(\x7F1)")}, // DEL, then 1
        {"1 2 \xC3\xA9", '.', Bad("\xC3\xA9")},
        {std::string(255, '7') + "x 0 0", '.', Bad(std::string(255, '7') + "x")},
        {longOne + " 0 0", '.', Bad(longOne.substr(0, 120) + "..." + std::string(120, '0'))},
        {Repeat("\xC3\xA9", 200, "a"), '.',
         Bad(Repeat("\xC3\xA9", 59, "a") + "..." + Repeat("\xC3\xA9", 60))},
        {std::string(1000, '\xA0'), '.', // not UTF-8: a cut moves back three bytes at most
         Bad(std::string(117, '\xA0') + "..." + std::string(123, '\xA0'))},
        {std::string(10 << 20, '\1') + "x", '.', Bad("x")},
        {std::string(10 << 20, '\x7f') + "y 1 2", '.',
         Bad(Repeat(R"(\x7F)", 120) + "..." + Repeat(R"(\x7F)", 119) + "y")},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(Outcome(r.line, r.separator), r.expected) << r.line.substr(0, 80);
        // Streamed, cut anywhere (a long line in 16 places) and in small steps.
        const std::size_t stride = r.line.size() > 1000 ? r.line.size() / 16 : 1;
        for (std::size_t cut = 0; cut <= r.line.size(); cut += stride)
            EXPECT_EQ(Streamed(r.line, r.separator, cut, r.line.size()), r.expected) << cut;
        EXPECT_EQ(Streamed(r.line, r.separator, 0, stride), r.expected);
    }
}

// The loader on two threads, on one, and in Take where none can start.
struct Threads
{
    CloudLoader::Launch launch;
    unsigned count;
};
const Threads kThreads[] = {
    {[](std::function<void()> work) { return std::thread(std::move(work)); }, 2},
    {[](std::function<void()> work) { return std::thread(std::move(work)); }, 1},
    {[](std::function<void()>) -> std::thread {
         throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
     },
     2}};

// Points as text, one line each, then the message of the line they stop at.
std::string Text(const float* xyz, std::size_t count)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        Append(out, xyz[i], i % 3 == 2 ? '\n' : ' ');
    return out;
}

// What a pass over the whole text gives, line by line.
std::string Pass(std::string_view text)
{
    TStringList scratch;
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::string_view line = NextLine(text, at);
        float xyz[3];
        if (!ConvertLine(line, scratch, '.', xyz)) {
            std::exception_ptr error;
            std::string message;
            KeepError(line, scratch, '.', error, message);
            return out + message;
        }
        out += Text(xyz, 3);
    }
    return out;
}

// The text loaded in pieces that end at `cuts`: its points and its message,
// the counts checked against the text's own.
std::string Load(const Threads& threads, std::string_view text, std::vector<std::size_t> cuts)
{
    CloudLoader loader('.', threads.launch, threads.count);
    loader.Start(text.size());
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(text.size());
    std::vector<std::vector<std::uint32_t>> counts;
    for (std::size_t at = 0; const std::size_t cut : cuts) {
        const std::string_view piece = text.substr(at, cut - at);
        counts.emplace_back((piece.size() + kPieceSize - 1) / kPieceSize);
        loader.Take(piece, counts.back().data());
        at = cut;
    }
    // As the text waits for the count of its breaks.
    while (loader.Done() < text.size())
        std::this_thread::yield();
    EXPECT_EQ(loader.Done(), text.size());
    for (std::size_t at = 0, i = 0; const std::size_t cut : cuts) {
        for (std::size_t slice = 0; slice < counts[i].size(); ++slice, at += kPieceSize) {
            const std::size_t end = std::min(at + kPieceSize, cut);
            EXPECT_EQ(counts[i][slice], CountBreaks(text.data() + at, end - at))
                << "slice at " << at;
        }
        at = cut;
        ++i;
    }
    const std::any made = loader.Finish(true);
    const auto* lines = std::any_cast<ConvertedLines>(&made);
    if (!lines)
        return "nothing";
    EXPECT_EQ(lines->vertices.capacity(), lines->vertices.size() + 3);
    return Text(lines->vertices.data(), lines->vertices.size()) +
           (lines->error ? lines->message : "");
}

TEST(CloudLoader, ConvertsAndCountsTheLinesOfPiecesCutAnywhereAsOnePassDoes)
{
    constexpr std::size_t kBlock = 4 * kPieceSize; // as the loader's threads read them
    // Blocks, slices and pieces, with lines of every kind across them: long
    // ones, of fields and of one field, and a line that is no point early,
    // late or nowhere.
    const std::string kinds[] = {
        "1.5 -2 3\n",    "12.25,0.5,-7\r\n",        "1e3 2 3\r", "\t4 5 6 7\n", "\"1\" 2 3\n",
        "-0 +.5 1.\r\n", "0.1234567 -45.000001 7\n"};
    std::mt19937 random(7);
    std::string text;
    while (text.size() < (2 << 20)) {
        const auto kind = random() % 300;
        text += kind == 0   ? "7 8 9" + std::string(300'000, ' ') + "\n"
                : kind == 1 ? "0." + std::string(200'000, '0') + "1 2 3\r\n"
                            : kinds[kind % std::size(kinds)];
    }
    std::vector<std::string> texts = {text};
    for (const std::string& bad : {"1 2 " + std::string(150'000, 'y') + "\n",
                                   std::string(100'000, '\0') + "\n", std::string("1 2\n")}) {
        for (const std::size_t at : {std::size_t{20}, text.size() - 1000})
            texts.push_back(std::string(text).insert(text.find('\n', at) + 1, bad));
    }
    for (const std::string& loaded : texts) {
        const std::string expected = Pass(loaded);
        // A CR LF and a lone CR: across pieces, and each ending a slice, the
        // CR LF one that ends a block too; pieces of any size.
        const std::size_t crLf = loaded.find("\r\n", 1 << 20);
        std::size_t cr = loaded.find('\r', 1 << 20);
        while (loaded[cr + 1] == '\n')
            cr = loaded.find('\r', cr + 1);
        std::vector<std::vector<std::size_t>> cuts = {
            {crLf + 1, cr + 1}, {crLf + 1 - kBlock, cr + 1 - kPieceSize}, {}};
        for (std::size_t cut = random() % 50'000; cut < loaded.size(); cut += random() % 100'000)
            cuts.back().push_back(cut);
        for (const Threads& threads : kThreads) {
            for (const auto& pieces : cuts)
                EXPECT_EQ(Load(threads, loaded, pieces), expected);
        }
    }
    // Small texts cut once anywhere.
    for (const Threads& threads : kThreads) {
        for (const std::string small : {"1 2 3\r\n4 5 6\r7 8 9\n", "1 2 3\n\n4 5 6", "1 2 3",
                                        "1,2,3\r\n4 5 x\n7 8 9", "-1.5 2 3 4\r\r\n", ""}) {
            for (std::size_t cut = 0; cut <= small.size(); ++cut)
                EXPECT_EQ(Load(threads, small, {cut}), Pass(small)) << cut << " of " << small;
        }
    }
}

TEST(CloudLoader, HoldsNothingOfALoadCancelledOrFailed)
{
    // A million points (12 MB) in 64 pieces, as a file comes in.
    std::string piece;
    for (int i = 0; i < 15625; ++i)
        piece += "1 2 3\n";
    std::vector<std::uint32_t> counts(64 * 2);
    // What the program holds from the heap, in every arena and mapped apart,
    // and its writable mappings, the points' own among them.
    const auto held = [] {
        return std::pair(static_cast<long>(mallinfo2().uordblks + mallinfo2().hblkhd),
                         StatusBytes("VmData"));
    };
    for (const Threads& threads : kThreads) {
        CloudLoader loader('.', threads.launch, threads.count);
        // The first load leaves its threads' stacks cached and their heaps
        // (arenas) in place.
        for (int load = 0; load < 2; ++load) {
            const auto before = held();
            loader.Start(64 * piece.size());
            for (int i = 0; i < 64; ++i)
                loader.Take(piece, &counts[2 * static_cast<std::size_t>(i)]);
            // All converted, and then dropped.
            while (loader.Done() < 64 * piece.size())
                std::this_thread::yield();
            EXPECT_GE(held().second - before.second, 12'000'000);
            EXPECT_FALSE(loader.Finish(false).has_value());
            if (load == 1) {
                EXPECT_LT(held().first - before.first, 4096);
                EXPECT_LT(held().second - before.second, 4 << 20);
            }
        }
    }
}

} // namespace

TEST(FloatArray, KeepsItsFloatsThroughEditsInAndOutOfAMappingOfItsOwn)
{
    // Sizes either side of a megabyte (262,144 floats), from which a block
    // is a mapping, and back to nothing.
    FloatArray array;
    std::vector<float> expected;
    std::mt19937 random(11);
    for (const std::size_t size : {1000u, 300'000u, 5000u, 2'000'000u, 10u, 270'000u, 0u, 7u}) {
        const std::size_t at = expected.empty() ? 0 : random() % expected.size();
        const std::size_t count = size > expected.size() ? size - expected.size() : 0;
        array.Insert(at, count, 0);
        expected.insert(expected.begin() + static_cast<std::ptrdiff_t>(at), count, 0);
        for (std::size_t i = at; i < at + count; ++i)
            array[i] = expected[i] = static_cast<float>(random());
        const std::size_t removed = std::min(expected.size() - size, expected.size() - at);
        array.Erase(at, at + removed);
        expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(at),
                       expected.begin() + static_cast<std::ptrdiff_t>(at + removed));
        array.Resize(size, 2.5f);
        expected.resize(size, 2.5f);
        array.Trim(size % 3);
        ASSERT_EQ(std::vector(array.begin(), array.end()), expected) << size;
        ASSERT_EQ(array.capacity(), size + size % 3);
    }
}
