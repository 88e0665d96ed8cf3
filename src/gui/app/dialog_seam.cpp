#include "gui/app/dialog_seam.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace paritas::gui {
namespace {

class RealDialogs final : public DialogSeam {
public:
    void message(QWidget* parent, const QString& text) override {
        const OpenQuestion asking;
        QMessageBox::information(parent, QStringLiteral("Paritas"), text);
    }
    void warning(QWidget* parent, const QString& text) override {
        const OpenQuestion asking;
        QMessageBox::warning(parent, QStringLiteral("Paritas"), text);
    }
    void error(QWidget* parent, const QString& text) override {
        const OpenQuestion asking;
        QMessageBox::critical(parent, QStringLiteral("Paritas"), text);
    }
    bool endOfRun(QWidget* parent, const QString& text, bool warning) override {
        const OpenQuestion asking;
        QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information, QStringLiteral("Paritas"),
                        text, QMessageBox::Ok, parent);
        QPushButton* showLog = box.addButton(QStringLiteral("Show &Log"), QMessageBox::ActionRole);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        box.exec();
        return box.clickedButton() == showLog;
    }
    using DialogSeam::confirm;
    Answer confirm(QWidget* parent, const QString& text, bool withNoToAll, Answer defaultAnswer) override {
        const OpenQuestion asking;
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::NoButton,
                        parent);
        box.addButton(QMessageBox::Ok);
        box.addButton(QMessageBox::Cancel);
        if (withNoToAll)
            box.addButton(QMessageBox::NoToAll);
        box.setEscapeButton(QMessageBox::Cancel);
        box.setDefaultButton(defaultAnswer == Answer::Cancel ? QMessageBox::Cancel : QMessageBox::Ok);
        const int result = box.exec();
        if (result == QMessageBox::Ok)
            return Answer::Ok;
        if (result == QMessageBox::NoToAll)
            return Answer::NoToAll;
        return Answer::Cancel;
    }
    SaveAnswer askSave(QWidget* parent, const QString& text) override {
        const OpenQuestion asking;
        QMessageBox box(QMessageBox::Question, QStringLiteral("Paritas"), text, QMessageBox::NoButton,
                        parent);
        box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        box.button(QMessageBox::Discard)->setText(QStringLiteral("Don't Save"));
        box.setDefaultButton(QMessageBox::Save);
        box.setEscapeButton(QMessageBox::Cancel);
        switch (box.exec()) {
        case QMessageBox::Save:
            return SaveAnswer::Save;
        case QMessageBox::Discard:
            return SaveAnswer::DontSave;
        default:
            return SaveAnswer::Cancel;
        }
    }
    std::optional<QString> inputText(QWidget* parent, const QString& caption,
                                     const QString& prompt) override {
        const OpenQuestion asking;
        bool ok = false;
        const QString text =
            QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, QString(), &ok);
        if (!ok)
            return std::nullopt;
        return text;
    }
    std::optional<QString> inputPassword(QWidget* parent, const QString& caption,
                                         const QString& prompt) override {
        const OpenQuestion asking;
        bool ok = false;
        const QString text =
            QInputDialog::getText(parent, caption, prompt, QLineEdit::Password, QString(), &ok);
        if (!ok)
            return std::nullopt;
        return text;
    }
    QString saveFileName(QWidget* parent, const QString& fileName, const QString& defaultSuffix,
                         const QString& filter) override {
        const OpenQuestion asking;
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilter(filter);
        dialog.setDefaultSuffix(defaultSuffix);
        dialog.selectFile(fileName);
        // Replacing an existing file is what the save commands do; the dialog does not ask.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }
    QString openFileName(QWidget* parent, const QString& defaultSuffix, const QString& filter) override {
        const OpenQuestion asking;
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilter(filter);
        dialog.setDefaultSuffix(defaultSuffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }
    QString folderName(QWidget* parent, const QString& caption, const QString& start) override {
        const OpenQuestion asking;
        return QFileDialog::getExistingDirectory(parent, caption, start, QFileDialog::ShowDirsOnly);
    }
    void open(const QString& pathOrUrl) override {
        const QUrl url =
            pathOrUrl.contains(QStringLiteral("://")) ? QUrl(pathOrUrl) : QUrl::fromLocalFile(pathOrUrl);
        QDesktopServices::openUrl(url);
    }
};

DialogSeam* installed = nullptr;
int questionsOpen = 0; // nested questions count one each

} // namespace

DialogSeam& DialogSeam::current() {
    static RealDialogs real;
    return installed ? *installed : real;
}

void DialogSeam::install(DialogSeam* seam) {
    installed = seam;
}

QString DialogSeam::folderName(QWidget*, const QString&, const QString&) {
    return {};
}

bool DialogSeam::endOfRun(QWidget* parent, const QString& text, bool warning) {
    if (warning)
        this->warning(parent, text);
    else
        message(parent, text);
    return false;
}

bool DialogSeam::questionOpen() {
    return questionsOpen > 0;
}

DialogSeam::OpenQuestion::OpenQuestion() {
    ++questionsOpen;
}

DialogSeam::OpenQuestion::~OpenQuestion() {
    --questionsOpen;
}

} // namespace paritas::gui
