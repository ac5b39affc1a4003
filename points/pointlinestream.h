// One line converted into one point as it is read, a fragment at a time:
// for lines too long to join, and for reading one a little at a time. It
// holds a few kilobytes however long the line, stops reading once the third
// field ends, and its point or error is exactly what ParsePointLine gives for
// the whole line.
#pragma once

#include "cloudpoints.h"

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

class PointLineStream
{
public:
    explicit PointLineStream(char decimalSeparator) : separator_(decimalSeparator) {}

    // A new line begins.
    void Restart();
    // The next bytes of the line, split anywhere, with no line break among
    // them. Nothing is read once Wants() is false.
    void Feed(std::string_view bytes);
    // Whether more of the line can change its outcome: false once the third
    // field has ended, or a field that is no number.
    bool Wants() const { return state_ != State::decided; }
    // The line ends here.
    void End();

    // Once ended, or no longer wanting: the point; false where ParsePointLine
    // raises.
    bool TryPoint(CloudPoint& point) const;
    // The same, raising what ParsePointLine raises.
    CloudPoint Point() const;
    // After TryPoint refused: that error, and its message.
    void KeepError(std::exception_ptr& error, std::string& message) const;

private:
    enum class State : unsigned char
    {
        blanks,      // before a field, where a comma would begin an empty one
        afterField,  // blanks, then a comma or the next field
        afterComma,  // just past a comma: the end of the line adds an empty field
        unquoted,    // in a field
        quoted,      // in a quoted field
        quotedQuote, // a double quote in one: doubled, or its end
        decided
    };

    // What decides the value of a field too long to hold: the number
    // grammar read as it comes, the significant digits that decide rounding,
    // and the power of ten.
    struct LongNumber
    {
        enum class Part : unsigned char
        {
            start,
            mantissa,
            fraction,
            exponentStart,
            exponentSign,
            exponent,
            invalid
        };
        Part part = Part::start;
        bool negative = false;
        bool nonZero = false; // a digit other than 0 was read
        bool sticky = false;  // and another beyond those kept
        bool negativeExponent = false;
        std::int64_t digits = 0;        // of the mantissa
        std::int64_t integerDigits = 0; // before the separator
        std::int64_t leadingZeros = 0;  // before the first other digit
        std::int64_t exponent = 0;      // saturated
        std::string significant;

        void Read(std::string_view bytes, char separator);
        // A run of digits of the mantissa.
        void ReadDigits(const char* p, const char* end);
        bool Value(double& value) const;
    };

    void BeginField();
    void AppendField(std::string_view bytes);
    void AppendQuoted(std::string_view bytes);
    void EndField();

    char separator_;
    State state_ = State::blanks;
    int fields_ = 0; // ended
    int bad_ = -1;   // the field that is no number
    double values_[3] = {};
    // The field being read: its size, its first bytes (all of it while
    // short) and, once long, its last bytes and its number.
    std::uint64_t size_ = 0;
    std::string head_;
    std::string tail_;
    LongNumber number_;
    // What StrToFloat refuses with the bad field's message.
    std::string badText_;
};
