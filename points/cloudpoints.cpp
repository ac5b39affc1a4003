#include "cloudpoints.h"

CloudPoint ParsePointLine(std::string_view line, TStringList& scratch)
{
    return ParsePointLine(line, scratch, DecimalSeparator());
}

CloudPoint ParsePointLine(std::string_view line, TStringList& scratch, char decimalSeparator)
{
    scratch.SetCommaTextSpacesAsCommas(line);
    // Separate statements: the first bad field is the one reported.
    const double x = StrToFloat(scratch[0], decimalSeparator);
    const double y = StrToFloat(scratch[1], decimalSeparator);
    const double z = StrToFloat(scratch[2], decimalSeparator);
    return {x, y, z};
}

bool TryParsePointLine(std::string_view line, TStringList& scratch, char decimalSeparator,
                       CloudPoint& point)
{
    scratch.SetCommaTextSpacesAsCommas(line);
    return scratch.Count() >= 3 && TryStrToFloat(scratch[0], decimalSeparator, point.x) &&
           TryStrToFloat(scratch[1], decimalSeparator, point.y) &&
           TryStrToFloat(scratch[2], decimalSeparator, point.z);
}
