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

    QStringList messages, warnings, errors, confirmations, opened;
    QList<Answer> confirmDefaults;      // the default button of each confirmation
    QStringList saveQuestions;          // the text of each "Save configuration?" box
    std::deque<SaveAnswer> saveAnswers; // for askSave(); Don't Save when empty
    QStringList inputQuestions;         // "caption|prompt" of each input box
    std::deque<Answer> answers;         // for confirm(); Ok when empty
    std::deque<std::optional<QString>> inputs;
    QString saveName, openName, folderChosen;      // empty: the dialog is cancelled
    std::function<void(const QString&)> onMessage; // runs inside a message box (e.g. to click more)
    std::function<void()> whileOpen;               // runs inside every question, while it is open
    int endOfRunBoxes = 0;                         // end-of-run boxes (also in messages or warnings)
    std::deque<bool> showLogAnswers;               // "Show Log" pressed in them; OK when empty

    void message(QWidget*, const QString& text) override {
        const OpenQuestion asking;
        messages << text;
        runWhileOpen();
        if (onMessage)
            onMessage(text);
    }
    void warning(QWidget*, const QString& text) override {
        const OpenQuestion asking;
        warnings << text;
        runWhileOpen();
    }
    void error(QWidget*, const QString& text) override {
        const OpenQuestion asking;
        errors << text;
        runWhileOpen();
    }
    bool endOfRun(QWidget* parent, const QString& text, bool isWarning) override {
        ++endOfRunBoxes;
        if (isWarning)
            warning(parent, text);
        else
            message(parent, text);
        if (showLogAnswers.empty())
            return false;
        const bool show = showLogAnswers.front();
        showLogAnswers.pop_front();
        return show;
    }
    using DialogSeam::confirm;
    Answer confirm(QWidget*, const QString& text, bool, Answer defaultAnswer) override {
        const OpenQuestion asking;
        confirmations << text;
        confirmDefaults << defaultAnswer;
        runWhileOpen();
        if (answers.empty())
            return Answer::Ok;
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    SaveAnswer askSave(QWidget*, const QString& text) override {
        const OpenQuestion asking;
        saveQuestions << text;
        runWhileOpen();
        if (saveAnswers.empty())
            return SaveAnswer::DontSave;
        const SaveAnswer a = saveAnswers.front();
        saveAnswers.pop_front();
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
    QString folderName(QWidget*, const QString&, const QString&) override {
        const OpenQuestion asking;
        runWhileOpen();
        return folderChosen;
    }
    void open(const QString& pathOrUrl) override { opened << pathOrUrl; }

private:
    void runWhileOpen() {
        if (whileOpen)
            whileOpen();
    }
};

} // namespace paritas::gui::testing
