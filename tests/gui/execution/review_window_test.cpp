#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "gui/execution/action_review_model.h"
#include "gui/execution/run_ending.h"
#include "gui/execution/tform11.h"
#include "gui/execution/tform3.h"
#include "gui/execution/tprogressform.h"

#include <QAction>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>
#include <algorithm>

using namespace paritas;
using namespace paritas::gui;
using namespace paritas::gui::testing;
using namespace paritas::testing;

class ReviewWindowTest : public QObject {
    Q_OBJECT
    Windows w;
    TForm1* f = nullptr;
    TForm3* review = nullptr;

    void plan(const ActionList& items) { planByHand(f, items); }
    std::vector<std::string> ticked() const {
        std::vector<std::string> lines;
        for (int r = 0; r < review->model()->rowCount(); ++r)
            if (review->model()->isTicked(r))
                lines.push_back(lineText(review->model()->item(std::size_t(r))));
        return lines;
    }
    std::vector<std::string> shown() const {
        std::vector<std::string> lines;
        for (int r = 0; r < review->model()->rowCount(); ++r)
            lines.push_back(lineText(review->model()->item(std::size_t(r))));
        return lines;
    }

private slots:
    void init() {
        w = createWindows();
        f = w.form1;
        review = w.form3;
    }
    void cleanup() { destroyWindows(w); }

    void aFreshListIsAllTickedAndFoldersAndOriginalsCannotBeUnticked() {
        plan({create("/b/new"), cp("/a/x", "/b/x"), original("/a/y"), del("/b/y")});
        ActionReviewModel* m = review->model();
        QCOMPARE(m->rowCount(), 4);
        for (int i = 0; i < 4; ++i)
            QVERIFY(m->isTicked(i));
        QVERIFY(!(m->flags(m->index(0)) & Qt::ItemIsUserCheckable));
        QVERIFY(!(m->flags(m->index(2)) & Qt::ItemIsUserCheckable));
        QVERIFY(m->flags(m->index(1)) & Qt::ItemIsUserCheckable);
        m->setData(m->index(0), Qt::Unchecked, Qt::CheckStateRole);
        QVERIFY(m->isTicked(0));
    }

