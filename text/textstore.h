// A text of any bytes, held exactly as loaded or typed: NUL, invalid UTF-8,
// CR, LF and CR LF alike. It is kept as pieces of the blocks it was read or
// typed into, each knowing its count of line breaks, so that an edit anywhere
// costs a few pieces whatever the text's size, and bytes never move once in
// memory. Positions and line numbers are 64-bit throughout.
#pragma once

#include "lineschange.h"
#include "sysutils.h"
#include "textblock.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TextBuilder;

// A text that would have more lines than a store holds; nothing changed.
class ETooManyLines : public Exception
{
public:
    ETooManyLines(std::int64_t lines, std::int64_t most);
    const std::int64_t Lines;
    const std::int64_t Most;
};

class TextStore
{
public:
    // Lines are counted in 64 bits: no file or paste that fits in memory
    // comes near.
    static constexpr std::int64_t kMostLines = std::int64_t{1} << 62;

    TextStore();
    ~TextStore();
    TextStore(const TextStore&) = delete;
    TextStore& operator=(const TextStore&) = delete;

    std::int64_t Length() const { return bytesBefore_.back(); }
    // One more than the line breaks: an empty text has one line, and a text
    // ending in a break an empty last one.
    std::int64_t LineCount() const { return breaksBefore_.back() + 1; }
    // Where line `line` (0 <= line < LineCount()) begins, and where it ends
    // before its break.
    std::int64_t LineStart(std::int64_t line) const;
    std::int64_t LineEnd(std::int64_t line) const;
    // The line holding `position` (0 <= position <= Length()); the bytes of a
    // break belong to the line it ends.
    std::int64_t LineOf(std::int64_t position) const;

    char At(std::int64_t position) const;
    std::string Text(std::int64_t position, std::int64_t length) const;
    // Hands `visit` the bytes [position, position + length) in order, a run
    // at a time, in place; stops early where it returns false.
    template <class Visit>
    void Read(std::int64_t position, std::int64_t length, Visit&& visit) const
    {
        for (std::size_t i = PieceAt(position); length > 0 && i < pieces_.size(); ++i) {
            const auto offset = static_cast<std::size_t>(position - bytesBefore_[i]);
            const std::int64_t size =
                std::min(static_cast<std::int64_t>(pieces_[i].length - offset), length);
            if (!visit(std::string_view(pieces_[i].data + offset, static_cast<std::size_t>(size))))
                return;
            position += size;
            length -= size;
        }
    }

    // Hears of every change, once, just after it: the lines it replaced. The
    // change is its own to keep, with what a load made beside the text.
    void SetListener(std::function<void(LinesChange)> listener);

    // Bytes [position, position + length) become `bytes`. One step of undo,
    // or part of the step before where `join` says so (a typed run). Raises
    // ETooManyLines, changing nothing, where the text would have too many.
    void Replace(std::int64_t position, std::int64_t length, std::string_view bytes,
                 bool join = false);
    // The whole text becomes the built one, with what a load made beside it;
    // its history starts anew, unmodified. Raises ETooManyLines, changing
    // nothing.
    void Adopt(TextBuilder built, std::any loaded);

    // Where an undo or a redo changed the text: the bytes it put there.
    struct Span
    {
        std::int64_t position;
        std::int64_t length;
    };
    bool CanUndo() const { return done_ > 0; }
    bool CanRedo() const { return done_ < history_.size(); }
    std::optional<Span> Undo();
    std::optional<Span> Redo();
    // Ends a typed run: the next edit is a step of its own.
    void EndStep() { joinable_ = false; }

    // Whether the text differs from the one last saved or loaded; undoing
    // back to it counts as unchanged.
    bool Modified() const { return done_ != saved_; }
    void MarkSaved();

private:
    friend class LineReader;
    struct Piece
    {
        const char* data;
        std::uint32_t length;
        std::uint32_t breaks; // as CountBreaks counts them
    };
    struct Edit
    {
        std::int64_t position;
        std::int64_t removedLength;
        std::int64_t insertedLength;
        std::vector<Piece> removed;
        std::vector<Piece> inserted;
    };
    using Step = std::vector<Edit>;

    static Piece MakePiece(const char* data, std::size_t length);
    // The piece holding `position`; the count of pieces at the end.
    std::size_t PieceAt(std::int64_t position) const;
    // Whether piece i ends in a CR that is a break: no LF begins the next.
    bool EndsInBreak(std::size_t i) const;
    // The positions and breaks before each piece, from piece `from` on.
    void Reindex(std::size_t from);
    // The piece beginning at `position`, splitting one there if need be.
    std::size_t SplitAt(std::int64_t position);
    // Joins piece i with the next where their bytes follow in memory.
    void MergeAt(std::size_t i);
    // Copies `bytes` where edits keep what they type.
    std::vector<Piece> Keep(std::string_view bytes);
    // The edit itself, told to the listener; the pieces it removed.
    std::vector<Piece> Splice(std::int64_t position, std::int64_t length,
                              const std::vector<Piece>& pieces, std::int64_t insertedLength);
    void Tell(LinesChange change) const;

    std::vector<Piece> pieces_;
    std::vector<std::int64_t> bytesBefore_{0};  // one more than the pieces
    std::vector<std::int64_t> breaksBefore_{0}; // the same, of breaks
    std::vector<std::unique_ptr<TextBlock>> blocks_;
    std::size_t typedUsed_ = 0; // of the last block, where typing goes
    bool typing_ = false;       // the last block takes what is typed

    std::vector<Step> history_;
    std::size_t done_ = 0;  // steps of the history the text has
    std::size_t saved_ = 0; // the steps the saved text had; none such past the history
    bool joinable_ = false;

    std::function<void(LinesChange)> listener_;
};

// Reads a store's lines one after another from a given one, each found from
// where the last ended; valid until the text changes.
class LineReader
{
public:
    LineReader(const TextStore& text, std::int64_t line);

    struct Line
    {
        std::int64_t position; // where it begins in the text
        std::int64_t length;   // without its break
        // Its bytes in place where they lie in one piece; empty otherwise
        // (read them with TextStore::Read).
        std::string_view bytes;
        bool whole;
    };
    // False past the last line.
    bool Next(Line& line);

private:
    const TextStore& text_;
    std::int64_t line_;
    std::int64_t position_;
    std::size_t piece_;
};
