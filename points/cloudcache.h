// The converted points of a text's lines, kept in step with its edits so that
// a frame converts only the lines changed since the last one. What it yields
// always equals a full pass over the current lines.
#pragma once

#include "cloudpoints.h"
#include "floatarray.h"
#include "lineschange.h"
#include "pointlinestream.h"
#include "textstore.h"

#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The lines of a text converted from its start up to the first that is not a
// point, whose error is kept.
struct ConvertedLines
{
    FloatArray vertices;      // x, y, z a line, as single-precision floats
    std::exception_ptr error; // of the line after them, if it is no point
    std::string message;      // that error's, without the line
};

class CloudCache
{
public:
    // Every line is to be converted again; the text has `lineCount` lines.
    void Reset(std::int64_t lineCount);

    // Lines [first, first + removed) were replaced by `added` lines.
    void Replace(std::int64_t first, std::int64_t removed, std::int64_t added);

    // The whole text was replaced by one of `lineCount` lines, converted as
    // far as `lines` says.
    void Install(ConvertedLines lines, std::int64_t lineCount);

    // In step with the text's `changes`: a load's lines as its loader
    // converted them, where it did, and an edit's to be converted again.
    void Apply(std::vector<LinesChange> changes);

    struct Progress
    {
        std::int64_t good; // lines from the start known to be points
        bool complete;     // all `count` are, or the line after them is not one
    };

    // Brings the first `count` lines of `text` up to date, converting at
    // most `budget` (the text may have a last, empty line that is no point
    // line); of a line too long to join, a line's budget reads 256 of its
    // bytes, and it goes on at the next update. Nothing after the first line
    // that is not a point is converted, as in a full pass.
    Progress Update(const TextStore& text, std::int64_t count, char decimalSeparator,
                    std::int64_t budget);

    // Whether an update keeps the points where they are: one given a text
    // out of step with them starts again from a new block.
    bool InStep(std::int64_t lineCount, std::int64_t count) const
    {
        return vertices_.size() == static_cast<std::size_t>(lineCount) * 3 && count <= lineCount;
    }

    // Raises the error of the line the last complete update stopped at, its
    // message naming the line as a person counts, from 1. The error is found
    // once: the line is not converted again until it is edited.
    [[noreturn]] void RaiseBadLine() const;

    // x, y, z of each line, as single-precision floats.
    const FloatArray& Vertices() const { return vertices_; }

    // Changes whenever what an update yields may have.
    unsigned long long Version() const { return version_; }

private:
    struct Span
    {
        std::int64_t begin;
        std::int64_t end;
    };

    FloatArray vertices_;
    // Lines not yet converted, or that failed: ordered, disjoint.
    std::vector<Span> pending_;
    std::int64_t failed_ = -1; // the line that failed, while unedited
    std::exception_ptr error_;
    std::string message_;
    unsigned long long version_ = 0;
    // Reads on in long line `line` of `text`, at most `bytes` of it; false
    // while its point is not yet decided.
    bool Stream(const TextStore& text, std::int64_t line, const LineReader::Line& read,
                char decimalSeparator, std::int64_t bytes);

    TStringList scratch_;
    std::string joined_; // a short line that spans pieces of the text
    // The long line being read a budget at a time, and how far it is read.
    std::optional<PointLineStream> stream_;
    std::int64_t streamLine_ = -1;
    std::int64_t streamed_ = 0;
};
