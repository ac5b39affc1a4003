// The text box as a table: a text with its selection, what the user does,
// and the text and selection after.
#include "application.h"
#include "memoaccessible.h"
#include "qt.h"

#include <QAccessible>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <sstream>

namespace {

// A text with its selection marked: ^ the caret, ~ the anchor where it differs.
struct Marked
{
    std::string text;
    std::int64_t anchor = 0;
    std::int64_t caret = 0;
};

Marked Parse(const std::string& marked)
{
    Marked m;
    std::optional<std::int64_t> anchor;
    for (const char c : marked) {
        const auto at = static_cast<std::int64_t>(m.text.size());
        c == '^' ? void(m.caret = at) : c == '~' ? void(anchor = at) : m.text.push_back(c);
    }
    m.anchor = anchor.value_or(m.caret);
    return m;
}

std::string Show(const TMemo& memo)
{
    std::string text = TextOf(memo);
    const auto caret = static_cast<std::size_t>(memo.Caret());
    const auto anchor = static_cast<std::size_t>(memo.Anchor());
    if (anchor > caret)
        text.insert(anchor, "~");
    text.insert(caret, "^");
    if (anchor < caret)
        text.insert(anchor, "~");
    return text;
}

// Where column `column` of line `line` shows: "line,column".
QPoint At(const TMemo& memo, const std::string& place)
{
    const auto comma = place.find(',');
    const std::int64_t line = std::stoll(place.substr(0, comma));
    const QRect start = memo.RectAt(memo.Lines->Store().LineStart(line));
    const double cell = QFontMetricsF(memo.font()).horizontalAdvance(QLatin1Char('0'));
    return QPointF(start.x() + std::stod(place.substr(comma + 1)) * cell,
                   start.y() + start.height() / 2.0)
        .toPoint();
}

// One step: keys, "type:" text, "ime:" committed text, "xsel:" text made the
// X selection, or a mouse action at a place.
void Do(TMemo& memo, const std::string& step)
{
    const auto colon = step.find(':');
    const std::string verb = step.substr(0, colon);
    const QString arg = QString::fromStdString(step.substr(colon + 1));
    QWidget* view = memo.viewport();
    if (colon == std::string::npos)
        return QTest::keySequence(&memo, QKeySequence(QString::fromStdString(step)));
    if (verb == "type")
        return QTest::keyClicks(&memo, arg);
    if (verb == "ime") {
        QInputMethodEvent event;
        event.setCommitString(arg);
        return void(QApplication::sendEvent(&memo, &event));
    }
    if (verb == "xsel")
        return QApplication::clipboard()->setText(arg, QClipboard::Selection);
    const QPoint p = At(memo, arg.toStdString());
    const auto mods = verb.starts_with("shift")  ? Qt::ShiftModifier
                      : verb.starts_with("ctrl") ? Qt::ControlModifier
                                                 : Qt::NoModifier;
    // As a desktop sends them: a double click's second press comes as one.
    const auto mouse = [&](QEvent::Type type, Qt::MouseButton button) {
        QMouseEvent event(
            type, p, view->mapToGlobal(p), button,
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button), mods);
        QApplication::sendEvent(view, &event);
    };
    const auto button = verb == "middle" ? Qt::MiddleButton : Qt::LeftButton;
    if (verb.ends_with("click") || verb == "middle" || verb == "press")
        mouse(QEvent::MouseButtonPress, button);
    if (verb == "move")
        mouse(QEvent::MouseMove, Qt::LeftButton);
    if (verb == "dclick") {
        mouse(QEvent::MouseButtonRelease, Qt::LeftButton);
        mouse(QEvent::MouseButtonDblClick, Qt::LeftButton);
    }
    if (verb.ends_with("click") || verb == "middle" || verb == "release")
        mouse(QEvent::MouseButtonRelease, button);
    if (verb.ends_with("drop")) { // the X selection: another's, or the box's own
        const QMimeData* data = QApplication::clipboard()->mimeData(QClipboard::Selection);
        QDragEnterEvent enter(p, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, mods);
        QApplication::sendEvent(view, &enter);
        QDropEvent drop(p, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, mods);
        QApplication::sendEvent(view, &drop);
    }
}

