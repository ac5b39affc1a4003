#include "pointlinestream.h"
#include "plainline.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// A field up to this long is held whole, as its message shows it whole.
constexpr std::size_t kHeld = 256;
// Of a longer one the message shows 120 bytes at each end, each cut moved
// back by up to three bytes to the start of a character.
constexpr std::size_t kHeadShown = 121;
constexpr std::size_t kTailShown = 123;
// A double's rounding is decided within its first 767 significant digits;
// the rest only tell whether it lies above them.
constexpr std::size_t kSignificant = 800;
constexpr std::int64_t kLargestExponent = 1'000'000'000'000'000;

bool IsDigit(char c)
{
    return static_cast<unsigned char>(c - '0') < 10u;
}

// Codes 1 to 31 (a space is a comma here).
bool IsBlank(char c)
{
    return static_cast<unsigned char>(c - 1) < 31u;
}

bool IsComma(char c)
{
    return c == ',' || c == ' ';
}

// The end of the run from `p` of bytes that `one` holds of, eight at a time
// where `eight` holds of all of them: for lines of any length.
template <typename Eight, typename One>
const char* RunEnd(const char* p, const char* end, Eight eight, One one)
{
    while (end - p >= 8 && eight(plain::Load(p)))
        p += 8;
    while (p != end && one(*p))
        ++p;
    return p;
}

constexpr std::uint64_t kOnes = 0x0101010101010101;
constexpr std::uint64_t kHighs = 0x8080808080808080;

// The high bit of each byte of `x` below `n` (at most 128), and of each
// byte that is not 0: exact for each byte, as no sum carries into the next.
std::uint64_t Below(std::uint64_t x, unsigned n)
{
    return ~(((x & kOnes * 127) + kOnes * (128 - n)) | x) & kHighs;
}

std::uint64_t NonZero(std::uint64_t x)
{
    return (((x & kOnes * 127) + kOnes * 127) | x) & kHighs;
}

const char* FieldEnd(const char* p, const char* end)
{
    return RunEnd(
        p, end,
        [](std::uint64_t x) {
            return ((Below(x, 33) & NonZero(x)) | (~NonZero(x ^ kOnes * ',') & kHighs)) == 0;
        },
        [](char c) { return !IsBlank(c) && !IsComma(c); });
}

const char* BlanksEnd(const char* p, const char* end)
{
    return RunEnd(
        p, end, [](std::uint64_t x) { return (Below(x, 32) & NonZero(x)) == kHighs; }, IsBlank);
}

const char* DigitsEnd(const char* p, const char* end)
{
    return RunEnd(
        p, end, [](std::uint64_t x) { return plain::LeadingDigits(x) == 8; }, IsDigit);
}

const char* ZerosEnd(const char* p, const char* end)
{
    return RunEnd(
        p, end, [](std::uint64_t x) { return x == kOnes * '0'; }, [](char c) { return c == '0'; });
}

} // namespace

void PointLineStream::Restart()
{
    state_ = State::blanks;
    fields_ = 0;
    bad_ = -1;
}

void PointLineStream::Feed(std::string_view bytes)
{
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p != end) {
        switch (state_) {
        case State::decided:
            return;
        case State::blanks:
        case State::afterField:
        case State::afterComma:
            if (IsBlank(*p)) {
                p = BlanksEnd(p, end);
                if (state_ == State::afterComma)
                    state_ = State::blanks;
            } else if (IsComma(*p) && state_ == State::afterField) {
                ++p;
                state_ = State::afterComma;
            } else {
                BeginField();
                state_ = *p == '"' ? State::quoted : State::unquoted;
                p += *p == '"' ? 1 : 0;
            }
            break;
        case State::unquoted: {
            const char* const stop = FieldEnd(p, end);
            AppendField({p, static_cast<std::size_t>(stop - p)});
            p = stop;
            if (p != end) {
                const bool comma = IsComma(*p++);
                EndField();
                if (state_ != State::decided)
                    state_ = comma ? State::afterComma : State::afterField;
            }
            break;
        }
        case State::quoted: {
            const auto* quote =
                static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)));
            const char* const stop = quote ? quote : end;
            AppendQuoted({p, static_cast<std::size_t>(stop - p)});
            p = stop;
            if (p != end) {
                ++p;
                state_ = State::quotedQuote;
            }
            break;
        }
        case State::quotedQuote:
            if (*p == '"') {
                AppendField("\"");
                ++p;
                state_ = State::quoted;
            } else {
                // The byte after a closing quote is read as after any field.
                EndField();
                if (state_ != State::decided)
                    state_ = State::afterField;
            }
            break;
        }
    }
}

void PointLineStream::End()
{
    switch (state_) {
    case State::decided:
        return;
    case State::blanks:
    case State::afterField:
        break;
    case State::afterComma: // a comma that ends the line adds an empty field
        BeginField();
        EndField();
        break;
    case State::unquoted:
    case State::quoted:
    case State::quotedQuote:
        EndField();
        break;
    }
    state_ = State::decided;
}

void PointLineStream::BeginField()
{
    size_ = 0;
    head_.clear();
    tail_.clear();
    number_.significant.clear();
    number_ = {.significant = std::move(number_.significant)};
}

