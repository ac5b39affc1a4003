// One line of a cloud points file converted into one point.
#pragma once

#include "sysutils.h"

#include <exception>
#include <string>
#include <string_view>

struct CloudPoint
{
    double x;
    double y;
    double z;
};

// Spaces become commas, the line is split as comma text into `scratch`, and
// fields 0, 1, 2 convert to x, y, z in that order. Raises EStringListError for
// a missing field and EConvertError for the first field that is not a number.
CloudPoint ParsePointLine(std::string_view line, TStringList& scratch);

// The same with a given decimal separator instead of the user's.
CloudPoint ParsePointLine(std::string_view line, TStringList& scratch, char decimalSeparator);

// The same conversion without raising, for passes that only need to know
// whether a line is a point: false where ParsePointLine would raise.
bool TryParsePointLine(std::string_view line, TStringList& scratch, char decimalSeparator,
                       CloudPoint& point);

// Converts `line` into out[0..2] as single-precision floats; false where it is no point.
bool ConvertLine(std::string_view line, TStringList& scratch, char decimalSeparator, float* out);

// The error ParsePointLine raises for a line ConvertLine refused, and its message.
void KeepError(std::string_view line, TStringList& scratch, char decimalSeparator,
               std::exception_ptr& error, std::string& message);

// The line of `bytes` that starts at `at`, without its break (CR LF, CR or LF);
// `at` moves past the break.
std::string_view NextLine(std::string_view bytes, std::size_t& at);
