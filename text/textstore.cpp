#include "textstore.h"

#include "breaks.h"
#include "loadtap.h"
#include "textbuilder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

// What is typed goes into blocks of this size, or of a paste's.
constexpr std::size_t kTypedBlock = std::size_t{1} << 20;
// The saved text is no longer in the history.
constexpr std::size_t kNever = SIZE_MAX;

// Where a span of a text lies once `oldLength` bytes at `at` became `newLength`,
// grown to cover them.
TextStore::Span Cover(std::optional<TextStore::Span> span, std::int64_t at, std::int64_t oldLength,
                      std::int64_t newLength)
{
    if (!span)
        return {at, newLength};
    const auto moved = [&](std::int64_t p) {
        return p <= at ? p : p >= at + oldLength ? p + newLength - oldLength : at + newLength;
    };
    const std::int64_t begin = std::min(moved(span->position), at);
    const std::int64_t end = std::max(moved(span->position + span->length), at + newLength);
    return {begin, end - begin};
}

} // namespace

ETooManyLines::ETooManyLines(std::int64_t lines, std::int64_t most)
    : Exception("The text would have " + std::to_string(lines) + " lines: at most " +
                std::to_string(most) + " can be held."),
      Lines(lines), Most(most)
{
}

TextStore::TextStore() = default;
TextStore::~TextStore() = default;

TextStore::Piece TextStore::MakePiece(const char* data, std::size_t length)
{
    return {data, static_cast<std::uint32_t>(length), CountBreaks(data, length)};
}

std::size_t TextStore::PieceAt(std::int64_t position) const
{
    const auto after = std::upper_bound(bytesBefore_.begin(), bytesBefore_.end(), position);
    return std::min(static_cast<std::size_t>(after - bytesBefore_.begin()), bytesBefore_.size()) -
           1;
}

bool TextStore::EndsInBreak(std::size_t i) const
{
    const Piece& piece = pieces_[i];
    return piece.data[piece.length - 1] == '\r' &&
           !(i + 1 < pieces_.size() && pieces_[i + 1].data[0] == '\n');
}

void TextStore::Reindex(std::size_t from)
{
    bytesBefore_.resize(pieces_.size() + 1);
    breaksBefore_.resize(pieces_.size() + 1);
    for (std::size_t i = from; i < pieces_.size(); ++i) {
        bytesBefore_[i + 1] = bytesBefore_[i] + pieces_[i].length;
        breaksBefore_[i + 1] = breaksBefore_[i] + pieces_[i].breaks + (EndsInBreak(i) ? 1 : 0);
    }
}

std::int64_t TextStore::LineStart(std::int64_t line) const
{
    if (line <= 0)
        return 0;
    if (line >= LineCount())
        return Length();
    // The piece where break number `line` is counted.
    const auto i = static_cast<std::size_t>(
        std::lower_bound(breaksBefore_.begin() + 1, breaksBefore_.end(), line) -
        breaksBefore_.begin() - 1);
    const Piece& piece = pieces_[i];
    const auto n = static_cast<std::uint64_t>(line - breaksBefore_[i]);
    if (n <= piece.breaks)
        return bytesBefore_[i] + static_cast<std::int64_t>(FindBreak(piece.data, piece.length, n)) +
               1;
    return bytesBefore_[i + 1]; // its last byte, a CR
}

std::int64_t TextStore::LineEnd(std::int64_t line) const
{
    if (line >= LineCount() - 1)
        return Length();
    const std::int64_t next = LineStart(line + 1);
    return At(next - 1) == '\n' && next >= 2 && At(next - 2) == '\r' ? next - 2 : next - 1;
}

std::int64_t TextStore::LineOf(std::int64_t position) const
{
    if (position >= Length())
        return LineCount() - 1;
    if (position <= 0)
        return 0;
    const std::size_t i = PieceAt(position);
    const Piece& piece = pieces_[i];
    const auto offset = static_cast<std::size_t>(position - bytesBefore_[i]);
    // A CR just before the position ends a line unless an LF follows it.
    const bool lastCr = offset > 0 && piece.data[offset - 1] == '\r' && piece.data[offset] != '\n';
    return breaksBefore_[i] + CountBreaks(piece.data, offset) + (lastCr ? 1 : 0);
}

char TextStore::At(std::int64_t position) const
{
    const std::size_t i = PieceAt(position);
    if (position < 0 || i >= pieces_.size())
        throw std::out_of_range("TextStore::At");
    return pieces_[i].data[position - bytesBefore_[i]];
}

std::string TextStore::Text(std::int64_t position, std::int64_t length) const
{
    std::string text;
    text.reserve(static_cast<std::size_t>(std::max<std::int64_t>(length, 0)));
    Read(position, length, [&text](std::string_view bytes) {
        text.append(bytes);
        return true;
    });
    return text;
}

