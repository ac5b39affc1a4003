// The converted points of a text's lines, kept in step with its edits so that
// a frame converts only the lines changed since the last one. What it yields
// always equals a full pass over the current lines.
#pragma once

#include "cloudpoints.h"

#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CloudCache
{
public:
    // Every line is to be converted again; the text has `lineCount` lines.
    void Reset(int lineCount);

    // Lines [first, first + removed) were replaced by `added` lines.
    void Replace(int first, int removed, int added);

    // The bytes of lines [begin, end), each with its line break (CR LF, CR
    // or LF), end to end as in the text.
    using LinesIn = std::function<std::string_view(int begin, int end)>;

    // Brings the first `count` lines up to date, given `lineCount` lines in
    // all (the text may have a last, empty line that is no point line).
    // Returns how many lines from the start convert: `count`, or the index of
    // the first line that does not, after which nothing is converted.
    int Update(int lineCount, int count, const LinesIn& linesIn, char decimalSeparator);

    // Raises the error of the line the last update stopped at, its message
    // naming the line as a person counts, from 1. The error is found once:
    // the line is not converted again until it is edited.
    [[noreturn]] void RaiseBadLine() const;

    // x, y, z of each line, as single-precision floats.
    const std::vector<float>& Vertices() const { return vertices_; }

    // The range of lines whose vertices changed since the last call.
    std::pair<int, int> TakeChanged();

private:
    struct Span
    {
        int begin;
        int end;
    };
    void MarkChanged(int begin, int end);
    void KeepError(std::string_view line, char decimalSeparator);

    std::vector<float> vertices_;
    // Lines not yet converted, or that failed: ordered, disjoint.
    std::vector<Span> pending_;
    int failed_ = -1; // the line that failed, while unedited
    std::exception_ptr error_;
    std::string message_; // as raised, without the line
    int changedBegin_ = 0;
    int changedEnd_ = 0;
    TStringList scratch_;
};