// A text, escaped, near its caret.
std::string Near(const std::string& marked)
{
    const std::size_t caret = std::min(marked.find('^'), marked.size());
    std::string shown;
    for (std::size_t i = caret < 40 ? 0 : caret - 40; i < std::min(marked.size(), caret + 40);
         ++i) {
        const auto c = static_cast<unsigned char>(marked[i]);
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        shown += c == '\n'               ? "\\n"
                 : c == '\r'             ? "\\r"
                 : c == '\t'             ? "\\t"
                 : c >= 0x20 && c < 0x7f ? std::string(1, marked[i])
                                         : hex;
    }
    return shown;
}

class Memo : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        (application = std::make_unique<TApplication>())->Initialize();
        window = std::make_unique<QWidget>();
        memo = new TMemo(window.get());
        memo->setGeometry(0, 0, 320, 200);
        (new QLineEdit(window.get()))->setGeometry(0, 210, 320, 24);
        window->resize(320, 240);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    static void TearDownTestSuite()
    {
        window.reset();
        application.reset();
    }
    void SetUp() override { memo->setFocus(); }
    static inline std::unique_ptr<TApplication> application;
    static inline std::unique_ptr<QWidget> window;
    static inline TMemo* memo = nullptr;
};

std::string Lines(int count, int caretLine)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += i == caretLine ? "a^b\n" : "ab\n";
    return text;
}