void TextStore::SetListener(std::function<void(LinesChange)> listener)
{
    listener_ = std::move(listener);
}

void TextStore::Tell(LinesChange change) const
{
    if (listener_)
        listener_(std::move(change));
}

std::size_t TextStore::SplitAt(std::int64_t position)
{
    const std::size_t i = PieceAt(position);
    if (i == pieces_.size() || bytesBefore_[i] == position)
        return i;
    const auto offset = static_cast<std::size_t>(position - bytesBefore_[i]);
    const Piece whole = pieces_[i];
    pieces_[i] = MakePiece(whole.data, offset);
    pieces_.insert(pieces_.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                   MakePiece(whole.data + offset, whole.length - offset));
    // The two halves hold the bytes and the breaks the whole did.
    bytesBefore_.insert(bytesBefore_.begin() + static_cast<std::ptrdiff_t>(i) + 1, position);
    breaksBefore_.insert(breaksBefore_.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                         breaksBefore_[i] + pieces_[i].breaks + (EndsInBreak(i) ? 1 : 0));
    return i + 1;
}

void TextStore::MergeAt(std::size_t i)
{
    if (i + 1 >= pieces_.size())
        return;
    const Piece& a = pieces_[i];
    const Piece& b = pieces_[i + 1];
    if (a.data + a.length != b.data || a.length + b.length > kPieceSize)
        return;
    pieces_[i] = MakePiece(a.data, a.length + b.length);
    pieces_.erase(pieces_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
}

std::vector<TextStore::Piece> TextStore::Keep(std::string_view bytes)
{
    std::vector<Piece> pieces;
    if (bytes.empty())
        return pieces;
    pieces.reserve((bytes.size() + kPieceSize - 1) / kPieceSize);
    if (!typing_ || blocks_.back()->capacity() - typedUsed_ < bytes.size()) {
        blocks_.reserve(blocks_.size() + 1);
        blocks_.push_back(std::make_unique<TextBlock>(std::max(kTypedBlock, bytes.size())));
        typedUsed_ = 0;
        typing_ = true;
    }
    char* const kept = blocks_.back()->data() + typedUsed_;
    std::memcpy(kept, bytes.data(), bytes.size());
    typedUsed_ += bytes.size();
    for (std::size_t at = 0; at < bytes.size(); at += kPieceSize)
        pieces.push_back(MakePiece(kept + at, std::min(kPieceSize, bytes.size() - at)));
    return pieces;
}

std::vector<TextStore::Piece> TextStore::Splice(std::int64_t position, std::int64_t length,
                                                const std::vector<Piece>& pieces,
                                                std::int64_t insertedLength)
{
    const std::int64_t first = LineOf(position);
    const std::int64_t oldLast = LineOf(position + length);
    // At most this many: every piece put in may end in a break of its own.
    std::int64_t lines = LineCount() - (oldLast - first) + 1;
    for (const Piece& piece : pieces)
        lines += piece.breaks + 1;
    if (lines > kMostLines)
        throw ETooManyLines(lines, kMostLines);
    // Room first, so that nothing below fails half way.
    pieces_.reserve(pieces_.size() + pieces.size() + 2);
    bytesBefore_.reserve(pieces_.capacity() + 1);
    breaksBefore_.reserve(pieces_.capacity() + 1);
    std::vector<Piece> removed;
    removed.reserve(static_cast<std::size_t>(length / static_cast<std::int64_t>(kPieceSize)) + 2);

    const std::size_t a = SplitAt(position);
    const std::size_t b = SplitAt(position + length);
    const auto begin = pieces_.begin();
    removed.assign(begin + static_cast<std::ptrdiff_t>(a), begin + static_cast<std::ptrdiff_t>(b));
    pieces_.erase(begin + static_cast<std::ptrdiff_t>(a), begin + static_cast<std::ptrdiff_t>(b));
    pieces_.insert(pieces_.begin() + static_cast<std::ptrdiff_t>(a), pieces.begin(), pieces.end());
    // Typing goes on where the last key's bytes went: one piece, not one a key.
    MergeAt(a + pieces.size() - (pieces.empty() ? 0 : 1));
    if (a > 0)
        MergeAt(a - 1);
    Reindex(a > 0 ? a - 1 : 0);

    Tell({first, oldLast - first + 1, LineOf(position + insertedLength) - first + 1, {}, position});
    return removed;
}

void TextStore::Replace(std::int64_t position, std::int64_t length, std::string_view bytes,
                        bool join)
{
    if (position < 0 || length < 0 || position > Length() || length > Length() - position)
        throw std::out_of_range("TextStore::Replace");
    if (length == 0 && bytes.empty())
        return;
    Edit edit{position, length, static_cast<std::int64_t>(bytes.size()), {}, Keep(bytes)};
    history_.reserve(done_ + 1);
    edit.removed = Splice(position, length, edit.inserted, edit.insertedLength);
    if (saved_ > done_)
        saved_ = kNever; // it was among the steps undone, which go
    history_.resize(done_);
    if (join && joinable_ && done_ > 0 && saved_ != done_) {
        history_.back().push_back(std::move(edit));
    } else {
        history_.push_back(Step{});
        history_.back().push_back(std::move(edit));
        ++done_;
    }
    joinable_ = true;
}

std::optional<TextStore::Span> TextStore::Undo()
{
    joinable_ = false;
    if (!CanUndo())
        return std::nullopt;
    const Step& step = history_[done_ - 1];
    std::optional<Span> span;
    for (auto edit = step.rbegin(); edit != step.rend(); ++edit) {
        Splice(edit->position, edit->insertedLength, edit->removed, edit->removedLength);
        span = Cover(span, edit->position, edit->insertedLength, edit->removedLength);
    }
    --done_;
    return span;
}

std::optional<TextStore::Span> TextStore::Redo()
{
    joinable_ = false;
    if (!CanRedo())
        return std::nullopt;
    const Step& step = history_[done_];
    std::optional<Span> span;
    for (const Edit& edit : step) {
        Splice(edit.position, edit.removedLength, edit.inserted, edit.insertedLength);
        span = Cover(span, edit.position, edit.removedLength, edit.insertedLength);
    }
    ++done_;
    return span;
}

void TextStore::MarkSaved()
{
    saved_ = done_;
    joinable_ = false;
}

void TextStore::Adopt(TextBuilder built, std::any loaded)
{
    std::vector<Piece> pieces;
    std::size_t slices = 0;
    for (const TextBuilder::Part& part : built.parts_)
        slices += part.counts.size();
    pieces.reserve(slices);
    for (const TextBuilder::Part& part : built.parts_) {
        for (std::size_t s = 0; s < part.counts.size(); ++s) {
            const char* data = part.block->data() + s * kPieceSize;
            const std::size_t length = std::min(kPieceSize, part.size - s * kPieceSize);
            const std::uint32_t count = part.counts[s];
            pieces.push_back({data, static_cast<std::uint32_t>(length),
                              count == kUncounted ? CountBreaks(data, length) : count});
        }
    }
    const std::int64_t oldLines = LineCount();
    std::swap(pieces_, pieces);
    Reindex(0);
    if (LineCount() > kMostLines) {
        const std::int64_t lines = LineCount();
        std::swap(pieces_, pieces);
        Reindex(0);
        throw ETooManyLines(lines, kMostLines);
    }
    pieces = {};
    blocks_.clear();
    for (TextBuilder::Part& part : built.parts_)
        blocks_.push_back(std::move(part.block));
    typing_ = false;
    history_.clear();
    done_ = saved_ = 0;
    joinable_ = false;
    Tell({0, oldLines, LineCount(), std::move(loaded)});
}

LineReader::LineReader(const TextStore& text, std::int64_t line)
    : text_(text), line_(std::max<std::int64_t>(line, 0)), position_(text.LineStart(line_)),
      piece_(text.PieceAt(position_))
{
}

bool LineReader::Next(Line& line)
{
    const TextStore& t = text_;
    if (line_ >= t.LineCount())
        return false;
    const std::int64_t start = position_;
    std::int64_t end = t.Length();
    std::int64_t next = end;
    if (line_ + 1 < t.LineCount()) {
        // The break that ends the line: in this piece, or the next that has one.
        std::size_t i = piece_;
        auto offset = static_cast<std::size_t>(position_ - t.bytesBefore_[i]);
        if (t.breaksBefore_[i + 1] <= line_) {
            i = static_cast<std::size_t>(
                std::lower_bound(t.breaksBefore_.begin() + 1, t.breaksBefore_.end(), line_ + 1) -
                t.breaksBefore_.begin() - 1);
            offset = 0;
        }
        const TextStore::Piece& piece = t.pieces_[i];
        const std::size_t found = FindBreak(piece.data + offset, piece.length - offset, 1);
        const std::int64_t at = found < piece.length - offset
                                    ? t.bytesBefore_[i] + static_cast<std::int64_t>(offset + found)
                                    : t.bytesBefore_[i + 1] - 1; // its last byte, a CR
        next = at + 1;
        end = at > start && t.At(at) == '\n' && t.At(at - 1) == '\r' ? at - 1 : at;
    }
    line.position = start;
    line.length = end - start;
    line.whole = line.length == 0 || end <= t.bytesBefore_[piece_ + 1];
    line.bytes = line.whole && line.length > 0
                     ? std::string_view(t.pieces_[piece_].data + (start - t.bytesBefore_[piece_]),
                                        static_cast<std::size_t>(line.length))
                     : std::string_view();
    position_ = next;
    if (piece_ < t.pieces_.size() && t.bytesBefore_[piece_ + 1] <= position_)
        piece_ = t.PieceAt(position_);
    ++line_;
    return true;
}
