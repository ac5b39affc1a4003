#include "cloudpoints.h"
#include "plainline.h"

#include <cstring>

CloudPoint ParsePointLine(std::string_view line, TStringList& scratch)
{
    return ParsePointLine(line, scratch, DecimalSeparator());
}

CloudPoint ParsePointLine(std::string_view line, TStringList& scratch, char decimalSeparator)
{
    scratch.SetCommaTextSpacesAsCommas(line, 3);
    // Separate statements: the first bad field is the one reported.
    const double x = StrToFloat(scratch[0], decimalSeparator);
    const double y = StrToFloat(scratch[1], decimalSeparator);
    const double z = StrToFloat(scratch[2], decimalSeparator);
    return {x, y, z};
}

namespace {

// Most lines are three plain numbers, one space or comma apart, read here in
// one pass. Anything else is left to the split, which decides the same.
bool ReadPlainLine(std::string_view line, char decimalSeparator, CloudPoint& point)
{
    const char dot = PlainPoint(decimalSeparator);
    if (dot == '\0')
        return false;
    double xyz[3];
    if (line.size() >= kPlainReadAhead) {
        if (!ReadPlainPoint(line.data(), dot, xyz))
            return false;
    } else {
        // A short line is read from a copy, ended as a field ends.
        char copy[kPlainReadAhead];
        if (!line.empty())
            std::memcpy(copy, line.data(), line.size());
        std::memset(copy + line.size(), '\n', kPlainReadAhead - line.size());
        if (!ReadPlainPoint(copy, dot, xyz))
            return false;
    }
    point = {xyz[0], xyz[1], xyz[2]};
    return true;
}

} // namespace

bool TryParsePointLine(std::string_view line, TStringList& scratch, char decimalSeparator,
                       CloudPoint& point)
{
    if (ReadPlainLine(line, decimalSeparator, point))
        return true;
    scratch.SetCommaTextSpacesAsCommas(line, 3);
    return scratch.Count() >= 3 && TryStrToFloat(scratch[0], decimalSeparator, point.x) &&
           TryStrToFloat(scratch[1], decimalSeparator, point.y) &&
           TryStrToFloat(scratch[2], decimalSeparator, point.z);
}

bool ConvertLine(std::string_view line, TStringList& scratch, char decimalSeparator, float* out)
{
    CloudPoint p{};
    if (!TryParsePointLine(line, scratch, decimalSeparator, p))
        return false;
    out[0] = static_cast<float>(p.x);
    out[1] = static_cast<float>(p.y);
    out[2] = static_cast<float>(p.z);
    return true;
}

void KeepError(std::string_view line, TStringList& scratch, char decimalSeparator,
               std::exception_ptr& error, std::string& message)
{
    try {
        ParsePointLine(line, scratch, decimalSeparator);
        throw Exception("not a point"); // the two parses disagree
    } catch (const Exception& e) {
        error = std::current_exception();
        message = e.Message();
    }
}

std::string_view NextLine(std::string_view bytes, std::size_t& at)
{
    // An LF is found fast; a CR before it, rare, ends the line sooner.
    const std::size_t left = bytes.size() - at;
    const char* const start = bytes.data() + at;
    const auto* lf = static_cast<const char*>(std::memchr(start, '\n', left));
    const std::size_t lfAt = lf ? static_cast<std::size_t>(lf - start) : left;
    const auto* cr = static_cast<const char*>(std::memchr(start, '\r', lfAt));
    const std::size_t length = cr ? static_cast<std::size_t>(cr - start) : lfAt;
    const std::string_view line(start, length);
    at += length + (cr && length + 1 < left && start[length + 1] == '\n' ? 2 : 1);
    return line;
}
