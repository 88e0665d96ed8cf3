#pragma once
// Every modal question the windows put to the user passes through this seam: message boxes, the
// input box, file dialogs, and handing a path or address to the desktop's opener. The program uses the
// real dialogs; tests install their own seam and answer without a person and without blocking.

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace paritas::gui {

enum class Answer { Ok, Cancel, NoToAll };
enum class SaveAnswer { Save, DontSave, Cancel };

class DialogSeam {
public:
    virtual ~DialogSeam() = default;

    // An information box with OK.
    virtual void message(QWidget* parent, const QString& text) = 0;
    // The same with a warning icon (a run in which something failed).
    virtual void warning(QWidget* parent, const QString& text) = 0;
    // The box at the end of a run: `text` with OK and "Show Log" (a warning box when `warning`). True
    // when the user asked to see the log. A seam that does not offer the log shows message() or
    // warning() and answers false.
    virtual bool endOfRun(QWidget* parent, const QString& text, bool warning);
    // The general error box (a file that cannot be written and the like).
    virtual void error(QWidget* parent, const QString& text) = 0;
    // A confirmation with OK and Cancel (withNoToAll adds "No to All"); closing the box is Cancel.
    // defaultAnswer is the button Enter presses (Ok or Cancel).
    virtual Answer confirm(QWidget* parent, const QString& text, bool withNoToAll, Answer defaultAnswer) = 0;
    Answer confirm(QWidget* parent, const QString& text, bool withNoToAll) {
        return confirm(parent, text, withNoToAll, Answer::Ok);
    }
    // "Save configuration?" with Save, Don't Save and Cancel; closing the box is Cancel.
    virtual SaveAnswer askSave(QWidget* parent, const QString& text) = 0;
    // The input box; nullopt when cancelled.
    virtual std::optional<QString> inputText(QWidget* parent, const QString& caption,
                                             const QString& prompt) = 0;
    // The input box for a secret (its text not shown); nullopt when cancelled. Seams that answer
    // without a person answer it as inputText.
    virtual std::optional<QString> inputPassword(QWidget* parent, const QString& caption,
                                                 const QString& prompt) {
        return inputText(parent, caption, prompt);
    }
    // File dialogs; an empty text when cancelled.
    virtual QString saveFileName(QWidget* parent, const QString& fileName, const QString& defaultSuffix,
                                 const QString& filter) = 0;
    virtual QString openFileName(QWidget* parent, const QString& defaultSuffix, const QString& filter) = 0;
    // A folder dialog opened at `start`; an empty text when cancelled. Seams of programs that never
    // ask for a folder need not answer: the default is a cancelled dialog.
    virtual QString folderName(QWidget* parent, const QString& caption, const QString& start);
    // Hands a file, folder or web address to the desktop's opener; the result is not looked at.
    virtual void open(const QString& pathOrUrl) = 0;

    static DialogSeam& current();
    // Installs a seam (tests); nullptr goes back to the real dialogs. The caller keeps ownership.
    static void install(DialogSeam* seam);

    // True while a question of any seam waits for its answer. A question serves window messages, so
    // timers fire inside it; work that must not start under a user's open question (the schedule)
    // asks this first.
    static bool questionOpen();

protected:
    // Every question (everything above but open()) holds one of these while it waits for the answer.
    class OpenQuestion {
    public:
        OpenQuestion();
        ~OpenQuestion();
        OpenQuestion(const OpenQuestion&) = delete;
        OpenQuestion& operator=(const OpenQuestion&) = delete;
    };
};

} // namespace paritas::gui
