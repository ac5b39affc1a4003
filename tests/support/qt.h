// What the GUI tests share: a loop that waits for a state, files, and the
// text box's bytes.
#pragma once

#include "memo.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include <unistd.h>

// Runs a loop as the program's does, one that waits for messages (and so
// calls the idle handler), until `done` holds; false if it never does.
inline bool WaitFor(const std::function<bool()>& done)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

inline std::string TextOf(const TMemo& memo)
{
    const TextStore& text = memo.Lines->Store();
    return text.Text(0, text.Length());
}

// A file of the test process's own: ctest runs several processes at once.
inline std::filesystem::path TempFile(const std::string& name, std::string_view bytes)
{
    const auto path = std::filesystem::temp_directory_path() /
                      ("vost-test-" + std::to_string(::getpid()) + "-" + name);
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Types `text` at the start of line `line`, as one edit.
inline void InsertAt(TMemo& memo, std::int64_t line, std::string_view text)
{
    memo.SetSelStart(memo.Lines->Store().LineStart(line));
    memo.SetSelText(text);
}

// Replaces the whole text as File > Open does.
inline void LoadText(TMemo& memo, std::string_view bytes)
{
    const auto path = TempFile("text.xyz", bytes);
    memo.Lines->LoadFromFile(path.string());
    std::filesystem::remove(path);
}

// The text of the report box on screen; empty with none.
inline std::string ReportText()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box->text().toStdString();
    return {};
}
