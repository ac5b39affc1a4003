// The text store against a plain string through the edits, undos and loads
// an input spells: a byte picks each step, the bytes after it its place and
// what it puts.
#include "plaintext.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Reads the input a number or a run of bytes at a time; zeros past its end.
class Input
{
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool More() const { return at_ < size_; }
    std::size_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::size_t Number() { return Byte() | Byte() << 8 | Byte() << 16; }
    // Bytes of a text, mostly ends of lines and a few others.
    std::string Text(std::size_t size)
    {
        static constexpr char kBytes[] = {'\r', '\n', 'a', ' ', '\0', '\xff', '\r', '\n'};
        std::string text;
        for (std::size_t i = 0; i < size; ++i)
            text += kBytes[Byte() % sizeof kBytes];
        return text;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    PlainEdits edits;
    while (in.More()) {
        const std::size_t step = in.Byte();
        std::string wrong;
        switch (step % 8) {
        case 0:
            wrong = edits.Undo();
            break;
        case 1:
            wrong = edits.Redo();
            break;
        case 2:
            edits.MarkSaved();
            break;
        case 3: // up to two pieces of text, in a few blocks
            wrong = edits.Load(
                in.Text(in.Byte() * 512 + in.Byte()),
                [&](std::size_t) { return in.Number() % 100000 + 1024; },
                [&] { return in.Byte() % 2 == 0; });
            break;
        default:
            wrong = edits.Replace(in.Number(), in.Byte() % 32, in.Text(in.Byte() % 16), step & 16);
        }
        if (!wrong.empty()) {
            std::fprintf(stderr, "the store and the plain text differ in %s\n", wrong.c_str());
            std::abort();
        }
    }
    return 0;
}