std::string Repeat(const std::string& piece, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

TEST_F(Memo, KeysMouseClipboardAndDropsEditAsAUserExpects)
{
    const int page = memo->viewport()->height() / QFontMetrics(memo->font()).lineSpacing() - 1;
    const std::string x(5 << 20, 'x');
    const std::string unit = "\xc3\xa9"
                             "abc"; // four columns; one spans two pieces
    // 24 columns: bytes of invalid sequences two each, characters one.
    const std::string bad =
        "\xe0\x80\x80x\xed\xa0\x80\xf4\x90\x80\x80y\xe2\x82\xac\xf0\x9f\x98\x80";
    const struct
    {
        std::string before;
        std::string steps;
        std::string after;
    } rows[] = {
        // Characters, breaks and words.
        {"a^bc", "Right", "ab^c"},
        {"ab^c", "Shift+Left", "a^b~c"},
        {"^ab", "Shift+Right Shift+Right", "~ab^"},
        {"a~bc^", "Left", "a^bc"},
        {"a^bc~", "Right", "abc^"},
        {"^\xc3\xa9\xe2\x82\xac", "Right Right", "\xc3\xa9\xe2\x82\xac^"},
        {"^\xe2\x82x\xff", "Right Right Right", "\xe2\x82x^\xff"},
        {"\xe2\x82^", "Left", "\xe2^\x82"},
        {"a^\r\nb", "Right", "a\r\n^b"},
        {"a\r\n^b", "Left", "a^\r\nb"},
        {"^foo bar", "Ctrl+Right", "foo ^bar"},
        {"^foo.bar", "Ctrl+Right", "foo^.bar"},
        {"foo^\nbar", "Ctrl+Right", "foo\n^bar"},
        {"foo bar^", "Ctrl+Left", "foo ^bar"},
        {"foo ^bar", "Ctrl+Shift+Left", "^foo ~bar"},
        // Lines and pages; Up and Down keep the column.
        {"ab^c\nd", "Home", "^abc\nd"},
        {"ab^c\nd", "End", "abc^\nd"},
        {"ab^c", "Shift+Home", "^ab~c"},
        {"a^b\ncd", "Ctrl+End", "ab\ncd^"},
        {"ab\nc^d", "Ctrl+Home", "^ab\ncd"},
        {"a^b\ncd", "Ctrl+Shift+End", "a~b\ncd^"},
        {"abcd^\nx\nabcd", "Down Down", "abcd\nx\nabcd^"},
        {"abcd\nx\nab^cd", "Up", "abcd\nx^\nabcd"},
        {"ab^c", "Up", "^abc"},
        {"a^bc\nabc", "Shift+Down", "a~bc\na^bc"},
        {"abcde^\n\tx", "Down", "abcde\n\t^x"},
        {Lines(40, 0), "PgDown", Lines(40, page)},
        {Lines(40, page), "PgUp", Lines(40, 0)},
        // Typing and erasing.
        {"a~bc^d", "type:xy", "axy^d"},
        {"a^b", "Tab", "a\t^b"},
        {"a^b", "Return", "a\n^b"},
        {"x\r\ny^", "Return", "x\r\ny\r\n^"},
        {"x\ry^", "Return", "x\ry\r^"},
        {"ab\xe2\x82\xac^", "Backspace", "ab^"},
        {"a\r\n^b", "Backspace", "a^b"},
        {"a^\r\nb", "Del", "a^b"},
        {"a~bc^d", "Del", "a^d"},
        {"foo bar^", "Ctrl+Backspace", "foo ^"},
        {"a^b", "ime:\xc3\xa9", "a\xc3\xa9^b"},
        // Undo and redo: a typed run is one step, a caret move ends it.
        {"ab^", "type:cde Ctrl+Z", "ab^"},
        {"ab^", "type:cd Left type:x Ctrl+Z", "abc^d"},
        {"abcd^", "Backspace Backspace Ctrl+Z", "abcd^"},
        {"ab^", "type:cd Ctrl+Z Ctrl+Y", "abcd^"},
        {"ab^", "type:cd Ctrl+Z Ctrl+Shift+Z", "abcd^"},
        // The clipboard, bytes as they are.
        {"ab^c", "Ctrl+A", "~abc^"},
        {"a~bc^d", "Ctrl+C End Ctrl+V", "abcdbc^"},
        {"a~bc^d", "Ctrl+X End Ctrl+V", "adbc^"},
        {"\xff~\xfe\x01^", "Ctrl+C Ctrl+End Ctrl+V", "\xff\xfe\x01\xfe\x01^"},
        // The mouse.
        {"abc\ndef", "click:1,2.3", "abc\nde^f"},
        {"abc\ndef", "click:1,1.7", "abc\nde^f"},
        {"abc\nd", "click:0,10", "abc^\nd"},
        {"\tx", "click:0,5", "\t^x"},
        {"abc\ndef", "press:0,1 move:1,2 release:1,2", "a~bc\nde^f"},
        {"foo bar baz", "dclick:0,5", "foo ~bar^ baz"},
        {"a^bcdef", "shift+click:0,4", "a~bcd^ef"},
        {"a^b", "xsel:xy middle:0,1", "axy^b"},
        {"a^bcdef", "xsel:xy drop:0,1", "a~xy^bcdef"},
        {"a~bc^def", "drop:0,5", "ade~bc^f"},
        {"a~bc^def", "ctrl+drop:0,5", "abcde~bc^f"},
        // Long lines: only what shows is laid out, the rest found from marks.
        {x + "^" + x, "type:ab", x + "ab^" + x},
        {x + "^" + x, "click:0,5242882.3", x + "xx^" + x.substr(2)},
        {x + "^" + x + "\n" + x + x, "Down", x + x + "\n" + x + "^" + x},
        {"^" + Repeat(unit, 14000), "click:0,52800.3",
         Repeat(unit, 13200) + "^" + Repeat(unit, 800)},
        {"^" + Repeat(unit, 14000), "click:0,52800.3 Home ime:\xc3\xa9 click:0,52801.3",
         "\xc3\xa9" + Repeat(unit, 13200) + "^" + Repeat(unit, 800)},
        {"^" + Repeat(bad, 500), "click:0,9600.3", Repeat(bad, 400) + "^" + Repeat(bad, 100)},
    };
    for (const auto& row : rows) {
        const Marked before = Parse(row.before);
        LoadText(*memo, before.text);
        // A load starts at the top.
        ASSERT_EQ(memo->verticalScrollBar()->value() + memo->horizontalScrollBar()->value() +
                      memo->Caret(),
                  0);
        memo->Select(before.anchor, before.caret);
        std::istringstream steps(row.steps);
        for (std::string step; steps >> step;)
            Do(*memo, step);
        const std::string after = Show(*memo);
        EXPECT_TRUE(after == row.after) << Near(row.before) << " " << row.steps << ": "
                                        << Near(after) << ", not " << Near(row.after);
    }
}

// The context menu's enabled actions; `pick` chosen.
std::string Menu(TMemo& memo, const QString& pick)
{
    std::string enabled;
    QTimer open; // gone with this call, should no menu come
    open.setSingleShot(true);
    QObject::connect(&open, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        for (QAction* action : menu ? menu->actions() : QList<QAction*>()) {
            const QString text = action->text().remove('&');
            enabled +=
                action->isEnabled() && !action->isSeparator() ? text.toStdString() + "," : "";
            if (text == pick)
                action->trigger();
        }
        if (menu)
            menu->close();
    });
    open.start(0);
    const QPoint at(5, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, memo.viewport()->mapToGlobal(at));
    QApplication::sendEvent(memo.viewport(), &event);
    return enabled;
}

