#pragma once
// A dialog seam for tests: records every question and answers from a script, never blocking.

#include "gui/app/dialog_seam.h"

#include <QStringList>

#include <deque>
#include <functional>

namespace paritas::gui::testing {

class FakeDialogs : public DialogSeam {
public:
    FakeDialogs() { DialogSeam::install(this); }
    ~FakeDialogs() override { DialogSeam::install(nullptr); }

    QStringList messages, errors, confirmations, opened;
    QStringList inputQuestions; // "caption|prompt" of each input box
    std::deque<Answer> answers; // for confirm(); Ok when empty
    std::deque<std::optional<QString>> inputs;
    QString saveName, openName;                    // empty: the dialog is cancelled
    std::function<void(const QString&)> onMessage; // runs inside a message box (e.g. to click more)
    std::function<void()> whileOpen;               // runs inside every question, while it is open

    void message(QWidget*, const QString& text) override {
        const OpenQuestion asking;
        messages << text;
        runWhileOpen();
        if (onMessage)
            onMessage(text);
    }
    void error(QWidget*, const QString& text) override {
        const OpenQuestion asking;
        errors << text;
        runWhileOpen();
    }
    Answer confirm(QWidget*, const QString& text, bool) override {
        const OpenQuestion asking;
        confirmations << text;
        runWhileOpen();
        if (answers.empty())
            return Answer::Ok;
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<QString> inputText(QWidget*, const QString& caption, const QString& prompt) override {
        const OpenQuestion asking;
        inputQuestions << caption + "|" + prompt;
        runWhileOpen();
        std::optional<QString> answer;
        if (!inputs.empty()) {
            answer.swap(inputs.front());
            inputs.pop_front();
        }
        return answer;
    }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&) override {
        const OpenQuestion asking;
        runWhileOpen();
        return saveName;
    }
    QString openFileName(QWidget*, const QString&, const QString&) override {
        const OpenQuestion asking;
        runWhileOpen();
        return openName;
    }
    void open(const QString& pathOrUrl) override { opened << pathOrUrl; }

private:
    void runWhileOpen() {
        if (whileOpen)
            whileOpen();
    }
};

} // namespace paritas::gui::testing