void PointLineStream::AppendField(std::string_view bytes)
{
    const std::size_t toHead = std::min(bytes.size(), kHeld - head_.size());
    head_.append(bytes.data(), toHead);
    const bool wasLong = size_ > kHeld;
    size_ += bytes.size();
    if (size_ <= kHeld)
        return;
    if (!wasLong) {
        number_.Read(head_, separator_);
        tail_ = head_;
    }
    bytes.remove_prefix(toHead);
    number_.Read(bytes, separator_);
    // The tail is trimmed now and then rather than at every byte.
    if (bytes.size() >= kTailShown)
        tail_.assign(bytes.substr(bytes.size() - kTailShown));
    else
        tail_.append(bytes);
    if (tail_.size() > 4 * kTailShown)
        tail_.erase(0, tail_.size() - kTailShown);
}

void PointLineStream::AppendQuoted(std::string_view bytes)
{
    // A quoted field's spaces became commas with the rest of the line's.
    char buffer[1024];
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), sizeof buffer);
        std::replace_copy(bytes.data(), bytes.data() + n, buffer, ' ', ',');
        AppendField({buffer, n});
        bytes.remove_prefix(n);
    }
}

void PointLineStream::EndField()
{
    const int field = fields_++;
    const bool number = size_ <= kHeld ? TryStrToFloat(head_, separator_, values_[field])
                                       : number_.Value(values_[field]);
    if (!number) {
        bad_ = field;
        if (size_ <= kHeld) {
            badText_ = head_;
        } else {
            // The same two ends around a middle that is no number.
            badText_.assign(head_, 0, kHeadShown).append(16, 'x');
            badText_.append(tail_, tail_.size() - kTailShown);
        }
    }
    if (!number || fields_ == 3)
        state_ = State::decided;
}

bool PointLineStream::TryPoint(CloudPoint& point) const
{
    if (bad_ >= 0 || fields_ < 3)
        return false;
    point = {values_[0], values_[1], values_[2]};
    return true;
}

CloudPoint PointLineStream::Point() const
{
    if (bad_ >= 0)
        StrToFloat(badText_, separator_); // raises
    if (fields_ < 3)
        throw EStringListError::IndexOutOfBounds(fields_);
    return {values_[0], values_[1], values_[2]};
}

void PointLineStream::KeepError(std::exception_ptr& error, std::string& message) const
{
    try {
        Point();
        throw Exception("not a point"); // TryPoint and Point disagree
    } catch (const Exception& e) {
        error = std::current_exception();
        message = e.Message();
    }
}

void PointLineStream::LongNumber::Read(std::string_view bytes, char separator)
{
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p != end && part != Part::invalid) {
        const char c = *p;
        switch (part) {
        case Part::start:
            part = Part::mantissa;
            if (c == '-' || c == '+') {
                negative = c == '-';
                ++p;
                break;
            }
            [[fallthrough]];
        case Part::mantissa:
        case Part::fraction:
            if (IsDigit(c)) {
                const char* const run = DigitsEnd(p, end);
                ReadDigits(p, run);
                p = run;
            } else if (part == Part::mantissa &&
                       (c == separator || (c == '.' && separator == ','))) {
                part = Part::fraction;
                ++p;
            } else {
                part = (c == 'e' || c == 'E') && digits > 0 ? Part::exponentStart : Part::invalid;
                ++p;
            }
            break;
        case Part::exponentStart:
            if (c == '-' || c == '+') {
                negativeExponent = c == '-';
                part = Part::exponentSign;
                ++p;
                break;
            }
            [[fallthrough]];
        case Part::exponentSign:
        case Part::exponent:
            part = IsDigit(c) ? Part::exponent : Part::invalid;
            // Past a limit, more digits change nothing but the exponent's size.
            for (; p != end && IsDigit(*p) && exponent < kLargestExponent; ++p)
                exponent = exponent * 10 + (*p - '0');
            p = DigitsEnd(p, end);
            break;
        case Part::invalid:
            break;
        }
    }
}

void PointLineStream::LongNumber::ReadDigits(const char* p, const char* end)
{
    digits += end - p;
    integerDigits += part == Part::mantissa ? end - p : 0;
    if (!nonZero) {
        const char* const zeros = ZerosEnd(p, end);
        leadingZeros += zeros - p;
        p = zeros;
        if (p == end)
            return;
        nonZero = true;
    }
    const auto kept =
        std::min(static_cast<std::size_t>(end - p), kSignificant - significant.size());
    significant.append(p, kept);
    sticky = sticky || ZerosEnd(p + kept, end) != end;
}

bool PointLineStream::LongNumber::Value(double& value) const
{
    const bool complete = part == Part::exponent ||
                          ((part == Part::mantissa || part == Part::fraction) && digits > 0);
    if (!complete)
        return false;
    if (!nonZero) {
        value = negative ? -0.0 : 0.0;
        return true;
    }
    // 0.<significant digits> times a power of ten, which the usual
    // conversion reads as it reads the whole field.
    const std::int64_t power =
        integerDigits - leadingZeros + (negativeExponent ? -exponent : exponent);
    std::string text(negative ? "-0." : "0.");
    text.append(significant).append(sticky ? "1" : "").append("e").append(std::to_string(power));
    return TryStrToFloat(text, '.', value);
}
