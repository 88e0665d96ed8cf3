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

    void message(QWidget*, const QString& text) override {
        messages << text;
        if (onMessage)
            onMessage(text);
    }
    void error(QWidget*, const QString& text) override { errors << text; }
    Answer confirm(QWidget*, const QString& text, bool) override {
        confirmations << text;
        if (answers.empty())
            return Answer::Ok;
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<QString> inputText(QWidget*, const QString& caption, const QString& prompt) override {
        inputQuestions << caption + "|" + prompt;
        std::optional<QString> answer;
        if (!inputs.empty()) {
            answer.swap(inputs.front());
            inputs.pop_front();
        }
        return answer;
    }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return saveName;
    }
    QString openFileName(QWidget*, const QString&, const QString&) override { return openName; }
    void open(const QString& pathOrUrl) override { opened << pathOrUrl; }
};

} // namespace paritas::gui::testing