    void confirmingRunsTheListWithoutTheUntickedLines() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.b + "/keep1.txt", "1");
        writeFile(t.b + "/keep2.txt", "2");
        writeFile(t.b + "/gone.txt", "3");
        t.setOn(f);
        plan({del(t.b.toStdString() + "/keep1.txt"), del(t.b.toStdString() + "/gone.txt"),
              del(t.b.toStdString() + "/keep2.txt")});
        review->model()->setTicked(0, false);
        review->model()->setTicked(2, false);
        review->show();
        review->BitBtn3Click();
        QCOMPARE(dialogs.confirmations.size(), 1);
        QVERIFY(dialogs.confirmations[0].startsWith("Action list is prepared. Continue with actions?"));
        QVERIFY(!review->isVisible());
        QCOMPARE(planLines(f), (std::vector<std::string>{"DeleteFile " + t.b.toStdString() + "/gone.txt"}));
        QVERIFY(QFile::exists(t.b + "/keep1.txt"));
        QVERIFY(QFile::exists(t.b + "/keep2.txt"));
        QVERIFY(!QFile::exists(t.b + "/gone.txt"));
        QVERIFY(
            dialogs.messages.last().startsWith("Synchronisation FINISHED!\n1 done, 0 failed, 0 skipped\n"));
        QCOMPARE(f->Label9->text(),
                 QStringLiteral("Synchronize Progress : Good Actions (1) Bad Actions (0)"));
        QVERIFY(f->BitBtn6->isEnabled());
        QVERIFY(!f->BitBtn5->isEnabled());
        QCOMPARE(f->StatusPanelB->text(), QStringLiteral("Files Count B : 2  Size: 0MB"));
    }

    void cancellingTheConfirmationChangesNothingAndALaterOkPrunesWhatIsUntickedThen() {
        FakeDialogs dialogs;
        plan({removeDir("/nonexistent/one"), removeDir("/nonexistent/two"), removeDir("/nonexistent/three")});
        review->model()->setTicked(0, false);
        dialogs.answers = {Answer::Cancel};
        review->BitBtn3Click();
        QCOMPARE(f->session().actions().size(), std::size_t(3));
        QVERIFY(dialogs.messages.isEmpty());
        review->model()->setTicked(2, false);
        review->BitBtn3Click();
        QCOMPARE(planLines(f), (std::vector<std::string>{"RemoveDir /nonexistent/two"}));
        QVERIFY(logHas(f, "Failed Delete Dir /nonexistent/two"));
    }

    void selectingALineShowsThePathItNames() {
        plan({cp("/a/src.txt", "/b/dst.txt"), create("/b/folder"), removeDir("/b/old"),
              original("/a/kept", true)});
        review->selectRow(0);
        QCOMPARE(review->Label1->text(), QStringLiteral("/a/src.txt"));
        QVERIFY(!review->OriginalToDup->isEnabled());
        review->selectRow(1);
        QCOMPARE(review->Label1->text(), QStringLiteral("/a/src.txt"));
        review->selectRow(2);
        QCOMPARE(review->Label1->text(), QStringLiteral("/b/old"));
        review->selectRow(3);
        QCOMPARE(review->Label1->text(), QStringLiteral("/a/kept"));
        QVERIFY(review->OriginalToDup->isEnabled());
        FakeDialogs dialogs;
        review->BitBtn1Click();
        QCOMPARE(dialogs.opened, QStringList({"/a/kept"}));
    }

    void switchingAPairSwapsTheFilesInTheWindowAndTheListAndKeepsTheTick() {
        plan({original("/A/a.txt"), del("/B/a.txt")});
        review->model()->setTicked(1, false);
        review->selectRow(0);
        review->OriginalToDupClick();
        QCOMPARE(shown(), (std::vector<std::string>{"Original    /B/a.txt", "DeleteFile /A/a.txt"}));
        QCOMPARE(planLines(f), shown());
        QVERIFY(!review->model()->isTicked(1));
        QCOMPARE(review->selectedRow(), 0);
        review->OriginalToDupClick();
        QCOMPARE(planLines(f), (std::vector<std::string>{"Original    /A/a.txt", "DeleteFile /B/a.txt"}));
    }

    // The facts each line was planned on go where the line goes: unticked lines take theirs along, and a
    // swapped pair swaps the files' stamps, so the executor checks each line against its own file.
    void aReviewedPlanActsOnlyOnWhatItSawThroughUntickingAndSwapping() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/new.txt", "new");
        writeFile(t.b + "/stale1.txt", "one");
        writeFile(t.b + "/stale2.txt", "two");
        t.setOn(f);
        f->BitBtn6Click(); // backup: Copy new.txt, DeleteFile stale1.txt, DeleteFile stale2.txt
        QCOMPARE(int(f->session().actions().size()), 3);
        review->model()->setTicked(0, false);
        writeFile(t.b + "/stale2.txt", "the user wrote this while the list waited", 1800000000);
        review->BitBtn3Click();
        QVERIFY(!QFile::exists(t.b + "/new.txt"));
        QVERIFY(!QFile::exists(t.b + "/stale1.txt"));
        QCOMPARE(readFile(t.b + "/stale2.txt"), QByteArray("the user wrote this while the list waited"));
        QVERIFY(logHas(f, "Reason: changed since planning"));

        // Duplicates in B, the pair swapped: B's file is kept and A's deleted, each by its own stamp.
        writeFile(t.a + "/dup.txt", "same bytes");
        writeFile(t.b + "/dup.txt", "same bytes");
        f->setModeIndex(3);
        f->BitBtn6Click();
        const std::vector<std::string> lines = shown();
        const auto pair =
            std::find(lines.begin(), lines.end(), "Original    " + (t.a + "/dup.txt").toStdString());
        QVERIFY(pair != lines.end());
        review->selectRow(int(pair - lines.begin()));
        review->OriginalToDupClick();
        review->BitBtn3Click();
        QVERIFY(!QFile::exists(t.a + "/dup.txt"));
        QCOMPARE(readFile(t.b + "/dup.txt"), QByteArray("same bytes"));
    }

    void aReviewOlderThanTheActionListRunsNothing() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.b + "/precious.txt", "p");
        plan({del("/nonexistent/old-plan")});
        // Planned again with the review switched off: the window holds another run's plan now.
        PlanResult again;
        again.actions = numbered({del(t.b.toStdString() + "/precious.txt")});
        f->replaceSession(RunSession(f->runRequest(PlanKind::Backup, f->chosenLocations())));
        f->session().setPlan(std::move(again));
        review->show();
        review->BitBtn3Click();
        QVERIFY(QFile::exists(t.b + "/precious.txt"));
        QVERIFY(!review->isVisible());
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.messages[0].contains("planned again"));
    }

    void promptsFollowTheSettingsAndNoToAllStopsTheRun() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.b + "/1.txt", "1");
        writeFile(t.b + "/2.txt", "2");
        writeFile(t.b + "/3.txt", "3");
        w.form2->CheckDelete->setChecked(true);
        t.setOn(f);
        plan({del(t.b.toStdString() + "/1.txt"), del(t.b.toStdString() + "/2.txt"),
              del(t.b.toStdString() + "/3.txt")});
        dialogs.answers = {Answer::Cancel, Answer::NoToAll};
        f->PerformActions();
        QCOMPARE(dialogs.confirmations.size(), 2);
        QCOMPARE(dialogs.confirmations[0],
                 "Delete File " + t.b + "/1.txt (No To all stops all Sync Job Actions)");
        QVERIFY(QFile::exists(t.b + "/1.txt"));
        QVERIFY(QFile::exists(t.b + "/2.txt"));
        QVERIFY(QFile::exists(t.b + "/3.txt"));
        QCOMPARE(dialogs.messages, QStringList({"Job processing has been interupted by user"}));
        QVERIFY(logHas(f, "Job Processing Interupted"));
        QVERIFY(f->stopFlags.action && f->stopFlags.jobList);
        QVERIFY(!w.form11->isVisible());
        QVERIFY(f->ShellTreeView1->isEnabled());
    }

    void theStopWindowStandsBesideTheMainWindowAndStopAllActionsSetsBothFlags() {
        FakeDialogs dialogs;
        f->move(100, 80);
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
        w.form11->showBesideMainWindow();
        QCOMPARE(w.form11->pos(), f->frameGeometry().topLeft() + QPoint(200, 40));
        QCOMPARE(w.form11->BitBtn1->text(),
                 QStringLiteral("To Stop All Activity Press Space or Mouse Click here"));
        w.form11->close();
        w.form11->takeFocus();
        QVERIFY(w.form11->isVisible());
        f->BitBtn5Click();
        QVERIFY(f->stopFlags.action && f->stopFlags.jobList);
        QCOMPARE(dialogs.messages, QStringList({"Job Processing has been integerupded by user ..."}));
    }

    void theCopyProgressWindowShowsMegabytesAndItsButtonsLogTheInterruption() {
        StopFlags flags;
        TProgressForm form(f, flags, f->activityLog());
        QCOMPARE(form.windowTitle(), QStringLiteral("Copy Progress"));
        form.CopyProgressCallback("big.iso", 1835008, 3670016);
        form.flush();
        QCOMPARE(form.Label2->text(), QStringLiteral("1 MB of 3 MB Finished"));
        QCOMPARE(form.Label1->text(), QStringLiteral("big.iso"));
        QCOMPARE(form.ProgressBar->value(), 50);
        form.CopyProgressCallback("empty", 0, 0);
        form.flush();
        QCOMPARE(form.ProgressBar->value(), 100);
        form.AbortButtonClick();
        QVERIFY(form.cancelFlag);
        QVERIFY(!flags.action);
        form.BitBtn1Click();
        QVERIFY(flags.action);
        QVERIFY(!flags.jobList);
        QCOMPARE(f->activityLog().lines().count("Copy File Interupted"), 2);
    }

    // Large lists are reviewed in bulk: Ctrl+A and Space untick every line that may be unticked (and
    // tick them again), and the context command unticks every line under the clicked line's folder.
    void manyLinesAreTickedAndUntickedTogether() {
        plan({create("/b/new"), mv("/b/old/1.txt", "/b/new/1.txt"), mv("/b/old/2.txt", "/b/new/2.txt"),
              cp("/a/other/3.txt", "/b/other/3.txt"), cp("/a/oldish/4.txt", "/b/oldish/4.txt"),
              del("/b/old/stale.txt"), removeDir("/b/old")});
        review->show();
        QVERIFY(QTest::qWaitForWindowExposed(review));
        ActionReviewModel* m = review->model();
        QTreeView* list = review->CheckListBox1;
        list->setFocus();
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(list, Qt::Key_Space);
        QCOMPARE(ticked(), (std::vector<std::string>{"CreateDir /b/new"}));
        QTest::keyClick(list, Qt::Key_Space);
        QCOMPARE(ticked().size(), std::size_t(7));

        // Shift+click selects a run of lines; Space unticks those alone.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(m->index(3)).center());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          list->visualRect(m->index(4)).center());
        QTest::keyClick(list, Qt::Key_Space);
        QVERIFY(!m->isTicked(3) && !m->isTicked(4) && m->isTicked(2) && m->isTicked(5));
        QTest::keyClick(list, Qt::Key_Space);

        // The folder of a move is its source's: its moves, the deletion and the removal beneath it go.
        review->untickFolderOf(1);
        QCOMPARE(ticked(), (std::vector<std::string>{"CreateDir /b/new", "Copy /a/other/3.txt*/b/other/3.txt",
                                                     "Copy /a/oldish/4.txt*/b/oldish/4.txt"}));
        QCOMPARE(m->summary(), QStringLiteral("3 of 7 lines ticked: 1 new folder, 2 copies"));
    }

    // What a list will destroy stands out: deletions and copies over existing files are red with a
    // sign, the summary counts them with the bytes to copy, and Enter in the confirmation then means
    // Cancel.
    void linesThatDestroyDataAreMarkedAndTheConfirmationDefaultsToCancel() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/new.txt", QByteArray(3000, 'n'));
        writeFile(t.a + "/changed.txt", QByteArray(2000, 'a'), 1700000000);
        writeFile(t.b + "/changed.txt", QByteArray(2000, 'b'), 1600000000);
        writeFile(t.b + "/stale.txt", "old");
        t.setOn(f);
        f->setModeIndex(1); // folder synch: the newer changed.txt replaces the older one
        f->BitBtn6Click();
        ActionReviewModel* m = review->model();
        auto rowOf = [&](const QString& start) {
            for (int r = 0; r < m->rowCount(); ++r)
                if (QString::fromStdString(lineText(m->item(std::size_t(r)))).startsWith(start))
                    return r;
            return -1;
        };
        const int overwrite = rowOf("Copy " + t.a + "/changed.txt");
        const int plainCopy = rowOf("Copy " + t.a + "/new.txt");
        QVERIFY(overwrite >= 0 && plainCopy >= 0);
        const QColor red(Qt::red);
        QCOMPARE(m->data(m->index(overwrite), Qt::ForegroundRole).value<QBrush>().color(), red);
        QVERIFY(!m->data(m->index(overwrite), Qt::DecorationRole).isNull());
        QVERIFY(m->data(m->index(plainCopy), Qt::ForegroundRole).isNull());
        QVERIFY(m->data(m->index(plainCopy), Qt::DecorationRole).isNull());
        QCOMPARE(m->data(m->index(plainCopy), Qt::ToolTipRole).toString(),
                 QString::fromStdString(lineText(m->item(std::size_t(plainCopy)))));
        QVERIFY2(m->summary().contains("copies (1 over an existing file, 4.9 kB)"), qPrintable(m->summary()));
        QVERIFY(review->LabelSummary->text().startsWith(m->summary()));

        dialogs.answers = {Answer::Cancel};
        review->BitBtn3Click();
        QCOMPARE(dialogs.confirmDefaults, QList<Answer>({Answer::Cancel}));
        m->setTicked(overwrite, false);
        review->BitBtn3Click();
        QCOMPARE(dialogs.confirmDefaults, QList<Answer>({Answer::Cancel, Answer::Ok}));
        QCOMPARE(readFile(t.b + "/changed.txt"), QByteArray(2000, 'b'));
        QCOMPARE(readFile(t.b + "/new.txt").size(), 3000);
    }

    // A change of permissions alone in A is a line of its own in a backup's review: not red (nothing
    // is lost), counted in the summary, run and logged like every line.
    void aChangeOfPermissionsAloneIsShownAsAnAttributesLineThatDestroysNothing() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/same.txt", "same", 1700000000);
        writeFile(t.b + "/same.txt", "same", 1700000000);
        QVERIFY(QFile::setPermissions(t.a + "/same.txt", QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QVERIFY(QFile::setPermissions(t.b + "/same.txt", QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                             QFileDevice::ReadGroup | QFileDevice::ReadOther));
        t.setOn(f);
        f->setModeIndex(0);
        f->BitBtn6Click();
        ActionReviewModel* m = review->model();
        QCOMPARE(shown(), std::vector<std::string>{"Attributes " + t.b.toStdString() + "/same.txt"});
        QVERIFY(m->data(m->index(0), Qt::ForegroundRole).isNull());
        QVERIFY(m->data(m->index(0), Qt::DecorationRole).isNull());
        QVERIFY(m->flags(m->index(0)) & Qt::ItemIsUserCheckable);
        QVERIFY2(m->summary().contains("1 change of attributes"), qPrintable(m->summary()));
        QVERIFY(!m->ticksDestroyData());
        dialogs.answers = {Answer::Ok};
        review->BitBtn3Click();
        QCOMPARE(QFile::permissions(t.b + "/same.txt"), QFile::permissions(t.a + "/same.txt"));
        QVERIFY(logHas(f, "Success Attributes " + t.b + "/same.txt"));
    }

    // The summary was cut at the window's default width ("3 file deletions, 1 folder removals" only
    // in a tooltip), and with the trash chosen the confirmation did not say where files go.
    void theSummaryWrapsNamesItsCriteriaAndTheConfirmationSaysWhereRemovedFilesGo_data() {
        QTest::addColumn<int>("points");
        QTest::newRow("default font") << 0;
        QTest::newRow("12 pt") << 12;
    }
    void theSummaryWrapsNamesItsCriteriaAndTheConfirmationSaysWhereRemovedFilesGo() {
        QFETCH(int, points);
        FakeDialogs dialogs;
        TwoLocations t;
        struct DataHome {
            QByteArray previous = qgetenv("XDG_DATA_HOME");
            ~DataHome() { qputenv("XDG_DATA_HOME", previous); }
        } restored;
        qputenv("XDG_DATA_HOME", t.root.filePath("data").toUtf8());
        writeFile(t.a + "/photos/new.jpg", QByteArray(3000, 'n'));
        writeFile(t.a + "/report.txt", "the new report", 1800000000);
        writeFile(t.b + "/report.txt", "old report", 1700000000);
        for (const char* stale : {"/stale1.txt", "/stale2.txt", "/old/x.txt"})
            writeFile(t.b + stale, "stale");
        t.setOn(f);
        w.form2->RadioTrash->setChecked(true);
        f->setModeIndex(0);
        if (points > 0) {
            QFont font = review->font();
            font.setPointSize(points);
            review->setFont(font);
        }
        f->BitBtn6Click();
        QVERIFY(review->isVisible());
        QCOMPARE(review->size(), QSize(568, 494));
        const QString text = review->LabelSummary->text();
        QCOMPARE(text, "7 of 7 lines ticked: 1 new folder, 2 copies (1 over an existing file, 2.9 kB), "
                       "3 file deletions, 1 folder removal. Files " +
                           criteriaText(f->currentSettings()) + '.');
        const QLabel* summary = review->LabelSummary;
        const QRect needed = summary->fontMetrics().boundingRect(QRect(0, 0, summary->width(), 100000),
                                                                 Qt::TextWordWrap, text);
        QVERIFY2(needed.height() <= summary->height() && needed.width() <= summary->width(),
                 qPrintable(QStringLiteral("%1x%2 in %3x%4")
                                .arg(needed.width())
                                .arg(needed.height())
                                .arg(summary->width())
                                .arg(summary->height())));
        QVERIFY(summary->geometry().bottom() < review->CheckListBox1->y());
        QVERIFY(summary->geometry().top() > review->Label1->geometry().bottom());

        dialogs.answers = {Answer::Cancel, Answer::Cancel};
        review->BitBtn3Click();
        QVERIFY(
            dialogs.confirmations[0].startsWith("Action list is prepared. Continue with actions? (Warning! "
                                                "Actions are non reversable"));
        QVERIFY2(
            dialogs.confirmations[0].endsWith("\n\n4 files go to the trash (3 deletions, 1 replaced by a "
                                              "copy); the file manager can put them back."),
            qPrintable(dialogs.confirmations[0]));
        w.form2->RadioDelete->setChecked(true);
        review->BitBtn3Click();
        QVERIFY2(
            dialogs.confirmations[1].endsWith("\n\n4 files are deleted for good (3 deletions, 1 replaced by "
                                              "a copy)."),
            qPrintable(dialogs.confirmations[1]));
        // Confirmed with the trash: the box at the end says where they went.
        w.form2->RadioTrash->setChecked(true);
        review->BitBtn3Click();
        QVERIFY2(dialogs.messages.last().contains("\n4 files went to the trash"),
                 qPrintable(dialogs.messages.last()));
    }

    void whileARunIsUnderWayCommandsThatPlanAnewAreUnavailable() {
        f->beginBusy();
        QVERIFY(!f->DeleteduplicateswithinA1->isEnabled());
        QVERIFY(!f->CRCMatchingAB1->isEnabled());
        QVERIFY(!review->BitBtn3->isEnabled());
        const uint64_t generation = f->session().generation();
        f->DeleteduplicateswithinA1Click();
        QCOMPARE(f->session().generation(), generation);
        f->endBusy();
        QVERIFY(f->DeleteduplicateswithinA1->isEnabled());
        QVERIFY(review->BitBtn3->isEnabled());
    }
};

QTEST_MAIN(ReviewWindowTest)
#include "review_window_test.moc"
