#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "gui/checksum/tcrcmatch.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using namespace paritas;
using namespace paritas::gui;
using namespace paritas::gui::testing;

class CrcWindowTest : public QObject {
    Q_OBJECT
    Windows w;
    TForm1* f = nullptr;

private slots:
    void init() {
        w = createWindows();
        f = w.form1;
    }
    void cleanup() { destroyWindows(w); }

    void pairingFillsTheGridAndTheCompareFindsTheChangedCopy() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/same.txt", "abc");
        writeFile(t.b + "/elsewhere/same.txt", "abc");
        writeFile(t.a + "/changed.txt", "1234");
        writeFile(t.b + "/changed.txt", "5678");
        writeFile(t.a + "/lonely.txt", "only in A");
        t.setOn(f);
        f->CRCMatchingAB1Click();
        TCRCMatch* crc = w.crcMatch;
        QVERIFY(crc->isVisible());
        QCOMPARE(crc->grid->rowCount(), 4); // three files of A and the empty row
        QCOMPARE(crc->grid->cell(2, 3), t.a + "/same.txt");
        QCOMPARE(crc->grid->cell(2, 4), t.b + "/elsewhere/same.txt");
        QCOMPARE(crc->grid->cell(1, 4), QString());
        crc->BitBtn3Click();
        QCOMPARE(crc->grid->cell(0, 0), QStringLiteral("Different!!!"));
        QCOMPARE(crc->grid->cell(1, 0), QStringLiteral("NoFileMatch"));
        QCOMPARE(crc->grid->cell(2, 0), QStringLiteral("OK!"));
        QCOMPARE(crc->grid->cell(2, 1), QStringLiteral("5A963463"));
        QCOMPARE(dialogs.messages, QStringList({"1 Bad CRC Match(es) Found"}));
        crc->StringGrid1->selectRow(2);
        crc->BitBtn2Click();
        QCOMPARE(dialogs.opened, QStringList({t.b + "/elsewhere/same.txt"}));
    }

    // The two paths share what the other columns leave (about a third of the width each); the status
    // column shows the longest status with its sign, the CRC columns their eight digits.
    void thePathColumnsShareTheRoomAndTheStatusShowsWhole() {
        TCRCMatch* crc = w.crcMatch;
        QTableView* grid = crc->StringGrid1;
        for (int width : {700, 900, 1600}) {
            crc->resize(width, 500);
            crc->FormResize();
            QCOMPARE(grid->columnWidth(3), grid->columnWidth(4));
            if (width >= 900)
                QVERIFY(grid->columnWidth(3) >= grid->width() / 3 - 20);
            int total = 0;
            for (int c = 0; c < 5; ++c)
                total += grid->columnWidth(c);
            QVERIFY2(total <= grid->width(), qPrintable(QString::number(total)));
        }
        const QFontMetrics metrics = grid->fontMetrics();
        QVERIFY(grid->columnWidth(0) >= metrics.horizontalAdvance("Different!!!") + 16);
        QVERIFY(grid->columnWidth(1) >= metrics.horizontalAdvance("5A963463"));
        QVERIFY(!grid->wordWrap());
    }

    void aStopBeforeTheFirstRowReportsNothingCompared() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        t.setOn(f);
        f->CRCMatchingAB1Click();
        // The compare clears the flag when it starts; a stop pressed during the first message box
        // would be seen before the next row. Here there is one row, so it is compared.
        w.crcMatch->BitBtn4Click();
        QVERIFY(w.crcMatch->stopRequested);
        w.crcMatch->BitBtn3Click();
        QCOMPARE(w.crcMatch->grid->cell(0, 0), QStringLiteral("NoFileMatch"));
        QCOMPARE(dialogs.messages, QStringList({"0 Bad CRC Match(es) Found"}));
    }

    // A file that cannot be read makes its row "Different!!!"; the row says why.
    void anUnreadableFileSaysWhyAndTheFirstRowIsCurrentAfterPairing() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/gone.txt", "abc");
        writeFile(t.b + "/gone.txt", "abc");
        writeFile(t.a + "/kept.txt", "kept");
        writeFile(t.b + "/kept.txt", "kept");
        t.setOn(f);
        f->CRCMatchingAB1Click();
        TCRCMatch* crc = w.crcMatch;
        QCOMPARE(crc->StringGrid1->currentIndex().row(), 0);
        crc->BitBtn1Click();
        QCOMPARE(dialogs.opened, QStringList({t.a + "/gone.txt"}));
        QVERIFY(QFile::remove(t.a + "/gone.txt"));
        crc->BitBtn3Click();
        QCOMPARE(crc->grid->cell(0, 0), QStringLiteral("Different!!!"));
        const QString why = crc->grid->data(crc->grid->index(0, 0), Qt::ToolTipRole).toString();
        QCOMPARE(why, QStringLiteral("File A could not be read: No such file or directory (ENOENT)"));
        QVERIFY(!crc->grid->data(crc->grid->index(0, 0), Qt::DecorationRole).isNull());
        QCOMPARE(crc->grid->cell(1, 0), QStringLiteral("OK!"));
        QVERIFY(crc->grid->data(crc->grid->index(1, 0), Qt::ToolTipRole).isNull());
    }

    // The rows that need a look carry a colour and a sign of their own (the sign tells them apart
    // without colour); "Show only differences" keeps only them, also while the compare fills them
    // in, and the preview buttons open the files of the row shown.
    void differencesAreMarkedAndCanBeShownAlone() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/same.txt", "abc");
        writeFile(t.b + "/same.txt", "abc");
        writeFile(t.a + "/changed.txt", "1234");
        writeFile(t.b + "/deep/er/changed.txt", "5678");
        writeFile(t.a + "/lonely.txt", "only in A");
        t.setOn(f);
        f->CRCMatchingAB1Click();
        TCRCMatch* crc = w.crcMatch;
        QCOMPARE(crc->StringGrid1->textElideMode(), Qt::ElideMiddle);
        QCOMPARE(crc->CheckDifferences->text(), QStringLiteral("Show only differences"));
        crc->CheckDifferences->setChecked(true);
        QCOMPARE(crc->StringGrid1->model()->rowCount(), 0); // nothing compared yet
        crc->BitBtn3Click();
        QAbstractItemModel* shown = crc->StringGrid1->model();
        QCOMPARE(shown->rowCount(), 2);
        QCOMPARE(shown->index(0, 0).data().toString(), QStringLiteral("Different!!!"));
        QCOMPARE(shown->index(1, 0).data().toString(), QStringLiteral("NoFileMatch"));
        const QVariant differentColour = shown->index(0, 3).data(Qt::ForegroundRole);
        const QVariant lonelyColour = shown->index(1, 3).data(Qt::ForegroundRole);
        QVERIFY(!differentColour.isNull() && !lonelyColour.isNull());
        QVERIFY(differentColour != lonelyColour);
        const QIcon differentSign = shown->index(0, 0).data(Qt::DecorationRole).value<QIcon>();
        const QIcon lonelySign = shown->index(1, 0).data(Qt::DecorationRole).value<QIcon>();
        QVERIFY(!differentSign.isNull() && !lonelySign.isNull());
        QVERIFY(differentSign.cacheKey() != lonelySign.cacheKey());
        QCOMPARE(shown->index(0, 0).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("The two files differ: their CRCs are not the same"));
        QCOMPARE(shown->index(1, 0).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("No file of B matches this file under the same-file criteria"));
        crc->StringGrid1->selectRow(0);
        crc->BitBtn2Click();
        QCOMPARE(dialogs.opened, QStringList({t.b + "/deep/er/changed.txt"}));

        crc->CheckDifferences->setChecked(false);
        QCOMPARE(shown->rowCount(), 4); // three files and the empty row
        const QModelIndex ok = shown->index(2, 0);
        QCOMPARE(ok.data().toString(), QStringLiteral("OK!"));
        QVERIFY(ok.data(Qt::ForegroundRole).isNull());
        QVERIFY(ok.data(Qt::DecorationRole).isNull());
        QCOMPARE(crc->currentTableRow(), 0); // the row that was current stays current
    }

    // The filter asks the table itself: switching it over 100,000 rows is one pass (the time is
    // printed, for a person to look at; bench/window_bench.sh measures the window at scale).
    void onlyDifferencesFiltersAHundredThousandRows() {
        CrcMatchTable table(100000);
        for (std::size_t i = 0; i < table.size(); ++i) {
            table[i].pathA = "/a/folder/file" + std::to_string(i);
            table[i].status = std::string(i % 10 == 0 ? paritas::kCrcStatusDifferent : paritas::kCrcStatusOk);
        }
        TCRCMatch* crc = w.crcMatch;
        crc->setPairs(std::move(table));
        QElapsedTimer timer;
        timer.start();
        crc->CheckDifferences->setChecked(true);
        const qint64 on = timer.restart();
        QCOMPARE(crc->StringGrid1->model()->rowCount(), 10000);
        QCOMPARE(crc->StringGrid1->model()->index(9999, 3).data().toString(),
                 QStringLiteral("/a/folder/file99990"));
        crc->CheckDifferences->setChecked(false);
        const qint64 off = timer.elapsed();
        QCOMPARE(crc->StringGrid1->model()->rowCount(), 100001);
        qInfo("filter on %lld ms, off %lld ms at 100,000 rows", on, off);
    }

    void anEmptyPairingShowsAnEmptyBarNotABusyOne() {
        FakeDialogs dialogs;
        TwoLocations t;
        t.setOn(f);
        f->CRCMatchingAB1Click();
        w.crcMatch->BitBtn3Click();
        QVERIFY(w.crcMatch->ProgressBar1->maximum() > 0);
        QCOMPARE(w.crcMatch->ProgressBar1->value(), 0);
        QCOMPARE(dialogs.messages, QStringList({"0 Bad CRC Match(es) Found"}));
    }
};

QTEST_MAIN(CrcWindowTest)
#include "crc_window_test.moc"