TEST_F(Memo, FocusMenuScrollingScreenReadersAndMarksOfUnprintableBytes)
{
    LoadText(*memo, "abc");
    for (const char* keys : {"Shift+Tab", "Ctrl+Tab"}) {
        memo->setFocus();
        QTest::keySequence(memo, QKeySequence(keys));
        EXPECT_FALSE(memo->hasFocus()) << keys << " kept the focus";
    }
    memo->setFocus();
    QApplication::clipboard()->setText("z");
    memo->Select(1, 3);
    EXPECT_EQ(Menu(*memo, "Delete"), "Cut,Copy,Paste,Delete,Select All,");
    EXPECT_EQ(Menu(*memo, "Undo"), "Undo,Paste,Select All,");
    EXPECT_EQ(TextOf(*memo), "abc");

    // Past an edge, a drag scrolls on by itself; the wheel scrolls by lines.
    LoadText(*memo, Lines(400, 0));
    const int height = memo->viewport()->height();
    Do(*memo, "press:0,1");
    QMouseEvent below(QEvent::MouseMove, QPointF(10, height + 40), QPointF(), Qt::NoButton,
                      Qt::LeftButton, {});
    QApplication::sendEvent(memo->viewport(), &below);
    EXPECT_TRUE(WaitFor([] { return memo->verticalScrollBar()->value() > 40; }));
    Do(*memo, "release:0,1");
    EXPECT_GT(memo->Lines->Store().LineOf(memo->Caret()), 40);
    LoadText(*memo, Lines(400, 0));
    QWheelEvent wheel({10, 10}, {}, {}, {0, -120}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(memo->viewport(), &wheel);
    EXPECT_EQ(memo->verticalScrollBar()->value(), QApplication::wheelScrollLines());

    // A screen reader's answers read a bounded part of a long line.
    LoadText(*memo, std::string(200000, 'x') + "\nend");
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(memo);
    ASSERT_TRUE(reader && reader->textInterface());
    QAccessibleTextInterface& text = *reader->textInterface();
    EXPECT_EQ(text.characterCount(), 200004);
    EXPECT_EQ(text.text(0, 200004).size(), MemoAccessible::kMostRead);
    int start = 0;
    int end = 0;
    text.textAtOffset(100000, QAccessible::LineBoundary, &start, &end);
    EXPECT_TRUE(start <= 100000 && end - start == MemoAccessible::kMostRead) << start << " " << end;
    text.setCursorPosition(200002);
    EXPECT_EQ(text.textAtOffset(text.cursorPosition(), QAccessible::LineBoundary, &start, &end),
              "end");

    // Bytes that print nothing show a mark.
    memo->clearFocus();
    const double cell = QFontMetricsF(memo->font()).horizontalAdvance(QLatin1Char('0'));
    const QColor base = memo->palette().color(QPalette::Base);
    using namespace std::literals;
    for (const std::string& mark : {" "s, "\x01"s, "\0"s, "\x7f"s, "\xff"s, "\xe2\x82"s}) {
        LoadText(*memo, "x" + mark);
        const QImage shown = memo->viewport()
                                 ->grab(QRectF(TMemo::kMargin + cell, 0, cell, 10).toAlignedRect())
                                 .toImage();
        int marked = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                marked += shown.pixelColor(x, y) != base;
        EXPECT_EQ(marked > 0, mark != " ") << Near(mark + "^");
    }
}

} // namespace
