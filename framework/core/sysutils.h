// Qt-free services the point data rests on: exceptions, comma-text splitting
// and locale-aware number conversion.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using AnsiString = std::string;

// The base of every failure the program reports to the user.
class Exception : public std::exception
{
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    // Callers on the way out may add what only they know, such as a line number.
    void SetMessage(std::string message) { message_ = std::move(message); }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// Text that is not a number: "'abc' is not a valid floating point value".
class EConvertError : public Exception
{
public:
    using Exception::Exception;
};

// A string list read past its end: "List index out of bounds (3)".
class EStringListError : public Exception
{
public:
    using Exception::Exception;
    static EStringListError IndexOutOfBounds(std::int64_t index);
};

// A list of strings that splits comma text. Reused across lines, it keeps its
// buffers, so a warm list splits without allocating.
class TStringList
{
public:
    // The most fields a list reads: a point has three.
    static constexpr std::size_t kMostFields = 3;

    // Assigning as comma text `text` with every space replaced by a comma,
    // without the temporary string, and reading at most `limit` fields (up to
    // kMostFields): nothing after them can change them. Fields that need no
    // unquoting stay in `text`, so the list is valid while `text` is.
    void SetCommaTextSpacesAsCommas(std::string_view text, std::size_t limit);

    int Count() const noexcept { return static_cast<int>(count_); }

    // Field `index`; EStringListError past the end.
    std::string_view Strings(int index) const
    {
        if (index < 0 || static_cast<std::size_t>(index) >= count_)
            ThrowIndexOutOfBounds(index);
        const Span& field = fields_[static_cast<std::size_t>(index)];
        return (field.unquoted ? std::string_view(unquoted_) : text_)
            .substr(field.begin, field.size);
    }
    std::string_view operator[](int index) const { return Strings(index); }

private:
    [[noreturn]] static void ThrowIndexOutOfBounds(int index);

    struct Span
    {
        bool unquoted;
        std::size_t begin;
        std::size_t size;
    };
    std::string_view text_;
    std::string unquoted_; // quoted fields without their quotes
    std::array<Span, kMostFields> fields_{};
    std::size_t count_ = 0;
};

// The first `head` and the last `tail` bytes of a text too long to show
// whole, each cut moved back to the start of a UTF-8 character, by three
// bytes at most, as text need not be UTF-8.
std::pair<std::string_view, std::string_view> Ends(std::string_view text, std::size_t head,
                                                   std::size_t tail);

// The decimal separator of the user's regional settings (LC_NUMERIC), read once.
char DecimalSeparator();

// Decimal text to a number, with the user's decimal separator. Where that
// separator is a comma, "." is taken as well, since commas split fields.
// EConvertError for anything but [sign] mantissa [(e|E) [sign] digits], the
// mantissa being digits with at most one separator, at least one digit in all
// ("1.", ".5"); and for magnitudes beyond double. Too small a value gives 0.
double StrToFloat(std::string_view text);
double StrToFloat(std::string_view text, char decimalSeparator);
// The same without raising: false where the text is not a number.
bool TryStrToFloat(std::string_view text, char decimalSeparator, double& value);

// Reads at `p` what most files hold, fast: a number of digits with at most
// one separator, no exponent and up to 19 digits, as StrToFloat reads it, and
// moves `p` past it. False, `p` anywhere, for anything more (which
// StrToFloat may still read).
bool ReadPlainDecimal(const char*& p, const char* end, char decimalSeparator, double& value);
