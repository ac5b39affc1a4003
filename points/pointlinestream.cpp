#include "pointlinestream.h"

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

// The first byte at or after `p` that ends an unquoted field: a comma or
// codes 1 to 32. Eight at a time, for fields of any length.
const char* FieldEnd(const char* p, const char* end)
{
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t ones = 0x0101010101010101;
        constexpr std::uint64_t highs = 0x8080808080808080;
        for (; end - p >= 8; p += 8) {
            std::uint64_t x;
            std::memcpy(&x, p, sizeof x);
            // A byte between 0 and 33, exclusive; a byte equal to ','.
            const std::uint64_t low = x & ones * 127;
            const std::uint64_t between =
                (ones * (127 + 33) - low) & ~x & (low + ones * 127) & highs;
            const std::uint64_t comma = x ^ (ones * ',');
            if (between | ((comma - ones) & ~comma & highs))
                break;
        }
    }
    while (p != end && !IsBlank(*p) && !IsComma(*p))
        ++p;
    return p;
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
                ++p;
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
    const auto isSeparator = [separator](char c) {
        return c == separator || (c == '.' && separator == ',');
    };
    for (std::size_t i = 0; i < bytes.size() && part != Part::invalid; ++i) {
        const char c = bytes[i];
        switch (part) {
        case Part::start:
            part = Part::mantissa;
            if (c == '-' || c == '+') {
                negative = c == '-';
                break;
            }
            [[fallthrough]];
        case Part::mantissa:
        case Part::fraction:
            if (IsDigit(c)) {
                ++digits;
                integerDigits += part == Part::mantissa ? 1 : 0;
                if (!nonZero && c == '0')
                    ++leadingZeros;
                else if (significant.size() < kSignificant)
                    significant.push_back(c);
                else
                    sticky = sticky || c != '0';
                nonZero = nonZero || c != '0';
            } else if (part == Part::mantissa && isSeparator(c)) {
                part = Part::fraction;
            } else {
                part = (c == 'e' || c == 'E') && digits > 0 ? Part::exponentStart : Part::invalid;
            }
            break;
        case Part::exponentStart:
            if (c == '-' || c == '+') {
                negativeExponent = c == '-';
                part = Part::exponentSign;
                break;
            }
            [[fallthrough]];
        case Part::exponentSign:
        case Part::exponent:
            part = IsDigit(c) ? Part::exponent : Part::invalid;
            if (exponent < kLargestExponent)
                exponent = exponent * 10 + (c - '0');
            break;
        case Part::invalid:
            break;
        }
    }
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
